// How far a point's mean (a pixel of a render, a texel of a bake) may still
// be from its converged value, judged from its own samples: what adaptive
// sampling stops on.
//
// Occlusion samples are bounded and often all-or-nothing: a pixel beside a
// contact shadow may see its first eight samples all open and still be
// 3 % dark. The plain standard error collapses to 0 there, so the estimate
// adds a floor for what equal samples cannot rule out: after N equal
// Bernoulli trials the mean may still be about 1/(2N) off (the half-count
// prior of a binomial proportion). N counts the probe rays the samples
// traced when there are more of them than samples, since each probe is such
// a trial. The floor falls as 1/N, the sampling error as 1/sqrt(n), so it
// only decides for points whose samples agree; points whose samples traced
// no probe at all (the background) have none. Values are taken in the
// image's units (white = 1).
#pragma once

#include <cstdint>

#include "host/abi_types.h"

namespace vosh::render {

// One point's running statistics, per channel (r, g, b, a).
struct SampleTally {
    double sum[4] = {0, 0, 0, 0};   // in sample order: the mean is sum / count, as without adaptivity
    double mean[4] = {0, 0, 0, 0};  // running mean and squared deviations (Welford)
    double m2[4] = {0, 0, 0, 0};
    uint32_t count = 0;
    uint64_t trials = 0;  // probe rays the samples traced
};

void add_sample(SampleTally& t, const Color& c, uint64_t probe_rays);

// Squared error estimate of the point's mean at its own count: the largest
// over the channels of sample variance / count plus the floor squared. One
// sample tells nothing of the variance: it counts as the largest a value in
// [0, 1] can have.
double error2(const SampleTally& t);

// The squared error the same point would show at `count` samples, judged
// from the statistics it has now (variance and floor scaled to `count`):
// how a neighbour's first samples speak for a pixel that has taken more.
double error2_at(const SampleTally& t, uint32_t count);

}  // namespace vosh::render
