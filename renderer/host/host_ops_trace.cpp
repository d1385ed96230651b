// The host operations that trace rays or derive ray directions: probes,
// continued rays, the environment, lights, falloff and the final gather.
#include <cmath>
#include <limits>

#include "host/host_interface.h"
#include "renderer/host/current_context.h"
#include "renderer/host/render_hooks.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/host/thread_context.h"
#include "renderer/host/probe.h"
#include "renderer/host/shading.h"
#include "renderer/scene/scene_limits.h"
#include "renderer/trace/sampler.h"

using namespace vosh;
using namespace vosh::render;

extern "C" {

int32_t mi_trace_probe(RenderState* state, const Vector* direction, const Vector* origin) {
    if (!state || !direction || !origin) return 0;
    HostState& s = host_state(state);
    ++s.thread->probes;
    Vec3 d = to_vec3(*direction);
    const double len = length(d);
    if (!(len > 0) || !std::isfinite(len) || s.depth + 1 > s.thread->max_depth() + 1) return 0;
    d = d * (1.0 / len);
    const RayStart start = ray_start(s, to_vec3(*origin), d);
    HostState& child = s.thread->state_at(s.depth + 1);
    state->child_state = &child.rs;
    hooked_probe_traced(start.origin, d, s.falloff_stop);
    return trace_probe_ray(s, child, start, d, s.falloff_stop) ? 1 : 0;
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
    *result = environment_radiance(context(), d);
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
    ++s.thread->probes;
    const bool blocked =
        distance > 0 && blocked_from(s, ray_start(s, p, to_light), to_light, distance);
    const bool lit = !blocked && cosine > 0;
    if (result) *result = lit ? l.color : Color{0, 0, 0, 1};
    return lit ? 1 : 0;
}

int32_t mi_refraction_dir(Vector* direction, RenderState* state, float ior_in, float ior_out) {
    if (!direction || !state || !(ior_out != 0)) return 0;
    complete_if_pending(state);
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
    complete_if_pending(state);
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
        if (blocked_from(s, ray_start(s, p, d), d, stop)) continue;
        const Color e = environment_radiance(ctx, d);
        sum[0] += e.r;
        sum[1] += e.g;
        sum[2] += e.b;
    }
    *result = {static_cast<float>(sum[0] / rays), static_cast<float>(sum[1] / rays),
               static_cast<float>(sum[2] / rays), 1.0f};
    return 1;
}

}  // extern "C"
