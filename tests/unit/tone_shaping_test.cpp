#include "shading_math/tone_shaping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace vosh {
namespace {

using Curve = void (*)(float&, float);

struct CurveCase {
    const char* label;
    Curve curve;
    float setting;
    float input;
    float expected;
};

constexpr float inf = std::numeric_limits<float>::infinity();

const CurveCase curve_cases[] = {
    {"gamma 2.2 of 0.25", gamma_adjust, 2.2f, 0.25f, 0.53252053f},
    {"gamma 2.2 keeps 0", gamma_adjust, 2.2f, 0.0f, 0.0f},
    {"gamma 2.2 keeps 1", gamma_adjust, 2.2f, 1.0f, 1.0f},
    {"gamma 0 of 0.999", gamma_adjust, 0.0f, 0.999f, 0.36770019f},
    {"gamma -0 of 0.999", gamma_adjust, -0.0f, 0.999f, 0.36770019f},
    {"gamma 0 keeps 1", gamma_adjust, 0.0f, 1.0f, 1.0f},
    {"gamma 0 of 0.5", gamma_adjust, 0.0f, 0.5f, 0.0f},
    {"gamma 0 of 1.01", gamma_adjust, 0.0f, 1.01f, 20958.947f},
    {"gamma -1 of 0", gamma_adjust, -1.0f, 0.0f, inf},
    {"gamma 2 of 1.5", gamma_adjust, 2.0f, 1.5f, 1.2247449f},
    {"gamma 0.5 of -0.5", gamma_adjust, 0.5f, -0.5f, 0.25f},
    {"bias 0.25 of 0.5", bias_adjust, 0.25f, 0.5f, 0.25f},
    {"bias 0.8 of 0.5", bias_adjust, 0.8f, 0.5f, 0.80000001f},
    {"bias 0.25 of 0.25", bias_adjust, 0.25f, 0.25f, 0.0625f},
    {"bias 1 of 0", bias_adjust, 1.0f, 0.0f, 1.0f},
    {"bias 1 of 0.3", bias_adjust, 1.0f, 0.3f, 1.0f},
    {"bias 0 of 0", bias_adjust, 0.0f, 0.0f, 0.0f},
    {"bias 0 of 0.99", bias_adjust, 0.0f, 0.99f, 0.0f},
    {"bias 0 keeps 1", bias_adjust, 0.0f, 1.0f, 1.0f},
    {"gain 0.25 of 0.1", gain_adjust, 0.25f, 0.1f, 0.25637239f},
    {"gain 0.25 of 0.25", gain_adjust, 0.25f, 0.25f, 0.375f},
    {"gain 0.25 of 0.75", gain_adjust, 0.25f, 0.75f, 0.625f},
    {"gain 0.8 of 0.25", gain_adjust, 0.8f, 0.25f, 0.099999994f},
    {"gain 0.8 of 0.75", gain_adjust, 0.8f, 0.75f, 0.89999998f},
    {"gain 0.8 of 0.5", gain_adjust, 0.8f, 0.5f, 0.5f},
    {"gain 0.1 of 0.5", gain_adjust, 0.1f, 0.5f, 0.5f},
    {"gain 1 below 0.5", gain_adjust, 1.0f, 0.3f, 0.0f},
    {"gain 1 of 0", gain_adjust, 1.0f, 0.0f, 0.0f},
    {"gain 1 above 0.5", gain_adjust, 1.0f, 0.7f, 1.0f},
    {"gain 1 of 1", gain_adjust, 1.0f, 1.0f, 1.0f},
    {"gain 0 of 0", gain_adjust, 0.0f, 0.0f, 0.5f},
    {"gain 0 of 0.2", gain_adjust, 0.0f, 0.2f, 0.5f},
    {"gain 0 of 0.9", gain_adjust, 0.0f, 0.9f, 0.5f},
    {"gain 0 of 1", gain_adjust, 0.0f, 1.0f, 0.5f},
};

TEST(ToneShaping, CurvesGiveExactValues) {
    for (const CurveCase& c : curve_cases) {
        float value = c.input;
        c.curve(value, c.setting);
        EXPECT_EQ(value, c.expected) << c.label;
    }
}

// Not-a-number results: a negative base with a fractional exponent, and
// values outside [0, 1] in the gain.
TEST(ToneShaping, UndefinedPowersGiveNaN) {
    const CurveCase nan_cases[] = {
        {"gamma 2.2 of -0.5", gamma_adjust, 2.2f, -0.5f, 0.0f},
        {"bias 0.25 of -0.5", bias_adjust, 0.3f, -0.5f, 0.0f},
        {"gain 0.25 of -0.5", gain_adjust, 0.25f, -0.5f, 0.0f},
        {"gain 0.25 of 1.5", gain_adjust, 0.25f, 1.5f, 0.0f},
    };
    for (const CurveCase& c : nan_cases) {
        float value = c.input;
        c.curve(value, c.setting);
        EXPECT_TRUE(std::isnan(value)) << c.label << " gave " << value;
    }
}

TEST(ToneShaping, NeutralSettingsLeaveEveryBitAlone) {
    const float nan_with_payload = [] {
        const uint32_t bits = 0x7fc12345u;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }();
    const float values[] = {0.0f, 0.3f, 1.0f, -2.5f, 7.0f, inf, nan_with_payload};
    const struct {
        Curve curve;
        float setting;
    } neutral[] = {{gamma_adjust, 1.0f}, {bias_adjust, 0.5f}, {gain_adjust, 0.5f}};
    for (const auto& n : neutral) {
        for (float input : values) {
            float value = input;
            n.curve(value, n.setting);
            EXPECT_EQ(std::memcmp(&value, &input, sizeof value), 0) << input;
        }
    }
}

}  // namespace
}  // namespace vosh
