#include "renderer/math/math3.h"

namespace vosh::render {

bool invert_affine(const Mat4& t, Mat4& inverse) {
    const double a = t(0, 0), b = t(0, 1), c = t(0, 2);
    const double d = t(1, 0), e = t(1, 1), f = t(1, 2);
    const double g = t(2, 0), h = t(2, 1), i = t(2, 2);
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    double scale = 0;
    for (int k = 0; k < 12; ++k) scale = std::fmax(scale, std::fabs(t.m[k]));
    if (!std::isfinite(det) || std::fabs(det) <= 1e-12 * scale * scale * scale) return false;
    const double s = 1.0 / det;
    Mat4 r;
    r(0, 0) = (e * i - f * h) * s;
    r(0, 1) = (c * h - b * i) * s;
    r(0, 2) = (b * f - c * e) * s;
    r(1, 0) = (f * g - d * i) * s;
    r(1, 1) = (a * i - c * g) * s;
    r(1, 2) = (c * d - a * f) * s;
    r(2, 0) = (d * h - e * g) * s;
    r(2, 1) = (b * g - a * h) * s;
    r(2, 2) = (a * e - b * d) * s;
    const Vec3 moved = transform_vector(r, {t(3, 0), t(3, 1), t(3, 2)});
    r(3, 0) = -moved.x;
    r(3, 1) = -moved.y;
    r(3, 2) = -moved.z;
    r(0, 3) = r(1, 3) = r(2, 3) = 0;
    r(3, 3) = 1;
    inverse = r;
    return true;
}

}  // namespace vosh::render
