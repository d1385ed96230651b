#include "renderer/render/adaptive_tile.h"

#include <algorithm>

#include "renderer/render/noise_estimate.h"

namespace vosh::render {

uint32_t first_round(const AdaptiveSampling& a) {
    return static_cast<uint32_t>(std::min(a.max_samples, std::max(2, a.min_samples)));
}

bool sample_adaptive_tile(const Tile& tile, const Tile& image, const AdaptiveSampling& a,
                          const PixelSampler& sample, const StopFlag& stop, std::vector<float>& rgba,
                          std::vector<uint32_t>& samples) {
    const Tile ring{std::max(image.x0, tile.x0 - 1), std::max(image.y0, tile.y0 - 1),
                    std::min(image.x1, tile.x1 + 1), std::min(image.y1, tile.y1 + 1)};
    const int ring_width = ring.x1 - ring.x0;
    std::vector<SampleTally> tallies(static_cast<size_t>(ring_width) * (ring.y1 - ring.y0));
    const auto index = [&](int x, int y) { return static_cast<size_t>(y - ring.y0) * ring_width + (x - ring.x0); };
    const auto own = [&](int x, int y) { return x >= tile.x0 && x < tile.x1 && y >= tile.y0 && y < tile.y1; };
    const auto take = [&](int x, int y, uint32_t until) {
        SampleTally& t = tallies[index(x, y)];
        while (t.count < until) {
            // One camera sample is the longest a stop waits for.
            if (stop_requested(stop)) return false;
            uint64_t probes = 0;
            const Color c = sample(x, y, t.count, own(x, y), probes);
            add_sample(t, c, probes);
        }
        return true;
    };

    const uint32_t first = first_round(a);
    for (int y = ring.y0; y < ring.y1; ++y)
        for (int x = ring.x0; x < ring.x1; ++x)
            if (!take(x, y, first)) return false;
    // The neighbours speak from their first round alone, so that no pixel's
    // stop depends on how far another went.
    const std::vector<SampleTally> first_tallies = tallies;
    std::vector<size_t> active;
    for (int y = tile.y0; y < tile.y1; ++y)
        for (int x = tile.x0; x < tile.x1; ++x) active.push_back(index(x, y));

    const double limit = a.noise_threshold * a.noise_threshold;
    const auto max_samples = static_cast<uint32_t>(a.max_samples);
    for (uint32_t n = first;;) {
        size_t going = 0;
        for (const size_t i : active) {
            const int x = ring.x0 + static_cast<int>(i % ring_width), y = ring.y0 + static_cast<int>(i / ring_width);
            double e = error2(tallies[i]);
            for (int qy = std::max(ring.y0, y - 1); qy <= std::min(ring.y1 - 1, y + 1); ++qy)
                for (int qx = std::max(ring.x0, x - 1); qx <= std::min(ring.x1 - 1, x + 1); ++qx)
                    if (qx != x || qy != y) e = std::max(e, error2_at(first_tallies[index(qx, qy)], n));
            if (e >= limit) active[going++] = i;
        }
        active.resize(going);
        if (active.empty() || n >= max_samples) break;
        n = std::min(max_samples, n + first);
        for (const size_t i : active)
            if (!take(ring.x0 + static_cast<int>(i % ring_width), ring.y0 + static_cast<int>(i / ring_width), n))
                return false;
    }

    const int width = tile.x1 - tile.x0;
    rgba.assign(static_cast<size_t>(width) * (tile.y1 - tile.y0) * 4, 0.0f);
    samples.assign(static_cast<size_t>(width) * (tile.y1 - tile.y0), 0);
    for (int y = tile.y0; y < tile.y1; ++y)
        for (int x = tile.x0; x < tile.x1; ++x) {
            const SampleTally& t = tallies[index(x, y)];
            const size_t o = static_cast<size_t>(y - tile.y0) * width + (x - tile.x0);
            for (int k = 0; k < 4; ++k) rgba[o * 4 + k] = static_cast<float>(t.sum[k] / t.count);
            samples[o] = t.count;
        }
    return true;
}

}  // namespace vosh::render
