// Host-free pieces of the sampling core, kept pure so tests can call them.
#pragma once

#include <cstdint>

#include "host/render_state.h"
#include "shader/occlusion_instance.h"

namespace vosh {

// Distance-adaptive (or fixed) number of directions for a shading point at
// ray distance `ray_length`. Negative counts mean no directions.
uint32_t sample_count_for(const OcclusionInstance& instance, double ray_length);

// Unit axis times (1 - spread_fraction); a zero axis stays zero.
Vector scaled_cone_axis(Vector axis, float spread_fraction);

// Probe direction for the sample (u, v): a uniform point on the unit sphere,
// scaled by spread_fraction and added to the scaled axis. Not renormalised.
Vector cone_direction(const Vector& scaled_axis, float spread_fraction, double u, double v);

// 1 for hits at or inside near_distance, falling linearly to 0 at far_distance.
double occlusion_weight(double distance, double near_distance, double far_distance);

// Gamma, then bias, then gain, in place, with the instance's settings.
void shape_occlusion(float& value, const OcclusionInstance& instance);

// (dark - bright) * v + bright per channel; alpha is left at 0 for the caller.
Color mix_colors(const Color& bright, const Color& dark, float v);

// sum / taken, or 0 when no direction was taken (no division by zero).
float average_over(float sum, int32_t taken);

}  // namespace vosh
