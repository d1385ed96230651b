// What every job reports of its run, whatever its points (pixels, texels):
// each kind's statistics add only their own counts to this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vosh::render {

struct JobStats {
    int threads = 0;           // summed over the ranks
    double seconds = 0;        // the tile loop alone
    double cpu_seconds = 0;    // CPU time every rank's threads spent in the tile loop
    uint64_t probe_rays = 0;
    uint64_t bad_samples = 0;  // samples that came back not finite (stored as 0)
    size_t leaked_blocks = 0;  // module memory never released, on any rank
    bool interrupted = false;  // stopped through the run's stop flag
    int ranks = 1;
    std::vector<uint64_t> tiles_per_rank;  // distributed only
};

}  // namespace vosh::render
