#include "shading_math/color_adjust.h"

#include <cmath>

namespace vosh {

namespace {

constexpr float kLumRed = 0.3f;
constexpr float kLumGreen = 0.59f;
constexpr float kLumBlue = 0.11f;
constexpr float kOneSixth = 1.0f / 6.0f;

// x + (scale*x - x) * w with every step rounded to single precision; kept as
// separate statements so no compiler fuses them into one multiply-add.
float boost_channel(float x, float scale, float w) {
    const float scaled = scale * x;
    const float difference = scaled - x;
    const float step = difference * w;
    return x + step;
}

// Hue to [0, 1): the sextant table has no row for anything else, and a hue
// that is not a number would pick no row at all.
float wrap_hue(float h) {
    if (std::isnan(h) || std::isinf(h)) return 0.0f;
    float wrapped = h - std::floor(h);
    // A tiny negative hue can round up to exactly 1 after the subtraction.
    if (!(wrapped < 1.0f)) wrapped = 0.0f;
    return wrapped;
}

}  // namespace

void luminance_boost(Color& color, float scale, float threshold, float power) {
    if (!(scale > 1.0f)) return;

    // Formed in double and tested before any rounding to single precision.
    const double lum = static_cast<double>(kLumRed) * color.r +
                       static_cast<double>(kLumBlue) * color.b +
                       static_cast<double>(kLumGreen) * color.g;
    if (!(lum > threshold)) return;

    float w;
    if (threshold >= 1.0f) {
        // The ramp has no finite span above such a threshold: full boost.
        w = 1.0f;
    } else {
        const double base = (static_cast<double>(static_cast<float>(lum)) - threshold) /
                            (1.0 - static_cast<double>(threshold));
        w = static_cast<float>(std::pow(base, static_cast<double>(power)));
    }
    if (w <= 0.0f) return;

    if (w >= 1.0f) {
        color = Color{scale * color.r, scale * color.g, scale * color.b, 0.0f};
        return;
    }
    color.r = boost_channel(color.r, scale, w);
    color.g = boost_channel(color.g, scale, w);
    color.b = boost_channel(color.b, scale, w);
    color.a = 0.0f;
}

void hsv_adjust(Color& color, float hue_factor, float saturation_factor, float value_factor) {
    const float r = color.r, g = color.g, b = color.b;
    const float hi = std::fmax(r, std::fmax(g, b));
    const float lo = std::fmin(r, std::fmin(g, b));

    float h = 0.0f, s = 0.0f;
    const float v = hi;
    if (hi != 0.0f) {
        const float delta = hi - lo;
        s = delta / hi;
        if (s != 0.0f) {
            if (r == hi) {
                h = (g - b) / delta;
            } else if (g == hi) {
                h = (b - r) / delta + 2.0f;
            } else {
                h = (r - g) / delta + 4.0f;
            }
            if (h < 0.0f) h += 6.0f;
            h *= kOneSixth;
        }
    }

    const float hs = h * hue_factor;
    const float ss = s * saturation_factor;
    const float vs = v * value_factor;

    if (ss == 0.0f) {
        color.r = color.g = color.b = vs;
        return;
    }

    const float x = 6.0f * wrap_hue(hs);
    int sextant = static_cast<int>(x);
    if (sextant > 5) sextant = 5;
    const float f = x - static_cast<float>(sextant);
    const float p = vs * (1.0f - ss);
    const float q = vs * (1.0f - f * ss);
    const float t = vs * (1.0f - (1.0f - f) * ss);

    switch (sextant) {
        case 0: color.r = vs; color.g = t; color.b = p; break;
        case 1: color.r = q; color.g = vs; color.b = p; break;
        case 2: color.r = p; color.g = vs; color.b = t; break;
        case 3: color.r = p; color.g = q; color.b = vs; break;
        case 4: color.r = t; color.g = p; color.b = vs; break;
        default: color.r = vs; color.g = p; color.b = q; break;
    }
}

}  // namespace vosh
