// The renderer's low-discrepancy sampler, behind mi_sample and the camera's
// positions inside a pixel.
//
// Points are the first two dimensions of the Sobol' sequence (dimension 0 is
// the van der Corput sequence, dimension 1 the Sobol' dimension with
// primitive polynomial x + 1), randomised by nested uniform (Owen)
// scrambling done with a hash-based Laine-Karras style permutation of the
// bit-reversed value:
//
//  - the index is itself Owen-scrambled before the lookup, so each seed walks
//    the sequence in its own order; every aligned block of 2^k indices of any
//    seed maps to one aligned block of 2^k Sobol' points, a (0, k, 2)-net;
//  - each dimension is then Owen-scrambled with its own seed derived from the
//    sequence's seed, which keeps every net property and decorrelates the two
//    dimensions and the different seeds from each other.
//
// The sampler works on cells (a pixel of a render, a texel of a bake): all
// samples of one cell draw from one sequence per shading-call index, sample s
// of a call with n points taking the points s n .. s n + n - 1. So each
// sample's points are a net, and so are all samples' together: k samples of
// n directions are stratified like one call of k n directions. Values keep
// 24 bits, so they are exact in single precision and never 1. Everything is
// a pure function of its arguments: renders are repeatable whatever the
// thread count, and a cell's result does not depend on which cells render.
#pragma once

#include <cstdint>

namespace vosh::render {

// Well-mixed 32-bit hash of four words.
uint32_t sampler_seed(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

// Seed of the sequence of shading call `call_index` in cell (x, y) of a render
// or bake seeded with `seed`; the same for all samples of the cell.
uint32_t cell_seed(uint32_t cell_x, uint32_t cell_y, uint32_t call_index, uint32_t seed);

// Position inside cell (x, y), each coordinate in [0, 1), of sample `sample`
// of `samples`: the cell's own scrambled net; the centre when there is one
// sample (the best single point for a smooth image).
void cell_position(uint32_t cell_x, uint32_t cell_y, uint32_t sample, uint32_t samples, uint32_t seed,
                   double out[2]);

// Point `index` of the sequence `seed`; both values in [0, 1).
void sobol_owen_2d(uint32_t index, uint32_t seed, double out[2]);

}  // namespace vosh::render
