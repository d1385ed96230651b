#include "occlusion/sample_math.h"

#include <cmath>

#include "shading_math/tone_shaping.h"

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
    const float length = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        axis.x *= inverse;
        axis.y *= inverse;
        axis.z *= inverse;
    }
    const float keep = 1.0f - spread_fraction;
    return Vector{axis.x * keep, axis.y * keep, axis.z * keep};
}

Vector cone_direction(const Vector& scaled_axis, float spread_fraction, double u, double v) {
    constexpr double two_pi = 6.283185307179586;
    const float phi = static_cast<float>(v * two_pi);
    const float z = static_cast<float>(2.0 * u - 1.0);
    const float z_squared = z * z;
    const float r = static_cast<float>(std::sqrt(static_cast<double>(1.0f - z_squared)));
    float x = static_cast<float>(std::cos(static_cast<double>(phi)) * r);
    float y = static_cast<float>(std::sin(static_cast<double>(phi)) * r);
    float w = z;

    // (x, y, w) is a unit vector already; this only removes rounding.
    const float length = std::sqrt(x * x + y * y + w * w);
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        x *= inverse;
        y *= inverse;
        w *= inverse;
    }
    return Vector{scaled_axis.x + spread_fraction * x, scaled_axis.y + spread_fraction * y,
                  scaled_axis.z + spread_fraction * w};
}

double occlusion_weight(double distance, double near_distance, double far_distance) {
    double t;
    if (distance <= near_distance)
        t = 0.0;
    else if (!(distance < far_distance))
        t = 1.0;
    else
        t = (distance - near_distance) / (far_distance - near_distance);
    return 1.0 - t;
}

void shape_occlusion(float& value, const OcclusionInstance& instance) {
    gamma_adjust(value, instance.gamma);
    bias_adjust(value, instance.bias);
    gain_adjust(value, instance.gain);
}

Color mix_colors(const Color& bright, const Color& dark, float v) {
    return Color{(dark.r - bright.r) * v + bright.r, (dark.g - bright.g) * v + bright.g,
                 (dark.b - bright.b) * v + bright.b, 0.0f};
}

float average_over(float sum, int32_t taken) {
    if (taken <= 0) return 0.0f;
    return sum / static_cast<float>(taken);
}

}  // namespace vosh
