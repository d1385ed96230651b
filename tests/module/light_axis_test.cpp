// The sampling axis pulled toward a direction or a light. With spread 0 and
// one sample the single probe runs along the axis itself, so the probe
// direction shows the pulled axis.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "support/scripted_host.h"

namespace vosh::test {
namespace {

void* const kPrimitive = reinterpret_cast<void*>(0x1234);

class LightAxis : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        params = &default_params();
        params->samples = 1;
        params->spread = 0.0f;
        params->bias_direction = {1.0f, 0.0f, 0.0f};
        host().state.origin_primitive = kPrimitive;
        host().state.facing_mode = 'b';
        host().options.facing_default = 'a';
    }
    OcclusionInstance& init() {
        OcclusionInstance* instance = init_instance(*params);
        EXPECT_NE(instance, nullptr);
        host().clear_calls();
        return *instance;
    }
    // The axis the one probe ran along.
    Vector probed_axis() {
        shade(*params);
        EXPECT_EQ(host().probe_directions.size(), 1u);
        return host().probe_directions.empty() ? Vector{0, 0, 0} : host().probe_directions[0];
    }
    OcclusionParams* params = nullptr;
};

void expect_vector_near(const Vector& v, float x, float y, float z) {
    EXPECT_NEAR(v.x, x, 1e-6f);
    EXPECT_NEAR(v.y, y, 1e-6f);
    EXPECT_NEAR(v.z, z, 1e-6f);
}

struct PullCase {
    float weight;
    Vector axis;
};

TEST_F(LightAxis, PullsTowardTheBiasDirectionByItsWeight) {
    const PullCase cases[] = {
        {0.5f, {0.70710678f, 0.0f, 0.70710678f}},
        {1.0f, {1.0f, 0.0f, 0.0f}},
        {2.0f, {0.89442719f, 0.0f, -0.44721360f}},  // (2, 0, -1): past the target
    };
    for (const PullCase& c : cases) {
        SCOPED_TRACE(c.weight);
        SetUp();
        params->light_bias = c.weight;
        init();
        const Vector axis = probed_axis();
        expect_vector_near(axis, c.axis.x, c.axis.y, c.axis.z);
        // No light: the facing mode is left alone, the origin primitive put back.
        EXPECT_EQ(host().state.facing_mode, 'b');
        EXPECT_EQ(host().state.origin_primitive, kPrimitive);
        EXPECT_EQ(host().count("mi_trace_light"), 0);
    }
}

TEST_F(LightAxis, BiasDirectionIsReadWhileTheOriginPrimitiveIsCleared) {
    params->light_bias = 1.0f;
    connect_param(params->bias_direction, Vector{0.0f, 1.0f, 0.0f});
    init();
    void* seen = kPrimitive;
    host().phen_eval_fn = [&](RenderState* state, const void* field) {
        if (field == &params->bias_direction) seen = state->origin_primitive;
    };
    expect_vector_near(probed_axis(), 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(host().state.origin_primitive, kPrimitive);
    EXPECT_EQ(host().state.facing_mode, 'b');
}

TEST_F(LightAxis, PositionalLightPullsByItsDistance) {
    params->light_bias = 0.1f;
    OcclusionInstance& instance = init();
    instance.light_mode = light_mode::position;
    instance.light_position = {100.0f, 0.0f, 0.0f};

    // (10, 0, 0.9) before normalisation: almost at the light.
    expect_vector_near(probed_axis(), 0.99597444f, 0.0f, 0.08963770f);
    EXPECT_EQ(host().count("mi_trace_light"), 0);
    EXPECT_EQ(host().state.origin_primitive, kPrimitive);
    // Front faces while sampling; the tail hands back the scene's setting.
    EXPECT_EQ(host().state.facing_mode, 'a');
}

TEST_F(LightAxis, FacingIsFrontWhileProbing) {
    params->light_bias = 0.5f;
    connect_param(params->far_distance, 10.0f);  // read per call after the pull
    OcclusionInstance& instance = init();
    instance.light_mode = light_mode::position;
    instance.light_position = {0.0f, 0.0f, 5.0f};
    char facing = '?';
    host().phen_eval_fn = [&](RenderState* state, const void* field) {
        if (field == &params->far_distance) facing = state->facing_mode;
    };
    shade(*params);
    EXPECT_EQ(facing, 'f');
    EXPECT_EQ(host().state.facing_mode, 'a');
}

TEST_F(LightAxis, TracedLightGivesTheDirectionTheHostReports) {
    params->light_bias = 1.0f;
    OcclusionInstance& instance = init();
    instance.light_mode = light_mode::traced;
    instance.light_tag = 9;
    host().light_direction = {0.0f, 0.0f, -3.0f};
    host().options.facing_default = 'f';

    expect_vector_near(probed_axis(), 0.0f, 0.0f, -1.0f);
    EXPECT_EQ(host().count("mi_trace_light"), 1);
    const std::vector<std::string> calls = host().calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "mi_trace_light(9)"), calls.end());
    EXPECT_EQ(host().origin_primitive_at_light, nullptr);
    EXPECT_EQ(host().state.origin_primitive, kPrimitive);
    EXPECT_EQ(host().state.facing_mode, 'f');
}

TEST_F(LightAxis, ZeroTargetAtFullWeightLeavesAZeroAxis) {
    params->light_bias = 1.0f;
    OcclusionInstance& instance = init();
    instance.light_mode = light_mode::traced;
    host().light_direction = {0.0f, 0.0f, 0.0f};
    const Vector axis = probed_axis();
    EXPECT_EQ(axis.x, 0.0f);
    EXPECT_EQ(axis.y, 0.0f);
    EXPECT_EQ(axis.z, 0.0f);
}

TEST_F(LightAxis, NoPositiveWeightTouchesNothing) {
    for (float weight : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        SCOPED_TRACE(weight);
        SetUp();
        params->light_bias = weight;
        params->bias_direction = {1.0f, 0.0f, 0.0f};
        OcclusionInstance& instance = init();
        instance.light_mode = light_mode::traced;
        connect_param(params->bias_direction, Vector{1.0f, 0.0f, 0.0f});

        expect_vector_near(probed_axis(), 0.0f, 0.0f, 1.0f);
        EXPECT_EQ(host().count("mi_trace_light"), 0);
        EXPECT_EQ(host().count("mi_phen_eval"), 0);
        EXPECT_EQ(host().state.facing_mode, 'b');
        EXPECT_EQ(host().state.origin_primitive, kPrimitive);
    }
}

}  // namespace
}  // namespace vosh::test
