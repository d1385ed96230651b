// 32-bit integer finaliser: a bijection with good avalanche. The sampler's
// hashes are built on it; checks that need well-spread test values use it too.
#pragma once

#include <cstdint>

namespace vosh::render {

inline uint32_t mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

}  // namespace vosh::render
