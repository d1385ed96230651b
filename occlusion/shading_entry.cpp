// The shader's main entry: early flat answers, then one sampling mode.
#include "host/host_interface.h"
#include "occlusion/light_axis.h"
#include "occlusion/pass_through.h"
#include "occlusion/reentry_marker.h"
#include "occlusion/sample_math.h"
#include "occlusion/shading_modes.h"
#include "shader/entry_points.h"
#include "shader/occlusion_instance.h"
#include "shader/read_param.h"

namespace vosh {

namespace {

const OcclusionInstance* instance_of(RenderState* state) {
    void** slot = nullptr;
    mi_query(query_code::user_slot, state, 0, &slot);
    return slot ? static_cast<const OcclusionInstance*>(*slot) : nullptr;
}

// Photon kinds, final-gather rays and one further host kind.
bool is_secondary_ray(int32_t kind) {
    using namespace ray_kind;
    return (kind >= photon_first && kind <= photon_transmit_diffuse) ||
           (kind >= photon_further_first && kind <= photon_further_last) ||
           kind == final_gather || (kind >= photon_emit_first && kind <= photon_emit_last) ||
           kind == host_secondary;
}

// A flat colour seen through the surface by its opacity.
void answer_flat(Color* result, RenderState* state, const Color& color) {
    set_rgb(result, color);
    pass_through(result, state);
}

void override_normal(RenderState* state, OcclusionParams* params) {
    const Vector normal = read_param(state, params->override_normal);
    if (normal.x == 0.0f && normal.y == 0.0f && normal.z == 0.0f) return;
    state->shading_normal = normal;
    const Vector& d = state->ray_direction;
    state->normal_dot_direction = normal.z * d.z + normal.y * d.y + normal.x * d.x;
}

void shade_final_gather(Color* result, RenderState* state, OcclusionParams* params,
                        const OcclusionInstance& instance) {
    Color radiance{0.0f, 0.0f, 0.0f, 0.0f};
    const Color bright = read_param(state, params->bright);
    const Color dark = read_param(state, params->dark);
    mi_compute_avg_radiance(&radiance, state, 'f', &instance.gather_settings);
    result->a = 1.0f;
    set_rgb(result, mix_colors(bright, dark, radiance.r));
}

// Bent normals win over the occlusion mode.
void run_mode(Color* result, RenderState* state, OcclusionParams* params,
              const OcclusionInstance& instance, OcclusionFrame& frame) {
    if (instance.bent_normals)
        shade_bent_normals(result, state, params, instance, frame);
    else if (instance.occlusion_mode == 0)
        shade_plain(result, state, params, instance, frame);
    else if (instance.occlusion_mode == 1)
        shade_color_bleeding(result, state, params, instance, frame);
    else
        shade_environment_tint(result, state, params, instance, frame);
}

// Builds the call's frame, runs one mode, then undoes the falloff and the
// facing mode that sampling changed.
void sample_and_shade(Color* result, RenderState* state, OcclusionParams* params,
                      const OcclusionInstance& instance, double falloff_start,
                      double falloff_stop) {
    Vector axis{0.0f, 0.0f, 0.0f};
    if (instance.reflective)
        mi_reflection_dir(&axis, state);
    else
        axis = state->shading_normal;
    if (instance.light_bias > 0.0f) pull_axis_toward_light(axis, state, params, instance);

    const uint32_t count = sample_count_for(instance, state->ray_length);
    // Built in place: the cone keeps a reference to the frame's sample count,
    // which the host sampler reads. The per-call distances are read after the
    // cone exists and are deliberately left unordered.
    OcclusionFrame frame{count,
                         SampleCone(axis, frame.sample_count, instance.spread_fraction),
                         static_cast<double>(read_param(state, params->near_distance)),
                         static_cast<double>(read_param(state, params->far_distance)),
                         falloff_start,
                         falloff_stop};

    run_mode(result, state, params, instance, frame);

    if (instance.far_distance != 0.0)
        mi_ray_falloff(state, &frame.falloff_start, &frame.falloff_stop);
    // The light pull forced front faces; hand back the scene's setting.
    if (instance.light_bias > 0.0f && instance.light_mode >= 0)
        state->facing_mode = state->render_options->facing_default;
}

}  // namespace

}  // namespace vosh

using namespace vosh;

VOSH_EXPORT int32_t vosh_occlusion(Color* result, RenderState* state, OcclusionParams* params) {
    const OcclusionInstance* found = instance_of(state);
    if (!found) {
        // Init never ran for this instance: answer black rather than guess.
        set_rgb(result, Color{0.0f, 0.0f, 0.0f, 0.0f});
        return 1;
    }
    const OcclusionInstance& instance = *found;

    if (take_reentry_marker(state)) {
        answer_flat(result, state, read_param(state, params->bright));
        return 1;
    }
    if (instance.pass_through || state->ray_kind == ray_kind::shadow) {
        answer_flat(result, state, Color{0.0f, 0.0f, 0.0f, 0.0f});
        return 1;
    }
    if (instance.secondary_bright && is_secondary_ray(state->ray_kind)) {
        answer_flat(result, state, read_param(state, params->bright));
        return 1;
    }

    override_normal(state, params);

    // The host hands back the falloff it had in the same two variables, so
    // a second call with them puts it back.
    double falloff_start = instance.near_distance;
    double falloff_stop = instance.far_distance;
    const bool set_falloff = instance.far_distance != 0.0;
    if (set_falloff) mi_ray_falloff(state, &falloff_start, &falloff_stop);

    if (instance.final_gather) {
        shade_final_gather(result, state, params, instance);
        if (set_falloff) mi_ray_falloff(state, &falloff_start, &falloff_stop);
        return 1;
    }

    sample_and_shade(result, state, params, instance, falloff_start, falloff_stop);
    return 1;
}
