// The render context the exported host operations reach. The module calls
// them with nothing but its render state, so the open session installs its
// context here; the renderer's own code is handed the context instead.
// One session at a time per process.
#pragma once

#include "renderer/host/render_context.h"

namespace vosh::render {

RenderContext& context();
void set_context(RenderContext* ctx);

}  // namespace vosh::render
