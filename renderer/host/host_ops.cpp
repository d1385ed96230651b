// The 28 host operations, exported by name from the executable for the
// module to find with dlsym. They work on the render context of the render
// under way and on the HostState behind each RenderState. Here: queries,
// parameters, memory, shader state, sampling, shader calls and the
// database; tracing in host_ops_trace.cpp, spaces in host_ops_space.cpp.
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>

#include "host/host_interface.h"
#include "renderer/trace/environment.h"
#include "renderer/host/current_context.h"
#include "renderer/host/render_hooks.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/host/thread_context.h"
#include "renderer/trace/sampler.h"
#include "renderer/host/shading.h"

using namespace vosh;
using namespace vosh::render;

namespace {

ShaderRuntime* shader_of_tag(Tag tag) {
    RenderContext& ctx = context();
    if (tag_kind(tag) != TagKind::shader || tag_index(tag) >= ctx.shaders.size()) return nullptr;
    return ctx.shaders[tag_index(tag)].get();
}

// The connected parameter's value converted to the parameter's own type.
void store_converted(ParamType type, const Color& c, unsigned char* out) {
    std::memset(out, 0, 16);
    switch (type) {
        case ParamType::color:
            std::memcpy(out, &c, sizeof c);
            break;
        case ParamType::vector: {
            const Vector v{c.r, c.g, c.b};
            std::memcpy(out, &v, sizeof v);
            break;
        }
        case ParamType::scalar:
            std::memcpy(out, &c.r, sizeof c.r);
            break;
        case ParamType::integer:
        case ParamType::boolean: {
            const int32_t i = type == ParamType::boolean
                                  ? (c.r != 0 ? 1 : 0)
                                  : static_cast<int32_t>(std::lround(std::fmax(-2e9, std::fmin(2e9, c.r))));
            std::memcpy(out, &i, sizeof i);
            break;
        }
        case ParamType::light:
        case ParamType::unused:
            break;
    }
}

const ParamDecl* param_at(uint32_t offset) {
    for (const ParamDecl& p : context().decl->params)
        if (p.offset == offset) return &p;
    return nullptr;
}

// The record behind a tag, or null when the scene has none.
void* database_record(RenderContext& ctx, Tag tag) {
    const size_t i = tag_index(tag);
    switch (tag_kind(tag)) {
        case TagKind::shader:
            return i < ctx.shaders.size() ? &ctx.shaders[i]->host_record : nullptr;
        case TagKind::material:
            return i < ctx.materials.size() ? &ctx.materials[i] : nullptr;
        case TagKind::light_instance:
            return i < ctx.light_instances.size() ? &ctx.light_instances[i] : nullptr;
        case TagKind::light_item:
            return i < ctx.light_items.size() ? &ctx.light_items[i] : nullptr;
        case TagKind::none:
            break;
    }
    return nullptr;
}

}  // namespace

