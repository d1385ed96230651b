#include "occlusion/sample_math.h"

namespace vosh {

namespace {

// A negative count asks for nothing; reading it as unsigned would ask for
// about four billion directions.
uint32_t non_negative(int32_t count) { return count < 0 ? 0u : static_cast<uint32_t>(count); }

}  // namespace

uint32_t sample_count_for(const OcclusionInstance& instance, double ray_length) {
    if (!instance.adaptive) return non_negative(instance.samples);

    const uint32_t near_samples = non_negative(instance.near_samples);
    const uint32_t far_samples = non_negative(instance.far_samples);

    // The near test sees the distance at full precision, the rest in float.
    float t = 0.0f;
    if (!(ray_length <= instance.near_threshold)) {
        const float d = static_cast<float>(ray_length);
        if (d >= instance.far_threshold)
            t = 1.0f;
        else
            t = (d - instance.near_threshold) / (instance.far_threshold - instance.near_threshold);
    }

    if (t >= 1.0f) return far_samples;
    // Not above 0, or not a number: the near count.
    if (!(t > 0.0f)) return near_samples;
    const int32_t difference =
        static_cast<int32_t>(far_samples) - static_cast<int32_t>(near_samples);
    const double count = static_cast<double>(near_samples) +
                         static_cast<double>(t) * static_cast<double>(difference);
    return static_cast<uint32_t>(count);
}

Vector scaled_cone_axis(Vector axis, float spread_fraction) {
    normalise(axis, SumOrder::x_first);
    const float keep = 1.0f - spread_fraction;
    return Vector{axis.x * keep, axis.y * keep, axis.z * keep};
}

}  // namespace vosh
