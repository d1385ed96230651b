// The host-free shading math over arbitrary floats. Sanitizers catch
// undefined behaviour; the checks below hold for every input, and a NaN is
// accepted only where an input is NaN or infinite or lies outside the domain
// in which the curve is defined (a power of a negative base, a negative
// bias, a gain above 1, a luminance threshold at or above 1).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "occlusion/sample_math.h"
#include "shader/occlusion_instance.h"
#include "shading_math/color_adjust.h"
#include "shading_math/tone_shaping.h"

namespace {

using vosh::Color;
using vosh::Vector;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

bool finite(float x) { return std::isfinite(x); }
bool finite(const Color& c) { return finite(c.r) && finite(c.g) && finite(c.b); }
bool unit(float x) { return x >= 0.0f && x <= 1.0f; }
bool no_nan(const Color& c) { return !std::isnan(c.r) && !std::isnan(c.g) && !std::isnan(c.b); }
bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void tone_shaping(FuzzInput& in) {
    const float value = in.take<float>();
    const float gamma = in.take<float>(), bias = in.take<float>(), gain = in.take<float>();

    float g = value, b = value, n = value;
    vosh::gamma_adjust(g, gamma);
    vosh::bias_adjust(b, bias);
    vosh::gain_adjust(n, gain);

    // Neutral settings leave even a NaN untouched, bit for bit.
    if (gamma == 1.0f) check(same_bits(g, value), "gamma 1 is neutral");
    if (bias == 0.5f) check(same_bits(b, value), "bias 0.5 is neutral");
    if (gain == 0.5f) check(same_bits(n, value), "gain 0.5 is neutral");

    // On occlusion values, in [0, 1], with settings in their domain.
    if (!unit(value)) return;
    if (finite(gamma)) check(!std::isnan(g), "gamma of a unit value is a number");
    if (gamma > 0.0f && finite(gamma)) check(unit(g), "positive gamma keeps [0, 1]");
    if (bias >= 0.0f && bias <= 1.0f) check(unit(b), "bias in [0, 1] keeps [0, 1]");
    if (bias >= 0.0f && finite(bias)) check(!std::isnan(b), "non-negative bias gives a number");
    if (gain >= 0.0f && gain <= 1.0f) check(unit(n), "gain in [0, 1] keeps [0, 1]");
    if (gain <= 1.0f && finite(gain)) check(!std::isnan(n), "gain up to 1 gives a number");

    // The three in the order shading applies them.
    if (gamma > 0.0f && finite(gamma) && bias >= 0.0f && bias <= 1.0f && gain >= 0.0f &&
        gain <= 1.0f) {
        vosh::OcclusionInstance instance{};
        instance.gamma = gamma;
        instance.bias = bias;
        instance.gain = gain;
        float v = value;
        vosh::shape_occlusion(v, instance);
        check(unit(v), "shaping keeps an occlusion value in [0, 1]");
    }
}

void colour_shaping(FuzzInput& in) {
    const Color colour{in.take<float>(), in.take<float>(), in.take<float>(), in.take<float>()};
    const float scale = in.take<float>(), threshold = in.take<float>(), power = in.take<float>();
    const float hue = in.take<float>(), saturation = in.take<float>(), value = in.take<float>();

    Color boosted = colour;
    vosh::luminance_boost(boosted, scale, threshold, power);
    if (!(scale > 1.0f)) {
        check(std::memcmp(&boosted, &colour, sizeof colour) == 0, "scale up to 1 changes nothing");
    }
    // The colour either stays as it was or loses its alpha.
    check(std::memcmp(&boosted, &colour, sizeof colour) == 0 || boosted.a == 0.0f,
          "a boosted colour has alpha 0");
    // Non-negative channels, a finite scale and power, a threshold below 1:
    // a non-negative base, so the power is a number.
    if (finite(colour) && colour.r >= 0.0f && colour.g >= 0.0f && colour.b >= 0.0f &&
        finite(scale) && finite(power) && finite(threshold) && threshold < 1.0f) {
        check(no_nan(boosted), "boost of a finite colour is a number");
    }

    Color adjusted = colour;
    vosh::hsv_adjust(adjusted, hue, saturation, value);
    check(same_bits(adjusted.a, colour.a), "hsv leaves alpha alone");
    if (finite(colour) && finite(hue) && finite(saturation) && finite(value)) {
        // Finite factors can still overflow a product into an infinity, and
        // inf * 0 is NaN; only bounded inputs promise numbers.
        const bool bounded = std::fabs(colour.r) < 1e18f && std::fabs(colour.g) < 1e18f &&
                             std::fabs(colour.b) < 1e18f && std::fabs(saturation) < 1e18f &&
                             std::fabs(value) < 1e18f;
        const bool ordered = colour.r >= 0.0f && colour.g >= 0.0f && colour.b >= 0.0f;
        if (bounded && ordered) check(no_nan(adjusted), "hsv of a finite colour is a number");
    }
}

void sampling(FuzzInput& in) {
    const Vector axis{in.take<float>(), in.take<float>(), in.take<float>()};
    const float spread = in.take<float>();
    const double u = in.take<double>(), v = in.take<double>();

    const Vector scaled = vosh::scaled_cone_axis(axis, spread);
    const Vector d = vosh::cone_direction(scaled, spread, u, v);
    // Samples in [0, 1], a finite axis and spread: a direction of numbers.
    const bool in_range = u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0;
    const bool finite_setup = finite(axis.x) && finite(axis.y) && finite(axis.z) &&
                              finite(spread) && std::fabs(spread) < 1e18f &&
                              std::fabs(axis.x) < 1e18f && std::fabs(axis.y) < 1e18f &&
                              std::fabs(axis.z) < 1e18f;
    if (in_range && finite_setup) {
        check(!std::isnan(d.x) && !std::isnan(d.y) && !std::isnan(d.z),
              "cone direction is a number");
    }
    // With spread 1 and a sample in range the direction is a unit vector.
    if (in_range && finite_setup && spread == 1.0f) {
        const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        check(std::fabs(length - 1.0f) < 1e-5f, "full-sphere directions have unit length");
    }

    // Distances: the frame's range comes from float parameters, the hit
    // distance from the host at full precision.
    const double distance = in.take<double>();
    const double near = in.take<float>(), far = in.take<float>();
    const double w = vosh::occlusion_weight(distance, near, far);
    if (std::isfinite(distance) && std::isfinite(near) && std::isfinite(far)) {
        check(w >= 0.0 && w <= 1.0, "occlusion weight lies in [0, 1]");
    }
    if (distance <= near) check(w == 1.0, "a hit inside the near distance weighs 1");
    if (!std::isnan(distance) && distance > near && distance >= far) {
        check(w == 0.0, "a hit beyond the far distance weighs nothing");
    }
}

void sample_count(FuzzInput& in) {
    vosh::OcclusionInstance instance{};
    instance.adaptive = in.take<uint8_t>() & 1;
    instance.samples = in.take<int32_t>();
    instance.near_samples = in.take<int32_t>();
    instance.far_samples = in.take<int32_t>();
    instance.near_threshold = in.take<float>();
    instance.far_threshold = in.take<float>();
    const double ray_length = in.take<double>();

    const uint32_t count = vosh::sample_count_for(instance, ray_length);
    if (!instance.adaptive) {
        check(count == static_cast<uint32_t>(instance.samples < 0 ? 0 : instance.samples),
              "fixed count is the samples setting");
        return;
    }
    // Adaptive: never outside the two settings, negatives counting as 0.
    const uint32_t a = instance.near_samples < 0 ? 0u : static_cast<uint32_t>(instance.near_samples);
    const uint32_t b = instance.far_samples < 0 ? 0u : static_cast<uint32_t>(instance.far_samples);
    check(count >= (a < b ? a : b) && count <= (a < b ? b : a), "count between near and far");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    FuzzInput in{data + 1, size - 1};
    switch (data[0] % 4) {
        case 0: tone_shaping(in); break;
        case 1: colour_shaping(in); break;
        case 2: sampling(in); break;
        default: sample_count(in); break;
    }
    return 0;
}
