#include "renderer/work/tiles.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "renderer/work/progress.h"

namespace vosh::render {

namespace {

struct ThreadTally {
    std::atomic<size_t> done{0};
    std::atomic<int> working{0};
    std::atomic<uint64_t> cpu_ns{0};  // summed over the threads
    std::atomic<uint64_t> probes{0};
    std::atomic<uint64_t> bad{0};
};

uint64_t thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// Adds the calling thread's CPU time to `total` when it goes out of scope:
// with other work on the machine, CPU time per ray stays comparable where
// wall time does not.
struct CpuTimeTally {
    std::atomic<uint64_t>& total;
    uint64_t start = thread_cpu_ns();
    ~CpuTimeTally() { total += thread_cpu_ns() - start; }
};

// Denormal floats flushed to zero, as the ray tracer's authors advise:
// arithmetic on them is many times slower. Put back when the work ends, as
// it may run on the caller's thread.
struct FlushDenormals {
#if defined(__SSE2__)
    unsigned saved = _mm_getcsr();
    FlushDenormals() { _mm_setcsr(saved | 0x8040u); }  // flush-to-zero, denormals-are-zero
    ~FlushDenormals() { _mm_setcsr(saved); }
#endif
};

void work_through(RenderContext& ctx, const std::vector<Tile>& tiles, const TileWork& work, const TileFeed& feed,
                  ThreadTally& tally, StopFlag stop) {
    const FlushDenormals flush;
    {
        CpuTimeTally cpu{tally.cpu_ns};
        ThreadContext thread(ctx);
        for (size_t t = 0; feed.take(t) && t < tiles.size();) {
            if (!work(thread, tiles[t], stop)) break;
            tally.done++;
        }
        tally.probes += thread.probes;
        tally.bad += thread.bad_samples;
    }
    tally.working--;
}

}  // namespace

std::vector<Tile> split_into_tiles(const Tile& area, int size) {
    std::vector<Tile> tiles;
    for (int y = area.y0; y < area.y1; y += size)
        for (int x = area.x0; x < area.x1; x += size)
            tiles.push_back({x, y, std::min(x + size, area.x1), std::min(y + size, area.y1)});
    return tiles;
}

void run_tile_threads(RenderContext& ctx, const std::vector<Tile>& tiles, int threads,
                      const std::atomic<bool>* stop, const TileWork& work, const TileFeed& feed,
                      TileRunStats& stats) {
    ThreadTally tally;
    const StopFlag stop_flag{stop};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < std::max(1, threads); ++i) {
        try {
            tally.working++;
            workers.emplace_back(work_through, std::ref(ctx), std::cref(tiles), std::cref(work), std::cref(feed),
                                 std::ref(tally), stop_flag);
        } catch (const std::system_error&) {
            tally.working--;
            break;  // the system refuses more threads: work with those there are
        }
    }
    if (workers.empty()) {
        tally.working++;
        work_through(ctx, tiles, work, feed, tally, stop_flag);
    }
    while (feed.attend(tally.working.load() > 0))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    for (std::thread& w : workers) w.join();
    const auto end = std::chrono::steady_clock::now();

    stats.threads = workers.empty() ? 1 : static_cast<int>(workers.size());
    stats.seconds = std::chrono::duration<double>(end - start).count();
    stats.cpu_seconds = static_cast<double>(tally.cpu_ns.load()) * 1e-9;
    stats.probe_rays = tally.probes.load();
    stats.bad_samples = tally.bad.load();
    stats.tiles_done = tally.done.load();
}

bool run_tiles(const std::vector<Tile>& tiles, const TileRunSettings& settings, const TileWork& work,
               TileRunStats& stats) {
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    const TileWork counted = [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
        if (!work(thread, tile, stop)) return false;
        done++;
        return true;
    };
    std::unique_ptr<ProgressBar> bar;
    if (settings.progress) bar = std::make_unique<ProgressBar>(tiles.size());
    auto last_shown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    TileFeed feed;
    feed.take = [&](size_t& index) {
        index = next++;
        return index < tiles.size();
    };
    feed.attend = [&](bool working) {
        const auto now = std::chrono::steady_clock::now();
        if (bar && working && now - last_shown >= std::chrono::milliseconds(200)) {
            bar->show(done.load());
            last_shown = now;
        }
        return working;
    };
    run_tile_threads(*settings.context, tiles, settings.threads, settings.stop, counted, feed, stats);
    if (bar) bar->finish();
    return stats.tiles_done == tiles.size();
}

}  // namespace vosh::render
