// Bent normals: the mean open direction, its output spaces and the colour
// mix that hands it to the colour parameters through the state normal.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/color_checks.h"
#include "support/scripted_host.h"

namespace vosh::test {
namespace {

// (0.75, 0.125): z = 0.5 and phi = pi/4; with spread 90 degrees around
// (0, 0, 1) the open direction has the unit form below.
const std::array<double, 2> kTiltedPair{0.75, 0.125};
const Vector kTilted{0.35355339f, 0.35355339f, 0.86602540f};

class BentNormals : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        params = &default_params();
        params->bent_normals = 1;
        params->occlusion_mode = 1;  // must not matter
        params->bright = {0.2f, 0.4f, 0.6f, 1.0f};
        params->dark = {0.0f, 0.0f, 0.0f, 1.0f};
    }
    void init() {
        ASSERT_NE(init_instance(*params), nullptr);
        host().clear_calls();
    }
    OcclusionParams* params = nullptr;
};

TEST_F(BentNormals, AllBlockedStaysZeroInEverySpace) {
    host().probes = {hit_at(1.0)};
    for (int32_t space : {0, 1, 2, 3, 5, 6, 7, 9}) {
        SCOPED_TRACE(space);
        params->output_space = space;
        init();
        const Color c = shade(*params);
        expect_color_near(c, {0.0f, 0.0f, 0.0f, 0.0f}, 2e-6f, false);
        EXPECT_EQ(c.a, 1.0f);
    }
    EXPECT_EQ(host().count("mi_call_shader_x"), 0);
    EXPECT_EQ(host().count("mi_trace_environment"), 0);
}

TEST_F(BentNormals, AllBlockedRelativeIsTheNegatedNormal) {
    host().probes = {hit_at(1.0)};
    host().state.shading_normal = {0.0f, 0.6f, 0.8f};
    params->bent_relative = 1;
    init();
    expect_color_near(shade(*params), {0.0f, -0.6f, -0.8f, 0.0f}, 2e-6f, false);
}

TEST_F(BentNormals, AllOpenAtSpreadZeroIsTheUnitAxis) {
    params->spread = 0.0f;
    host().state.shading_normal = {0.0f, 3.0f, 4.0f};
    init();
    expect_color_near(shade(*params), {0.0f, 0.6f, 0.8f, 0.0f}, 2e-6f, false);
}

TEST_F(BentNormals, RelativeInSpaceZeroIsNotRenormalised) {
    host().sample_pairs = {{0.75, 0.25}};  // open direction (0, 0.5, 0.8660254) at unit length
    params->bent_relative = 1;
    params->output_space = 0;
    init();
    expect_color_near(shade(*params), {0.0f, 0.5f, -0.13397460f, 0.0f}, 2e-6f, false);
}

TEST_F(BentNormals, UnknownSpaceRenormalisesSilently) {
    host().sample_pairs = {{0.75, 0.25}};
    params->bent_relative = 1;
    params->output_space = 9;
    init();
    expect_color_near(shade(*params), {0.0f, 0.96592583f, -0.25881905f, 0.0f}, 2e-6f, false);
    EXPECT_TRUE(host().warnings.empty());
}

TEST_F(BentNormals, ConvertsThroughTheHostTransforms) {
    host().sample_pairs = {kTiltedPair};
    // A quarter turn about z, stretched so that only renormalising restores
    // the unit length; the other transforms stay the identity.
    const std::array<float, 9> turn{0, -4, 0, 4, 0, 0, 0, 0, 4};
    struct Case {
        int32_t space;
        const char* op;
    };
    for (const Case& c : {Case{1, "mi_normal_to_world"}, Case{2, "mi_normal_to_object"},
                          Case{3, "mi_normal_to_camera"}, Case{7, "mi_normal_to_light"}}) {
        SCOPED_TRACE(c.op);
        host().to_world = host().to_object = host().to_camera = host().to_light =
            ScriptedHost::identity();
        if (c.space == 1) host().to_world = turn;
        if (c.space == 2) host().to_object = turn;
        if (c.space == 3) host().to_camera = turn;
        if (c.space == 7) host().to_light = turn;
        params->output_space = c.space;
        init();
        expect_color_near(shade(*params), {-kTilted.y, kTilted.x, kTilted.z, 0.0f}, 2e-6f, false);
        EXPECT_EQ(host().count(c.op), 1);
    }
}

