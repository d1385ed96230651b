#include "renderer/bake/tangent_frame.h"

#include <cmath>

#include "renderer/bake/corner_tangents.h"

namespace vosh::render {

namespace {

// Tangent along `t` made orthogonal to the unit `n` (Gram-Schmidt), with
// an arbitrary one where `t` has nothing left (no usable UV derivative).
Vec3 orthogonal_tangent(Vec3 n, Vec3 t, bool& usable) {
    const Vec3 rest = t - n * dot(n, t);
    usable = is_finite(rest) && length(rest) > 1e-12 * std::fmax(1.0, length(t));
    if (usable) return normalize(rest);
    Vec3 any, unused;
    orthonormal_basis(n, any, unused);
    return any;
}

double det3(const Mat4& m) {
    return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
           m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
           m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
}

}  // namespace

std::vector<TangentFrame> tangent_frames(const MeshData& mesh, const std::vector<Vec3>& uvs,
                                         bool use_file_tangents) {
    const size_t vertices = mesh.positions.size();
    if (!use_file_tangents || mesh.tangents.size() != vertices || mesh.tangent_signs.size() != vertices)
        return corner_tangent_frames(mesh, uvs);
    const std::vector<Vec3> normals = corner_normals(mesh);
    std::vector<TangentFrame> frames(normals.size());
    for (size_t c = 0; c < frames.size(); ++c) {
        const uint32_t i = mesh.indices[c];
        TangentFrame& f = frames[c];
        f.normal = normals[c];
        bool usable = false;
        f.tangent = orthogonal_tangent(f.normal, mesh.tangents[i], usable);
        f.sign = mesh.tangent_signs[i] < 0 ? -1 : 1;
    }
    return frames;
}

Vec3 bent_normal_in_space(Vec3 world, BakeSpace space, const ObjectDesc& object,
                          const std::vector<TangentFrame>& frames, uint32_t triangle, double u,
                          double v) {
    if (space == BakeSpace::world || length(world) == 0) return world;
    if (space == BakeSpace::object) {
        // World normals are object normals times the inverse transpose; back
        // is times the transpose of the object-to-world matrix.
        return object.has_transform ? normalize(transform_normal(object.transform, world)) : world;
    }
    // The frame as the consumer's pixel shader has it: each corner's normal
    // and tangent carried to world space (the tangent as a direction, the
    // normal by the inverse transpose) and made unit, as a vertex shader
    // hands them on and as the renderer's own vertex normals are; then
    // interpolated and left as they come; the bitangent sign * (n x t).
    Mat4 to_object;
    const bool moved = object.has_transform && invert_affine(object.transform, to_object);
    Vec3 n, t;
    double sign = 0;
    const double weight[3] = {1 - u - v, u, v};
    for (size_t k = 0; k < 3; ++k) {
        const TangentFrame& f = frames[3 * size_t(triangle) + k];
        n = n + (moved ? normalize(transform_normal(to_object, f.normal)) : f.normal) * weight[k];
        t = t + (moved ? normalize(transform_vector(object.transform, f.tangent)) : f.tangent) * weight[k];
        sign += f.sign * weight[k];
    }
    // A mirroring transform turns normal x tangent around but not the
    // tangent's image of +v.
    sign = (sign < 0) != (moved && det3(object.transform) < 0) ? -1 : 1;
    const Vec3 b = cross(n, t) * sign;
    // The shader decodes x * t + y * b + z * n (normalised); this inverts
    // that matrix, as the bakers that pair with it do.
    const Vec3 bn = cross(b, n), nt = cross(n, t), tb = cross(t, b);
    const double det = dot(t, bn);
    if (std::isfinite(det) && std::fabs(det) > 1e-9 * length(t) * length(b) * length(n))
        return normalize(Vec3{dot(world, bn), dot(world, nt), dot(world, tb)} * (1 / det));
    // No frame to invert (a tangent along the normal): the nearest
    // orthonormal one.
    n = normalize(n);
    bool usable = false;
    t = orthogonal_tangent(n, t, usable);
    const Vec3 ob = cross(n, t) * sign;
    return normalize(Vec3{dot(world, t), dot(world, ob), dot(world, n)});
}

Vec3 encode_unit_vector(Vec3 n, bool y_down) {
    return {n.x * 0.5 + 0.5, (y_down ? -n.y : n.y) * 0.5 + 0.5, n.z * 0.5 + 0.5};
}

}  // namespace vosh::render
