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
// The sampler works on cells (a pixel of a render, a texel of a bake). A
// cell's k samples of a shading call with n points take one aligned block
// of P = 2^ceil(log2(k n)) indices, sample s the points s n .. s n + n - 1
// of it. So each sample's points are a net, and so are all samples'
// together: k samples of n directions are stratified like one call of k n
// directions.
//
// Cells share a sequence per shading-call index within square tiles of 2^t
// cells a side (t at most 6, less where P is so large that the tile's
// indices would pass 2^32); a cell's block is its Morton (Z-order) index in
// the tile. Every aligned 2 x 2, 4 x 4, ... group of cells thus holds one
// bigger net, so neighbouring cells' errors tend to cancel: the error is
// spread over the image as blue noise, while each cell's own points are the
// same kind of net as before, so its error is not raised. The index scramble
// permutes the blocks in the same nested way, which hides the Z-order.
//
// Values keep 24 bits, so they are exact in single precision and never 1.
// Everything is a pure function of its arguments: renders are repeatable
// whatever the thread count, and a cell's result does not depend on which
// cells render.
#pragma once

#include <cstdint>

namespace vosh::render {

// Well-mixed 32-bit hash of four words.
uint32_t sampler_seed(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

// Where sample `sample` of `samples` in cell (x, y) of a render or bake
// seeded with `seed` draws the `count` points of shading call `call_index`:
// points first .. first + count - 1 of sequence `seed`.
struct CellSequence {
    uint32_t seed = 0;
    uint32_t first = 0;
};
CellSequence cell_sequence(uint32_t cell_x, uint32_t cell_y, uint32_t call_index, uint32_t sample,
                           uint32_t samples, uint32_t count, uint32_t seed);

// Position inside cell (x, y), each coordinate in [0, 1), of sample `sample`
// of `samples`: the cell's own scrambled net; the centre when there is one
// sample (the best single point for a smooth image).
void cell_position(uint32_t cell_x, uint32_t cell_y, uint32_t sample, uint32_t samples, uint32_t seed,
                   double out[2]);

// Point `index` of the sequence `seed`; both values in [0, 1).
void sobol_owen_2d(uint32_t index, uint32_t seed, double out[2]);

}  // namespace vosh::render
