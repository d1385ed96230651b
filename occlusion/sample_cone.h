// The sampler state of one shading call, and the two steps every sampling
// mode's loop is made of: the next direction, and the probe along it.
#pragma once

#include <cstdint>

#include "host/host_interface.h"
#include "host/render_state.h"
#include "occlusion/sample_math.h"

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

}  // namespace vosh
