// The scene camera: primary rays through raster positions and the way back
// from world space to raster space. Raster: x right, y down, in pixels, with
// (0, 0) the top-left corner of the image and (0.5, 0.5) the first pixel's
// centre. Camera space: x right, y up, the camera looking along -z.
#pragma once

#include "renderer/math/math3.h"
#include "renderer/scene/scene.h"

namespace vosh::render {

struct CameraModel {
    bool orthographic = false;
    int width = 1, height = 1;
    double tan_half_fov = 1;               // perspective, vertical
    double half_width = 1, half_height = 1;  // orthographic, scene units
    Mat4 camera_to_world, world_to_camera;
};

CameraModel make_camera(const CameraDesc& desc);

// Ray through the raster position (x, y); `direction` is unit length.
void camera_ray(const CameraModel& cam, double x, double y, Vec3& origin, Vec3& direction);

// Raster x and y of a world point; z is its depth in front of the camera.
Vec3 world_to_raster(const CameraModel& cam, Vec3 world);

}  // namespace vosh::render
