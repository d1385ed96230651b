// Gamma, bias and gain curves. The neutral tests are made on the floats as
// given; everything after runs in double and is rounded once on store.
#include "shading_math/tone_shaping.h"

#include <cmath>

namespace vosh {

void gamma_adjust(float& value, float gamma) {
    if (gamma == 1.0f) return;
    if (gamma == 0.0f) gamma = 0.001f;  // a gamma of 0 would divide by zero
    value = static_cast<float>(std::pow(static_cast<double>(value), 1.0 / gamma));
}

void bias_adjust(float& value, float bias) {
    if (bias == 0.5f) return;
    const double exponent = std::log(static_cast<double>(bias)) / std::log(0.5);
    value = static_cast<float>(std::pow(static_cast<double>(value), exponent));
}

void gain_adjust(float& value, float gain) {
    if (gain == 0.5f) return;
    const double base = 1.0 - gain;
    const double v = value;
    if (value < 0.5f) {
        const double exponent = std::log(2.0 * v) / std::log(0.5);
        value = static_cast<float>(0.5 * std::pow(base, exponent));
    } else {
        // Also taken by a NaN value.
        const double exponent = std::log(2.0 - 2.0 * v) / std::log(0.5);
        value = static_cast<float>(1.0 - 0.5 * std::pow(base, exponent));
    }
}

}  // namespace vosh
