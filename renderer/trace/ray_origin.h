// The origin of every ray that leaves a surface: probes, light rays,
// gathers and continued rays in a render, and the rays of a bake.
#pragma once

#include <cstdint>

#include "renderer/math/math3.h"
#include "renderer/trace/geometry.h"

namespace vosh::render {

// A point on a surface as a hit describes it.
struct SurfaceSite {
    uint32_t object = UINT32_MAX;
    uint32_t primitive = UINT32_MAX;
    double b1 = 0, b2 = 0;  // mesh: barycentric weights of the triangle's second and third vertex
    Vec3 point;             // the hit point as the state holds it
    Vec3 geometric_normal;  // unit, either side
};

// Where a ray asked for from `origin` along unit `direction` starts. From
// the site's own point on a smooth-shaded mesh it first steps out to the
// smooth surface (smooth_origin.h); then it moves along the geometric
// normal, to the side the ray leaves on, by 2^-16 of the point's largest
// coordinate (at least 2^-16), which clears single-precision rounding
// anywhere in the scene. With the origin goes whether a ray from it cannot
// meet the plane of the site's own primitive (with a margin for the ray
// tracer's single-precision copy of it): true for every ray the plain
// offset moved off its site's point, false where a smooth-surface step
// reached back across the plane or the ray runs along it.
struct RayStart {
    Vec3 origin;
    bool clears_own_plane = false;
};
RayStart surface_ray_start(const SceneGeometry& geometry, const SurfaceSite& site, Vec3 origin,
                           Vec3 direction);

}  // namespace vosh::render
