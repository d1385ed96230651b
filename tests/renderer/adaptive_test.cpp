// Adaptive sampling: where pixels stop, and that where they stop depends on
// the pixel alone (not the tile, thread or region that renders it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>

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

// Where each pixel stopped and its value, over the whole image.
std::pair<std::vector<uint32_t>, std::vector<float>> sample_in_tiles(int tile_side) {
    const Tile image{0, 0, 8, 8};
    std::pair<std::vector<uint32_t>, std::vector<float>> out{std::vector<uint32_t>(64), std::vector<float>(64 * 4)};
    for (const Tile& t : split_into_tiles(image, tile_side)) {
        std::vector<float> rgba;
        std::vector<uint32_t> samples;
        EXPECT_TRUE(sample_adaptive_tile(t, image, {0.01, 4, 64}, synthetic, {}, rgba, samples));
        for (size_t i = 0; i < samples.size(); ++i) {
            const int w = t.x1 - t.x0, at = (t.y0 + static_cast<int>(i) / w) * 8 + t.x0 + static_cast<int>(i) % w;
            out.first[at] = samples[i];
            std::copy(&rgba[i * 4], &rgba[i * 4 + 4], &out.second[at * 4]);
        }
    }
    return out;
}

TEST(AdaptiveTile, NeighboursOfANoisyPixelGoOnWhateverTheTileSplit) {
    const auto whole = sample_in_tiles(8);
    // The noisy pixel, a neighbour whose own samples all agree, one two pixels away.
    EXPECT_EQ(whole.first[4 * 8 + 4], 64u);
    EXPECT_EQ(whole.first[5 * 8 + 5], 64u);
    EXPECT_EQ(whole.first[4 * 8 + 2], 4u);
    for (const int side : {1, 3, 4, 5}) EXPECT_EQ(sample_in_tiles(side), whole) << side;
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
    for (const auto& [threads, r] : {std::pair{2, Region{0, 0, 32, 32}}, {1, Region{13, 5, 30, 27}},
                                      {2, Region{15, 17, 16, 18}}}) {
        RenderSettings s = adaptive_settings(0.02, threads);
        s.has_region = true;
        s.region = r;
        const Image part = render_in_process(sphere_on_floor(), s);
        for (int y = r.y0; y < r.y1; ++y)
            EXPECT_TRUE(std::equal(&whole.rgba[(y * 32 + r.x0) * 4], &whole.rgba[(y * 32 + r.x1) * 4],
                                   &part.rgba[(y - r.y0) * part.width * 4]))
                << "row " << y << ", threads " << threads;
    }
}

}  // namespace
}  // namespace vosh::render::test
