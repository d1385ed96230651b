// Tiles of work over the ranks of a distributed job: a queue on rank 0
// hands them out one at a time as ranks ask, so a slower machine takes
// fewer; rank 0's own threads take from the same queue. Every tile's result
// travels as bytes: `shade` makes them on whichever rank did the tile and
// rank 0's `place` puts them into the one image, so nothing about the
// image depends on who did which tile or in what order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "renderer/work/ranks.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

using TileShade = std::function<bool(ThreadContext& thread, const Tile& tile, const StopFlag& stop,
                                     std::vector<unsigned char>& result)>;
// False when the bytes are not a result of that tile.
using TilePlace = std::function<bool(const Tile& tile, const std::vector<unsigned char>& result)>;

struct DistributedStats {
    TileRunStats run;  // every rank's: threads, CPU time, rays and bad samples summed
    std::vector<uint64_t> tiles_per_rank;
    uint64_t worker_leaked_blocks = 0;
    bool interrupted = false;  // stopped through the settings' stop flag
};

// Rank 0: does the tiles with the other ranks. False with a message naming
// the rank and its host when a rank failed (the others are stopped), or
// when stopped. Returns once every rank has given its last word.
bool lead_tiles(const Ranks& ranks, const std::vector<Tile>& tiles, const TileRunSettings& settings,
                const TileShade& shade, const TilePlace& place, DistributedStats& stats, std::string& error);

// What a render's or a bake's tile loop reports, alone or across ranks.
struct JobTileStats : DistributedStats {
    int ranks = 1;
};

// The tile loop of a job on rank 0, or alone when `ranks` is null. Across
// ranks `shade` makes each tile's result and `place` puts it into the
// output; alone the threads do `work`, which writes in place. False when
// stopped, or when a rank failed (`error` says which).
bool run_job_tiles(const Ranks* ranks, const std::vector<Tile>& tiles, const TileRunSettings& settings,
                   const TileShade& shade, const TilePlace& place, const TileWork& work,
                   JobTileStats& stats, std::string& error);

// Copies what the statistics of every job share (RenderStats, BakeStats).
template <typename Stats>
void copy_job_stats(const JobTileStats& job, Stats& stats) {
    stats.threads = job.run.threads;
    stats.seconds = job.run.seconds;
    stats.cpu_seconds = job.run.cpu_seconds;
    stats.probe_rays = job.run.probe_rays;
    stats.bad_samples = job.run.bad_samples;
    stats.ranks = job.ranks;
    stats.tiles_per_rank = job.tiles_per_rank;
    stats.interrupted = job.interrupted;
    stats.leaked_blocks = job.worker_leaked_blocks;
}

// Rank 0 when it cannot do its share: stops the others and waits for their
// last word (abandon_ranks when some never gave it).
void dismiss_workers(const Ranks& ranks);

// The other ranks: does tiles as rank 0 hands them out, until none is left or rank 0 (or
// settings.stop) stops it; false when stopped.
bool follow_tiles(const std::vector<Tile>& tiles, const TileRunSettings& settings, const TileShade& shade,
                  TileRunStats& stats);

}  // namespace vosh::render
