// What a command says once its image is written: the summary line's shared
// part and the warning about samples that were not finite.
#pragma once

#include <string>

#include "renderer/work/job_stats.h"

namespace vosh::render {

// "640x360, 16 spp, 4 threads, TIMING, 12.34 M probe rays/s"; "3 ranks, 6
// threads" and ", tiles per rank 40/38/42" in a distributed job. Each
// command words its own TIMING.
// `samples_note` follows "N spp" (an adaptive render's mean).
std::string describe_run(const JobStats& stats, int width, int height, int samples, const std::string& timing,
                         const std::string& samples_note = "");

// The warning on standard error when any sample came back not finite.
void warn_bad_samples(const JobStats& stats);

}  // namespace vosh::render
