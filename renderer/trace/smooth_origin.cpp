#include "renderer/trace/smooth_origin.h"

namespace vosh::render {

namespace {

// Vertex normals within about 0.08 degrees of the face normal: rounding of
// stored normals, not curvature worth a step.
constexpr double flat_cosine = 1.0 - 1e-6;

}  // namespace

bool is_flat_shaded(const SmoothTriangle& t) {
    const Vec3 n = normalize(cross(t.vertex[1] - t.vertex[0], t.vertex[2] - t.vertex[0]));
    if (!(length(n) > 0)) return true;  // degenerate: never hit, nothing to smooth
    for (const Vec3& vn : t.normal)
        if (!(std::fabs(dot(vn, n)) >= flat_cosine)) return false;
    return true;
}

Vec3 smooth_surface_offset(const SmoothTriangle& t, double b1, double b2, Vec3 direction) {
    const double w[3] = {1.0 - b1 - b2, b1, b2};
    const Vec3 point = t.vertex[0] * w[0] + t.vertex[1] * w[1] + t.vertex[2] * w[2];
    const Vec3 interpolated = t.normal[0] * w[0] + t.normal[1] * w[1] + t.normal[2] * w[2];
    // The side the ray leaves from is that of the shading normal, not of the
    // flat face: the troublesome rays are exactly those that dip below it.
    const double side = dot(direction, interpolated) >= 0 ? 1.0 : -1.0;
    Vec3 offset{0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const Vec3 n = t.normal[i] * side;
        const double height = dot(point - t.vertex[i], n);  // above vertex i's tangent plane
        if (height < 0) offset = offset + n * (-height * w[i]);
    }
    return offset;
}

}  // namespace vosh::render
