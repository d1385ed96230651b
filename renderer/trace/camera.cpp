#include "renderer/trace/camera.h"

#include <cmath>

namespace vosh::render {

CameraModel make_camera(const CameraDesc& desc) {
    CameraModel cam;
    cam.orthographic = desc.orthographic;
    cam.width = desc.width_px;
    cam.height = desc.height_px;
    const double aspect = static_cast<double>(desc.width_px) / desc.height_px;
    cam.tan_half_fov = std::tan(desc.fov_deg * M_PI / 360.0);
    cam.half_width = desc.width / 2;
    cam.half_height = cam.half_width / aspect;
    const Vec3 back = normalize(desc.position - desc.look_at);
    const Vec3 right = normalize(cross(desc.up, back));
    const Vec3 up = cross(back, right);
    cam.camera_to_world = from_axes(right, up, back, desc.position);
    invert_affine(cam.camera_to_world, cam.world_to_camera);
    return cam;
}

void camera_ray(const CameraModel& cam, double x, double y, Vec3& origin, Vec3& direction) {
    const double aspect = static_cast<double>(cam.width) / cam.height;
    const double nx = 2 * x / cam.width - 1;   // -1 left, +1 right
    const double ny = 1 - 2 * y / cam.height;  // +1 top, -1 bottom
    if (cam.orthographic) {
        origin = transform_point(cam.camera_to_world, {nx * cam.half_width, ny * cam.half_height, 0});
        direction = transform_vector(cam.camera_to_world, {0, 0, -1});
    } else {
        origin = transform_point(cam.camera_to_world, {0, 0, 0});
        direction = normalize(transform_vector(
            cam.camera_to_world, {nx * cam.tan_half_fov * aspect, ny * cam.tan_half_fov, -1}));
    }
}

Vec3 world_to_raster(const CameraModel& cam, Vec3 world) {
    const Vec3 c = transform_point(cam.world_to_camera, world);
    const double depth = -c.z;
    double nx, ny;
    if (cam.orthographic) {
        nx = c.x / cam.half_width;
        ny = c.y / cam.half_height;
    } else {
        const double aspect = static_cast<double>(cam.width) / cam.height;
        nx = c.x / (depth * cam.tan_half_fov * aspect);
        ny = c.y / (depth * cam.tan_half_fov);
    }
    return {(nx + 1) * 0.5 * cam.width, (1 - ny) * 0.5 * cam.height, depth};
}

}  // namespace vosh::render
