// The basic values every record and host operation is built from. Pure maths
// includes this alone, so it never sees the render state.
#pragma once

#include <cstdint>

namespace vosh {

using Tag = uint32_t;      // host database handle, 0 = none
using HostBool = int32_t;  // 0 false, anything else true

struct Color {
    float r, g, b, a;
};

struct Vector {
    float x, y, z;
};

}  // namespace vosh
