// Colour bleeding: blocked directions take the colour of the blocking
// object's material shader, which runs under the re-entry marker.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/color_checks.h"
#include "support/scripted_host.h"

namespace vosh::test {
namespace {

constexpr Tag kMaterial = 5;
constexpr Tag kShader = 77;
constexpr int32_t kShaderType = 3;
constexpr uint32_t kOwnLabel = 2;
int g_own_coords, g_hit_coords;

ProbeAnswer material_hit(double distance, uint32_t label = 9) {
    return ProbeAnswer{true, distance, kMaterial, label, &g_hit_coords};
}

class ColorBleeding : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        params = &default_params();
        params->occlusion_mode = 1;
        params->bright = {1.0f, 1.0f, 1.0f, 1.0f};
        params->dark = {0.5f, 0.5f, 0.5f, 1.0f};
        params->color_strength = 1.0f;
        ScriptedHost& h = host();
        // Material record: the shader tag is its second 32-bit word.
        std::vector<unsigned char> record(8, 0);
        std::memcpy(record.data() + 4, &kShader, sizeof kShader);
        h.db_records[kMaterial] = record;
        h.db_types[kShader] = kShaderType;
        h.shader_color = {1.0f, 0.0f, 0.5f, 1.0f};
        h.state.object_label = kOwnLabel;
        h.state.texture_coord_list = &g_own_coords;
    }
    void init() {
        ASSERT_NE(init_instance(*params), nullptr);
        host().clear_calls();
    }
    // The calls from the first sample request on.
    static std::vector<std::string> sampling_calls() {
        std::vector<std::string> calls = host().calls();
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i] == "mi_sample(2)") return {calls.begin() + i, calls.end()};
        }
        return {};
    }
    OcclusionParams* params = nullptr;
};

TEST_F(ColorBleeding, BlockedDirectionCallsTheHitShaderInOrder) {
    params->samples = 1;
    host().probes = {material_hit(0.0)};
    init();
    const Color c = shade(*params);

    const std::vector<std::string> expected{
        "mi_sample(2)",
        "mi_trace_probe",
        "mi_db_access(5)",
        "mi_db_type(77)",
        "mi_db_unpin(5)",
        "mi_shaderstate_set(mydata,1,4,1)",
        "mi_call_shader_x(3,77)",
        "mi_shaderstate_set(mydata,0,4,1)",
        "mi_sample(2)",
    };
    std::vector<std::string> calls = sampling_calls();
    ASSERT_GE(calls.size(), expected.size());
    calls.resize(expected.size());
    EXPECT_EQ(calls, expected);

    EXPECT_EQ(host().marker_at_shader_call, 1);
    EXPECT_EQ(host().texture_list_at_shader_call, &g_hit_coords);
    EXPECT_EQ(host().state.texture_coord_list, &g_own_coords);
    EXPECT_EQ(host().shaderstate["mydata"], 0);
    // dark times the hit colour at full strength.
    expect_color_near(c, {0.5f, 0.0f, 0.25f, 1.0f}, 1e-6f);
}

TEST_F(ColorBleeding, IgnoreSelfConsultsTheMaterialButRunsNoShader) {
    params->samples = 1;
    params->ignore_self = 1;
    host().probes = {material_hit(0.0, kOwnLabel)};
    init();
    const Color c = shade(*params);

    const std::vector<std::string> expected{
        "mi_sample(2)",   "mi_trace_probe", "mi_db_access(5)", "mi_db_type(77)",
        "mi_db_unpin(5)", "mi_shaderstate_set(mydata,0,4,1)", "mi_sample(2)"};
    std::vector<std::string> calls = sampling_calls();
    ASSERT_GE(calls.size(), expected.size());
    calls.resize(expected.size());
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(host().count("mi_call_shader_x"), 0);
    EXPECT_EQ(host().state.texture_coord_list, &g_own_coords);
    // No colour came back: the untinted blend.
    expect_color_near(c, {0.5f, 0.5f, 0.5f, 1.0f}, 1e-6f);
}

TEST_F(ColorBleeding, IgnoreSelfStillRunsShadersOfOtherObjects) {
    params->samples = 1;
    params->ignore_self = 1;
    host().probes = {material_hit(0.0, kOwnLabel + 1)};
    init();
    shade(*params);
    EXPECT_EQ(host().count("mi_call_shader_x"), 1);
}

