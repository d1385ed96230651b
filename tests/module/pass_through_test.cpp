// What shows through a flat answer, and the refraction indices it follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/scripted_host.h"

namespace vosh::test {
namespace {

bool called(const std::string& call) {
    const std::vector<std::string> log = host().calls();
    return std::find(log.begin(), log.end(), call) != log.end();
}

class PassThrough : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        params = &default_params();
    }
    // An instance that only continues rays: the flat colour is black.
    void init_pass_through() {
        params->pass_through = 1;
        ASSERT_NE(init_instance(*params), nullptr);
        host().clear_calls();
    }
    OcclusionParams* params = nullptr;
};

TEST_F(PassThrough, CompositesWhatLiesBehindUnderTheFlatColour) {
    struct Case {
        const char* name;
        Color bright;
        int32_t kind;  // 5 answers black, 20 bright
        float opacity;
        TraceAnswer behind;
        Color expected;
    } cases[] = {
        {"bright, clear", {1, 1, 1, 1}, 20, 0.0f, {true, {0.2f, 0.4f, 0.6f, 1.0f}}, {1.2f, 1.4f, 1.6f, 1.0f}},
        {"black, half", {1, 1, 1, 1}, 5, 0.5f, {true, {1, 1, 1, 1}}, {0.5f, 0.5f, 0.5f, 1.0f}},
        {"bright, quarter", {0.5f, 0, 0, 1}, 20, 0.25f, {true, {0.4f, 0.4f, 0.4f, 0.8f}}, {0.8f, 0.3f, 0.3f, 0.85f}},
        {"trace fails", {0.5f, 0, 0, 1}, 20, 0.25f, {false, {1, 1, 1, 1}}, {0.5f, 0.0f, 0.0f, 0.25f}},
    };
    for (const Case& c : cases) {
        reset_host();
        params = &default_params();
        params->bright = c.bright;
        params->secondary_bright = 1;
        ASSERT_NE(init_instance(*params), nullptr);
        host().state.ray_kind = c.kind;
        host().transparent = c.behind;
        const Color result = shade(*params, c.opacity);
        EXPECT_FLOAT_EQ(result.r, c.expected.r) << c.name;
        EXPECT_FLOAT_EQ(result.g, c.expected.g) << c.name;
        EXPECT_FLOAT_EQ(result.b, c.expected.b) << c.name;
        EXPECT_FLOAT_EQ(result.a, c.expected.a) << c.name;
        EXPECT_EQ(host().count("mi_trace_transparent"), 1) << c.name;
    }
}

TEST_F(PassThrough, NearlyOpaqueSurfacesTraceNothing) {
    init_pass_through();
    host().transparent = {true, {1, 1, 1, 1}};
    const struct {
        float opacity;
        int traces;
    } cases[] = {{1.0f, 0}, {0.998f, 0}, {1.5f, 0}, {0.9979f, 1}, {0.0f, 1}};
    for (const auto& c : cases) {
        host().clear_calls();
        const Color result = shade(*params, c.opacity);
        EXPECT_EQ(host().count("mi_trace_transparent"), c.traces) << "opacity " << c.opacity;
        if (c.traces == 0) {
            EXPECT_EQ(result.r, 0.0f);
            EXPECT_EQ(result.a, c.opacity);
            EXPECT_EQ(host().count("mi_refraction_dir"), 0);
        } else {
            EXPECT_FLOAT_EQ(result.r, 1.0f - c.opacity);
        }
    }
}

TEST_F(PassThrough, EyeRayEntersWithUnitIndices) {
    init_pass_through();
    RenderState& s = host().state;
    s.incoming_ior = 1.7f;
    s.outgoing_ior = 1.2f;
    s.volume_tag = 41;
    shade(*params, 0.0f);
    EXPECT_EQ(s.incoming_ior, 1.0f);
    EXPECT_EQ(s.outgoing_ior, 1.0f);
    EXPECT_EQ(s.refraction_volume_tag, 41u);
    EXPECT_EQ(host().count("mi_trace_transparent"), 1);
    EXPECT_EQ(host().count("mi_refraction_dir"), 0);
}

TEST_F(PassThrough, EnteringKeepsAnExistingRefractionVolume) {
    init_pass_through();
    RenderState& s = host().state;
    s.volume_tag = 41;
    s.refraction_volume_tag = 9;
    shade(*params, 0.0f);
    EXPECT_EQ(s.refraction_volume_tag, 9u);
}

TEST_F(PassThrough, LeavingThroughTheSameShaderRestoresTheOuterIndex) {
    init_pass_through();
    RenderState entry = host().state;  // the state that sent the ray through
    entry.incoming_ior = 1.4f;
    entry.volume_tag = 77;
    RenderState& s = host().state;
    s.parent_state = &entry;
    s.ray_kind = ray_kind::transparent;
    s.volume_tag = 5;
    host().refraction = {true, {0.3f, 0.3f, 0.3f, 1.0f}};

    const Color result = shade(*params, 0.0f);
    EXPECT_FLOAT_EQ(s.outgoing_ior, 1.4f);
    EXPECT_EQ(s.incoming_ior, 1.0f);
    EXPECT_EQ(s.refraction_volume_tag, 77u);
    EXPECT_TRUE(called("mi_refraction_dir(1,1.4)"));
    EXPECT_EQ(host().count("mi_trace_refraction"), 1);
    EXPECT_FLOAT_EQ(result.r, 0.3f);
}

