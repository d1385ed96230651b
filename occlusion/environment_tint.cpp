#include "host/host_interface.h"
#include "occlusion/sample_math.h"
#include "occlusion/shading_modes.h"
#include "occlusion/tint_math.h"
#include "shader/read_param.h"

namespace vosh {

void shade_environment_tint(Color* result, RenderState* state, OcclusionParams* params,
                            const OcclusionInstance& instance, OcclusionFrame& frame) {
    const Color bright = read_param(state, params->bright);
    const Color dark = read_param(state, params->dark);
    const float strength = instance.color_strength;

    // Reset once: a lookup that writes nothing leaves the previous colour.
    Color environment{0.0f, 0.0f, 0.0f, 0.0f};
    Color sum{0.0f, 0.0f, 0.0f, 0.0f};
    float alpha_sum = 0.0f;

    if (instance.sampling != 0) {
        SampleCone& cone = frame.cone;
        while (next_direction(cone, state)) {
            mi_trace_environment(&environment, state, &cone.direction);
            shape_tint(environment, instance);

            double distance = 0.0;
            if (!trace_probe(state, cone, &distance)) {
                add_tinted(sum, bright, environment, strength);
                continue;
            }
            float weight = static_cast<float>(
                occlusion_weight(distance, frame.near_distance, frame.far_distance));
            // Alpha reports the unshaped occlusion.
            if (instance.occlusion_in_alpha) alpha_sum += weight;
            shape_occlusion(weight, instance);
            add_tinted(sum, mix_colors(bright, dark, weight), environment, strength);
        }
    }

    write_tinted_average(result, sum, alpha_sum, frame.cone.index, bright, instance);
}

}  // namespace vosh
