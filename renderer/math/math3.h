// Double-precision vectors and 4x4 affine matrices for the renderer.
// Matrices follow the host's convention: a point is a row vector multiplied
// from the left (p' = p * M), stored row-major, translation in the last row.
#pragma once

#include <array>
#include <cmath>

#include "host/render_state.h"

namespace vosh::render {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(Vec3 a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(double s, Vec3 a) { return a * s; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3 a) { return std::sqrt(dot(a, a)); }
inline Vec3 normalize(Vec3 a) {
    const double l = length(a);
    return l > 0 ? a * (1.0 / l) : a;
}
// std::fmax of magnitudes (a NaN loses to a number), inline: the library
// call ran on every probe ray.
inline double max_abs_component(Vec3 a) {
    const auto larger = [](double p, double q) { return q > p || p != p ? q : p; };
    return larger(std::fabs(a.x), larger(std::fabs(a.y), std::fabs(a.z)));
}
inline bool is_finite(Vec3 a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

inline Vec3 to_vec3(const Vector& v) { return {v.x, v.y, v.z}; }
inline Vector to_vector(Vec3 v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// Two unit vectors that complete `n` (unit) to a right-handed basis.
inline void orthonormal_basis(Vec3 n, Vec3& t, Vec3& b) {
    const Vec3 helper = std::fabs(n.x) > 0.9 ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
    t = normalize(cross(helper, n));
    b = cross(n, t);
}

struct Mat4 {
    std::array<double, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    double operator()(int row, int col) const { return m[row * 4 + col]; }
    double& operator()(int row, int col) { return m[row * 4 + col]; }
};

inline Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a(i, k) * b(k, j);
            r(i, j) = s;
        }
    return r;
}

inline Vec3 transform_point(const Mat4& t, Vec3 p) {
    return {p.x * t(0, 0) + p.y * t(1, 0) + p.z * t(2, 0) + t(3, 0),
            p.x * t(0, 1) + p.y * t(1, 1) + p.z * t(2, 1) + t(3, 1),
            p.x * t(0, 2) + p.y * t(1, 2) + p.z * t(2, 2) + t(3, 2)};
}

inline Vec3 transform_vector(const Mat4& t, Vec3 v) {
    return {v.x * t(0, 0) + v.y * t(1, 0) + v.z * t(2, 0),
            v.x * t(0, 1) + v.y * t(1, 1) + v.z * t(2, 1),
            v.x * t(0, 2) + v.y * t(1, 2) + v.z * t(2, 2)};
}

// A normal of a surface carried by `t` transforms with the transpose of the
// inverse; given that inverse, n' = n * inverse^T.
inline Vec3 transform_normal(const Mat4& inverse, Vec3 n) {
    return {n.x * inverse(0, 0) + n.y * inverse(0, 1) + n.z * inverse(0, 2),
            n.x * inverse(1, 0) + n.y * inverse(1, 1) + n.z * inverse(1, 2),
            n.x * inverse(2, 0) + n.y * inverse(2, 1) + n.z * inverse(2, 2)};
}

inline Mat4 translation(Vec3 t) {
    Mat4 r;
    r(3, 0) = t.x;
    r(3, 1) = t.y;
    r(3, 2) = t.z;
    return r;
}

// Rows are the images of the x, y and z axes.
inline Mat4 from_axes(Vec3 x, Vec3 y, Vec3 z, Vec3 origin) {
    Mat4 r;
    const Vec3 rows[4] = {x, y, z, origin};
    for (int i = 0; i < 4; ++i) {
        r(i, 0) = rows[i].x;
        r(i, 1) = rows[i].y;
        r(i, 2) = rows[i].z;
    }
    return r;
}

// Inverse of an affine matrix (last column 0, 0, 0, 1). False when singular.
bool invert_affine(const Mat4& t, Mat4& inverse);

inline bool is_affine(const Mat4& t) {
    return t(0, 3) == 0 && t(1, 3) == 0 && t(2, 3) == 0 && t(3, 3) == 1;
}

}  // namespace vosh::render
