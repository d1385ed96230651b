// Leaning the sampling axis toward a light, or toward the bias direction.
#pragma once

#include "host/render_state.h"
#include "shader/occlusion_instance.h"
#include "shader/occlusion_params.h"

namespace vosh {

// Bends `axis` toward the instance's light or bias direction and normalises
// it. The caller runs it only when the instance's light_bias is above 0.
void pull_axis_toward_light(Vector& axis, RenderState* state, OcclusionParams* params,
                            const OcclusionInstance& instance);

}  // namespace vosh
