// Version, init and exit through the loaded module and the scripted host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/scripted_host.h"

namespace vosh::test {
namespace {

constexpr float nan_f = std::numeric_limits<float>::quiet_NaN();

// Parameter offsets passed to mi_phen_eval, in call order.
std::vector<long> evaluated_offsets() {
    std::vector<long> offsets;
    for (const std::string& call : host().calls()) {
        if (call.rfind("mi_phen_eval(", 0) == 0) offsets.push_back(std::stol(call.substr(13)));
    }
    return offsets;
}

int evaluations_of(std::size_t offset) {
    const std::vector<long> offsets = evaluated_offsets();
    return static_cast<int>(std::count(offsets.begin(), offsets.end(), static_cast<long>(offset)));
}

class Instance : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        params = &default_params();
    }
    OcclusionParams* params = nullptr;
};

TEST_F(Instance, VersionIsOne) { EXPECT_EQ(module().version(), 1); }

TEST_F(Instance, InitWithoutParametersOnlyAsksForPerInstanceInit) {
    int sentinel = 0;
    host().user_slot = &sentinel;
    HostBool required = 0;
    EXPECT_NE(module().init(&host().state, nullptr, &required), 0);
    EXPECT_EQ(required, 1);
    EXPECT_TRUE(host().calls().empty());
    EXPECT_EQ(host().user_slot, &sentinel);
}

TEST_F(Instance, PassThroughRecordHoldsOnlyTheSwitch) {
    params->pass_through = 5;
    params->use_light = 1;  // and no light: still no warning
    params->final_gather = 1;
    host().options.gather_falloff_start = 123.0f;
    host().options.gather_falloff_stop = 456.0f;

    const OcclusionInstance* record = init_instance(*params);
    ASSERT_NE(record, nullptr);

    OcclusionInstance expected;
    std::memset(&expected, 0, sizeof expected);
    expected.pass_through = 5;
    EXPECT_EQ(std::memcmp(record, &expected, sizeof expected), 0);
    EXPECT_TRUE(host().warnings.empty());
    EXPECT_EQ(host().options.gather_falloff_start, 123.0f);
    EXPECT_EQ(host().options.gather_falloff_stop, 456.0f);
    EXPECT_EQ(host().calls(), (std::vector<std::string>{"mi_mem_int_allocate(200)", "mi_query(51,0)"}));
    const std::string origin = host().live_blocks.at(const_cast<OcclusionInstance*>(record));
    EXPECT_NE(origin.find("occlusion_instance.cpp:"), std::string::npos) << origin;
}

