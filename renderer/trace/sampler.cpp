#include "renderer/trace/sampler.h"

#include <algorithm>

#include "renderer/math/mix32.h"

namespace vosh::render {

namespace {

uint32_t hash_combine(uint32_t seed, uint32_t value) {
    return mix32(seed ^ mix32(value + 0x9e3779b9u));
}

inline uint32_t reverse_bits(uint32_t x) {
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0f0f0f0fu) | ((x & 0x0f0f0f0fu) << 4);
    return __builtin_bswap32(x);
}

// Laine-Karras style permutation: each output bit depends only on the input
// bits at and below it, and the seed flips them pseudo-randomly. Applied to
// a bit-reversed value it is a nested uniform scramble of the digits.
uint32_t laine_karras_permutation(uint32_t x, uint32_t seed) {
    x ^= x * 0x3d20adeau;
    x += seed;
    x *= (seed >> 16) | 1u;
    x ^= x * 0x05526c56u;
    x ^= x * 0x53a22864u;
    return x;
}

// The second Sobol' dimension (polynomial x + 1) has direction numbers
// v0 = 1/2, v(i) = v(i-1) xor v(i-1)/2: row i of Pascal's triangle mod 2.
// By Lucas' theorem C(i, j) is odd exactly when the bits of j are among
// those of i, so output digit j (counted from the binary point) is the xor
// of the index bits i that contain j. This returns those digits in bit-reversed
// order (digit j at bit j), five shift-and-mask steps instead of one step
// per index bit.
inline uint32_t sobol_1_reversed(uint32_t index) {
    index ^= (index >> 1) & 0x55555555u;
    index ^= (index >> 2) & 0x33333333u;
    index ^= (index >> 4) & 0x0f0f0f0fu;
    index ^= (index >> 8) & 0x00ff00ffu;
    index ^= (index >> 16) & 0x0000ffffu;
    return index;
}

// 24 bits: exact in single precision, so a value never rounds up to 1.
double to_unit(uint32_t x) { return static_cast<double>(x >> 8) * (1.0 / 16777216.0); }

}  // namespace

uint32_t sampler_seed(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t h = mix32(a ^ 0x3c6ef372u);
    h = hash_combine(h, b);
    h = hash_combine(h, c);
    return hash_combine(h, d);
}

namespace {

// Bits of x at the even positions, bits of y at the odd ones.
uint32_t morton(uint32_t x, uint32_t y) {
    const auto spread = [](uint32_t v) {
        v &= 0xffffu;
        v = (v | (v << 8)) & 0x00ff00ffu;
        v = (v | (v << 4)) & 0x0f0f0f0fu;
        v = (v | (v << 2)) & 0x33333333u;
        return (v | (v << 1)) & 0x55555555u;
    };
    return spread(x) | (spread(y) << 1);
}

// Beyond 64 cells the correlation between cells no longer shows.
constexpr uint32_t max_tile_bits = 6;

}  // namespace

CellSequence cell_sequence(uint32_t cell_x, uint32_t cell_y, uint32_t call_index, uint32_t sample,
                           uint32_t samples, uint32_t count, uint32_t seed) {
    uint32_t block_bits = 0;
    const uint64_t points = static_cast<uint64_t>(samples) * count;
    while (block_bits < 64 && (uint64_t{1} << block_bits) < points) ++block_bits;
    const uint32_t tile_bits = block_bits >= 32 ? 0 : std::min(max_tile_bits, (32 - block_bits) / 2);
    const uint32_t mask = (1u << tile_bits) - 1;
    CellSequence s;
    s.seed = sampler_seed(cell_x >> tile_bits, cell_y >> tile_bits, call_index, seed ^ 0xa511e9b3u);
    // Wraps beyond 2^32 points per cell, where the sequence repeats.
    const uint32_t block = block_bits >= 32 ? 0 : morton(cell_x & mask, cell_y & mask) << block_bits;
    s.first = block + sample * count;
    return s;
}

void cell_position(uint32_t cell_x, uint32_t cell_y, uint32_t sample, uint32_t samples, uint32_t seed,
                   double out[2]) {
    if (samples <= 1) {
        out[0] = out[1] = 0.5;
        return;
    }
    // A call index of its own, apart from the shading calls counting from 0.
    const CellSequence s = cell_sequence(cell_x, cell_y, 0xffffffffu, sample, samples, 1, seed);
    sobol_owen_2d(s.first, s.seed, out);
}

// A nested uniform scramble of a digit string is
// reverse(laine_karras_permutation(reverse(x))). The van der Corput value of
// an index is its bit reversal and the Sobol' value is the reversal of
// sobol_1_reversed, so the reversals around those two cancel.
void sobol_owen_2d(uint32_t index, uint32_t seed, double out[2]) {
    const uint32_t shuffled =
        reverse_bits(laine_karras_permutation(reverse_bits(index), hash_combine(seed, 0u)));
    const uint32_t x = laine_karras_permutation(shuffled, hash_combine(seed, 1u));
    const uint32_t y = laine_karras_permutation(sobol_1_reversed(shuffled), hash_combine(seed, 2u));
    out[0] = to_unit(reverse_bits(x));
    out[1] = to_unit(reverse_bits(y));
}

}  // namespace vosh::render
