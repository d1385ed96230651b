#include <cstring>

#include "host/host_interface.h"
#include "occlusion/reentry_marker.h"
#include "occlusion/sample_math.h"
#include "occlusion/shading_modes.h"
#include "occlusion/tint_math.h"
#include "shader/read_param.h"

namespace vosh {

namespace {

// The material's shader tag is the second 32-bit word of its record; the
// record is pinned only while that word is read.
bool material_shader(Tag material, Tag* shader, int32_t* type) {
    const void* record = mi_db_access(material);
    bool found = false;
    if (record) {
        std::memcpy(shader, static_cast<const char*>(record) + sizeof(Tag), sizeof(Tag));
        *type = mi_db_type(*shader);
        found = true;
    }
    mi_db_unpin(material);
    return found;
}

// Asks the blocking object's material for a colour. False when no shader
// ran: the object has no material, or it is the shading point's own object
// and the instance excludes that.
bool hit_shader_color(RenderState* state, const OcclusionInstance& instance, Color* hit_color) {
    const RenderState* child = state->child_state;
    const Tag material = child->material_tag;
    if (material == 0) return false;

    Tag shader = 0;
    int32_t type = 0;
    const bool has_shader = material_shader(material, &shader, &type);
    const bool excluded = instance.ignore_self && child->object_label == state->object_label;
    const bool runs = has_shader && !excluded;
    if (runs) {
        // The hit's shader runs on this state with the hit's texture
        // coordinates, marked so this shader answers it without sampling.
        void* const saved_coords = state->texture_coord_list;
        state->texture_coord_list = child->texture_coord_list;
        set_reentry_marker(state, 1);
        mi_call_shader_x(hit_color, type, state, shader, nullptr);
        state->texture_coord_list = saved_coords;
    }
    set_reentry_marker(state, 0);
    return runs;
}

}  // namespace

void shade_color_bleeding(Color* result, RenderState* state, OcclusionParams* params,
                          const OcclusionInstance& instance, OcclusionFrame& frame) {
    const Color bright = read_param(state, params->bright);
    const Color dark = read_param(state, params->dark);
    const float strength = instance.color_strength;

    Color sum{0.0f, 0.0f, 0.0f, 0.0f};
    float alpha_sum = 0.0f;

    if (instance.sampling != 0) {
        SampleCone& cone = frame.cone;
        while (next_direction(cone, state)) {
            double distance = 0.0;
            if (!trace_probe(state, cone, &distance)) {
                add_rgb(sum, bright);
                continue;
            }
            float weight = static_cast<float>(
                occlusion_weight(distance, frame.near_distance, frame.far_distance));
            // Alpha reports the unshaped occlusion.
            if (instance.occlusion_in_alpha) alpha_sum += weight;

            Color hit_color{0.0f, 0.0f, 0.0f, 0.0f};
            const bool tinted = hit_shader_color(state, instance, &hit_color);
            shape_occlusion(weight, instance);
            const Color blend = mix_colors(bright, dark, weight);
            if (tinted) {
                shape_tint(hit_color, instance);
                add_tinted(sum, blend, hit_color, strength);
            } else {
                // No colour came back: the plain blend, never an earlier hit's colour.
                add_rgb(sum, blend);
            }
        }
    }

    write_tinted_average(result, sum, alpha_sum, frame.cone.index, bright, instance);
}

}  // namespace vosh
