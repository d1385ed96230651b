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

#include "renderer/work/job_stats.h"
#include "renderer/work/ranks.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

using TileShade = std::function<bool(ThreadContext& thread, const Tile& tile, const StopFlag& stop,
                                     std::vector<unsigned char>& result)>;
// False when the bytes are not a result of that tile.
using TilePlace = std::function<bool(const Tile& tile, const std::vector<unsigned char>& result)>;

// Rank 0: does the tiles with the other ranks. False with a message naming
// the rank and its host when a rank failed (the others are stopped), or
// when stopped (then stats.interrupted). Returns once every rank has given
// its last word. `stats` sums every rank's threads, time and counts.
bool lead_tiles(const Ranks& ranks, const std::vector<Tile>& tiles, const TileRunSettings& settings,
                const TileShade& shade, const TilePlace& place, JobStats& stats, std::string& error);

// Rank 0 when it cannot do its share: stops the others and waits for their
// last word (abandon_ranks when some never gave it).
void dismiss_workers(const Ranks& ranks);

// The other ranks: does tiles as rank 0 hands them out, until none is left or rank 0 (or
// settings.stop) stops it; false when stopped.
bool follow_tiles(const std::vector<Tile>& tiles, const TileRunSettings& settings, const TileShade& shade,
                  TileRunStats& stats);

}  // namespace vosh::render