TEST_F(Instance, CopiesAndConvertsEveryField) {
    OcclusionParams& p = *params;
    p.sampling = 3;
    p.occlusion_in_alpha = 1;
    p.near_samples = 16;
    p.far_samples = 4;
    p.near_threshold = 2.5f;
    p.far_threshold = 40.0f;
    p.adaptive = 1;
    p.samples = 24;
    p.spread = 45.0f;
    p.near_distance = 0.5f;
    p.far_distance = 12.25f;
    p.light_bias = 0.3f;
    p.reflective = 1;
    p.gamma = 2.2f;
    p.bias = 0.4f;
    p.gain = 0.7f;
    p.occlusion_mode = 2;
    p.color_strength = 0.6f;
    p.hue_adjust = 0.25f;
    p.saturation_adjust = -0.5f;
    p.value_adjust = 0.0f;
    p.boost = 3.0f;
    p.boost_threshold = 0.8f;
    p.boost_power = 2.0f;
    p.bent_normals = 1;
    p.bent_color_mix = 1;
    p.output_space = 6;
    p.bent_relative = 1;
    p.secondary_bright = 1;
    p.ignore_self = 1;

    HostBool required = 0;
    EXPECT_NE(module().init(&host().state, params, &required), 0);
    const auto* r = static_cast<const OcclusionInstance*>(host().user_slot);
    ASSERT_NE(r, nullptr);

    EXPECT_EQ(r->pass_through, 0);
    EXPECT_EQ(r->sampling, 3);
    EXPECT_EQ(r->occlusion_in_alpha, 1);
    EXPECT_EQ(r->near_samples, 16);
    EXPECT_EQ(r->far_samples, 4);
    EXPECT_EQ(r->near_threshold, 2.5f);
    EXPECT_EQ(r->far_threshold, 40.0f);
    EXPECT_EQ(r->adaptive, 1);
    EXPECT_EQ(r->samples, 24);
    EXPECT_EQ(r->spread_fraction, 0.25f);
    EXPECT_EQ(r->near_distance, 0.5);
    EXPECT_EQ(r->far_distance, 12.25);
    EXPECT_EQ(r->light_bias, 0.3f);
    EXPECT_EQ(r->reflective, 1);
    EXPECT_EQ(r->gamma, 2.2f);
    EXPECT_EQ(r->bias, 0.4f);
    EXPECT_EQ(r->gain, 0.7f);
    EXPECT_EQ(r->occlusion_mode, 2);
    EXPECT_EQ(r->color_strength, 0.6f);
    EXPECT_EQ(r->hue_factor, 1.25f);
    EXPECT_EQ(r->saturation_factor, 0.5f);
    EXPECT_EQ(r->value_factor, 1.0f);
    EXPECT_EQ(r->boost, 3.0f);
    EXPECT_EQ(r->boost_threshold, 0.8f);
    EXPECT_EQ(r->boost_power, 2.0f);
    EXPECT_EQ(r->bent_normals, 1);
    EXPECT_EQ(r->bent_color_mix, 1);
    EXPECT_EQ(r->output_space, 6);
    EXPECT_EQ(r->bent_relative, 1);
    EXPECT_EQ(r->final_gather, 0);
    EXPECT_EQ(r->secondary_bright, 1);
    EXPECT_EQ(r->ignore_self, 1);
    EXPECT_EQ(r->light_mode, light_mode::none);
    EXPECT_EQ(r->light_tag, 0u);
    const GatherSettings zero{};
    EXPECT_EQ(std::memcmp(&r->gather_settings, &zero, sizeof zero), 0);
}

// Below depth 2 the sampling gate is forced on and its parameter not read.
TEST_F(Instance, SamplingFollowsItsParameterOnlyFromDepthTwo) {
    const struct {
        int32_t depth, parameter, expected;
        bool read;
    } rows[] = {{1, 0, 1, false}, {-3, 0, 1, false}, {2, 0, 0, true}, {3, 7, 7, true}};
    for (const auto& row : rows) {
        reset_host();
        OcclusionParams& p = default_params();
        host().options.depth_setting = row.depth;
        p.sampling = row.parameter;
        set_marker(&p.sampling, 1);  // connected: every read shows up as an evaluation
        const OcclusionInstance* r = init_instance(p);
        EXPECT_EQ(r->sampling, row.expected) << "depth " << row.depth;
        EXPECT_EQ(evaluations_of(offsetof(OcclusionParams, sampling)), row.read ? 1 : 0)
            << "depth " << row.depth;
    }
}

TEST_F(Instance, DistanceRangeIsPutInOrder) {
    const struct {
        float near_in, far_in;
        double near_out, far_out;
    } rows[] = {
        {10.0f, 2.0f, 2.0, 10.0},
        {2.0f, 10.0f, 2.0, 10.0},
        {5.0f, 5.0f, 5.0, 5.0},
        {0.1f, 0.0f, 0.0, static_cast<double>(0.1f)},
        {nan_f, 2.0f, nan_f, 2.0},
        {2.0f, nan_f, 2.0, nan_f},
    };
    for (const auto& row : rows) {
        reset_host();
        OcclusionParams& p = default_params();
        p.near_distance = row.near_in;
        p.far_distance = row.far_in;
        const OcclusionInstance* r = init_instance(p);
        const std::string label = std::to_string(row.near_in) + ".." + std::to_string(row.far_in);
        if (std::isnan(row.near_out)) {
            EXPECT_TRUE(std::isnan(r->near_distance)) << label;
        } else {
            EXPECT_EQ(r->near_distance, row.near_out) << label;
        }
        if (std::isnan(row.far_out)) {
            EXPECT_TRUE(std::isnan(r->far_distance)) << label;
        } else {
            EXPECT_EQ(r->far_distance, row.far_out) << label;
        }
    }
}

