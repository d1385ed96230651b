// Scaling a vector to unit length, shared by every place the module does it.
#pragma once

#include <cmath>

#include "host/abi_types.h"

namespace vosh {

// Order in which the squares are summed. Float addition rounds at each step,
// so each caller names the order its results have always been made with.
enum class SumOrder { x_first, z_first };

// Scales v to unit length; a zero vector stays zero.
inline void normalise(Vector& v, SumOrder order) {
    const float squares = order == SumOrder::x_first ? v.x * v.x + v.y * v.y + v.z * v.z
                                                     : v.z * v.z + v.y * v.y + v.x * v.x;
    const float length = std::sqrt(squares);
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        v.x *= inverse;
        v.y *= inverse;
        v.z *= inverse;
    }
}

}  // namespace vosh
