// Curves that reshape an occlusion value in place. Computed in double
// precision and rounded once when stored.
#pragma once

namespace vosh {

void gamma_adjust(float& value, float gamma);
void bias_adjust(float& value, float bias);
void gain_adjust(float& value, float gain);

}  // namespace vosh