// Each sample count travels with its threshold.
TEST_F(Instance, ThresholdsArePutInOrderWithTheirCounts) {
    const struct {
        float near_in, far_in;
        int32_t near_count_in, far_count_in;
        float near_out, far_out;
        int32_t near_count_out, far_count_out;
    } rows[] = {
        {50, 20, 16, 4, 20, 50, 4, 16},
        {20, 50, 16, 4, 20, 50, 16, 4},
        {30, 30, 16, 4, 30, 30, 16, 4},
        {50, -1, 2, 9, -1, 50, 9, 2},
    };
    for (const auto& row : rows) {
        reset_host();
        OcclusionParams& p = default_params();
        p.near_threshold = row.near_in;
        p.far_threshold = row.far_in;
        p.near_samples = row.near_count_in;
        p.far_samples = row.far_count_in;
        const OcclusionInstance* r = init_instance(p);
        const std::string label = std::to_string(row.near_in) + ".." + std::to_string(row.far_in);
        EXPECT_EQ(r->near_threshold, row.near_out) << label;
        EXPECT_EQ(r->far_threshold, row.far_out) << label;
        EXPECT_EQ(r->near_samples, row.near_count_out) << label;
        EXPECT_EQ(r->far_samples, row.far_count_out) << label;
    }

    reset_host();
    OcclusionParams& p = default_params();
    p.near_threshold = nan_f;
    p.far_threshold = 3.0f;
    p.near_samples = 16;
    p.far_samples = 4;
    const OcclusionInstance* r = init_instance(p);
    EXPECT_TRUE(std::isnan(r->near_threshold));
    EXPECT_EQ(r->far_threshold, 3.0f);
    EXPECT_EQ(r->near_samples, 16);
}

TEST_F(Instance, SpreadAndColourAdjustmentsAreConvertedOnce) {
    const struct {
        float spread, fraction;
    } spreads[] = {{90, 0.5f}, {180, 1.0f}, {1, 0.0055555557f}, {0, 0.0f}, {30, 30 * 0.0055555557f}};
    for (const auto& row : spreads) {
        reset_host();
        OcclusionParams& p = default_params();
        p.spread = row.spread;
        EXPECT_EQ(init_instance(p)->spread_fraction, row.fraction) << row.spread;
    }

    const struct {
        float adjust, factor;
    } adjusts[] = {{0, 1}, {-1, 0}, {0.1f, 1.1f}, {2.5f, 3.5f}};
    for (const auto& row : adjusts) {
        reset_host();
        OcclusionParams& p = default_params();
        p.hue_adjust = row.adjust;
        p.saturation_adjust = row.adjust;
        p.value_adjust = row.adjust;
        const OcclusionInstance* r = init_instance(p);
        EXPECT_EQ(r->hue_factor, row.factor) << row.adjust;
        EXPECT_EQ(r->saturation_factor, row.factor) << row.adjust;
        EXPECT_EQ(r->value_factor, row.factor) << row.adjust;
    }
}

class GatherInit : public Instance {
protected:
    void SetUp() override {
        Instance::SetUp();
        RenderOptions& o = host().options;
        o.gather_ray_count = 300;
        o.gather_largest_radius = 4.5f;
        o.gather_smallest_radius = 0.25f;
        o.gather_radii_in_pixels = 1;
        o.gather_filter = 2;
        o.gi_photon_count = 500;
        o.gi_photon_radius = 1.5f;
        o.caustic_photon_count = 80;
        o.caustic_photon_radius = 0.75f;
        o.gather_falloff_start = -1.0f;
        o.gather_falloff_stop = -1.0f;
        params->final_gather = 1;
        params->near_distance = 10.0f;
        params->far_distance = 2.0f;
        params->fg_rays = 64;
        params->fg_largest_radius = 9.0f;
        params->fg_smallest_radius = 3.0f;
    }
};