TEST_F(ColorBleeding, HitsWithoutAShaderBlendWithoutAnyEarlierHitColour) {
    params->samples = 2;
    params->boost = 3.0f;  // would brighten a left-over colour
    params->boost_threshold = 0.0f;
    params->boost_power = 0.0f;
    // First hit: its shader answers (1, 0, 0.5), boosted to (3, 0, 1.5).
    // Second hit: no material at all.
    host().probes = {material_hit(0.0), hit_at(0.0)};
    init();
    const Color c = shade(*params);
    EXPECT_EQ(host().count("mi_call_shader_x"), 1);
    EXPECT_EQ(host().count("mi_db_access"), 1);
    EXPECT_EQ(host().count("mi_shaderstate_set"), 2);
    // ((0.5 * 3, 0, 0.5 * 1.5) + (0.5, 0.5, 0.5)) / 2
    expect_color_near(c, {1.0f, 0.25f, 0.625f, 1.0f}, 1e-6f);
}

TEST_F(ColorBleeding, MaterialWithoutRecordRunsNoShader) {
    params->samples = 1;
    host().db_records.clear();
    host().probes = {material_hit(0.0)};
    init();
    const Color c = shade(*params);
    EXPECT_EQ(host().count("mi_db_access"), 1);
    EXPECT_EQ(host().count("mi_db_unpin"), 1);
    EXPECT_EQ(host().count("mi_db_type"), 0);
    EXPECT_EQ(host().count("mi_call_shader_x"), 0);
    EXPECT_EQ(host().shaderstate["mydata"], 0);
    expect_color_near(c, {0.5f, 0.5f, 0.5f, 1.0f}, 1e-6f);
}

TEST_F(ColorBleeding, StrengthZeroRunsShadersWithoutEffect) {
    params->color_strength = 0.0f;
    params->occlusion_in_alpha = 1;
    host().probes = {material_hit(0.0), miss()};
    init();
    const Color c = shade(*params);
    EXPECT_EQ(host().count("mi_call_shader_x"), 4);
    expect_color_near(c, {0.75f, 0.75f, 0.75f, 0.5f}, 1e-6f);
}

TEST_F(ColorBleeding, OpenDirectionsGivePlainBright) {
    params->occlusion_in_alpha = 1;
    params->bright = {0.2f, 0.4f, 0.6f, 1.0f};
    init();
    expect_color_near(shade(*params), {0.2f, 0.4f, 0.6f, 0.0f}, 1e-6f);
    EXPECT_EQ(host().count("mi_call_shader_x"), 0);
    EXPECT_EQ(host().count("mi_shaderstate_set"), 0);
}

TEST_F(ColorBleeding, FarHitsAreTintedUnlikeOpenDirections) {
    params->samples = 1;
    host().probes = {material_hit(10.0)};
    init();
    // bright + (bright * E - bright) at weight 0.
    expect_color_near(shade(*params), {1.0f, 0.0f, 0.5f, 1.0f}, 1e-6f);
}

TEST_F(ColorBleeding, HitShaderReenteringThisShaderGetsBright) {
    params->samples = 2;
    params->bright = {0.2f, 0.4f, 0.6f, 1.0f};
    params->dark = {1.0f, 1.0f, 1.0f, 1.0f};
    host().probes = {material_hit(0.0)};
    std::vector<Color> nested;
    host().shader_fn = [&](Color* out, RenderState* state, Tag) {
        *out = shade(*params, *state);
        nested.push_back(*out);
    };
    init();
    const Color c = shade(*params);

    ASSERT_EQ(nested.size(), 2u);
    for (const Color& n : nested) expect_color_near(n, {0.2f, 0.4f, 0.6f, 1.0f}, 1e-6f);
    // The nested calls sampled nothing of their own.
    EXPECT_EQ(host().count("mi_trace_probe"), 2);
    EXPECT_EQ(host().count("mi_sample"), 3);
    EXPECT_EQ(host().shaderstate["mydata"], 0);
    // dark (white) tinted by the nested answer.
    expect_color_near(c, {0.2f, 0.4f, 0.6f, 1.0f}, 1e-6f);
}

TEST_F(ColorBleeding, NoDirectionTakenAnswersBright) {
    host().sampler_refuses = true;
    params->occlusion_in_alpha = 1;
    init();
    expect_color_near(shade(*params), {1.0f, 1.0f, 1.0f, 0.0f}, 1e-6f);
    EXPECT_EQ(host().count("mi_trace_probe"), 0);
}

}  // namespace
}  // namespace vosh::test
