// cos(phi) * r and sin(phi) * r rounded to single precision, for an angle
// phi in single precision: exactly what
//   static_cast<float>(std::cos(static_cast<double>(phi)) * r)
// (and the same with sin) gives with the standard library, bit for bit, at
// about a third of its cost. It runs once per probe direction.
//
// How the bits stay the same: the short evaluation below is within a few
// units in the last place (ulps) of double precision of the library's sine
// and cosine (measured over every float in the fast range by
// bench/sincos_exhaustive.cpp). A product rounded to single precision only
// depends on those last bits when it lies within a few double ulps of a
// point halfway between two floats; there the library is called instead.
// Arguments outside [0, 2pi] (the sampler gives v in [0, 1), so phi = 2 pi v
// lies inside), and r outside [0, 1], always take the library call.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vosh {

namespace sincos_detail {

// pi/2 as hi + lo: hi keeps 33 significant bits, so k * hi is exact for the
// quadrant counts k <= 4 met here and phi - k * hi is exact too.
constexpr double half_pi_hi = 0x1.921fb544p+0;
constexpr double half_pi_lo = 0x1.0b4611a626331p-34;
constexpr double two_over_pi = 0x1.45f306dc9c883p-1;
constexpr float largest_fast_phi = 6.2831855f;  // 2 pi rounded up to single precision

// Taylor coefficients: on |y| <= pi/4 the terms left out are below 1e-19.
constexpr double s3 = -1.0 / 6, s5 = 1.0 / 120, s7 = -1.0 / 5040, s9 = 1.0 / 362880,
                 s11 = -1.0 / 39916800, s13 = 1.0 / 6227020800, s15 = -1.0 / 1307674368000,
                 s17 = 1.0 / 355687428096000;
constexpr double c2 = -1.0 / 2, c4 = 1.0 / 24, c6 = -1.0 / 720, c8 = 1.0 / 40320,
                 c10 = -1.0 / 3628800, c12 = 1.0 / 479001600, c14 = -1.0 / 87178291200,
                 c16 = 1.0 / 20922789888000, c18 = -1.0 / 6402373705728000;

// Both series in powers of y^2, grouped (Estrin) so the two chains are short.
inline void sin_cos_reduced(double y, double& s, double& c) {
    const double y2 = y * y, y4 = y2 * y2, y8 = y4 * y4;
    const double sp = (s3 + y2 * s5) + y4 * (s7 + y2 * s9) +
                      y8 * ((s11 + y2 * s13) + y4 * (s15 + y2 * s17));
    const double cp = (c2 + y2 * c4) + y4 * (c6 + y2 * c8) +
                      y8 * ((c10 + y2 * c12) + y4 * (c14 + y2 * c16) + y8 * c18);
    s = y + y * y2 * sp;
    c = 1.0 + y2 * cp;
}

// Whether rounding p to single precision may depend on its last bits: the 29
// bits a float drops lie within `window` of the halfway pattern 1000...0.
inline bool near_float_halfway(double p) {
    constexpr uint64_t half = uint64_t{1} << 28, window = 64;
    uint64_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    const uint64_t dropped = bits & ((uint64_t{1} << 29) - 1);
    return dropped - (half - window) <= 2 * window;
}

}  // namespace sincos_detail

// cos(phi) and sin(phi) within a few double ulps of the library's, for phi
// in [0, 2pi] rounded up to single precision; false, nothing set, outside.
inline bool approximate_cos_sin(float phi, double& cos_phi, double& sin_phi) {
    using namespace sincos_detail;
    if (!(phi >= 0.0f && phi <= largest_fast_phi)) return false;
    const double a = phi;
    const int k = static_cast<int>(a * two_over_pi + 0.5);
    const double reduced = (a - k * half_pi_hi) - k * half_pi_lo;
    double s, c;
    sin_cos_reduced(reduced, s, c);
    switch (k & 3) {
        case 0: cos_phi = c; sin_phi = s; break;
        case 1: cos_phi = -s; sin_phi = c; break;
        case 2: cos_phi = -c; sin_phi = -s; break;
        default: cos_phi = s; sin_phi = -c; break;
    }
    return true;
}

// x = float(cos(phi) * r), y = float(sin(phi) * r), as the library gives them.
inline void scaled_cos_sin(float phi, float r, float& x, float& y) {
    using sincos_detail::near_float_halfway;
    const double rd = r;
    double cos_phi, sin_phi;
    if (r >= 0.0f && r <= 1.0f && approximate_cos_sin(phi, cos_phi, sin_phi)) {
        const double px = cos_phi * rd, py = sin_phi * rd;
        if (!near_float_halfway(px) && !near_float_halfway(py)) {
            x = static_cast<float>(px);
            y = static_cast<float>(py);
            return;
        }
    }
    x = static_cast<float>(std::cos(static_cast<double>(phi)) * rd);
    y = static_cast<float>(std::sin(static_cast<double>(phi)) * rd);
}

}  // namespace vosh