TEST_F(GatherInit, CopiesTheHostSettingsAndSetsTheRenderFalloff) {
    const OcclusionInstance* r = init_instance(*params);
    GatherSettings expected{};
    expected.size = 36;
    expected.ray_count = 300;
    expected.largest_radius = 4.5f;
    expected.smallest_radius = 0.25f;
    expected.radii_in_pixels = 1;
    expected.filter = 2;
    expected.gi_photon_count = 500;
    expected.gi_photon_radius = 1.5f;
    expected.caustic_photon_count = 80;
    expected.caustic_photon_radius = 0.75f;
    // The host's allocation is not zeroed: the reserved bytes must still be.
    EXPECT_EQ(std::memcmp(&r->gather_settings, &expected, sizeof expected), 0);
    EXPECT_EQ(host().options.gather_falloff_start, 2.0f);
    EXPECT_EQ(host().options.gather_falloff_stop, 10.0f);
    EXPECT_EQ(r->final_gather, 1);
}

TEST_F(GatherInit, OverrideReplacesGatherValuesWithLowEightBits) {
    const struct {
        int32_t radii_in_pixels, filter;
        uint8_t radii_out, filter_out;
    } rows[] = {{1, 300, 1, 44}, {256, 257, 0, 1}, {0, 0, 0, 0}, {-1, 255, 255, 255}};
    for (const auto& row : rows) {
        SetUp();
        params->fg_override = 1;
        params->fg_radii_in_pixels = row.radii_in_pixels;
        params->fg_filter = row.filter;
        const GatherSettings& g = init_instance(*params)->gather_settings;
        EXPECT_EQ(g.size, 36);
        EXPECT_EQ(g.ray_count, 64);
        EXPECT_EQ(g.largest_radius, 9.0f);
        EXPECT_EQ(g.smallest_radius, 3.0f);
        EXPECT_EQ(g.radii_in_pixels, row.radii_out) << row.radii_in_pixels;
        EXPECT_EQ(g.filter, row.filter_out) << row.filter;
        EXPECT_EQ(g.reserved[0], 0);
        EXPECT_EQ(g.reserved[1], 0);
        EXPECT_EQ(g.gi_photon_count, 500);
        EXPECT_EQ(g.gi_photon_radius, 1.5f);
        EXPECT_EQ(g.caustic_photon_count, 80);
        EXPECT_EQ(g.caustic_photon_radius, 0.75f);
    }
}

// No settings without a far distance or without final gather, and then the
// override parameters are not even read.
TEST_F(GatherInit, NothingIsBuiltWithoutFarDistanceOrFinalGather) {
    const struct {
        HostBool final_gather;
        float near_distance, far_distance;
    } rows[] = {{1, 0.0f, 0.0f}, {1, -1.0f, -0.0f}, {0, 1.0f, 5.0f}};
    for (const auto& row : rows) {
        SetUp();
        params->final_gather = row.final_gather;
        params->near_distance = row.near_distance;
        params->far_distance = row.far_distance;
        params->fg_override = 1;
        for (const void* field : {static_cast<const void*>(&params->fg_override),
                                  static_cast<const void*>(&params->fg_rays),
                                  static_cast<const void*>(&params->fg_filter)}) {
            set_marker(field, 1);
        }
        const OcclusionInstance* r = init_instance(*params);
        const GatherSettings zero{};
        EXPECT_EQ(std::memcmp(&r->gather_settings, &zero, sizeof zero), 0);
        EXPECT_EQ(host().options.gather_falloff_start, -1.0f);
        EXPECT_EQ(host().options.gather_falloff_stop, -1.0f);
        EXPECT_EQ(evaluations_of(offsetof(OcclusionParams, fg_override)), 0);
        EXPECT_EQ(evaluations_of(offsetof(OcclusionParams, fg_rays)), 0);
    }
}

