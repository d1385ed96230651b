#include "occlusion/light_axis.h"

#include "host/host_interface.h"
#include "occlusion/normalise.h"
#include "shader/read_param.h"

namespace vosh {

namespace {

Vector pull_target(RenderState* state, OcclusionParams* params,
                   const OcclusionInstance& instance) {
    if (instance.light_mode < 0) return read_param(state, params->bias_direction);

    // Probes toward a light only see front faces; the entry's tail hands the
    // scene's facing setting back.
    state->facing_mode = 'f';
    if (instance.light_mode == light_mode::position) {
        const Vector& light = instance.light_position;
        const Vector& point = state->hit_point;
        return Vector{light.x - point.x, light.y - point.y, light.z - point.z};
    }
    Color color{0.0f, 0.0f, 0.0f, 0.0f};
    Vector direction{0.0f, 0.0f, 0.0f};
    float cosine = 0.0f;
    // Whatever the host leaves in the direction is used, success or not.
    mi_trace_light(&color, &direction, &cosine, state, instance.light_tag);
    return direction;
}

}  // namespace

void pull_axis_toward_light(Vector& axis, RenderState* state, OcclusionParams* params,
                            const OcclusionInstance& instance) {
    // The host must not keep the light query off the shading point's own primitive.
    void* const saved_primitive = state->origin_primitive;
    state->origin_primitive = nullptr;

    const Vector target = pull_target(state, params, instance);
    const float weight = instance.light_bias;
    // The target is not normalised: its length strengthens the pull.
    axis.x = (target.x - axis.x) * weight + axis.x;
    axis.y = (target.y - axis.y) * weight + axis.y;
    axis.z = (target.z - axis.z) * weight + axis.z;

    normalise(axis, SumOrder::x_first);

    state->origin_primitive = saved_primitive;
}

}  // namespace vosh
