// The main entry through the loaded module: early answers, the normal
// override, the ray falloff, final gather, plain occlusion and threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/color_checks.h"
#include "support/scripted_host.h"

namespace vosh::test {
namespace {

bool called(const std::string& call) {
    const std::vector<std::string> log = host().calls();
    return std::find(log.begin(), log.end(), call) != log.end();
}

class ShadingEntry : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        params = &default_params();
        params->bright = {0.2f, 0.4f, 0.6f, 1.0f};
    }
    // Init, then forget the calls init made.
    void init() {
        ASSERT_NE(init_instance(*params), nullptr);
        host().clear_calls();
    }
    OcclusionParams* params = nullptr;
};

TEST_F(ShadingEntry, ReentryMarkerOfOneAnswersBrightOnce) {
    host().probes = {hit_at(0.0)};  // a sampling call would answer dark
    init();
    host().shaderstate["mydata"] = 1;

    expect_color_float_eq(shade(*params), {0.2f, 0.4f, 0.6f, 1.0f});
    EXPECT_EQ(host().shaderstate["mydata"], 0);
    EXPECT_TRUE(called("mi_shaderstate_set(mydata,0,4,1)"));
    EXPECT_EQ(host().count("mi_sample"), 0);
    EXPECT_EQ(host().count("mi_trace_probe"), 0);

    // The marker was taken: the next call samples.
    expect_color_float_eq(shade(*params), {0.0f, 0.0f, 0.0f, 1.0f});
    EXPECT_EQ(host().count("mi_trace_probe"), 8);
}

TEST_F(ShadingEntry, OtherMarkerValuesShadeNormally) {
    host().probes = {hit_at(0.0)};
    init();
    for (int32_t marker : {0, 2, -1}) {
        host().shaderstate["mydata"] = marker;
        host().clear_calls();
        expect_color_float_eq(shade(*params), {0.0f, 0.0f, 0.0f, 1.0f});
        EXPECT_EQ(host().shaderstate["mydata"], marker);
        EXPECT_EQ(host().count("mi_shaderstate_set"), 0) << "marker " << marker;
        EXPECT_EQ(host().count("mi_trace_probe"), 8) << "marker " << marker;
    }
}

TEST_F(ShadingEntry, ShadowRaysAndThePassThroughSwitchAnswerBlack) {
    host().probes = {hit_at(0.0)};
    struct Case {
        const char* name;
        int32_t kind;
        HostBool switch_on;
    } cases[] = {{"shadow ray", ray_kind::shadow, 0}, {"pass-through switch", ray_kind::eye, 1}};
    for (const Case& c : cases) {
        params->pass_through = c.switch_on;
        init();
        host().state.ray_kind = c.kind;
        expect_color_float_eq(shade(*params, 1.0f), {0.0f, 0.0f, 0.0f, 1.0f});
        EXPECT_EQ(host().count("mi_sample"), 0) << c.name;
        EXPECT_EQ(host().count("mi_trace_probe"), 0) << c.name;
        EXPECT_EQ(host().count("mi_trace_transparent"), 0) << c.name;
        EXPECT_EQ(host().count("mi_ray_falloff"), 0) << c.name;
    }
}

TEST_F(ShadingEntry, SecondaryKindsAnswerBrightOnlyWhenAsked) {
    host().probes = {hit_at(0.0)};
    const int32_t secondary[] = {8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 20, 23, 24, 27};
    const int32_t ordinary[] = {0, 1, 2, 3, 4, 6, 7, 16, 17, 21, 22, 25, 26, 28};

    params->secondary_bright = 1;
    init();
    for (int32_t kind : secondary) {
        host().state.ray_kind = kind;
        host().clear_calls();
        expect_color_float_eq(shade(*params), {0.2f, 0.4f, 0.6f, 1.0f});
        EXPECT_EQ(host().count("mi_trace_probe"), 0) << "kind " << kind;
    }
    for (int32_t kind : ordinary) {
        host().state.ray_kind = kind;
        host().clear_calls();
        expect_color_float_eq(shade(*params), {0.0f, 0.0f, 0.0f, 1.0f});
        EXPECT_EQ(host().count("mi_trace_probe"), 8) << "kind " << kind;
    }

    params->secondary_bright = 0;
    init();
    for (int32_t kind : secondary) {
        host().state.ray_kind = kind;
        host().clear_calls();
        expect_color_float_eq(shade(*params), {0.0f, 0.0f, 0.0f, 1.0f});
        EXPECT_EQ(host().count("mi_trace_probe"), 8) << "kind " << kind;
    }
}