// A NaN far distance is not 0, so the settings are built.
TEST_F(GatherInit, NaNFarDistanceStillBuildsSettings) {
    params->near_distance = 1.0f;
    params->far_distance = nan_f;
    const OcclusionInstance* r = init_instance(*params);
    EXPECT_EQ(r->gather_settings.size, 36);
    EXPECT_TRUE(std::isnan(host().options.gather_falloff_stop));
}

class LightInit : public Instance {
protected:
    static constexpr Tag light = 9;
    static constexpr Tag item = 21;

    void SetUp() override {
        Instance::SetUp();
        params->use_light = 1;
        params->light = light;
        params->secondary_bright = 1;
        params->ignore_self = 1;
        host().instance_items[light] = item;
        // Scale 2 and a quarter turn about z, then a move to (3, -4, 5).
        const float matrix[16] = {0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 3, -4, 5, 1};
        std::vector<unsigned char> record(72 + sizeof matrix, 0xEE);
        std::memcpy(record.data() + 72, matrix, sizeof matrix);
        host().db_records[light] = record;
    }
};

TEST_F(LightInit, PositionalLightIsPlacedOnceAtItsWorldOrigin) {
    host().light_kinds[item] = 0;
    const OcclusionInstance* r = init_instance(*params);
    EXPECT_EQ(r->light_mode, light_mode::position);
    EXPECT_EQ(r->light_tag, light);
    EXPECT_EQ(r->light_position.x, 3.0f);
    EXPECT_EQ(r->light_position.y, -4.0f);
    EXPECT_EQ(r->light_position.z, 5.0f);
    EXPECT_EQ(r->ignore_self, 1);
    EXPECT_EQ(host().calls(),
              (std::vector<std::string>{"mi_mem_int_allocate(200)", "mi_query(51,0)", "mi_query(7,9)",
                                        "mi_query(23,21)", "mi_db_access(9)", "mi_point_transform",
                                        "mi_db_unpin(9)"}));
}

TEST_F(LightInit, OtherLightKindsAreTracedPerCall) {
    host().light_kinds[item] = 3;
    const OcclusionInstance* r = init_instance(*params);
    EXPECT_EQ(r->light_mode, light_mode::traced);
    EXPECT_EQ(r->light_tag, light);
    EXPECT_EQ(r->light_position.x, 0.0f);
    EXPECT_EQ(r->light_position.y, 0.0f);
    EXPECT_EQ(r->light_position.z, 0.0f);
    EXPECT_EQ(r->ignore_self, 1);
    EXPECT_EQ(host().count("mi_db_access"), 0);
    EXPECT_EQ(host().count("mi_point_transform"), 0);
}

TEST_F(LightInit, MissingLightWarnsAndLeavesIgnoreSelfOff) {
    params->light = 0;
    set_marker(&params->ignore_self, 1);
    HostBool required = 0;
    EXPECT_NE(module().init(&host().state, params, &required), 0);
    const auto* r = static_cast<const OcclusionInstance*>(host().user_slot);
    EXPECT_EQ(host().warnings, std::vector<std::string>{"vosh.occlusion->no light selected "});
    EXPECT_EQ(r->light_mode, light_mode::none);
    EXPECT_EQ(r->light_tag, 0u);
    EXPECT_EQ(r->secondary_bright, 1);
    EXPECT_EQ(r->samples, 8);
    EXPECT_EQ(r->ignore_self, 0);
    EXPECT_EQ(evaluations_of(offsetof(OcclusionParams, ignore_self)), 0);
    EXPECT_EQ(host().count("mi_query"), 1);
}

TEST_F(LightInit, LightIsNotReadWhenNotUsed) {
    params->use_light = 0;
    set_marker(&params->light, 1);
    const OcclusionInstance* r = init_instance(*params);
    EXPECT_EQ(r->light_mode, light_mode::none);
    EXPECT_EQ(r->light_tag, 0u);
    EXPECT_EQ(r->ignore_self, 1);
    EXPECT_EQ(evaluations_of(offsetof(OcclusionParams, light)), 0);
    EXPECT_TRUE(host().warnings.empty());
}

