// Version, init and exit: the per-instance record is built once here so that
// shading calls read plain fields and make no host calls for them.
#include "shader/occlusion_instance.h"

#include <cstring>
#include <utility>

#include "host/host_interface.h"
#include "shader/entry_points.h"
#include "shader/occlusion_params.h"
#include "shader/read_param.h"

namespace vosh {
namespace {

constexpr float one_over_180 = 0.0055555557f;
// The light instance's local-to-world matrix sits this far into its record.
constexpr std::size_t light_matrix_offset = 72;

// Address of the host's pointer-sized user slot for the running instance.
void** user_slot(RenderState* state) {
    void** slot = nullptr;
    mi_query(query_code::user_slot, state, 0, &slot);
    return slot;
}

void build_gather_settings(OcclusionInstance& instance, RenderState* state,
                           OcclusionParams* params) {
    RenderOptions& options = *state->render_options;
    // Shared by the whole render, not only this instance.
    options.gather_falloff_start = static_cast<float>(instance.near_distance);
    options.gather_falloff_stop = static_cast<float>(instance.far_distance);

    GatherSettings& gather = instance.gather_settings;
    gather.size = sizeof(GatherSettings);
    gather.ray_count = options.gather_ray_count;
    gather.largest_radius = options.gather_largest_radius;
    gather.smallest_radius = options.gather_smallest_radius;
    gather.radii_in_pixels = options.gather_radii_in_pixels;
    gather.filter = options.gather_filter;
    gather.gi_photon_count = options.gi_photon_count;
    gather.gi_photon_radius = options.gi_photon_radius;
    gather.caustic_photon_count = options.caustic_photon_count;
    gather.caustic_photon_radius = options.caustic_photon_radius;

    if (read_param(state, params->fg_override)) {
        gather.ray_count = read_param(state, params->fg_rays);
        gather.largest_radius = read_param(state, params->fg_largest_radius);
        gather.smallest_radius = read_param(state, params->fg_smallest_radius);
        gather.radii_in_pixels = static_cast<uint8_t>(read_param(state, params->fg_radii_in_pixels));
        gather.filter = static_cast<uint8_t>(read_param(state, params->fg_filter));
    }
}

// A positional light is carried to world space once, from its local origin.
void place_light(OcclusionInstance& instance) {
    const auto* record = static_cast<const unsigned char*>(mi_db_access(instance.light_tag));
    const Vector local_origin{0.0f, 0.0f, 0.0f};
    // A host that has no record for the tag leaves the light at the world
    // origin rather than handing its transform a pointer into nothing.
    if (record) {
        mi_point_transform(&instance.light_position, &local_origin,
                           reinterpret_cast<const float*>(record + light_matrix_offset));
    }
    mi_db_unpin(instance.light_tag);
}

void select_light(OcclusionInstance& instance) {
    Tag item = 0;
    mi_query(query_code::instance_item, nullptr, instance.light_tag, &item);
    int32_t kind = 0;
    mi_query(query_code::light_kind, nullptr, item, &kind);
    if (kind != 0) {
        instance.light_mode = light_mode::traced;
    } else {
        instance.light_mode = light_mode::position;
        place_light(instance);
    }
}

}  // namespace
}  // namespace vosh

using namespace vosh;

VOSH_EXPORT int32_t vosh_occlusion_version(void) { return 1; }

VOSH_EXPORT int32_t vosh_occlusion_init(RenderState* state, OcclusionParams* params,
                                        HostBool* init_required) {
    if (!params) {
        // Ask the host for one more call per instance.
        *init_required = 1;
        return 1;
    }

    auto* instance = static_cast<OcclusionInstance*>(
        mi_mem_int_allocate(__FILE__, __LINE__, sizeof(OcclusionInstance)));
    std::memset(instance, 0, sizeof *instance);
    if (void** slot = user_slot(state)) *slot = instance;

    OcclusionInstance& record = *instance;
    record.pass_through = read_param(state, params->pass_through);
    if (record.pass_through) return 1;

    record.sampling = state->render_options->depth_setting >= 2 ? read_param(state, params->sampling) : 1;
    record.occlusion_in_alpha = read_param(state, params->occlusion_in_alpha);
    record.near_samples = read_param(state, params->near_samples);
    record.far_samples = read_param(state, params->far_samples);
    record.adaptive = read_param(state, params->adaptive);
    record.samples = read_param(state, params->samples);

    record.far_distance = read_param(state, params->far_distance);
    record.near_distance = read_param(state, params->near_distance);
    if (record.near_distance > record.far_distance) std::swap(record.near_distance, record.far_distance);

    record.near_threshold = read_param(state, params->near_threshold);
    record.far_threshold = read_param(state, params->far_threshold);
    // Each sample count stays with its distance.
    if (record.far_threshold < record.near_threshold) {
        std::swap(record.near_threshold, record.far_threshold);
        std::swap(record.near_samples, record.far_samples);
    }

    record.light_bias = read_param(state, params->light_bias);
    record.reflective = read_param(state, params->reflective);
    record.spread_fraction = read_param(state, params->spread) * one_over_180;

    record.gamma = read_param(state, params->gamma);
    record.bias = read_param(state, params->bias);
    record.gain = read_param(state, params->gain);
    record.occlusion_mode = read_param(state, params->occlusion_mode);
    record.color_strength = read_param(state, params->color_strength);

    record.hue_factor = read_param(state, params->hue_adjust) + 1.0f;
    record.saturation_factor = read_param(state, params->saturation_adjust) + 1.0f;
    record.value_factor = read_param(state, params->value_adjust) + 1.0f;

    record.boost = read_param(state, params->boost);
    record.boost_threshold = read_param(state, params->boost_threshold);
    record.boost_power = read_param(state, params->boost_power);
    record.bent_normals = read_param(state, params->bent_normals);
    record.output_space = read_param(state, params->output_space);
    record.bent_color_mix = read_param(state, params->bent_color_mix);
    record.bent_relative = read_param(state, params->bent_relative);
    record.final_gather = read_param(state, params->final_gather);

    // A NaN far distance counts as set.
    if (record.final_gather && record.far_distance != 0.0) build_gather_settings(record, state, params);

    record.secondary_bright = read_param(state, params->secondary_bright);
    record.light_mode = light_mode::none;

    if (read_param(state, params->use_light)) {
        record.light_tag = read_param(state, params->light);
        if (record.light_tag == 0) {
            // Not fatal: the instance shades without a light.
            mi_warning("vosh.occlusion->no light selected ");
            return 1;
        }
        select_light(record);
    }

    record.ignore_self = read_param(state, params->ignore_self);
    return 1;
}

VOSH_EXPORT void vosh_occlusion_exit(RenderState* state, OcclusionParams* params) {
    if (!params) return;
    void** slot = user_slot(state);
    if (!slot || !*slot) return;
    mi_mem_int_release(__FILE__, __LINE__, *slot);
    // A shading call that still arrives must not find a freed record.
    *slot = nullptr;
}
