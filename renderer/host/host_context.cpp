#include "renderer/host/host_context.h"

#include "renderer/trace/sampler.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>


namespace vosh::render {

namespace {

RenderContext* current_context = nullptr;

constexpr size_t warnings_shown_per_text = 3;

}  // namespace

RenderContext& context() { return *current_context; }
void set_context(RenderContext* ctx) { current_context = ctx; }

ShaderRuntime* running_shader(RenderState* state) {
    if (!state || !state->active_shader) return nullptr;
    const auto* record = reinterpret_cast<const HostShaderRecord*>(state->active_shader);
    RenderContext& ctx = context();
    if (record->shader_index >= ctx.shaders.size()) return nullptr;
    return ctx.shaders[record->shader_index].get();
}

ThreadContext::ThreadContext(int max_depth, CameraRecord* camera, RenderOptions* options)
    : max_depth_(max_depth) {
    // One state per trace depth, plus one so probes from the deepest state
    // still have a child to describe their hits.
    for (int d = 0; d <= max_depth + 1; ++d) {
        auto s = std::make_unique<HostState>();
        s->thread = this;
        s->depth = d;
        s->rs.host_data = s.get();
        s->rs.camera_record = camera;
        s->rs.render_options = options;
        s->rs.facing_mode = options->facing_default;
        s->rs.incoming_ior = s->rs.outgoing_ior = 1.0f;
        s->rs.texture_coord_list = &s->texture;
        states_.push_back(std::move(s));
    }
}

void ThreadContext::begin_sample(uint32_t cell_x, uint32_t cell_y, uint32_t sample, uint32_t samples,
                                 uint32_t seed) {
    x_ = cell_x;
    y_ = cell_y;
    samples_ = samples > 0 ? samples : 1;
    sample_ = sample < samples_ ? sample : samples_ - 1;
    seed_ = seed;
    call_index_ = 0;
    sequences_.clear();
    for (Entry& e : store_) e.present = false;
}

ThreadContext::Sequence ThreadContext::next_sequence(uint32_t count) {
    const CellSequence cell = cell_sequence(x_, y_, call_index_++, sample_, samples_, count, seed_);
    Sequence s;
    s.seed = cell.seed;
    s.first = cell.first;
    return s;
}

const ThreadContext::Sequence& ThreadContext::sequence(const int32_t* counter, uint32_t count) {
    for (auto& [where, seq] : sequences_) {
        if (where != counter) continue;
        if (*counter == 0) seq = next_sequence(count);
        return seq;
    }
    sequences_.emplace_back(counter, next_sequence(count));
    return sequences_.back().second;
}

void* ThreadContext::shader_state_get(const char* key, int32_t* size) {
    for (Entry& e : store_) {
        if (!e.present || e.key != key) continue;
        if (size) *size = static_cast<int32_t>(e.value.size());
        return e.value.data();
    }
    if (size) *size = 0;
    return nullptr;
}

void ThreadContext::shader_state_set(const char* key, const void* value, int32_t size) {
    Entry* slot = nullptr;
    for (Entry& e : store_)
        if (e.key == key) slot = &e;
    if (!slot) {
        store_.push_back({key, {}, false});
        slot = &store_.back();
    }
    if (!value || size < 0) {
        slot->present = false;
        return;
    }
    slot->value.assign(static_cast<const unsigned char*>(value),
                       static_cast<const unsigned char*>(value) + size);
    slot->present = true;
}

unsigned char* ThreadContext::eval_slot() {
    unsigned char* slot = eval_ring_[eval_next_].data();
    eval_next_ = (eval_next_ + 1) % eval_ring_.size();
    return slot;
}

void WarningLog::warn(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t seen = ++counts_[text];
    if (seen <= warnings_shown_per_text) {
        show(text);
        if (seen == warnings_shown_per_text) show("(further copies of this warning are only counted)");
    }
}

void WarningLog::show(const std::string& line) {
    if (outlet_)
        outlet_(line);
    else
        std::fprintf(stderr, "WARNING: %s\n", line.c_str());
}

void WarningLog::flush_summary() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [text, count] : counts_)
        if (count > warnings_shown_per_text)
            show(text + " (" + std::to_string(count) + " times in all)");
    counts_.clear();
}

void* MemoryTracker::allocate(const char* file, int32_t line, int32_t size) {
    if (size < 0) return nullptr;
    void* block = std::calloc(1, size > 0 ? static_cast<size_t>(size) : 1);
    if (!block) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_[block] = std::string(file ? file : "?") + ":" + std::to_string(line) + " (" +
                     std::to_string(size) + " bytes)";
    return block;
}

bool MemoryTracker::release(void* block) {
    if (!block) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) return false;
    blocks_.erase(it);
    std::free(block);
    return true;
}

size_t MemoryTracker::report_leaks() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [block, where] : blocks_) {
        std::fprintf(stderr, "vosh-render: module memory never released: block allocated at %s\n",
                     where.c_str());
        std::free(block);
    }
    const size_t n = blocks_.size();
    blocks_.clear();
    return n;
}

}  // namespace vosh::render
