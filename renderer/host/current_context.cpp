#include "renderer/host/current_context.h"

namespace vosh::render {

namespace {

RenderContext* current_context = nullptr;

}  // namespace

RenderContext& context() { return *current_context; }
void set_context(RenderContext* ctx) { current_context = ctx; }

}  // namespace vosh::render