TEST_F(ShadingEntry, MissingRecordAnswersBlackWithCallersAlpha) {
    host().transparent = {true, {1, 1, 1, 1}};
    // No init: the user slot holds nothing.
    expect_color_float_eq(shade(*params, 0.4f), {0.0f, 0.0f, 0.0f, 0.4f});
    EXPECT_EQ(host().calls(), std::vector<std::string>{"mi_query(51,0)"});
}

TEST_F(ShadingEntry, NormalOverrideReplacesTheNormalUnnormalised) {
    struct Case {
        Vector override_normal, normal;
        float dot;
        Vector probe;  // with no spread, probes run along the (new) normal
    } cases[] = {
        {{0, 0, 0}, {0, 0, 1}, -1.0f, {0, 0, 1}},  // zero: untouched
        {{0, 0, 2}, {0, 0, 2}, -2.0f, {0, 0, 1}},  // 2 dz
        {{1, 2, 3}, {1, 2, 3}, -3.0f, {0.26726124f, 0.53452248f, 0.80178373f}},
        {{0, -4, 0}, {0, -4, 0}, 1.0f, {0, -1, 0}},
    };
    for (const Case& c : cases) {
        reset_host();
        host().state.ray_direction = {0.5f, -0.25f, -1.0f};
        host().state.normal_dot_direction = -1.0f;
        params = &default_params();
        params->spread = 0.0f;
        params->override_normal = c.override_normal;
        init();
        shade(*params);
        const RenderState& s = host().state;
        EXPECT_FLOAT_EQ(s.shading_normal.x, c.normal.x);
        EXPECT_FLOAT_EQ(s.shading_normal.y, c.normal.y);
        EXPECT_FLOAT_EQ(s.shading_normal.z, c.normal.z);
        EXPECT_FLOAT_EQ(s.normal_dot_direction, c.dot);
        ASSERT_FALSE(host().probe_directions.empty());
        const Vector& probe = host().probe_directions.front();
        EXPECT_NEAR(probe.x, c.probe.x, 1e-6f);
        EXPECT_NEAR(probe.y, c.probe.y, 1e-6f);
        EXPECT_NEAR(probe.z, c.probe.z, 1e-6f);
    }
}

TEST_F(ShadingEntry, ReflectiveAxisFollowsTheMirrorDirection) {
    params->spread = 0.0f;
    params->reflective = 1;
    host().reflection_dir = {0.0f, 3.0f, 0.0f};
    init();
    shade(*params);
    EXPECT_EQ(host().count("mi_reflection_dir"), 1);
    ASSERT_EQ(host().probe_directions.size(), 8u);
    for (const Vector& probe : host().probe_directions) {
        EXPECT_FLOAT_EQ(probe.x, 0.0f);
        EXPECT_FLOAT_EQ(probe.y, 1.0f);
        EXPECT_FLOAT_EQ(probe.z, 0.0f);
    }
}

TEST_F(ShadingEntry, ZeroFarDistanceNeverTouchesTheFalloff) {
    params->near_distance = 0.0f;
    params->far_distance = 0.0f;
    for (HostBool final_gather : {0, 1}) {
        params->final_gather = final_gather;
        init();
        shade(*params);
        EXPECT_EQ(host().count("mi_ray_falloff"), 0) << "final gather " << final_gather;
    }
    EXPECT_TRUE(called("mi_compute_avg_radiance(f,0)"));

    // Whatever the parameter says once the instance is set up.
    params->final_gather = 0;
    init();
    connect_param(params->far_distance, 5.0f);
    shade(*params);
    EXPECT_EQ(host().count("mi_ray_falloff"), 0);
}

TEST_F(ShadingEntry, FalloffIsInstalledAndPutBack) {
    params->near_distance = 10.0f;  // reversed: the instance orders them
    params->far_distance = 2.0f;
    for (HostBool final_gather : {0, 1}) {
        params->final_gather = final_gather;
        init();
        host().falloff_start = 3.0;
        host().falloff_stop = 4.0;
        shade(*params);
        EXPECT_EQ(host().count("mi_ray_falloff"), 2);
        EXPECT_TRUE(called("mi_ray_falloff(2,10)"));
        EXPECT_TRUE(called("mi_ray_falloff(3,4)"));
        EXPECT_EQ(host().falloff_start, 3.0);
        EXPECT_EQ(host().falloff_stop, 4.0);
    }
}

