#include "renderer/output/summary.h"

#include <cstdio>

namespace vosh::render {

namespace {

std::string describe_workers(int ranks, int threads) {
    std::string text = std::to_string(threads) + (threads == 1 ? " thread" : " threads");
    return ranks > 1 ? std::to_string(ranks) + " ranks, " + text : text;
}

std::string describe_tiles_per_rank(const std::vector<uint64_t>& tiles) {
    if (tiles.size() < 2) return "";
    std::string text = ", tiles per rank ";
    for (size_t r = 0; r < tiles.size(); ++r) text += (r ? "/" : "") + std::to_string(tiles[r]);
    return text;
}

}  // namespace

std::string describe_run(const JobStats& stats, int width, int height, int samples, const std::string& timing,
                         const std::string& samples_note) {
    char rate[512];
    std::snprintf(rate, sizeof rate, "%.2f M probe rays/s",
                  stats.seconds > 0 ? stats.probe_rays / stats.seconds / 1e6 : 0.0);
    return std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(samples) + " spp" + samples_note + ", " +
           describe_workers(stats.ranks, stats.threads) + ", " + timing + ", " + rate +
           describe_tiles_per_rank(stats.tiles_per_rank);
}

void warn_bad_samples(const JobStats& stats) {
    if (stats.bad_samples)
        std::fprintf(stderr, "WARNING: %llu sample(s) came back as NaN or infinity and were stored as 0\n",
                     static_cast<unsigned long long>(stats.bad_samples));
}

}  // namespace vosh::render
