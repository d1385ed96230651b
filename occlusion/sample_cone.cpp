#include "host/host_interface.h"
#include "occlusion/occlusion_frame.h"
#include "occlusion/sample_math.h"

namespace vosh {

SampleCone::SampleCone(const Vector& axis, const uint32_t& wanted, float spread)
    : SamplerBase(wanted),
      sample{0.0, 0.0},
      direction{0.0f, 0.0f, 0.0f},
      scaled_axis(scaled_cone_axis(axis, spread)),
      spread_fraction(spread) {}

bool next_direction(SampleCone& cone, RenderState* state) {
    if (!mi_sample(cone.sample, &cone.index, state, 2, &cone.count)) return false;
    cone.direction = cone_direction(cone.scaled_axis, cone.spread_fraction, cone.sample[0],
                                    cone.sample[1]);
    return true;
}

bool trace_probe(RenderState* state, const SampleCone& cone, double* distance) {
    if (!mi_trace_probe(state, &cone.direction, &state->hit_point)) return false;
    // A hit without a child state has no distance to weigh: count it as open.
    const RenderState* child = state->child_state;
    if (!child) return false;
    *distance = child->ray_length;
    return true;
}

}  // namespace vosh
