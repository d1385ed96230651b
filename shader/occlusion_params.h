// The parameter block the host lays out from the shader's declaration: the
// layout alone, so a host can build blocks without the module's host calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/abi_types.h"

namespace vosh {

struct OcclusionParams {
    Color bright;
    Color dark;
    HostBool pass_through;
    int32_t sampling;
    HostBool occlusion_in_alpha;
    int32_t near_samples;
    int32_t far_samples;
    float near_threshold;
    float far_threshold;
    int32_t unused_60;
    HostBool adaptive;
    int32_t samples;
    float spread;
    float near_distance;
    float far_distance;
    Vector override_normal;
    Vector bias_direction;
    float light_bias;
    HostBool reflective;
    float gamma;
    float bias;
    float gain;
    int32_t occlusion_mode;
    float color_strength;
    float hue_adjust;
    float saturation_adjust;
    float value_adjust;
    float boost;
    float boost_threshold;
    float boost_power;
    HostBool bent_normals;
    HostBool bent_color_mix;
    int32_t output_space;
    HostBool bent_relative;
    HostBool final_gather;
    HostBool fg_override;
    int32_t fg_rays;
    float fg_largest_radius;
    float fg_smallest_radius;
    HostBool fg_radii_in_pixels;
    int32_t fg_filter;
    HostBool use_light;
    HostBool secondary_bright;
    HostBool ignore_self;
    int32_t unused_216;
    int32_t unused_220;
    Tag light;
};

// Every field in order: name, the type the declaration gives it, offset.
// The checks below hold the list to the record, so it can stand for the
// record where a host or test compares its own layout with the module's.
#define VOSH_OCCLUSION_PARAM_FIELDS(X) \
    X(bright, color, 0) \
    X(dark, color, 16) \
    X(pass_through, boolean, 32) \
    X(sampling, integer, 36) \
    X(occlusion_in_alpha, boolean, 40) \
    X(near_samples, integer, 44) \
    X(far_samples, integer, 48) \
    X(near_threshold, scalar, 52) \
    X(far_threshold, scalar, 56) \
    X(unused_60, unused, 60) \
    X(adaptive, boolean, 64) \
    X(samples, integer, 68) \
    X(spread, scalar, 72) \
    X(near_distance, scalar, 76) \
    X(far_distance, scalar, 80) \
    X(override_normal, vector, 84) \
    X(bias_direction, vector, 96) \
    X(light_bias, scalar, 108) \
    X(reflective, boolean, 112) \
    X(gamma, scalar, 116) \
    X(bias, scalar, 120) \
    X(gain, scalar, 124) \
    X(occlusion_mode, integer, 128) \
    X(color_strength, scalar, 132) \
    X(hue_adjust, scalar, 136) \
    X(saturation_adjust, scalar, 140) \
    X(value_adjust, scalar, 144) \
    X(boost, scalar, 148) \
    X(boost_threshold, scalar, 152) \
    X(boost_power, scalar, 156) \
    X(bent_normals, boolean, 160) \
    X(bent_color_mix, boolean, 164) \
    X(output_space, integer, 168) \
    X(bent_relative, boolean, 172) \
    X(final_gather, boolean, 176) \
    X(fg_override, boolean, 180) \
    X(fg_rays, integer, 184) \
    X(fg_largest_radius, scalar, 188) \
    X(fg_smallest_radius, scalar, 192) \
    X(fg_radii_in_pixels, boolean, 196) \
    X(fg_filter, integer, 200) \
    X(use_light, boolean, 204) \
    X(secondary_bright, boolean, 208) \
    X(ignore_self, boolean, 212) \
    X(unused_216, unused, 216) \
    X(unused_220, unused, 220) \
    X(light, light, 224)

// One field of the list above, for code that walks the record's layout.
struct ParamField {
    const char* name;
    const char* type;  // as in the declaration: "color", "vector", "scalar", ...
    std::size_t offset;
    std::size_t size;
};

inline constexpr ParamField occlusion_param_fields[] = {
#define VOSH_PARAM_FIELD(field, type, offset) \
    {#field, #type, offsetof(OcclusionParams, field), sizeof(OcclusionParams::field)},
    VOSH_OCCLUSION_PARAM_FIELDS(VOSH_PARAM_FIELD)
#undef VOSH_PARAM_FIELD
};

// Each field starting where the one before ends, the last ending at the
// record's end: nothing left out of the list, nothing out of order.
constexpr bool param_fields_tile_the_record() {
    std::size_t next = 0;
    for (const ParamField& f : occlusion_param_fields) {
        if (f.offset != next) return false;
        next = f.offset + f.size;
    }
    return next == sizeof(OcclusionParams);
}

// The C type of each declared type (booleans, integers and reserved slots
// share one, so only the width and signedness are held to the type).
#define VOSH_PARAM_CTYPE_color Color
#define VOSH_PARAM_CTYPE_vector Vector
#define VOSH_PARAM_CTYPE_scalar float
#define VOSH_PARAM_CTYPE_integer int32_t
#define VOSH_PARAM_CTYPE_boolean HostBool
#define VOSH_PARAM_CTYPE_light Tag
#define VOSH_PARAM_CTYPE_unused int32_t
#define VOSH_PARAM_AT(field, type, offset)                                         \
    static_assert(offsetof(OcclusionParams, field) == (offset), #field " offset"); \
    static_assert(std::is_same<decltype(OcclusionParams::field),                  \
                               VOSH_PARAM_CTYPE_##type>::value,                   \
                  #field " is " #type);
VOSH_OCCLUSION_PARAM_FIELDS(VOSH_PARAM_AT)
#undef VOSH_PARAM_AT
#undef VOSH_PARAM_CTYPE_color
#undef VOSH_PARAM_CTYPE_vector
#undef VOSH_PARAM_CTYPE_scalar
#undef VOSH_PARAM_CTYPE_integer
#undef VOSH_PARAM_CTYPE_boolean
#undef VOSH_PARAM_CTYPE_light
#undef VOSH_PARAM_CTYPE_unused
static_assert(param_fields_tile_the_record(), "the field list covers the record in order");
static_assert(sizeof(OcclusionParams) == 228, "the module reads exactly 228 bytes");

}  // namespace vosh