// The weighting range is read per call and used as given, unlike the
// instance's ordered pair.
TEST_F(ShadingEntry, DistanceRangeIsReadPerCallUnordered) {
    host().probes = {hit_at(5.0)};
    init();  // 0..10: a hit at 5 weighs 0.5
    expect_color_float_eq(shade(*params), {0.1f, 0.2f, 0.3f, 1.0f});

    connect_param(params->far_distance, 2.0f);  // 0..2: beyond, weighs 0
    expect_color_float_eq(shade(*params), {0.2f, 0.4f, 0.6f, 1.0f});

    connect_param(params->near_distance, 10.0f);  // 10..2: inside near, weighs 1
    expect_color_float_eq(shade(*params), {0.0f, 0.0f, 0.0f, 1.0f});
    EXPECT_TRUE(called("mi_ray_falloff(0,10)"));
}

TEST_F(ShadingEntry, FinalGatherMixesByTheRadiance) {
    params->final_gather = 1;
    params->dark = {1.0f, 1.0f, 1.0f, 0.0f};
    host().avg_radiance = {0.5f, 1.0f, 1.0f, 1.0f};
    init();
    expect_color_float_eq(shade(*params, 0.3f), {0.6f, 0.7f, 0.8f, 1.0f});
    EXPECT_TRUE(called("mi_compute_avg_radiance(f,36)"));
    EXPECT_EQ(host().count("mi_sample"), 0);
    EXPECT_EQ(host().count("mi_trace_transparent"), 0);

    host().avg_radiance = {0.0f, 0.0f, 0.0f, 0.0f};
    expect_color_float_eq(shade(*params), {0.2f, 0.4f, 0.6f, 1.0f});
}

TEST_F(ShadingEntry, PlainOcclusionAveragesTheWeights) {
    struct Case {
        const char* name;
        int32_t samples;
        std::vector<ProbeAnswer> probes;
        HostBool in_alpha;
        float occlusion;
    } cases[] = {
        {"half blocked close by", 8, {hit_at(0.0), miss()}, 1, 0.5f},
        {"half blocked, alpha 1", 8, {hit_at(0.0), miss()}, 0, 0.5f},
        {"all at mid range", 8, {hit_at(5.0)}, 1, 0.5f},
        {"one in four at 2.5", 8, {hit_at(2.5), miss(), miss(), miss()}, 1, 0.1875f},
        {"one in five close by", 5, {hit_at(0.0), miss(), miss(), miss(), miss()}, 1, 0.2f},
        {"beyond far", 8, {hit_at(10.0)}, 1, 0.0f},
        {"all open", 8, {}, 1, 0.0f},
    };
    for (const Case& c : cases) {
        reset_host();
        params = &default_params();
        params->occlusion_in_alpha = c.in_alpha;
        params->samples = c.samples;
        host().probes = c.probes;
        init();
        const Color result = shade(*params);
        const float v = 1.0f - c.occlusion;
        EXPECT_FLOAT_EQ(result.r, v) << c.name;
        EXPECT_FLOAT_EQ(result.g, v) << c.name;
        EXPECT_FLOAT_EQ(result.b, v) << c.name;
        EXPECT_FLOAT_EQ(result.a, c.in_alpha ? c.occlusion : 1.0f) << c.name;
        EXPECT_EQ(host().count("mi_trace_probe"), c.samples) << c.name;
        EXPECT_EQ(host().count("mi_sample"), c.samples + 1) << c.name;  // the last one refuses
    }
}

TEST_F(ShadingEntry, NoDirectionTakenGivesBright) {
    struct Case {
        const char* name;
        int32_t sampling, samples;
        bool refuses;
    } cases[] = {
        {"sampling off", 0, 8, false},
        {"no samples", 1, 0, false},
        {"negative samples", 1, -3, false},
        {"sampler refuses", 1, 8, true},
    };
    for (const Case& c : cases) {
        for (HostBool in_alpha : {0, 1}) {
            reset_host();
            host().probes = {hit_at(0.0)};
            host().sampler_refuses = c.refuses;
            params = &default_params();
            params->bright = {0.2f, 0.4f, 0.6f, 1.0f};
            params->sampling = c.sampling;
            params->samples = c.samples;
            params->occlusion_in_alpha = in_alpha;
            init();
            const Color result = shade(*params);
            EXPECT_FLOAT_EQ(result.r, 0.2f) << c.name;
            EXPECT_FLOAT_EQ(result.g, 0.4f) << c.name;
            EXPECT_FLOAT_EQ(result.b, 0.6f) << c.name;
            EXPECT_FLOAT_EQ(result.a, in_alpha ? 0.0f : 1.0f) << c.name;
            EXPECT_EQ(host().count("mi_trace_probe"), 0) << c.name;
            EXPECT_LE(host().count("mi_sample"), 1) << c.name;
        }
    }
}

