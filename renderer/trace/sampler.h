// The renderer's low-discrepancy sampler, behind mi_sample.
//
// Points are the first two dimensions of the Sobol' sequence (dimension 0 is
// the van der Corput sequence, dimension 1 the Sobol' dimension with
// primitive polynomial x + 1), randomised by nested uniform (Owen)
// scrambling done with a hash-based Laine-Karras style permutation of the
// bit-reversed value:
//
//  - the index is itself Owen-scrambled before the lookup, so each seed walks
//    the sequence in its own order; the first 2^k indices of any seed still
//    map to one aligned block of 2^k Sobol' points, which is a (0, k, 2)-net;
//  - each dimension is then Owen-scrambled with its own seed derived from the
//    call's seed, which keeps every net property and decorrelates the two
//    dimensions and the different seeds from each other.
//
// So the first 2^k points of one seed are stratified in every elementary
// interval of area 2^-k (for k up to 24), whatever the seed, and any prefix
// stays well spread. The seed comes from the pixel, the pixel sample and the
// shading call's index within that pixel sample, so neighbouring pixels,
// successive pixel samples and successive shading calls (for example the
// occlusion calls at the hits of a reflected ray) use independent sequences.
// Values keep 24 bits, so they are exact in single precision and never 1.
// Everything is a pure function of its arguments: renders are repeatable
// whatever the thread count.
#pragma once

#include <cstdint>

namespace vosh::render {

// Well-mixed 32-bit seed of one sequence.
uint32_t sampler_seed(uint32_t pixel_x, uint32_t pixel_y, uint32_t pixel_sample,
                      uint32_t call_index);

// Point `index` of the sequence `seed`; both values in [0, 1).
void sobol_owen_2d(uint32_t index, uint32_t seed, double out[2]);

}  // namespace vosh::render