// Crossings count only where the parent ran this very shader; two of them
// mean the ray is back outside.
TEST_F(PassThrough, CrossingsAreCountedPerShaderRecord) {
    init_pass_through();
    ShaderRecord other{0};
    RenderState root = host().state;
    root.outgoing_ior = 1.1f;
    RenderState inside = host().state;
    inside.parent_state = &root;
    inside.ray_kind = ray_kind::refraction;
    inside.incoming_ior = 1.6f;
    inside.outgoing_ior = 1.25f;
    RenderState& s = host().state;
    s.parent_state = &inside;
    s.ray_kind = ray_kind::photon_transmit_glossy;

    shade(*params, 0.0f);  // two crossings: entering from `inside`
    EXPECT_EQ(s.outgoing_ior, 1.0f);
    EXPECT_FLOAT_EQ(s.incoming_ior, 1.25f);

    root.active_shader = &other;  // now only the nearer crossing counts
    shade(*params, 0.0f);
    EXPECT_FLOAT_EQ(s.outgoing_ior, 1.6f);
    EXPECT_EQ(s.incoming_ior, 1.0f);

    // Not a crossing itself, but the one above is: leaving, and the entry is
    // the parent of that crossing.
    root.active_shader = host().state.active_shader;
    root.incoming_ior = 1.2f;
    s.ray_kind = ray_kind::reflection;
    shade(*params, 0.0f);
    EXPECT_FLOAT_EQ(s.outgoing_ior, 1.2f);
    EXPECT_EQ(s.incoming_ior, 1.0f);
}

TEST_F(PassThrough, LeavingUsesTheNearestCrossing) {
    init_pass_through();
    RenderState root = host().state;
    root.incoming_ior = 1.2f;
    RenderState outer = host().state;  // entered the object here
    outer.parent_state = &root;
    outer.ray_kind = ray_kind::transparent;
    outer.incoming_ior = 1.3f;
    RenderState inner = host().state;  // crossed back out, then in again
    inner.parent_state = &outer;
    inner.ray_kind = ray_kind::transparent;
    inner.incoming_ior = 1.6f;
    inner.volume_tag = 12;
    RenderState& s = host().state;
    s.parent_state = &inner;
    s.ray_kind = ray_kind::photon_transmit_specular;

    shade(*params, 0.0f);  // three crossings: leaving through `inner`
    EXPECT_FLOAT_EQ(s.outgoing_ior, 1.6f);
    EXPECT_EQ(s.incoming_ior, 1.0f);
    EXPECT_EQ(s.refraction_volume_tag, 12u);
}

TEST_F(PassThrough, DenserOuterMediumRefracts) {
    init_pass_through();
    RenderState medium = host().state;
    medium.outgoing_ior = 1.33f;
    host().state.parent_state = &medium;
    host().state.ray_kind = ray_kind::reflection;
    host().refraction = {true, {0.1f, 0.2f, 0.3f, 1.0f}};

    const Color result = shade(*params, 0.0f);
    EXPECT_FLOAT_EQ(host().state.incoming_ior, 1.33f);
    EXPECT_EQ(host().state.outgoing_ior, 1.0f);
    EXPECT_TRUE(called("mi_refraction_dir(1.33,1)"));
    EXPECT_EQ(host().count("mi_trace_refraction"), 1);
    EXPECT_EQ(host().count("mi_trace_transparent"), 0);
    EXPECT_FLOAT_EQ(result.b, 0.3f);
}

TEST_F(PassThrough, TotalInternalReflectionMirrorsInTheIncomingMedium) {
    init_pass_through();
    RenderState medium = host().state;
    medium.outgoing_ior = 1.5f;
    host().state.parent_state = &medium;
    host().state.ray_kind = ray_kind::reflection;
    host().refraction_dir_ok = false;
    host().reflection = {true, {0.0f, 0.5f, 0.0f, 1.0f}};

    const Color result = shade(*params, 0.0f);
    // outgoing_ior equals the incoming index while the mirror ray is found
    // and traced, and is put back afterwards.
    EXPECT_TRUE(called("mi_reflection_dir(in=1.5,out=1.5)"));
    EXPECT_TRUE(called("mi_trace_reflection(in=1.5,out=1.5)"));
    EXPECT_EQ(host().count("mi_trace_refraction"), 0);
    EXPECT_EQ(host().state.outgoing_ior, 1.0f);
    EXPECT_FLOAT_EQ(result.g, 0.5f);
}

TEST_F(PassThrough, WithoutRayTracingTheRayGoesStraightOn) {
    init_pass_through();
    RenderState medium = host().state;
    medium.outgoing_ior = 1.33f;
    host().state.parent_state = &medium;
    host().state.ray_kind = ray_kind::reflection;
    host().options.ray_tracing_enabled = 0;

    shade(*params, 0.0f);
    EXPECT_FLOAT_EQ(host().state.incoming_ior, 1.33f);  // still tracked
    EXPECT_EQ(host().count("mi_trace_transparent"), 1);
    EXPECT_EQ(host().count("mi_refraction_dir"), 0);
}

TEST_F(PassThrough, ReentryAnswerIsSeenThroughToo) {
    params->bright = {0.25f, 0.5f, 0.75f, 1.0f};
    ASSERT_NE(init_instance(*params), nullptr);
    host().shaderstate["mydata"] = 1;
    host().transparent = {true, {1.0f, 1.0f, 1.0f, 1.0f}};
    const Color result = shade(*params, 0.5f);
    EXPECT_FLOAT_EQ(result.r, 0.75f);
    EXPECT_FLOAT_EQ(result.g, 1.0f);
    EXPECT_FLOAT_EQ(result.b, 1.25f);
    EXPECT_FLOAT_EQ(result.a, 1.0f);
}

}  // namespace
}  // namespace vosh::test
