// The marker in the host's shader state by which colour bleeding tells this
// shader that a call comes from its own call of a hit's shader.
#pragma once

#include <cstdint>

#include "host/render_state.h"

namespace vosh {

// The marker's key in the host's shader state.
constexpr const char* reentry_key = "mydata";

void set_reentry_marker(RenderState* state, int32_t value);

// True when the marker is set (1); it is then cleared, so that the next
// call with this state shades normally.
bool take_reentry_marker(RenderState* state);

}  // namespace vosh
