#include "renderer/trace/ray_origin.h"

namespace vosh::render {

namespace {

// 2^-16 of the largest coordinate: about 128 single-precision ulps.
constexpr double offset_scale = 1.0 / 65536.0;

}  // namespace

Vec3 surface_ray_origin(const SceneGeometry& geometry, const SurfaceSite& site, Vec3 origin,
                        Vec3 direction) {
    // The step belongs to the hit's own point; a ray asked for from
    // elsewhere gets only the plain offset.
    Vec3 step;
    if (origin.x == site.point.x && origin.y == site.point.y && origin.z == site.point.z &&
        geometry.smooth_offset(site.object, site.primitive, site.b1, site.b2, direction, step))
        origin = origin + step;
    const double side = dot(direction, site.geometric_normal) >= 0 ? 1.0 : -1.0;
    const double amount = offset_scale * std::fmax(1.0, max_abs_component(origin));
    return origin + site.geometric_normal * (side * amount);
}

}  // namespace vosh::render
