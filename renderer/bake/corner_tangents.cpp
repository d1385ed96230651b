#include "renderer/bake/corner_tangents.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <numeric>
#include <utility>

namespace vosh::render {

namespace {

// Corners are the same vertex when position, normal and UV are equal.
using CornerValues = std::array<double, 8>;

uint32_t find_root(std::vector<uint32_t>& parent, uint32_t c) {
    while (parent[c] != c) {
        parent[c] = parent[parent[c]];
        c = parent[c];
    }
    return c;
}

void join(std::vector<uint32_t>& parent, uint32_t a, uint32_t b) {
    a = find_root(parent, a);
    b = find_root(parent, b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
}

// The angle at a corner between its two edges, both seen in the plane of
// the corner's normal (the plane its tangent lies in).
double corner_angle(Vec3 n, Vec3 a, Vec3 b) {
    a = normalize(a - n * dot(n, a));
    b = normalize(b - n * dot(n, b));
    return std::acos(std::clamp(dot(a, b), -1.0, 1.0));
}

Vec3 fallback_tangent(Vec3 n) {
    const Vec3 x{1, 0, 0};
    const Vec3 rest = x - n * dot(n, x);
    if (length(rest) > 1e-6) return normalize(rest);
    Vec3 t, unused;
    orthonormal_basis(n, t, unused);
    return t;
}

// A value id per corner; corners whose values are not all finite never
// match another.
std::vector<uint32_t> corner_keys(const MeshData& mesh, const std::vector<Vec3>& normals,
                                  const std::vector<Vec3>& uvs, uint32_t& count) {
    const bool have_uvs = uvs.size() == mesh.positions.size();
    std::vector<CornerValues> values(mesh.indices.size());
    std::vector<uint32_t> order, key(values.size());
    count = 0;
    for (size_t c = 0; c < values.size(); ++c) {
        const uint32_t i = mesh.indices[c];
        const Vec3 p = mesh.positions[i], n = normals[c], uv = have_uvs ? uvs[i] : Vec3{};
        values[c] = {p.x, p.y, p.z, n.x, n.y, n.z, uv.x, uv.y};
        if (std::all_of(values[c].begin(), values[c].end(), [](double x) { return std::isfinite(x); }))
            order.push_back(uint32_t(c));
        else
            key[c] = count++;
    }
    // Sorted by value, equal corners lie side by side.
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return values[a] < values[b]; });
    for (size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && values[order[k]] == values[order[k - 1]])
            key[order[k]] = key[order[k - 1]];
        else
            key[order[k]] = count++;
    }
    return key;
}

uint32_t corner_with_key(const std::vector<uint32_t>& key, size_t triangle, uint32_t k) {
    for (uint32_t c = 3 * uint32_t(triangle); c < 3 * triangle + 3; ++c)
        if (key[c] == k) return c;
    return 3 * uint32_t(triangle);
}

}  // namespace

std::vector<Vec3> corner_normals(const MeshData& mesh) {
    std::vector<Vec3> normals(mesh.indices.size());
    for (size_t t = 0; 3 * t + 2 < mesh.indices.size(); ++t) {
        const Vec3& a = mesh.positions[mesh.indices[3 * t]];
        const Vec3& b = mesh.positions[mesh.indices[3 * t + 1]];
        const Vec3& c = mesh.positions[mesh.indices[3 * t + 2]];
        const Vec3 face = normalize(cross(b - a, c - a));
        for (size_t k = 0; k < 3; ++k) {
            const Vec3 n = mesh.normals.empty() ? face : normalize(mesh.normals[mesh.indices[3 * t + k]]);
            normals[3 * t + k] = length(n) > 0.5 ? n : face;
        }
    }
    return normals;
}

