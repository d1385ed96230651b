// Only in the benchmarks' build of the host operations.
#include "renderer/host/render_hooks.h"

namespace vosh::render {

RenderHooks render_hooks;

}  // namespace vosh::render
