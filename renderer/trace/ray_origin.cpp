#include "renderer/trace/ray_origin.h"

namespace vosh::render {

namespace {

// 2^-16 of the largest coordinate: about 128 single-precision ulps.
constexpr double offset_scale = 1.0 / 65536.0;

// std::fmax(1.0, m) for m >= 0 or NaN, inline: the library call was a
// per-probe cost of its own.
inline double at_least_one(double m) { return m > 1.0 ? m : 1.0; }

// Whether a ray from `origin` along `direction` starts at least half the
// offset above the site's plane on the side it heads for: enough to cover
// the rounding of the ray tracer's single-precision copy of the plane.
bool clears_plane(const SurfaceSite& site, Vec3 origin, Vec3 direction) {
    const double along = dot(direction, site.geometric_normal);
    const double height = dot(origin - site.point, site.geometric_normal);
    const double margin = 0.5 * offset_scale * at_least_one(max_abs_component(site.point));
    return along > 0 ? height >= margin : along < 0 && height <= -margin;
}

}  // namespace

RayStart surface_ray_start(const SceneGeometry& geometry, const SurfaceSite& site, Vec3 origin,
                           Vec3 direction) {
    // The step belongs to the hit's own point; a ray asked for from
    // elsewhere gets only the plain offset.
    const bool at_site = origin.x == site.point.x && origin.y == site.point.y && origin.z == site.point.z;
    Vec3 step;
    const bool stepped =
        at_site && geometry.smooth_offset(site.object, site.primitive, site.b1, site.b2, direction, step);
    if (stepped) origin = origin + step;
    const double along = dot(direction, site.geometric_normal);
    const double side = along >= 0 ? 1.0 : -1.0;
    const double amount = offset_scale * at_least_one(max_abs_component(origin));
    RayStart start;
    start.origin = origin + site.geometric_normal * (side * amount);
    // From the site's point the plain offset alone lifts the ray a whole
    // offset off the plane, on the side it leaves on.
    start.clears_own_plane = at_site && !stepped ? along != 0 : clears_plane(site, start.origin, direction);
    return start;
}

}  // namespace vosh::render
