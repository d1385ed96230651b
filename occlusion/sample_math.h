// Host-free pieces of the sampling core, kept pure so tests can call them.
#pragma once

#include <cmath>
#include <cstdint>

#include "host/abi_types.h"
#include "occlusion/normalise.h"
#include "shader/occlusion_instance.h"
#include "shading_math/scaled_sincos.h"
#include "shading_math/tone_shaping.h"

namespace vosh {

// Distance-adaptive (or fixed) number of directions for a shading point at
// ray distance `ray_length`. Negative counts mean no directions.
uint32_t sample_count_for(const OcclusionInstance& instance, double ray_length);

// Unit axis times (1 - spread_fraction); a zero axis stays zero.
Vector scaled_cone_axis(Vector axis, float spread_fraction);

// Probe direction for the sample (u, v): a uniform point on the unit sphere,
// scaled by spread_fraction and added to the scaled axis. Not renormalised.
// Inline, like everything below, because they run once per probe ray.
inline Vector cone_direction(const Vector& scaled_axis, float spread_fraction, double u,
                             double v) {
    constexpr double two_pi = 6.283185307179586;
    const float phi = static_cast<float>(v * two_pi);
    const float z = static_cast<float>(2.0 * u - 1.0);
    const float z_squared = z * z;
    const float r = static_cast<float>(std::sqrt(static_cast<double>(1.0f - z_squared)));
    // float(cos(phi) * r) and float(sin(phi) * r), the library's bits.
    Vector unit{0.0f, 0.0f, z};
    scaled_cos_sin(phi, r, unit.x, unit.y);
    // A unit vector already; this only removes rounding.
    normalise(unit, SumOrder::x_first);
    return Vector{scaled_axis.x + spread_fraction * unit.x,
                  scaled_axis.y + spread_fraction * unit.y,
                  scaled_axis.z + spread_fraction * unit.z};
}

// 1 for hits at or inside near_distance, falling linearly to 0 at far_distance.
inline double occlusion_weight(double distance, double near_distance, double far_distance) {
    double t;
    if (distance <= near_distance)
        t = 0.0;
    else if (!(distance < far_distance))
        t = 1.0;
    else
        t = (distance - near_distance) / (far_distance - near_distance);
    return 1.0 - t;
}

// Gamma, then bias, then gain, in place, with the instance's settings.
inline void shape_occlusion(float& value, const OcclusionInstance& instance) {
    gamma_adjust(value, instance.gamma);
    bias_adjust(value, instance.bias);
    gain_adjust(value, instance.gain);
}

// (dark - bright) * v + bright per channel; alpha is left at 0 for the caller.
inline Color mix_colors(const Color& bright, const Color& dark, float v) {
    return Color{(dark.r - bright.r) * v + bright.r, (dark.g - bright.g) * v + bright.g,
                 (dark.b - bright.b) * v + bright.b, 0.0f};
}

// Writes r, g, b of `color` into the result; its alpha is the caller's.
inline void set_rgb(Color* result, const Color& color) {
    result->r = color.r;
    result->g = color.g;
    result->b = color.b;
}

// sum / taken, or 0 when no direction was taken (no division by zero).
inline float average_over(float sum, int32_t taken) {
    if (taken <= 0) return 0.0f;
    return sum / static_cast<float>(taken);
}

}  // namespace vosh
