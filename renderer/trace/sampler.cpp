#include "renderer/trace/sampler.h"

namespace vosh::render {

namespace {

// 32-bit integer finaliser: a bijection with good avalanche.
uint32_t mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

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

uint32_t cell_seed(uint32_t cell_x, uint32_t cell_y, uint32_t call_index, uint32_t seed) {
    return sampler_seed(cell_x, cell_y, call_index, seed ^ 0xa511e9b3u);
}

void cell_position(uint32_t cell_x, uint32_t cell_y, uint32_t sample, uint32_t samples, uint32_t seed,
                   double out[2]) {
    if (samples <= 1) {
        out[0] = out[1] = 0.5;
        return;
    }
    // A call index of its own, apart from the shading calls counting from 0.
    sobol_owen_2d(sample, cell_seed(cell_x, cell_y, 0xffffffffu, seed), out);
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
