// Hands tiles of work (rectangles of an integer grid: pixels of an image,
// texels of a bake) from one queue to several threads of an open session.
// Each thread gets its own host state; the work function decides what a
// tile's points are and where their results go. Tiles are taken in list
// order but finish in any order, so a tile's result must depend on the tile
// alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "renderer/host/thread_context.h"

namespace vosh::render {

struct Tile {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // cells [x0, x1) x [y0, y1)
};

// `area` cut into squares of `size` cells (smaller at its right and bottom
// edges), row by row from the top left.
std::vector<Tile> split_into_tiles(const Tile& area, int size);

// The run's stop request, for the work function to ask between samples.
struct StopFlag {
    const std::atomic<bool>* flag = nullptr;
};

inline bool stop_requested(const StopFlag& stop) {
    return stop.flag && stop.flag->load(std::memory_order_relaxed);
}

struct TileRunSettings {
    RenderContext* context = nullptr;  // the open session's; each thread's host state works in it
    int threads = 1;
    bool progress = false;  // a progress bar on standard error
    // When set, becomes true to stop the run; the work function sees it
    // through its StopFlag.
    const std::atomic<bool>* stop = nullptr;
};

struct TileRunStats {
    int threads = 0;  // that ran (fewer than asked when the system refused some)
    double seconds = 0;
    double cpu_seconds = 0;  // summed over the threads
    // Summed from every thread's ThreadContext counters.
    uint64_t probe_rays = 0;
    uint64_t bad_samples = 0;
    size_t tiles_done = 0;
};

// Does one tile on the calling thread; false when it stopped early because
// stop_requested said so (the tile then counts as not done).
using TileWork = std::function<bool(ThreadContext& thread, const Tile& tile, const StopFlag& stop)>;

// Runs `work` on every tile over the threads, in the open session whose
// context the settings name. When the system refuses all threads
// the calling thread does the work. True when every tile was done.
bool run_tiles(const std::vector<Tile>& tiles, const TileRunSettings& settings, const TileWork& work,
               TileRunStats& stats);

// The general form, for work whose tiles come from elsewhere (another
// process): each thread asks `take` for the index of its next tile (false:
// none is left; it may block until one comes) and does it with `work`.
// Meanwhile the calling thread calls `attend` every few milliseconds with
// whether any thread is still working, until it returns false; then the
// threads are joined. Without threads the calling thread does the tiles
// first and attends after. stats.tiles_done counts this process's tiles.
struct TileFeed {
    std::function<bool(size_t& index)> take;
    std::function<bool(bool threads_working)> attend;
};

void run_tile_threads(RenderContext& ctx, const std::vector<Tile>& tiles, int threads,
                      const std::atomic<bool>* stop, const TileWork& work, const TileFeed& feed,
                      TileRunStats& stats);

}  // namespace vosh::render
