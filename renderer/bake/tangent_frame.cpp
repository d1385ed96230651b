#include "renderer/bake/tangent_frame.h"

#include <cmath>

namespace vosh::render {

namespace {

struct Accumulator {
    Vec3 tangent, bitangent;  // sums of dP/du and dP/dv
};

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

Vec3 face_normal(const MeshData& mesh, size_t triangle) {
    const Vec3& a = mesh.positions[mesh.indices[3 * triangle]];
    const Vec3& b = mesh.positions[mesh.indices[3 * triangle + 1]];
    const Vec3& c = mesh.positions[mesh.indices[3 * triangle + 2]];
    return normalize(cross(b - a, c - a));
}

Vec3 corner_normal(const MeshData& mesh, size_t triangle, int k, Vec3 face) {
    if (mesh.normals.empty()) return face;
    const Vec3 n = normalize(mesh.normals[mesh.indices[3 * triangle + k]]);
    return length(n) > 0.5 ? n : face;
}

double det3(const Mat4& m) {
    return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
           m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
           m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
}

}  // namespace

std::vector<TangentFrame> tangent_frames(const MeshData& mesh, const std::vector<Vec3>& uvs,
                                         bool use_file_tangents) {
    const size_t triangles = mesh.indices.size() / 3;
    const size_t vertices = mesh.positions.size();
    std::vector<TangentFrame> frames(3 * triangles);
    const bool from_file = use_file_tangents && mesh.tangents.size() == vertices &&
                           mesh.tangent_signs.size() == vertices;

    // Per-triangle UV derivatives summed per vertex, in two slots: triangles
    // whose UVs are mirrored go into the second, so a vertex on the axis of
    // a mirrored island does not average opposite bitangents to nothing.
    std::vector<Accumulator> sums;
    std::vector<int> side(triangles, 0);  // +1, -1, 0 for no UV area
    if (!from_file) {
        sums.resize(2 * vertices);
        for (size_t t = 0; t < triangles && uvs.size() == vertices; ++t) {
            const uint32_t i0 = mesh.indices[3 * t], i1 = mesh.indices[3 * t + 1],
                           i2 = mesh.indices[3 * t + 2];
            const Vec3 e1 = mesh.positions[i1] - mesh.positions[i0];
            const Vec3 e2 = mesh.positions[i2] - mesh.positions[i0];
            const Vec3 d1 = uvs[i1] - uvs[i0], d2 = uvs[i2] - uvs[i0];
            const double r = d1.x * d2.y - d2.x * d1.y;
            if (!std::isfinite(r) || r == 0) continue;
            const Vec3 dp_du = (e1 * d2.y - e2 * d1.y) * (1 / r);
            const Vec3 dp_dv = (e2 * d1.x - e1 * d2.x) * (1 / r);
            if (!is_finite(dp_du) || !is_finite(dp_dv)) continue;
            side[t] = r > 0 ? 1 : -1;
            for (const uint32_t i : {i0, i1, i2}) {
                Accumulator& a = sums[2 * i + (r > 0 ? 0 : 1)];
                a.tangent = a.tangent + dp_du;
                a.bitangent = a.bitangent + dp_dv;
            }
        }
    }

    for (size_t t = 0; t < triangles; ++t) {
        const Vec3 face = face_normal(mesh, t);
        for (int k = 0; k < 3; ++k) {
            const uint32_t i = mesh.indices[3 * t + k];
            TangentFrame& f = frames[3 * t + k];
            f.normal = corner_normal(mesh, t, k, face);
            bool usable = false;
            if (from_file) {
                f.tangent = orthogonal_tangent(f.normal, mesh.tangents[i], usable);
                f.sign = mesh.tangent_signs[i] < 0 ? -1 : 1;
                continue;
            }
            // A triangle without UV area borrows whichever slot has data.
            const int slot = side[t] < 0 || (side[t] == 0 && length(sums[2 * i].tangent) == 0) ? 1 : 0;
            const Accumulator& a = sums[2 * i + slot];
            f.tangent = orthogonal_tangent(f.normal, a.tangent, usable);
            f.sign = usable && dot(cross(f.normal, f.tangent), a.bitangent) < 0 ? -1 : 1;
        }
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
    const TangentFrame& f0 = frames[3 * size_t(triangle)];
    const TangentFrame& f1 = frames[3 * size_t(triangle) + 1];
    const TangentFrame& f2 = frames[3 * size_t(triangle) + 2];
    const double w = 1 - u - v;
    // What a pixel shader has: interpolated normal and tangent, carried to
    // world space (tangent as a direction, normal by the inverse transpose),
    // then re-orthonormalised; the sign is interpolated too.
    Vec3 n = f0.normal * w + f1.normal * u + f2.normal * v;
    Vec3 t = f0.tangent * w + f1.tangent * u + f2.tangent * v;
    double sign = f0.sign * w + f1.sign * u + f2.sign * v < 0 ? -1 : 1;
    Mat4 to_object;
    if (object.has_transform && invert_affine(object.transform, to_object)) {
        n = transform_normal(to_object, n);
        t = transform_vector(object.transform, t);
        // A mirroring transform turns normal x tangent around but not the
        // tangent's image of +v.
        if (det3(object.transform) < 0) sign = -sign;
    }
    n = normalize(n);
    bool usable = false;
    t = orthogonal_tangent(n, t, usable);
    const Vec3 b = cross(n, t) * sign;
    return normalize(Vec3{dot(world, t), dot(world, b), dot(world, n)});
}

Vec3 encode_unit_vector(Vec3 n, bool y_down) {
    return {n.x * 0.5 + 0.5, (y_down ? -n.y : n.y) * 0.5 + 0.5, n.z * 0.5 + 0.5};
}

}  // namespace vosh::render
