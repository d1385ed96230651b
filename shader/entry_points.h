// The module's five exported entry points, and the pointer types a host
// uses after looking them up by name.
#pragma once

#include <cstdint>

#include "host/module_export.h"
#include "host/render_state.h"
#include "shader/occlusion_params.h"

VOSH_EXPORT int32_t vosh_occlusion_version(void);
VOSH_EXPORT int32_t vosh_occlusion_init(vosh::RenderState* state, vosh::OcclusionParams* params,
                                        vosh::HostBool* init_required);
VOSH_EXPORT void vosh_occlusion_exit(vosh::RenderState* state, vosh::OcclusionParams* params);
VOSH_EXPORT int32_t vosh_occlusion(vosh::Color* result, vosh::RenderState* state,
                                   vosh::OcclusionParams* params);

namespace vosh {
using VersionFn = int32_t (*)();
using InitFn = int32_t (*)(RenderState*, OcclusionParams*, HostBool*);
using ExitFn = void (*)(RenderState*, OcclusionParams*);
using ShadeFn = int32_t (*)(Color*, RenderState*, OcclusionParams*);
}  // namespace vosh