extern "C" {

int32_t mi_query(int32_t code, RenderState* state, Tag tag, void* result, ...) {
    RenderContext& ctx = context();
    if (!result) return 0;
    switch (code) {
        case query_code::user_slot: {
            ShaderRuntime* shader = running_shader(ctx, state);
            if (!shader) return 0;
            *static_cast<void***>(result) = &shader->user_slot;
            return 1;
        }
        case query_code::instance_item:
            if (tag_kind(tag) != TagKind::light_instance || tag_index(tag) >= ctx.light_instances.size())
                return 0;
            *static_cast<Tag*>(result) = ctx.light_instances[tag_index(tag)].item_tag;
            return 1;
        case query_code::light_kind:
            if (tag_kind(tag) != TagKind::light_item || tag_index(tag) >= ctx.light_items.size())
                return 0;
            *static_cast<int32_t*>(result) = ctx.light_items[tag_index(tag)].positional_kind;
            return 1;
        default:
            return 0;
    }
}

void* mi_phen_eval(RenderState* state, void* parameter) {
    RenderContext& ctx = context();
    ShaderRuntime* shader = running_shader(ctx, state);
    if (!shader || shader->buffer.empty()) return parameter;
    const auto* base = shader->buffer.data();
    const auto* at = static_cast<const unsigned char*>(parameter);
    if (at < base || at >= base + ctx.decl->block_size) return parameter;
    const uint32_t offset = static_cast<uint32_t>(at - base);
    const int32_t source = shader->connected[offset];
    const ParamDecl* param = param_at(offset);
    if (source < 0 || !param) return parameter;
    Color value{0, 0, 0, 1};
    call_shader(*ctx.shaders[static_cast<size_t>(source)], &value, state);
    unsigned char* slot = host_state(state).thread->eval_slot();
    store_converted(param->type, value, slot);
    return slot;
}

void* mi_mem_int_allocate(const char* file, int32_t line, int32_t size) {
    return context().memory.allocate(file, line, size);
}

void mi_mem_int_release(const char* file, int32_t line, void* block) {
    if (!context().memory.release(block))
        context().warnings.warn("release of a block the host never handed out, at " +
                                std::string(file ? file : "?") + ":" + std::to_string(line));
}

void* mi_shaderstate_get(RenderState* state, const char* key, int32_t* size) {
    if (!state || !key) return nullptr;
    return host_state(state).thread->shader_state_get(key, size);
}

void mi_shaderstate_set(RenderState* state, const char* key, const void* value, int32_t size,
                        int32_t /*lifetime: every entry lives for the current sample*/) {
    if (!state || !key) return;
    host_state(state).thread->shader_state_set(key, value, size);
}

int32_t mi_sample(double* sample, int32_t* counter, RenderState* state, uint32_t dimension,
                  const uint32_t* count) {
    if (!sample || !counter || !state || !count || dimension == 0) return 0;
    if (*counter < 0 || static_cast<uint32_t>(*counter) >= *count) return 0;
    ThreadContext& thread = *host_state(state).thread;
    ThreadContext::Sequence& seq = thread.sequence(counter, *count);
    const uint32_t index = seq.first + static_cast<uint32_t>(*counter);
    if (index - seq.ahead_first >= seq.ahead_count) {
        const uint32_t left = *count - static_cast<uint32_t>(*counter);
        seq.ahead_count = hooked_sample_points(index, left < 4 ? left : 4, seq.seed, seq.ahead);
        seq.ahead_first = index;
    }
    sample[0] = seq.ahead[index - seq.ahead_first][0];
    if (dimension > 1) sample[1] = seq.ahead[index - seq.ahead_first][1];
    // Pairs of dimensions beyond the first come from sequences of their own.
    for (uint32_t d = 2; d < dimension; d += 2) {
        double pair[2];
        hooked_sample_point(index, sampler_seed(seq.seed, d, 0, 0x9e3779b9u), pair);
        sample[d] = pair[0];
        if (d + 1 < dimension) sample[d + 1] = pair[1];
    }
    ++*counter;
    return 1;
}

int32_t mi_call_shader_x(Color* result, int32_t kind, RenderState* state, Tag shader, void* /*arg*/) {
    ShaderRuntime* runtime = shader_of_tag(shader);
    if (!result || !state || !runtime || kind != db_type::shader) return 0;
    // A shader called for its colour runs opaque: nothing shows through.
    result->a = 1.0f;
    return call_shader(*runtime, result, state) ? 1 : 0;
}

void* mi_db_access(Tag tag) {
    RenderContext& ctx = context();
    void* record = database_record(ctx, tag);
    if (!record) {
        ctx.warnings.warn("database access to unknown tag " + std::to_string(tag));
        return nullptr;
    }
    ctx.pins.fetch_add(1, std::memory_order_relaxed);
    return record;
}

// The module unpins whatever it asked for, found or not; a refused access
// pinned nothing, so its unpin must not count.
void mi_db_unpin(Tag tag) {
    RenderContext& ctx = context();
    if (database_record(ctx, tag)) ctx.pins.fetch_sub(1, std::memory_order_relaxed);
}

int32_t mi_db_type(Tag tag) {
    switch (tag_kind(tag)) {
        case TagKind::shader: return db_type::shader;
        case TagKind::material: return db_type::material;
        case TagKind::light_instance: return db_type::light_instance;
        case TagKind::light_item: return db_type::light_item;
        case TagKind::none: break;
    }
    return db_type::none;
}

void mi_warning(const char* text, ...) {
    // The module formats; the text arrives finished and is shown as it stands.
    context().warnings.warn(text ? text : "");
}

}  // extern "C"
