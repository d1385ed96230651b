// Environment-tinted occlusion: every direction tinted by the boosted and
// adjusted environment colour seen that way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scripted_host.h"

namespace vosh::test {
namespace {

class EnvironmentTint : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        params = &default_params();
        params->occlusion_mode = 2;
        params->bright = {1.0f, 0.5f, 0.25f, 1.0f};
        params->dark = {0.0f, 0.0f, 0.0f, 1.0f};
        params->color_strength = 1.0f;
        host().environment = {0.2f, 0.4f, 0.6f, 1.0f};
    }
    void init() {
        ASSERT_NE(init_instance(*params), nullptr);
        host().clear_calls();
    }
    OcclusionParams* params = nullptr;
};

void expect_color_near(const Color& c, float r, float g, float b, float a) {
    EXPECT_NEAR(c.r, r, 1e-6f);
    EXPECT_NEAR(c.g, g, 1e-6f);
    EXPECT_NEAR(c.b, b, 1e-6f);
    EXPECT_NEAR(c.a, a, 1e-6f);
}

TEST_F(EnvironmentTint, OpenDirectionsAtFullStrengthMultiplyBright) {
    params->occlusion_in_alpha = 1;
    init();
    expect_color_near(shade(*params), 0.2f, 0.2f, 0.15f, 0.0f);
    EXPECT_EQ(host().count("mi_trace_environment"), 8);
}

TEST_F(EnvironmentTint, StrengthZeroIgnoresTheEnvironment) {
    params->color_strength = 0.0f;
    host().probes = {hit_at(0.0), miss()};  // half blocked at weight 1
    init();
    expect_color_near(shade(*params), 0.5f, 0.25f, 0.125f, 1.0f);
}

TEST_F(EnvironmentTint, BlockedDirectionsTintTheBlend) {
    params->dark = {0.5f, 0.5f, 0.5f, 1.0f};
    params->bright = {1.0f, 1.0f, 1.0f, 1.0f};
    params->color_strength = 0.5f;
    host().probes = {hit_at(0.0)};
    init();
    // dark + 0.5 * (dark * E - dark)
    expect_color_near(shade(*params), 0.3f, 0.35f, 0.4f, 1.0f);
}

TEST_F(EnvironmentTint, HitsBeyondFarContributeLikeOpenDirections) {
    host().probes = {hit_at(10.0)};
    init();
    expect_color_near(shade(*params), 0.2f, 0.2f, 0.15f, 1.0f);
}

TEST_F(EnvironmentTint, AlphaAveragesUnshapedWeights) {
    params->occlusion_in_alpha = 1;
    params->color_strength = 0.0f;
    params->bright = {1.0f, 1.0f, 1.0f, 1.0f};
    params->gamma = 0.5f;  // weight 0.5 shapes to 0.25 for the colour only
    host().probes = {hit_at(5.0)};
    init();
    expect_color_near(shade(*params), 0.75f, 0.75f, 0.75f, 0.5f);
}

struct TintCase {
    const char* name;
    float boost, boost_threshold, boost_power, value_adjust;
    float expected;
};

TEST_F(EnvironmentTint, BoostsThenAdjustsTheEnvironment) {
    const TintCase cases[] = {
        {"untouched", 1.0f, 0.25f, 1.0f, 0.0f, 0.5f},
        {"boosted", 2.0f, 0.25f, 1.0f, 0.0f, 0.6666667f},
        {"value_halved", 1.0f, 0.25f, 1.0f, -0.5f, 0.25f},
        {"boosted_then_halved", 2.0f, 0.25f, 1.0f, -0.5f, 0.33333334f},
    };
    for (const TintCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        params->bright = {1.0f, 1.0f, 1.0f, 1.0f};
        params->boost = c.boost;
        params->boost_threshold = c.boost_threshold;
        params->boost_power = c.boost_power;
        params->value_adjust = c.value_adjust;
        host().environment = {0.5f, 0.5f, 0.5f, 1.0f};
        init();
        expect_color_near(shade(*params), c.expected, c.expected, c.expected, 1.0f);
    }
}

TEST_F(EnvironmentTint, LooksUpTheEnvironmentAlongEachProbeBeforeTracingIt) {
    params->samples = 2;
    std::vector<Vector> looked_up;
    host().environment_fn = [&](const Vector& d) {
        looked_up.push_back(d);
        return Color{1, 1, 1, 1};
    };
    init();
    shade(*params);
    const std::vector<std::string> expected{
        "mi_sample(2)", "mi_trace_environment", "mi_trace_probe",
        "mi_sample(2)", "mi_trace_environment", "mi_trace_probe", "mi_sample(2)"};
    std::vector<std::string> sampling;
    for (const std::string& call : host().calls()) {
        if (call == "mi_sample(2)" || call == "mi_trace_environment" || call == "mi_trace_probe")
            sampling.push_back(call);
    }
    EXPECT_EQ(sampling, expected);
    ASSERT_EQ(looked_up.size(), 2u);
    ASSERT_EQ(host().probe_directions.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(looked_up[i].x, host().probe_directions[i].x);
        EXPECT_EQ(looked_up[i].y, host().probe_directions[i].y);
        EXPECT_EQ(looked_up[i].z, host().probe_directions[i].z);
    }
}

TEST_F(EnvironmentTint, EveryOtherModeValueSelectsIt) {
    for (int32_t mode : {2, 3, -1}) {
        SCOPED_TRACE(mode);
        params->occlusion_mode = mode;
        init();
        shade(*params);
        EXPECT_EQ(host().count("mi_trace_environment"), 8);
    }
}

TEST_F(EnvironmentTint, NoDirectionTakenAnswersBright) {
    host().sampler_refuses = true;
    init();
    expect_color_near(shade(*params), 1.0f, 0.5f, 0.25f, 1.0f);
    params->occlusion_in_alpha = 1;
    init();
    expect_color_near(shade(*params), 1.0f, 0.5f, 0.25f, 0.0f);
    EXPECT_EQ(host().count("mi_trace_environment"), 0);
}

}  // namespace
}  // namespace vosh::test
