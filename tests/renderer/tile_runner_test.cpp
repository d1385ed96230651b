// The tile runner a render and a bake share: every cell of the grid is
// worked exactly once whatever the thread count, a stop leaves the tiles
// under way undone, and each thread's counters reach the totals.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <vector>

#include "renderer/host/render_context.h"
#include "renderer/work/tiles.h"

namespace vosh::render::test {
namespace {

TEST(TileRunner, SplitCoversTheAreaRowByRowWithClippedEdgeTiles) {
    const std::vector<Tile> tiles = split_into_tiles({3, 5, 40, 30}, 16);
    const Tile expected[] = {{3, 5, 19, 21},  {19, 5, 35, 21},  {35, 5, 40, 21},
                             {3, 21, 19, 30}, {19, 21, 35, 30}, {35, 21, 40, 30}};
    ASSERT_EQ(tiles.size(), std::size(expected));
    for (size_t i = 0; i < tiles.size(); ++i) {
        EXPECT_EQ(tiles[i].x0, expected[i].x0) << i;
        EXPECT_EQ(tiles[i].y0, expected[i].y0) << i;
        EXPECT_EQ(tiles[i].x1, expected[i].x1) << i;
        EXPECT_EQ(tiles[i].y1, expected[i].y1) << i;
    }
    EXPECT_TRUE(split_into_tiles({4, 4, 4, 9}, 16).empty());
}

TEST(TileRunner, EveryCellOnceOnAnyThreadCount) {
    RenderContext ctx;  // each thread's host state is built on it
    const int width = 37, height = 23;
    const std::vector<Tile> tiles = split_into_tiles({0, 0, width, height}, 5);
    for (int threads : {1, 2, 7}) {
        std::vector<std::atomic<int>> visits(width * height);
        TileRunSettings settings;
        settings.context = &ctx;
        settings.threads = threads;
        TileRunStats stats;
        const bool finished = run_tiles(
            tiles, settings,
            [&](ThreadContext& thread, const Tile& tile, const StopFlag&) {
                for (int y = tile.y0; y < tile.y1; ++y)
                    for (int x = tile.x0; x < tile.x1; ++x) {
                        ++visits[static_cast<size_t>(y * width + x)];
                        ++thread.probes;
                    }
                ++thread.bad_samples;
                return true;
            },
            stats);
        EXPECT_TRUE(finished);
        EXPECT_EQ(stats.tiles_done, tiles.size());
        EXPECT_EQ(stats.threads, threads);
        EXPECT_EQ(stats.probe_rays, static_cast<uint64_t>(width * height));
        EXPECT_EQ(stats.bad_samples, tiles.size());
        for (size_t i = 0; i < visits.size(); ++i) ASSERT_EQ(visits[i].load(), 1) << "cell " << i;
    }
}

TEST(TileRunner, StopLeavesTheTileUnderWayUndoneAndKeepsItsCounts) {
    RenderContext ctx;
    const std::vector<Tile> tiles = split_into_tiles({0, 0, 64, 64}, 8);
    std::atomic<bool> stop{false};
    std::atomic<int> started{0};
    TileRunSettings settings;
    settings.context = &ctx;
    settings.threads = 2;
    settings.stop = &stop;
    TileRunStats stats;
    const bool finished = run_tiles(
        tiles, settings,
        [&](ThreadContext& thread, const Tile&, const StopFlag& flag) {
            ++thread.probes;
            if (++started == 3) stop = true;
            return !stop_requested(flag);
        },
        stats);
    EXPECT_FALSE(finished);
    // Tiles that saw the stop counted no work done, but their probes count.
    EXPECT_EQ(stats.probe_rays, static_cast<uint64_t>(started.load()));
    EXPECT_LT(stats.tiles_done, static_cast<size_t>(started.load()));
}

}  // namespace
}  // namespace vosh::render::test
