#include "renderer/host/thread_context.h"

#include "renderer/trace/sampler.h"

namespace vosh::render {

ThreadContext::ThreadContext(RenderContext& ctx) : ctx_(ctx), max_depth_(ctx.max_depth) {
    // One state per trace depth, plus one so probes from the deepest state
    // still have a child to describe their hits.
    for (int d = 0; d <= max_depth_ + 1; ++d) {
        auto s = std::make_unique<HostState>();
        s->thread = this;
        s->depth = d;
        s->rs.host_data = s.get();
        s->rs.camera_record = &ctx.camera_record;
        s->rs.render_options = &ctx.options;
        s->rs.facing_mode = ctx.options.facing_default;
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

ThreadContext::Sequence& ThreadContext::sequence(const int32_t* counter, uint32_t count) {
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

}  // namespace vosh::render