// With every field connected, the evaluations show the order of the reads.
TEST_F(LightInit, ReadsEveryParameterOnceInOrder) {
    host().light_kinds[item] = 1;
    params->final_gather = 1;
    params->fg_override = 1;
    for (std::size_t offset = offsetof(OcclusionParams, pass_through); offset < sizeof(OcclusionParams);
         offset += 4) {
        set_marker(reinterpret_cast<char*>(params) + offset, 1);
    }
    init_instance(*params);
#define AT(field) static_cast<long>(offsetof(OcclusionParams, field))
    const std::vector<long> expected = {
        AT(pass_through),   AT(sampling),        AT(occlusion_in_alpha), AT(near_samples),
        AT(far_samples),    AT(adaptive),        AT(samples),            AT(far_distance),
        AT(near_distance),  AT(near_threshold),  AT(far_threshold),      AT(light_bias),
        AT(reflective),     AT(spread),          AT(gamma),              AT(bias),
        AT(gain),           AT(occlusion_mode),  AT(color_strength),     AT(hue_adjust),
        AT(saturation_adjust), AT(value_adjust), AT(boost),              AT(boost_threshold),
        AT(boost_power),    AT(bent_normals),    AT(output_space),       AT(bent_color_mix),
        AT(bent_relative),  AT(final_gather),    AT(fg_override),        AT(fg_rays),
        AT(fg_largest_radius), AT(fg_smallest_radius), AT(fg_radii_in_pixels), AT(fg_filter),
        AT(secondary_bright), AT(use_light),     AT(light),              AT(ignore_self),
    };
#undef AT
    EXPECT_EQ(evaluated_offsets(), expected);
    EXPECT_EQ(static_cast<const OcclusionInstance*>(host().user_slot)->light_mode, light_mode::traced);
}

TEST_F(Instance, ConnectionRuleDecidesEveryRead) {
    // A zero connection offset reads in place whatever lies at the marker.
    params->gamma = 2.0f;
    set_marker(&params->gamma, 1);
    set_marker(&params->samples, 1);
    host().shader.connection_offset = 0;
    EXPECT_EQ(init_instance(*params)->gamma, 2.0f);
    EXPECT_EQ(host().count("mi_phen_eval"), 0);

    // An offset with a zero marker also reads in place.
    reset_host();
    params = &default_params();
    params->gamma = 2.0f;
    host().shader.connection_offset = kConnectionOffset;
    EXPECT_EQ(init_instance(*params)->gamma, 2.0f);
    EXPECT_EQ(host().count("mi_phen_eval"), 0);

    // A connected field is evaluated at each read and its answer used.
    reset_host();
    params = &default_params();
    params->gamma = 2.0f;
    connect_param(params->gamma, 3.5f);
    EXPECT_EQ(init_instance(*params)->gamma, 3.5f);
    connect_param(params->gamma, 1.25f);
    EXPECT_EQ(init_instance(*params)->gamma, 1.25f);
    EXPECT_EQ(evaluated_offsets(), (std::vector<long>{offsetof(OcclusionParams, gamma),
                                                      offsetof(OcclusionParams, gamma)}));
}

TEST_F(Instance, ExitReleasesTheInstanceRecordAndEmptiesTheSlot) {
    init_instance(*params);
    ASSERT_EQ(host().live_blocks.size(), 1u);
    host().clear_calls();

    module().exit(&host().state, nullptr);
    EXPECT_TRUE(host().calls().empty());
    EXPECT_EQ(host().live_blocks.size(), 1u);

    module().exit(&host().state, params);
    EXPECT_TRUE(host().live_blocks.empty());
    EXPECT_EQ(host().user_slot, nullptr);
    EXPECT_EQ(host().calls(), (std::vector<std::string>{"mi_query(51,0)", "mi_mem_int_release"}));

    // A second exit finds the slot empty and releases nothing.
    host().clear_calls();
    module().exit(&host().state, params);
    EXPECT_EQ(host().calls(), std::vector<std::string>{"mi_query(51,0)"});
}

}  // namespace
}  // namespace vosh::test
