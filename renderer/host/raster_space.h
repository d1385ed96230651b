// The raster space that mi_point_to_raster maps world points into, kept
// per render thread because a bake changes it from one point to the next.
// A render leaves it on the camera's image. A bake's raster space is texel
// space: before shading each texel point it sets the affine map of the
// triangle under that point (bake/texel_shading.h, world_to_texel_map).
#pragma once

#include "renderer/math/math3.h"
#include "renderer/trace/camera.h"

namespace vosh::render {

struct RasterSpace {
    bool texel_map = false;  // set by a bake: world_to_texel applies, not the camera
    Mat4 world_to_texel;
};

inline Vec3 to_raster(const RasterSpace& space, const CameraModel& camera, Vec3 world) {
    return space.texel_map ? transform_point(space.world_to_texel, world) : world_to_raster(camera, world);
}

}  // namespace vosh::render
