// Adaptive sampling of one tile of pixels: camera samples go on in rounds
// until the estimated error of every pixel's neighbourhood is under the
// threshold, or the pixel has its most samples.
//
// A pixel's samples are pure functions of (pixel, sample index, seed), and
// whether it stops depends only on its own samples and on the first round
// of its 3 x 3 neighbours. The tile takes that first round for a one-pixel
// ring around itself too (clipped to the image, not to the region or the
// tile), so its pixels come out the same whichever tile, thread, region or
// rank renders them.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/abi_types.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

struct AdaptiveSampling {
    double noise_threshold = 0;  // > 0: the estimated error a pixel may stop at
    int min_samples = 1;         // before any pixel may stop (at least 2 are taken)
    int max_samples = 1;
};

// The first check, and the size of each further round: min_samples, but
// never fewer than the two samples a variance needs, nor more than the most.
uint32_t first_round(const AdaptiveSampling& a);

// One camera sample of pixel (x, y); `own` is false for the ring around the
// tile, whose pixels belong to another tile. Reports the probe rays traced.
using PixelSampler = std::function<Color(int x, int y, uint32_t sample, bool own, uint64_t& probe_rays)>;

// Samples the pixels of `tile` (whose neighbours lie within `image`) into
// `rgba` (4 floats per pixel, row by row) and `samples` (camera samples
// taken per pixel). False when stopped early.
bool sample_adaptive_tile(const Tile& tile, const Tile& image, const AdaptiveSampling& a,
                          const PixelSampler& sample, const StopFlag& stop, std::vector<float>& rgba,
                          std::vector<uint32_t>& samples);

}  // namespace vosh::render
