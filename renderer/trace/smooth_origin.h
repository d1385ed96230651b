// Where a ray should leave a smooth-shaded triangle from. A coarse mesh
// whose vertex normals describe a curved surface is traced as flat
// triangles; rays spread around the interpolated normal dip below the flat
// triangle near its edges and hit the mesh from within. Starting them from
// the curved surface the vertex normals imply avoids that.
#pragma once

#include "renderer/math/math3.h"

namespace vosh::render {

struct SmoothTriangle {
    Vec3 vertex[3];
    Vec3 normal[3];  // unit vertex normals, as authored (either orientation)
};

// Whether the vertex normals all lie along the triangle's own normal, so
// that the triangle is its own smooth surface.
bool is_flat_shaded(const SmoothTriangle& triangle);

// The step from the flat point with barycentric weights (1 - b1 - b2, b1, b2)
// to the smooth surface, for a ray leaving along `direction`: the point is
// projected onto each vertex's tangent plane and the projections blended
// with the weights, but only projections that move the point out of the
// surface on the side the ray leaves from (that of the interpolated normal
// it lies along) take part. Zero where the surface is concave or flat on
// that side, so real occlusion is never lifted away.
Vec3 smooth_surface_offset(const SmoothTriangle& triangle, double b1, double b2, Vec3 direction);

}  // namespace vosh::render
