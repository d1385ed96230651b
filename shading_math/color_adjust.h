// Tint-colour shaping used by the environment-tint and colour-bleeding modes.
#pragma once

#include "host/abi_types.h"

namespace vosh {

// Pushes colours whose luminance exceeds `threshold` toward scale * colour.
void luminance_boost(Color& color, float scale, float threshold, float power);

// Multiplies hue, saturation and value by the three factors (hexcone model).
void hsv_adjust(Color& color, float hue_factor, float saturation_factor, float value_factor);

}  // namespace vosh
