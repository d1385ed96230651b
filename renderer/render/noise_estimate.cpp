#include "renderer/render/noise_estimate.h"

#include <algorithm>

namespace vosh::render {

void add_sample(SampleTally& t, const Color& c, uint64_t probe_rays) {
    const double v[4] = {c.r, c.g, c.b, c.a};
    ++t.count;
    t.trials += probe_rays;
    for (int k = 0; k < 4; ++k) {
        t.sum[k] += v[k];
        const double d = v[k] - t.mean[k];
        t.mean[k] += d / t.count;
        t.m2[k] += d * (v[k] - t.mean[k]);
    }
}

double error2_at(const SampleTally& t, uint32_t count) {
    if (t.count == 0 || count == 0) return 1;
    double variance = 0.25;  // a single sample: the most a value in [0, 1] can vary
    if (t.count > 1) {
        variance = 0;
        for (int k = 0; k < 4; ++k) variance = std::max(variance, t.m2[k] / (t.count - 1));
    }
    // Samples that traced nothing (the background) are no all-or-nothing
    // trials: only their spread speaks.
    if (t.trials == 0 && t.count > 1) return variance / count;
    const double per_sample = std::max(1.0, static_cast<double>(t.trials) / t.count);
    const double trials = per_sample * count;
    return variance / count + 0.25 / (trials * trials);
}

double error2(const SampleTally& t) { return error2_at(t, t.count); }

}  // namespace vosh::render
