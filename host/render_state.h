// Records the host renderer shares with the module. A host builds these; the
// module only reads and writes the fields named here. A host may append
// private fields after them, or embed a record as the first member of its own.
#pragma once

#include <cstdint>

#include "host/abi_types.h"

namespace vosh {

struct RenderOptions {
    HostBool ray_tracing_enabled;
    int32_t depth_setting;
    int32_t caustic_photon_count;
    float caustic_photon_radius;
    int32_t gi_photon_count;
    float gi_photon_radius;
    uint8_t gather_filter;
    char facing_default;  // 'f', 'b' or 'a'
    uint8_t gather_radii_in_pixels;
    float gather_falloff_start;
    float gather_falloff_stop;
    int32_t gather_ray_count;
    float gather_largest_radius;
    float gather_smallest_radius;
};

struct CameraRecord {
    int32_t image_width;
    int32_t image_height;
};

struct ShaderRecord {
    // Bytes from any parameter of the running instance to its connection
    // marker; 0 when no parameter is connected.
    int32_t connection_offset;
};

struct RenderState {
    CameraRecord* camera_record;
    RenderOptions* render_options;
    RenderState* parent_state;  // null at the eye ray
    int32_t ray_kind;
    char facing_mode;  // 'f', 'b' or 'a'
    Vector ray_direction;
    double ray_length;
    float outgoing_ior;
    float incoming_ior;
    Tag material_tag;
    Tag volume_tag;
    Tag refraction_volume_tag;
    uint32_t object_label;
    void* origin_primitive;
    Vector hit_point;
    Vector shading_normal;
    float normal_dot_direction;
    void* texture_coord_list;
    ShaderRecord* active_shader;
    RenderState* child_state;  // valid only after a probe hit
    void* host_data;           // host-private; the module never touches it
};

// Ray-kind codes the module tests. Where the host has a run of related
// kinds, only its first and last are named.
namespace ray_kind {
constexpr int32_t eye = 0;
constexpr int32_t transparent = 1;
constexpr int32_t reflection = 2;
constexpr int32_t refraction = 3;
constexpr int32_t shadow = 5;
constexpr int32_t photon_first = 8;  // photon kinds run up to 12
constexpr int32_t photon_transmit_specular = 13;
constexpr int32_t photon_transmit_glossy = 14;
constexpr int32_t photon_transmit_diffuse = 15;
constexpr int32_t photon_further_first = 18;
constexpr int32_t photon_further_last = 19;
constexpr int32_t final_gather = 20;
constexpr int32_t photon_emit_first = 23;
constexpr int32_t photon_emit_last = 24;
constexpr int32_t host_secondary = 27;  // one further kind the host counts as secondary
}  // namespace ray_kind

// mi_query codes the module uses.
namespace query_code {
constexpr int32_t instance_item = 7;
constexpr int32_t light_kind = 23;  // answer 0: positional light
constexpr int32_t user_slot = 51;
}  // namespace query_code

}  // namespace vosh
