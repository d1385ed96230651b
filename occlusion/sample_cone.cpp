#include "occlusion/sample_cone.h"

#include "occlusion/sample_math.h"

namespace vosh {

SampleCone::SampleCone(const Vector& axis, const uint32_t& wanted, float spread)
    : SamplerBase(wanted),
      sample{0.0, 0.0},
      direction{0.0f, 0.0f, 0.0f},
      scaled_axis(scaled_cone_axis(axis, spread)),
      spread_fraction(spread) {}

}  // namespace vosh
