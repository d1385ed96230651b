// The 28 host operations, exported by name from the executable for the
// module to find with dlsym. They work on the render context of the render
// under way and on the HostState behind each RenderState.
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>

#include "host/host_interface.h"
#include "renderer/trace/environment.h"
#include "renderer/host/host_context.h"
#include "renderer/trace/sampler.h"
#include "renderer/host/shading.h"

using namespace vosh;
using namespace vosh::render;

namespace {

ShaderRuntime* running_shader(RenderState* state) {
    if (!state || !state->active_shader) return nullptr;
    const auto* record = reinterpret_cast<const HostShaderRecord*>(state->active_shader);
    RenderContext& ctx = context();
    if (record->shader_index >= ctx.shaders.size()) return nullptr;
    return ctx.shaders[record->shader_index].get();
}

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

Vec3 transform_direction_normal(const Mat4& inverse_of_target, const Vector* in) {
    return normalize(transform_normal(inverse_of_target, to_vec3(*in)));
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
            ShaderRuntime* shader = running_shader(state);
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
    ShaderRuntime* shader = running_shader(state);
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
    const ThreadContext::Sequence& seq = thread.sequence(counter, *count);
    const uint32_t index = seq.first + static_cast<uint32_t>(*counter);
    // Pairs of dimensions beyond the first come from sequences of their own.
    for (uint32_t d = 0; d < dimension; d += 2) {
        double pair[2];
        const uint32_t pair_seed = d == 0 ? seq.seed : sampler_seed(seq.seed, d, 0, 0x9e3779b9u);
        if (render_hooks.sample_point)
            render_hooks.sample_point(index, pair_seed, pair);
        else
            sobol_owen_2d(index, pair_seed, pair);
        sample[d] = pair[0];
        if (d + 1 < dimension) sample[d + 1] = pair[1];
    }
    ++*counter;
    return 1;
}

int32_t mi_trace_probe(RenderState* state, const Vector* direction, const Vector* origin) {
    if (!state || !direction || !origin) return 0;
    HostState& s = host_state(state);
    ++s.thread->probes;
    Vec3 d = to_vec3(*direction);
    const double len = length(d);
    if (!(len > 0) || !std::isfinite(len) || s.depth + 1 > s.thread->max_depth() + 1) return 0;
    d = d * (1.0 / len);
    const Vec3 o = offset_origin(s, to_vec3(*origin), d);
    HostState& child = s.thread->state_at(s.depth + 1);
    state->child_state = &child.rs;
    if (render_hooks.probe_traced) render_hooks.probe_traced(o, d, s.falloff_stop);
    SurfaceHit hit;
    if (!trace_from(s, o, d, s.falloff_stop, hit)) return 0;
    describe_hit(child, &s, o, d, hit, host_ray::probe);
    return 1;
}

int32_t mi_trace_transparent(Color* result, RenderState* state) {
    if (!result || !state) return 0;
    return continue_ray(host_state(state), to_vec3(state->ray_direction), ray_kind::transparent,
                        *result);
}

int32_t mi_trace_refraction(Color* result, RenderState* state, const Vector* direction) {
    if (!result || !state || !direction || !state->render_options->ray_tracing_enabled) return 0;
    return continue_ray(host_state(state), to_vec3(*direction), ray_kind::refraction, *result);
}

int32_t mi_trace_reflection(Color* result, RenderState* state, const Vector* direction) {
    if (!result || !state || !direction || !state->render_options->ray_tracing_enabled) return 0;
    return continue_ray(host_state(state), to_vec3(*direction), ray_kind::reflection, *result);
}

int32_t mi_trace_environment(Color* result, RenderState* /*state*/, const Vector* direction) {
    if (!result || !direction) return 0;
    const Vec3 d = to_vec3(*direction);
    if (!(length(d) > 0)) return 0;
    *result = environment_radiance(d);
    return 1;
}

int32_t mi_trace_light(Color* result, Vector* direction, float* dot_nl, RenderState* state, Tag light) {
    RenderContext& ctx = context();
    if (direction) *direction = Vector{0, 0, 0};
    if (!state || tag_kind(light) != TagKind::light_instance ||
        tag_index(light) >= ctx.scene->lights.size())
        return 0;
    HostState& s = host_state(state);
    const LightDesc& l = ctx.scene->lights[tag_index(light)];
    const Vec3 p = to_vec3(state->hit_point);
    Vec3 to_light = l.positional ? l.position - p : -l.direction;
    const double distance = l.positional ? length(to_light) : std::numeric_limits<double>::infinity();
    to_light = normalize(to_light);
    if (direction) *direction = to_vector(to_light);
    const double cosine = dot(to_vec3(state->shading_normal), to_light);
    if (dot_nl) *dot_nl = static_cast<float>(cosine);
    SurfaceHit hit;
    ++s.thread->probes;
    const bool blocked =
        distance > 0 && trace_from(s, offset_origin(s, p, to_light), to_light, distance, hit);
    const bool lit = !blocked && cosine > 0;
    if (result) *result = lit ? l.color : Color{0, 0, 0, 1};
    return lit ? 1 : 0;
}

int32_t mi_refraction_dir(Vector* direction, RenderState* state, float ior_in, float ior_out) {
    if (!direction || !state || !(ior_out != 0)) return 0;
    const Vec3 i = normalize(to_vec3(state->ray_direction));
    Vec3 n = normalize(to_vec3(state->shading_normal));
    if (dot(n, i) > 0) n = -n;
    const double eta = static_cast<double>(ior_in) / ior_out;
    const double cos_i = -dot(n, i);
    const double k = 1 - eta * eta * (1 - cos_i * cos_i);
    if (k < 0) return 0;
    *direction = to_vector(normalize(i * eta + n * (eta * cos_i - std::sqrt(k))));
    return 1;
}

void mi_reflection_dir(Vector* direction, RenderState* state) {
    if (!direction || !state) return;
    const Vec3 i = to_vec3(state->ray_direction);
    const Vec3 n = normalize(to_vec3(state->shading_normal));
    *direction = to_vector(i - n * (2 * dot(i, n)));
}

int32_t mi_ray_falloff(RenderState* state, double* start, double* stop) {
    if (!state || !start || !stop) return 0;
    HostState& s = host_state(state);
    const double old_start = s.falloff_start, old_stop = s.falloff_stop;
    s.falloff_start = *start;
    s.falloff_stop = *stop;
    *start = old_start;
    *stop = old_stop;
    return 1;
}

int32_t mi_compute_avg_radiance(Color* result, RenderState* state, char face,
                                const GatherSettings* settings) {
    if (!result || !state) return 0;
    RenderContext& ctx = context();
    HostState& s = host_state(state);
    int32_t rays = settings && settings->size == static_cast<int32_t>(sizeof(GatherSettings))
                       ? settings->ray_count
                       : 0;
    if (rays <= 0) rays = ctx.options.gather_ray_count > 0 ? ctx.options.gather_ray_count : 64;
    rays = rays > max_gather_rays ? max_gather_rays : rays;
    Vec3 n = normalize(to_vec3(state->shading_normal));
    if (face == 'b') n = -n;
    double stop = s.falloff_stop;
    if (ctx.options.gather_falloff_stop > 0) stop = std::fmin(stop, ctx.options.gather_falloff_stop);
    Vec3 t, b;
    orthonormal_basis(n, t, b);
    const ThreadContext::Sequence seq = s.thread->next_sequence(static_cast<uint32_t>(rays));
    const Vec3 p = to_vec3(state->hit_point);
    double sum[3] = {0, 0, 0};
    for (int32_t i = 0; i < rays; ++i) {
        double u[2];
        sobol_owen_2d(seq.first + static_cast<uint32_t>(i), seq.seed, u);
        // Cosine-weighted: the plain average of the radiance is the answer.
        const double r = std::sqrt(u[0]), phi = 2 * M_PI * u[1];
        const Vec3 d = normalize(t * (r * std::cos(phi)) + b * (r * std::sin(phi)) +
                                 n * std::sqrt(std::fmax(0.0, 1 - u[0])));
        ++s.thread->probes;
        SurfaceHit hit;
        if (trace_from(s, offset_origin(s, p, d), d, stop, hit)) continue;
        const Color e = environment_radiance(d);
        sum[0] += e.r;
        sum[1] += e.g;
        sum[2] += e.b;
    }
    *result = {static_cast<float>(sum[0] / rays), static_cast<float>(sum[1] / rays),
               static_cast<float>(sum[2] / rays), 1.0f};
    return 1;
}

int32_t mi_call_shader_x(Color* result, int32_t kind, RenderState* state, Tag shader, void* /*arg*/) {
    ShaderRuntime* runtime = shader_of_tag(shader);
    if (!result || !state || !runtime || kind != db_type::shader) return 0;
    // A shader called for its colour runs opaque: nothing shows through.
    result->a = 1.0f;
    return call_shader(*runtime, result, state) ? 1 : 0;
}

int32_t mi_normal_to_world(RenderState* /*state*/, Vector* out, const Vector* in) {
    if (!out || !in) return 0;
    *out = *in;  // the renderer's internal space is world space
    return 1;
}

int32_t mi_normal_to_camera(RenderState* /*state*/, Vector* out, const Vector* in) {
    if (!out || !in) return 0;
    *out = to_vector(transform_direction_normal(context().camera.camera_to_world, in));
    return 1;
}

int32_t mi_normal_to_object(RenderState* state, Vector* out, const Vector* in) {
    if (!out || !in || !state) return 0;
    const HostState& s = host_state(state);
    if (!s.has_surface) {
        *out = *in;
        return 0;
    }
    *out = to_vector(transform_direction_normal(context().geometry->to_world(s.object), in));
    return 1;
}

int32_t mi_normal_to_light(RenderState* state, Vector* out, const Vector* in) {
    if (!out || !in) return 0;
    RenderContext& ctx = context();
    // The light the running shader names, else the scene's first light.
    int32_t light = -1;
    if (ShaderRuntime* shader = running_shader(state)) light = shader->light;
    if (light < 0 && !ctx.light_to_world.empty()) light = 0;
    if (light < 0) {
        *out = *in;
        return 0;
    }
    *out = to_vector(transform_direction_normal(ctx.light_to_world[static_cast<size_t>(light)], in));
    return 1;
}

void mi_point_to_raster(RenderState* state, Vector* out, const Vector* in) {
    if (!out || !in) return;
    const ThreadContext* thread = state ? host_state(state).thread : nullptr;
    if (thread && thread->has_raster_map)
        *out = to_vector(transform_point(thread->world_to_raster, to_vec3(*in)));
    else
        *out = to_vector(world_to_raster(context().camera, to_vec3(*in)));
}

void mi_point_transform(Vector* out, const Vector* in, const float* m) {
    if (!out || !in || !m) return;
    const double x = in->x, y = in->y, z = in->z;
    const double rx = x * m[0] + y * m[4] + z * m[8] + m[12];
    const double ry = x * m[1] + y * m[5] + z * m[9] + m[13];
    const double rz = x * m[2] + y * m[6] + z * m[10] + m[14];
    const double w = x * m[3] + y * m[7] + z * m[11] + m[15];
    const double k = (w != 0 && w != 1) ? 1.0 / w : 1.0;
    *out = Vector{static_cast<float>(rx * k), static_cast<float>(ry * k), static_cast<float>(rz * k)};
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