std::vector<TangentFrame> corner_tangent_frames(const MeshData& mesh, const std::vector<Vec3>& uvs) {
    const size_t triangles = mesh.indices.size() / 3;
    const std::vector<Vec3> normals = corner_normals(mesh);
    uint32_t keys = 0;
    const std::vector<uint32_t> key = corner_keys(mesh, normals, uvs, keys);

    // Each triangle's direction of +u (dP/du) and UV winding: +1, -1, or 0
    // for no UV area (no direction to give; its corners borrow one).
    std::vector<Vec3> along_u(triangles);
    std::vector<int> side(triangles, 0);
    for (size_t t = 0; t < triangles && uvs.size() == mesh.positions.size(); ++t) {
        const uint32_t i0 = mesh.indices[3 * t], i1 = mesh.indices[3 * t + 1], i2 = mesh.indices[3 * t + 2];
        const Vec3 e1 = mesh.positions[i1] - mesh.positions[i0];
        const Vec3 e2 = mesh.positions[i2] - mesh.positions[i0];
        const Vec3 d1 = uvs[i1] - uvs[i0], d2 = uvs[i2] - uvs[i0];
        const double area = d1.x * d2.y - d1.y * d2.x;
        if (!std::isfinite(area) || area == 0) continue;
        const Vec3 du = (e1 * d2.y - e2 * d1.y) * (area > 0 ? 1 : -1);
        if (!is_finite(du)) continue;
        along_u[t] = du;
        side[t] = area > 0 ? 1 : -1;
    }

    // Triangles meet at an edge whose two ends are equal corners in both.
    // One with no UV area takes the winding of the first it meets (through
    // such edges, breadth first) and joins that side's groups.
    // Every use of an edge (its two corner values, as one number), sorted:
    // the uses of one edge lie side by side, in triangle order.
    struct EdgeUse {
        uint64_t edge;
        uint32_t triangle;
        bool operator<(const EdgeUse& o) const { return edge != o.edge ? edge < o.edge : triangle < o.triangle; }
    };
    std::vector<EdgeUse> uses;
    std::vector<bool> collapsed(triangles);  // two equal corners: no edges, no groups
    for (size_t t = 0; t < triangles; ++t) {
        const uint32_t* k = &key[3 * t];
        collapsed[t] = k[0] == k[1] || k[1] == k[2] || k[2] == k[0];
        if (collapsed[t]) continue;
        for (int e = 0; e < 3; ++e) {
            const auto [low, high] = std::minmax(k[e], k[(e + 1) % 3]);
            uses.push_back({uint64_t(low) << 32 | high, uint32_t(t)});
        }
    }
    std::sort(uses.begin(), uses.end());
    std::vector<size_t> run_start;  // the first use of each edge, and the end
    std::vector<uint32_t> run_of(3 * triangles, 0);  // per corner: the edge to the next corner
    for (size_t i = 0; i < uses.size(); ++i) {
        if (i == 0 || uses[i].edge != uses[i - 1].edge) run_start.push_back(i);
        const uint32_t t = uses[i].triangle;
        for (int e = 0; e < 3; ++e) {
            const auto [low, high] = std::minmax(key[3 * t + e], key[3 * t + (e + 1) % 3]);
            if ((uint64_t(low) << 32 | high) == uses[i].edge) run_of[3 * t + e] = uint32_t(run_start.size() - 1);
        }
    }
    run_start.push_back(uses.size());

    std::vector<int> winding = side;
    std::deque<uint32_t> queue;
    for (size_t t = 0; t < triangles; ++t)
        if (side[t] != 0 && !collapsed[t]) queue.push_back(uint32_t(t));
    std::vector<bool> spread(run_start.size());  // edges already passed on
    while (!queue.empty()) {
        const uint32_t t = queue.front();
        queue.pop_front();
        for (int e = 0; e < 3; ++e) {
            const uint32_t r = run_of[3 * t + e];
            if (spread[r]) continue;
            spread[r] = true;
            for (size_t i = run_start[r]; i < run_start[r + 1]; ++i)
                if (winding[uses[i].triangle] == 0) {
                    winding[uses[i].triangle] = winding[t];
                    queue.push_back(uses[i].triangle);
                }
        }
    }

    // Corners of one vertex are one group when their triangles meet, with
    // the same winding: the two halves of a mirrored island stay apart even
    // where they share vertices.
    std::vector<uint32_t> parent(mesh.indices.size());
    std::iota(parent.begin(), parent.end(), 0u);
    for (size_t r = 0; r + 1 < run_start.size(); ++r) {
        int64_t first[2] = {-1, -1};
        const uint64_t edge = uses[run_start[r]].edge;
        for (size_t i = run_start[r]; i < run_start[r + 1]; ++i) {
            const uint32_t t = uses[i].triangle;
            if (winding[t] == 0) continue;
            int64_t& f = first[winding[t] > 0 ? 0 : 1];
            if (f < 0) {
                f = t;
                continue;
            }
            for (const uint32_t end : {uint32_t(edge >> 32), uint32_t(edge)})
                join(parent, corner_with_key(key, t, end), corner_with_key(key, size_t(f), end));
        }
    }

    // A group's tangent: its triangles' +u in the plane of the (shared)
    // normal, unit length, weighted by the angle of each corner.
    std::vector<Vec3> sum(mesh.indices.size());
    for (size_t t = 0; t < triangles; ++t) {
        if (side[t] == 0) continue;
        for (size_t k = 0; k < 3; ++k) {
            const size_t c = 3 * t + k;
            const Vec3 n = normals[c];
            const Vec3 p = mesh.positions[mesh.indices[c]];
            const Vec3 next = mesh.positions[mesh.indices[3 * t + (k + 1) % 3]];
            const Vec3 previous = mesh.positions[mesh.indices[3 * t + (k + 2) % 3]];
            const Vec3 in_plane = normalize(along_u[t] - n * dot(n, along_u[t]));
            Vec3& s = sum[find_root(parent, uint32_t(c))];
            s = s + in_plane * corner_angle(n, next - p, previous - p);
        }
    }

    // A group with nothing to go by (all its triangles without UV area) gets
    // +x in the normal's plane and sign -1, as the usual tools give it.
    std::vector<TangentFrame> frames(mesh.indices.size());
    std::vector<int64_t> good_corner(keys, -1);  // a corner with a direction, per value
    for (size_t c = 0; c < frames.size(); ++c) {
        TangentFrame& f = frames[c];
        f.normal = normals[c];
        const Vec3 s = sum[find_root(parent, uint32_t(c))];
        const bool usable = !collapsed[c / 3] && length(s) > 1e-12 && is_finite(s);
        f.tangent = usable ? normalize(s) : fallback_tangent(f.normal);
        f.sign = usable ? winding[c / 3] : -1;
        if (usable && good_corner[key[c]] < 0) good_corner[key[c]] = int64_t(c);
    }
    // A collapsed triangle's corners take the frame of an equal corner.
    for (size_t c = 0; c < frames.size(); ++c)
        if (collapsed[c / 3] && good_corner[key[c]] >= 0) frames[c] = frames[size_t(good_corner[key[c]])];
    return frames;
}

}  // namespace vosh::render