TEST_F(BentNormals, UnsupportedSpaceWarnsOncePerCall) {
    params->output_space = 4;
    params->spread = 0.0f;
    host().state.shading_normal = {0.0f, 0.0f, 2.0f};
    params->bent_relative = 1;  // (0, 0, 1) - (0, 0, 2): renormalised to (0, 0, -1)
    init();
    expect_color_near(shade(*params), {0.0f, 0.0f, -1.0f, 0.0f}, 2e-6f, false);
    ASSERT_EQ(host().warnings.size(), 1u);
    EXPECT_EQ(host().warnings[0], "Cannot transform a normal to that space.");
    shade(*params);
    EXPECT_EQ(host().warnings.size(), 2u);
}

TEST_F(BentNormals, RasterSpacesTakeTheImageDifference) {
    host().sample_pairs = {kTiltedPair};
    host().raster_scale = 100.0f;
    host().raster_offset_x = 320.0f;
    host().raster_offset_y = 240.0f;
    host().state.hit_point = {1.0f, 2.0f, 3.0f};
    host().camera = {640, 480};
    struct Case {
        int32_t space;
        bool has_camera;
        Vector expected;
    };
    const Case cases[] = {
        {5, true, {0.70700074f, 0.70700074f, 0.01731791f}},
        // x by 1/640 and y by 1/480 before renormalising.
        {6, true, {0.06343133f, 0.08457510f, 0.99439606f}},
        // Without a camera record there is nothing to scale by.
        {6, false, {0.70700074f, 0.70700074f, 0.01731791f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.space);
        host().state.camera_record = c.has_camera ? &host().camera : nullptr;
        params->output_space = c.space;
        init();
        expect_color_near(shade(*params), {c.expected.x, c.expected.y, c.expected.z, 0.0f}, 1e-5f, false);
        EXPECT_EQ(host().count("mi_point_to_raster"), 2);
    }
}

TEST_F(BentNormals, ColourMixWritesTheMappedNormalBeforeReadingTheColours) {
    params->bent_color_mix = 1;
    params->spread = 0.0f;
    host().state.shading_normal = {0.0f, 0.6f, 0.8f};
    connect_param(params->bright, Color{0.2f, 0.4f, 0.6f, 1.0f});
    connect_param(params->dark, Color{0.0f, 0.0f, 0.0f, 1.0f});
    init();
    std::vector<std::string> order;
    Vector normal_at_bright{0, 0, 0};
    host().phen_eval_fn = [&](RenderState* state, const void* field) {
        if (field == &params->bright) {
            order.push_back("bright");
            normal_at_bright = state->shading_normal;
        } else if (field == &params->dark) {
            order.push_back("dark");
        }
    };
    const Color c = shade(*params);
    // Without occlusion in alpha no hit counts: the bright colour, alpha 1.
    expect_color_near(c, {0.2f, 0.4f, 0.6f, 0.0f}, 2e-6f, false);
    EXPECT_EQ(c.a, 1.0f);
    EXPECT_EQ(order, (std::vector<std::string>{"bright", "dark"}));
    EXPECT_NEAR(normal_at_bright.x, 0.5f, 1e-6f);
    EXPECT_NEAR(normal_at_bright.y, 0.8f, 1e-6f);
    EXPECT_NEAR(normal_at_bright.z, 0.9f, 1e-6f);
    EXPECT_NEAR(host().state.shading_normal.y, 0.8f, 1e-6f);
}

TEST_F(BentNormals, ColourMixWithOcclusionInAlpha) {
    params->bent_color_mix = 1;
    params->occlusion_in_alpha = 1;
    params->near_distance = 1.0f;
    host().probes = {hit_at(0.5), miss()};  // 4 of 8 blocked inside near
    init();
    const Color c = shade(*params);
    expect_color_near(c, {0.1f, 0.2f, 0.3f, 0.0f}, 2e-6f, false);
    EXPECT_FLOAT_EQ(c.a, 0.5f);
}

TEST_F(BentNormals, HitWeightsAreShapedForAlpha) {
    params->occlusion_in_alpha = 1;
    params->gamma = 0.5f;  // weight 0.5 becomes 0.25
    params->near_distance = 0.0f;
    params->far_distance = 10.0f;
    host().probes = {hit_at(5.0)};
    init();
    EXPECT_FLOAT_EQ(shade(*params).a, 0.25f);
}

TEST_F(BentNormals, NoDirectionTakenIsNotANumberFree) {
    params->bent_color_mix = 1;
    params->occlusion_in_alpha = 1;
    host().sampler_refuses = true;
    init();
    const Color c = shade(*params);
    expect_color_near(c, {0.2f, 0.4f, 0.6f, 0.0f}, 2e-6f, false);
    EXPECT_EQ(c.a, 0.0f);
    EXPECT_EQ(host().count("mi_trace_probe"), 0);
}

}  // namespace
}  // namespace vosh::test
