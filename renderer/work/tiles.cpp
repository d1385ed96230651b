#include "renderer/work/tiles.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "renderer/output/progress.h"

namespace vosh::render {

namespace {

struct TileQueue {
    const std::vector<Tile>& tiles;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
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

void work_through(TileQueue& queue, const TileWork& work, StopFlag stop) {
    const FlushDenormals flush;
    CpuTimeTally tally{queue.cpu_ns};
    RenderContext& ctx = context();
    ThreadContext thread(ctx.max_depth, &ctx.camera_record, &ctx.options);
    for (size_t t = queue.next++; t < queue.tiles.size(); t = queue.next++) {
        if (!work(thread, queue.tiles[t], stop)) break;
        queue.done++;
    }
    queue.probes += thread.probes;
    queue.bad += thread.bad_samples;
}

}  // namespace

std::vector<Tile> split_into_tiles(const Tile& area, int size) {
    std::vector<Tile> tiles;
    for (int y = area.y0; y < area.y1; y += size)
        for (int x = area.x0; x < area.x1; x += size)
            tiles.push_back({x, y, std::min(x + size, area.x1), std::min(y + size, area.y1)});
    return tiles;
}

bool run_tiles(const std::vector<Tile>& tiles, const TileRunSettings& settings, const TileWork& work,
               TileRunStats& stats) {
    TileQueue queue{tiles};
    const StopFlag stop{settings.stop};
    const int threads = std::max(1, settings.threads);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        try {
            workers.emplace_back(work_through, std::ref(queue), std::cref(work), stop);
        } catch (const std::system_error&) {
            break;  // the system refuses more threads: work with those there are
        }
    }
    if (workers.empty()) work_through(queue, work, stop);
    if (settings.progress) {
        ProgressBar bar(tiles.size());
        while (queue.done.load() < tiles.size() && !stop_requested(stop)) {
            bar.show(queue.done.load());
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        bar.finish();
    }
    for (std::thread& w : workers) w.join();
    const auto end = std::chrono::steady_clock::now();

    stats.threads = workers.empty() ? 1 : static_cast<int>(workers.size());
    stats.seconds = std::chrono::duration<double>(end - start).count();
    stats.cpu_seconds = static_cast<double>(queue.cpu_ns.load()) * 1e-9;
    stats.probe_rays = queue.probes.load();
    stats.bad_samples = queue.bad.load();
    stats.tiles_done = queue.done.load();
    return stats.tiles_done == tiles.size();
}

}  // namespace vosh::render
