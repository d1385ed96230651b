#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>

#include "occlusion/tint_math.h"
#include "shading_math/color_adjust.h"
#include "support/color_checks.h"

namespace vosh {
namespace {

using test::expect_color_near;

struct BoostCase {
    const char* name;
    Color in;
    float scale, threshold, power;
    Color out;
};

void PrintTo(const BoostCase& c, std::ostream* out) { *out << c.name; }

class LuminanceBoost : public ::testing::TestWithParam<BoostCase> {};

TEST_P(LuminanceBoost, GivesExpectedColour) {
    const BoostCase& c = GetParam();
    Color color = c.in;
    luminance_boost(color, c.scale, c.threshold, c.power);
    expect_color_near(color, c.out, 1e-6f);
}

const float kThird = 0.6666667f;
const float kNinth = 0.5555556f;

INSTANTIATE_TEST_SUITE_P(
    Cases, LuminanceBoost,
    ::testing::Values(
        BoostCase{"scale_one", {5, 5, 5, 1}, 1.0f, 0.0f, 1.0f, {5, 5, 5, 1}},
        BoostCase{"scale_half", {5, 5, 5, 1}, 0.5f, 0.0f, 1.0f, {5, 5, 5, 1}},
        BoostCase{"scale_zero", {5, 5, 5, 1}, 0.0f, 0.0f, 1.0f, {5, 5, 5, 1}},
        BoostCase{"scale_negative", {5, 5, 5, 1}, -2.0f, 0.0f, 1.0f, {5, 5, 5, 1}},
        BoostCase{"power_one", {0.5f, 0.5f, 0.5f, 1}, 2.0f, 0.25f, 1.0f, {kThird, kThird, kThird, 0}},
        BoostCase{"power_two", {0.5f, 0.5f, 0.5f, 1}, 2.0f, 0.25f, 2.0f, {kNinth, kNinth, kNinth, 0}},
        BoostCase{"black_threshold_zero", {0, 0, 0, 1}, 2.0f, 0.0f, 1.0f, {0, 0, 0, 1}},
        BoostCase{"black_threshold_minus_one", {0, 0, 0, 1}, 2.0f, -1.0f, 1.0f, {0, 0, 0, 0}},
        BoostCase{"power_zero_full_boost", {0.3f, 0.3f, 0.3f, 1}, 2.0f, 0.25f, 0.0f, {0.6f, 0.6f, 0.6f, 0}},
        BoostCase{"negative_power_full_boost", {0.5f, 0.5f, 0.5f, 1}, 2.0f, 0.25f, -1.0f, {1, 1, 1, 0}},
        BoostCase{"above_one_full_boost", {2, 2, 2, 1}, 3.0f, 0.25f, 1.0f, {6, 6, 6, 0}},
        // (1/3)^200 rounds to a zero weight: alpha survives.
        BoostCase{"weight_underflows", {0.5f, 0.5f, 0.5f, 1}, 2.0f, 0.25f, 200.0f, {0.5f, 0.5f, 0.5f, 1}},
        BoostCase{"below_threshold", {0.2f, 0.2f, 0.2f, 1}, 2.0f, 0.25f, 1.0f, {0.2f, 0.2f, 0.2f, 1}},
        // Thresholds of 1 or more: full boost above, nothing at or below.
        BoostCase{"threshold_one_above", {2, 2, 2, 1}, 2.0f, 1.0f, 0.5f, {4, 4, 4, 0}},
        BoostCase{"threshold_above_one_above", {2, 2, 2, 1}, 2.0f, 1.5f, 0.5f, {4, 4, 4, 0}},
        BoostCase{"threshold_above_one_below", {1.4f, 1.4f, 1.4f, 1}, 2.0f, 1.5f, 0.5f, {1.4f, 1.4f, 1.4f, 1}}),
    [](const ::testing::TestParamInfo<BoostCase>& info) { return std::string(info.param.name); });

TEST(LuminanceBoostPrecision, TestsLuminanceBeforeRoundingIt) {
    // 0.3f * 0.2f in double lies just above its single-precision rounding, so
    // with that rounding as threshold the test passes and power 0 boosts fully.
    const float threshold = 0.3f * 0.2f;
    Color color{0.2f, 0.0f, 0.0f, 1.0f};
    luminance_boost(color, 2.0f, threshold, 0.0f);
    expect_color_near(color, {0.4f, 0.0f, 0.0f, 0.0f}, 0.0f);
}

TEST(LuminanceBoostPrecision, NanThresholdOrScaleLeavesColour) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Color color{0.9f, 0.9f, 0.9f, 1.0f};
    luminance_boost(color, nan, 0.0f, 1.0f);
    luminance_boost(color, 2.0f, nan, 1.0f);
    expect_color_near(color, {0.9f, 0.9f, 0.9f, 1.0f}, 0.0f);
}

struct HsvCase {
    const char* name;
    Color in;
    float hue, saturation, value;
    Color out;
};

void PrintTo(const HsvCase& c, std::ostream* out) { *out << c.name; }

class HsvAdjust : public ::testing::TestWithParam<HsvCase> {};

TEST_P(HsvAdjust, GivesExpectedColour) {
    const HsvCase& c = GetParam();
    Color color = c.in;
    hsv_adjust(color, c.hue, c.saturation, c.value);
    expect_color_near(color, c.out, 2e-6f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HsvAdjust,
    ::testing::Values(
        HsvCase{"red_desaturated", {1, 0, 0, 0.5f}, 1, 0.5f, 1, {1, 0.5f, 0.5f, 0.5f}},
        HsvCase{"green_to_cyan", {0, 1, 0, 1}, 1.5f, 1, 1, {0, 1, 1, 1}},
        HsvCase{"grey_value_doubled", {0.5f, 0.5f, 0.5f, 1}, 1, 1, 2, {1, 1, 1, 1}},
        HsvCase{"value_halved", {0.2f, 0.4f, 0.8f, 1}, 1, 1, 0.5f, {0.1f, 0.2f, 0.4f, 1}},
        HsvCase{"value_above_one", {0.2f, 0.4f, 0.8f, 1}, 1, 1, 1.5f, {0.3f, 0.6f, 1.2f, 1}},
        HsvCase{"saturation_zero", {0.2f, 0.4f, 0.8f, 1}, 1, 0, 1, {0.8f, 0.8f, 0.8f, 1}},
        HsvCase{"black_stays_black", {0, 0, 0, 0.25f}, 3, 2, 5, {0, 0, 0, 0.25f}},
        HsvCase{"negative_channels_unclamped", {1, 0, 0, 1}, 1, 2, 1, {1, -1, -1, 1}},
        // Cyan has hue 1/2; doubled it lands exactly on 1 and reads as red.
        HsvCase{"hue_exactly_one", {0, 1, 1, 1}, 2, 1, 1, {1, 0, 0, 1}},
        // Hue 0.8 times 1.5 is 1.2, which wraps to 0.2.
        HsvCase{"hue_wraps_above", {0.8f, 0, 1, 1}, 1.5f, 1, 1, {0.8f, 1, 0, 1}},
        // Hue 0.2 times -1 wraps to 0.8.
        HsvCase{"hue_wraps_below", {0.8f, 1, 0, 1}, -1, 1, 1, {0.8f, 0, 1, 1}},
        HsvCase{"hue_nan_reads_as_red", {0.8f, 1, 0, 1}, std::numeric_limits<float>::quiet_NaN(), 1, 1, {1, 0, 0, 1}},
        HsvCase{"hue_infinite_reads_as_red", {0.8f, 1, 0, 1}, std::numeric_limits<float>::infinity(), 1, 1, {1, 0, 0, 1}}),
    [](const ::testing::TestParamInfo<HsvCase>& info) { return std::string(info.param.name); });

TEST(TintShaping, BoostsBeforeAdjusting) {
    // Above the threshold only before halving the value: the order shows.
    OcclusionInstance instance{};
    instance.boost = 2.0f;
    instance.boost_threshold = 0.3f;
    instance.boost_power = 0.0f;
    instance.hue_factor = 1.0f;
    instance.saturation_factor = 1.0f;
    instance.value_factor = 0.5f;
    Color tint{0.2f, 0.4f, 0.8f, 1.0f};
    shape_tint(tint, instance);
    expect_color_near(tint, {0.2f, 0.4f, 0.8f, 0.0f}, 1e-6f);
}

TEST(TintShaping, NeutralSettingsKeepTheColourBitForBit) {
    OcclusionInstance instance{};
    instance.boost = 1.0f;
    instance.hue_factor = instance.saturation_factor = instance.value_factor = 1.0f;
    instance.boost_threshold = -1.0f;
    // NaN would spread through any conversion that ran.
    Color tint{std::numeric_limits<float>::quiet_NaN(), 0.4f, 0.8f, 0.5f};
    shape_tint(tint, instance);
    EXPECT_TRUE(std::isnan(tint.r));
    expect_color_near({0, tint.g, tint.b, tint.a}, {0, 0.4f, 0.8f, 0.5f}, 0.0f);
}

TEST(TintShaping, StrengthBlendsBetweenPlainAndTinted) {
    const Color blend{0.5f, 0.5f, 0.5f, 1.0f};
    const Color tint{1.0f, 0.0f, 0.5f, 1.0f};
    Color sum{1.0f, 1.0f, 1.0f, 7.0f};
    add_tinted(sum, blend, tint, 0.0f);
    expect_color_near(sum, {1.5f, 1.5f, 1.5f, 7.0f}, 0.0f);
    add_tinted(sum, blend, tint, 1.0f);
    expect_color_near(sum, {2.0f, 1.5f, 1.75f, 7.0f}, 0.0f);
    add_tinted(sum, blend, tint, 0.5f);
    expect_color_near(sum, {2.5f, 1.75f, 2.125f, 7.0f}, 0.0f);
}

}  // namespace
}  // namespace vosh
