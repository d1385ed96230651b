// Per-call working values shared by the entry and every sampling mode.
#pragma once

#include <cstdint>

#include "host/host_interface.h"
#include "host/render_state.h"
#include "occlusion/sample_math.h"
#include "shader/occlusion_instance.h"
#include "shader/occlusion_params.h"

namespace vosh {

// Host sampler state: the host reads `count` and advances `index`.
struct SamplerBase {
    const uint32_t& count;
    int32_t index;
    explicit SamplerBase(const uint32_t& wanted) : count(wanted), index(0) {}
};

struct SampleCone : SamplerBase {
    double sample[2];
    Vector direction;
    Vector scaled_axis;
    float spread_fraction;
    SampleCone(const Vector& axis, const uint32_t& wanted, float spread);
};

struct OcclusionFrame {
    Vector axis;
    uint32_t sample_count;
    SampleCone cone;  // refers to sample_count: build the frame in place
    double near_distance;
    double far_distance;
    double falloff_start;
    double falloff_stop;
};

// Direction step: asks the host sampler for the next pair and sets
// cone.direction. False when the sampler is exhausted. Inline, like the
// probe step, so each mode's loop compiles into one function.
inline bool next_direction(SampleCone& cone, RenderState* state) {
    if (!mi_sample(cone.sample, &cone.index, state, 2, &cone.count)) return false;
    cone.direction = cone_direction(cone.scaled_axis, cone.spread_fraction, cone.sample[0],
                                    cone.sample[1]);
    return true;
}

// Probe step along cone.direction from hit_point; on a hit, `distance` is
// the child state's ray_length.
inline bool trace_probe(RenderState* state, const SampleCone& cone, double* distance) {
    if (!mi_trace_probe(state, &cone.direction, &state->hit_point)) return false;
    // A hit without a child state has no distance to weigh: count it as open.
    const RenderState* child = state->child_state;
    if (!child) return false;
    *distance = child->ray_length;
    return true;
}

// The sampling modes. Each writes result r, g, b and a.
void shade_plain(Color* result, RenderState* state, OcclusionParams* params,
                 const OcclusionInstance& instance, OcclusionFrame& frame);
void shade_bent_normals(Color* result, RenderState* state, OcclusionParams* params,
                        const OcclusionInstance& instance, OcclusionFrame& frame);
void shade_environment_tint(Color* result, RenderState* state, OcclusionParams* params,
                            const OcclusionInstance& instance, OcclusionFrame& frame);
void shade_color_bleeding(Color* result, RenderState* state, OcclusionParams* params,
                          const OcclusionInstance& instance, OcclusionFrame& frame);

// Bends `axis` toward the light or bias direction (only when light_bias > 0).
void pull_axis_toward_light(Vector& axis, RenderState* state, OcclusionParams* params,
                            const OcclusionInstance& instance);

// Lets what lies behind the surface show through by the result's alpha.
void pass_through(Color* result, RenderState* state);

// Brings outgoing_ior, incoming_ior and refraction_volume_tag up to date.
void track_refraction_index(RenderState* state, float surface_ior);

}  // namespace vosh
