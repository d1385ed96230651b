#include "occlusion/sample_math.h"
#include "occlusion/shading_modes.h"
#include "shader/read_param.h"

namespace vosh {

void shade_plain(Color* result, RenderState* state, OcclusionParams* params,
                 const OcclusionInstance& instance, OcclusionFrame& frame) {
    float sum = 0.0f;
    if (instance.sampling != 0) {
        SampleCone& cone = frame.cone;
        while (next_direction(cone, state)) {
            double distance = 0.0;
            if (trace_probe(state, cone, &distance))
                sum += static_cast<float>(
                    occlusion_weight(distance, frame.near_distance, frame.far_distance));
        }
    }

    float occlusion = average_over(sum, frame.cone.index);
    shape_occlusion(occlusion, instance);

    // Connected colours run their shaders once per call, after the probes, bright first.
    const Color bright = read_param(state, params->bright);
    const Color dark = read_param(state, params->dark);
    set_rgb(result, mix_colors(bright, dark, occlusion));
    result->a = instance.occlusion_in_alpha ? occlusion : 1.0f;
}

}  // namespace vosh
