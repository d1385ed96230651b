// Limits the scene loader holds a scene to, so that a typo never turns into
// a render that never ends or a ray the ray tracer cannot start.
#pragma once

#include <cstdint>

namespace vosh::render {

constexpr int max_resolution = 16384;
constexpr long long max_pixels = 8192LL * 8192LL;
constexpr int max_samples_per_pixel = 65536;
// Adaptive sampling's threshold is an error in the image's units: one as
// large as white says nothing.
constexpr double max_noise_threshold = 1;
// Every point of the scene lies within this distance of the origin along
// each axis, so rays always start where the ray tracer accepts them.
constexpr double max_scene_coordinate = 1e12;
// The same for a transformed sphere or disk, which is traced in its own
// space: the scene carried there must stay within this.
constexpr double max_object_space_coordinate = 1e16;
// The most rays one final-gather lookup traces.
constexpr int32_t max_gather_rays = 65536;

}  // namespace vosh::render
