// Adaptive sampling: where pixels stop, and that where they stop depends on
// the pixel alone (not the tile, thread or region that renders it).
#include <gtest/gtest.h>

#include <cstdint>

#include "render_harness.h"
#include "renderer/render/adaptive_tile.h"
#include "renderer/trace/sampler.h"
#include "support/test_scenes.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;

// An 8 x 8 image, open (1) everywhere but pixel (4, 4), whose samples are
// all-or-nothing; each sample stands for 64 probe rays.
Color synthetic(int x, int y, uint32_t s, bool, uint64_t& probes) {
    probes = 64;
    const float v = x == 4 && y == 4 ? static_cast<float>(sampler_seed(x, y, s, 7) & 1) : 1.0f;
    return {v, v, v, 1};
}

struct Sampled {
    std::vector<float> rgba;
    std::vector<uint32_t> samples;  // over the whole image
};

Sampled sample_in_tiles(int tile_side) {
    const Tile image{0, 0, 8, 8};
    const AdaptiveSampling a{0.01, 4, 64};
    Sampled out{std::vector<float>(8 * 8 * 4), std::vector<uint32_t>(8 * 8)};
    for (const Tile& t : split_into_tiles(image, tile_side)) {
        std::vector<float> rgba;
        std::vector<uint32_t> samples;
        EXPECT_TRUE(sample_adaptive_tile(t, image, a, synthetic, {}, rgba, samples));
        for (int y = t.y0; y < t.y1; ++y)
            for (int x = t.x0; x < t.x1; ++x) {
                const size_t from = static_cast<size_t>(y - t.y0) * (t.x1 - t.x0) + (x - t.x0), to = y * 8 + x;
                out.samples[to] = samples[from];
                for (int k = 0; k < 4; ++k) out.rgba[to * 4 + k] = rgba[from * 4 + k];
            }
    }
    return out;
}

TEST(AdaptiveTile, NeighboursOfANoisyPixelGoOnWhateverTheTileSplit) {
    const Sampled whole = sample_in_tiles(8);
    EXPECT_EQ(whole.samples[4 * 8 + 4], 64u);  // the noisy pixel
    EXPECT_EQ(whole.samples[4 * 8 + 3], 64u);  // its own samples all agree
    EXPECT_EQ(whole.samples[5 * 8 + 5], 64u);
    EXPECT_EQ(whole.samples[4 * 8 + 2], 4u);   // two pixels away
    EXPECT_EQ(whole.samples[0], 4u);
    for (const int side : {1, 3, 4, 5}) {
        SCOPED_TRACE(side);
        const Sampled split = sample_in_tiles(side);
        EXPECT_EQ(split.samples, whole.samples);
        EXPECT_EQ(split.rgba, whole.rgba);
    }
}

// A sphere resting on a wide floor seen from straight above; hits beyond 1
// do not occlude, so the floor far from the sphere is wholly open.
json sphere_on_floor() {
    json params = {{"samples", 8}, {"far_distance", 1}};
    return {{"camera", top_view_camera(4, 32)},
            {"shaders", {{"occ", {{"type", "vosh_occlusion"}, {"params", params}}}}},
            {"materials", {{"m", {{"shader", "occ"}}}}},
            {"objects", {vosh::test::wide_floor("m"), vosh::test::sphere_above(0.5, 0.5, "m")}}};
}

RenderSettings adaptive_settings(double threshold, int threads = 1) {
    RenderSettings s;
    s.samples_per_pixel = 32;
    s.noise_threshold = threshold;
    s.min_samples = 4;
    s.threads = threads;
    return s;
}

TEST(AdaptiveRender, OpenFloorStopsAtTheMinimumContactShadowGoesOn) {
    RenderStats stats;
    render_in_process(sphere_on_floor(), adaptive_settings(0.02), "", &stats);
    ASSERT_EQ(stats.samples_taken.size(), 32u * 32u);
    EXPECT_EQ(stats.samples_taken[0], 4u);             // (-1.94, -1.94): nothing within reach
    EXPECT_GT(stats.samples_taken[20 * 32 + 16], 16u);  // (0.06, 0.56): beside the contact
    EXPECT_LT(stats.mean_samples, 16);
}

TEST(AdaptiveRender, ZeroOrAnUnreachableThresholdRendersAsFixedSampling) {
    RenderSettings fixed;
    fixed.samples_per_pixel = 32;
    const Image reference = render_in_process(sphere_on_floor(), fixed);
    for (const double threshold : {0.0, 1e-9}) {
        RenderStats stats;
        const Image image = render_in_process(sphere_on_floor(), adaptive_settings(threshold), "", &stats);
        EXPECT_EQ(image.rgba, reference.rgba) << threshold;
        EXPECT_EQ(stats.mean_samples, 32) << threshold;
    }
}

TEST(AdaptiveRender, ThreadsAndRegionsGiveTheSamePixels) {
    const Image whole = render_in_process(sphere_on_floor(), adaptive_settings(0.02));
    struct Variant {
        int threads;
        Region region;
    };
    for (const Variant& v : {Variant{2, {0, 0, 32, 32}}, Variant{1, {13, 5, 30, 27}}, Variant{2, {15, 17, 16, 18}}}) {
        RenderSettings s = adaptive_settings(0.02, v.threads);
        s.has_region = true;
        s.region = v.region;
        const Image part = render_in_process(sphere_on_floor(), s);
        ASSERT_EQ(part.width, v.region.x1 - v.region.x0);
        for (int y = v.region.y0; y < v.region.y1; ++y)
            for (int x = v.region.x0; x < v.region.x1; ++x)
                for (int k = 0; k < 4; ++k)
                    ASSERT_EQ(part.rgba[((y - v.region.y0) * part.width + (x - v.region.x0)) * 4 + k],
                              whole.rgba[(y * 32 + x) * 4 + k])
                        << x << "," << y << " threads " << v.threads;
    }
}

}  // namespace
}  // namespace vosh::render::test