TEST_F(ShadingEntry, ColoursAreReadAfterTheProbes) {
    host().probes = {hit_at(0.0), miss()};
    init();
    // Connected colours are evaluated once each, after the last probe, bright first.
    connect_param(params->bright, Color{0.2f, 0.4f, 0.6f, 1.0f});
    connect_param(params->dark, Color{1.0f, 1.0f, 1.0f, 1.0f});
    host().clear_calls();
    expect_color_float_eq(shade(*params), {0.6f, 0.7f, 0.8f, 1.0f});
    const std::vector<std::string> calls = host().calls();
    const auto last_probe = std::find(calls.rbegin(), calls.rend(), "mi_trace_probe");
    ASSERT_NE(last_probe, calls.rend());
    const auto bright_read = std::find(calls.begin(), calls.end(), "mi_phen_eval(0)");
    const auto dark_read = std::find(calls.begin(), calls.end(), "mi_phen_eval(16)");
    ASSERT_NE(bright_read, calls.end());
    ASSERT_NE(dark_read, calls.end());
    EXPECT_GT(bright_read - calls.begin(), calls.rend() - last_probe - 1);
    EXPECT_LT(bright_read, dark_read);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "mi_phen_eval(0)"), 1);
}

TEST_F(ShadingEntry, FacingModeEndsAtTheSceneSettingWhenALightPulls) {
    const Tag light = 7, item = 8;
    host().instance_items[light] = item;
    host().light_kinds[item] = 0;  // positional
    host().db_records[light].assign(72 + 16 * sizeof(float), 0);
    host().options.facing_default = 'b';
    params->use_light = 1;
    params->light = light;

    struct Case {
        float light_bias;
        char expected;
    } cases[] = {{0.5f, 'b'}, {0.0f, 'a'}};
    for (const Case& c : cases) {
        params->light_bias = c.light_bias;
        init();
        host().state.facing_mode = 'a';
        shade(*params);
        EXPECT_EQ(host().state.facing_mode, c.expected) << "light_bias " << c.light_bias;
    }

    // No light selected: the pull uses the bias direction and leaves facing alone.
    params->light = 0;
    params->light_bias = 0.5f;
    init();
    host().state.facing_mode = 'a';
    shade(*params);
    EXPECT_EQ(host().state.facing_mode, 'a');
}

// Mode selection, told apart by the host calls each mode makes.
TEST_F(ShadingEntry, BentNormalsWinThenTheOcclusionModeDecides) {
    struct Case {
        HostBool bent_normals;
        int32_t mode;
        int environment_lookups;
        bool material_consulted;
    } cases[] = {
        {0, 0, 0, false}, {0, 1, 0, true},  {0, 2, 8, false},
        {0, 3, 8, false}, {0, -1, 8, false}, {1, 1, 0, false},
        {1, 2, 0, false},
    };
    for (const Case& c : cases) {
        reset_host();
        host().probes = {hit_at(1.0, 3), miss()};
        host().db_records[3].assign(8, 0);
        params = &default_params();
        params->bent_normals = c.bent_normals;
        params->occlusion_mode = c.mode;
        init();
        shade(*params);
        EXPECT_EQ(host().count("mi_trace_environment"), c.environment_lookups)
            << "bent " << c.bent_normals << " mode " << c.mode;
        EXPECT_EQ(host().count("mi_db_access") > 0, c.material_consulted)
            << "bent " << c.bent_normals << " mode " << c.mode;
        EXPECT_EQ(host().count("mi_trace_probe"), 8);
    }
}

TEST_F(ShadingEntry, LightBiasPullsTheAxisBeforeTheCone) {
    params->spread = 0.0f;
    params->light_bias = 1.0f;
    params->bias_direction = {2.0f, 0.0f, 0.0f};
    init();
    shade(*params);
    ASSERT_FALSE(host().probe_directions.empty());
    const Vector& probe = host().probe_directions.front();
    EXPECT_FLOAT_EQ(probe.x, 1.0f);
    EXPECT_FLOAT_EQ(probe.y, 0.0f);
    EXPECT_FLOAT_EQ(probe.z, 0.0f);
}

// One shared instance shaded from several threads, each with its own state.
TEST_F(ShadingEntry, ConcurrentCallsShareOneInstance) {
    host().probes = {hit_at(5.0)};  // every probe weighs 0.5
    params->occlusion_in_alpha = 1;
    init();
    const Color expected = shade(*params);
    expect_color_float_eq(expected, {0.1f, 0.2f, 0.3f, 0.5f});
    host().recording = false;

    constexpr int threads = 4, calls_per_thread = 300;
    std::vector<int> wrong(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            RenderState state = host().state;
            for (int i = 0; i < calls_per_thread; ++i) {
                const Color c = shade(*params, state);
                if (c.r != expected.r || c.g != expected.g || c.b != expected.b || c.a != expected.a)
                    ++wrong[t];
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    for (int t = 0; t < threads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace vosh::test
