#include "renderer/sampler.h"

#include <array>

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

uint32_t reverse_bits(uint32_t x) {
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0f0f0f0fu) | ((x & 0x0f0f0f0fu) << 4);
    x = ((x >> 8) & 0x00ff00ffu) | ((x & 0x00ff00ffu) << 8);
    return (x >> 16) | (x << 16);
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

uint32_t nested_uniform_scramble(uint32_t x, uint32_t seed) {
    return reverse_bits(laine_karras_permutation(reverse_bits(x), seed));
}

// Direction numbers of the second Sobol' dimension (polynomial x + 1):
// v0 = 1/2, v(i) = v(i-1) xor v(i-1)/2, as 32-bit fractions.
constexpr std::array<uint32_t, 32> sobol_dimension_1 = [] {
    std::array<uint32_t, 32> v{};
    v[0] = 0x80000000u;
    for (int i = 1; i < 32; ++i) v[i] = v[i - 1] ^ (v[i - 1] >> 1);
    return v;
}();

uint32_t sobol_1(uint32_t index) {
    uint32_t x = 0;
    for (int bit = 0; index != 0; ++bit, index >>= 1)
        if (index & 1u) x ^= sobol_dimension_1[bit];
    return x;
}

// 24 bits: exact in single precision, so a value never rounds up to 1.
double to_unit(uint32_t x) { return static_cast<double>(x >> 8) * (1.0 / 16777216.0); }

}  // namespace

uint32_t sampler_seed(uint32_t pixel_x, uint32_t pixel_y, uint32_t pixel_sample,
                      uint32_t call_index) {
    uint32_t h = mix32(pixel_x ^ 0x3c6ef372u);
    h = hash_combine(h, pixel_y);
    h = hash_combine(h, pixel_sample);
    return hash_combine(h, call_index);
}

void sobol_owen_2d(uint32_t index, uint32_t seed, double out[2]) {
    const uint32_t shuffled = nested_uniform_scramble(index, hash_combine(seed, 0u));
    const uint32_t x = reverse_bits(shuffled);  // van der Corput
    const uint32_t y = sobol_1(shuffled);
    out[0] = to_unit(nested_uniform_scramble(x, hash_combine(seed, 1u)));
    out[1] = to_unit(nested_uniform_scramble(y, hash_combine(seed, 2u)));
}

}  // namespace vosh::render
