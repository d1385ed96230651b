// What lies behind a surface that answers with a flat colour.
#pragma once

#include "host/render_state.h"

namespace vosh {

// Lets what lies behind the surface show through by the result's alpha,
// after bringing the state's refraction indices up to date.
void pass_through(Color* result, RenderState* state);

}  // namespace vosh
