// The working values of one sampling call, and the sampling modes the entry
// hands them to.
#pragma once

#include <cstdint>

#include "host/render_state.h"
#include "occlusion/sample_cone.h"
#include "shader/occlusion_instance.h"
#include "shader/occlusion_params.h"

namespace vosh {

struct OcclusionFrame {
    uint32_t sample_count;
    SampleCone cone;  // refers to sample_count: build the frame in place
    double near_distance;
    double far_distance;
    double falloff_start;
    double falloff_stop;
};

// Each writes result r, g, b and a.
void shade_plain(Color* result, RenderState* state, OcclusionParams* params,
                 const OcclusionInstance& instance, OcclusionFrame& frame);
void shade_bent_normals(Color* result, RenderState* state, OcclusionParams* params,
                        const OcclusionInstance& instance, OcclusionFrame& frame);
void shade_environment_tint(Color* result, RenderState* state, OcclusionParams* params,
                            const OcclusionInstance& instance, OcclusionFrame& frame);
void shade_color_bleeding(Color* result, RenderState* state, OcclusionParams* params,
                          const OcclusionInstance& instance, OcclusionFrame& frame);

}  // namespace vosh
