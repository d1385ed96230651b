// The parameter block the host lays out from the shader's declaration: the
// layout alone, so a host can build blocks without the module's host calls.
#pragma once

#include <cstddef>
#include <cstdint>

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

#define VOSH_PARAM_AT(field, offset) \
    static_assert(offsetof(OcclusionParams, field) == (offset), #field " offset")
VOSH_PARAM_AT(bright, 0);
VOSH_PARAM_AT(dark, 16);
VOSH_PARAM_AT(pass_through, 32);
VOSH_PARAM_AT(sampling, 36);
VOSH_PARAM_AT(occlusion_in_alpha, 40);
VOSH_PARAM_AT(near_samples, 44);
VOSH_PARAM_AT(far_samples, 48);
VOSH_PARAM_AT(near_threshold, 52);
VOSH_PARAM_AT(far_threshold, 56);
VOSH_PARAM_AT(unused_60, 60);
VOSH_PARAM_AT(adaptive, 64);
VOSH_PARAM_AT(samples, 68);
VOSH_PARAM_AT(spread, 72);
VOSH_PARAM_AT(near_distance, 76);
VOSH_PARAM_AT(far_distance, 80);
VOSH_PARAM_AT(override_normal, 84);
VOSH_PARAM_AT(bias_direction, 96);
VOSH_PARAM_AT(light_bias, 108);
VOSH_PARAM_AT(reflective, 112);
VOSH_PARAM_AT(gamma, 116);
VOSH_PARAM_AT(bias, 120);
VOSH_PARAM_AT(gain, 124);
VOSH_PARAM_AT(occlusion_mode, 128);
VOSH_PARAM_AT(color_strength, 132);
VOSH_PARAM_AT(hue_adjust, 136);
VOSH_PARAM_AT(saturation_adjust, 140);
VOSH_PARAM_AT(value_adjust, 144);
VOSH_PARAM_AT(boost, 148);
VOSH_PARAM_AT(boost_threshold, 152);
VOSH_PARAM_AT(boost_power, 156);
VOSH_PARAM_AT(bent_normals, 160);
VOSH_PARAM_AT(bent_color_mix, 164);
VOSH_PARAM_AT(output_space, 168);
VOSH_PARAM_AT(bent_relative, 172);
VOSH_PARAM_AT(final_gather, 176);
VOSH_PARAM_AT(fg_override, 180);
VOSH_PARAM_AT(fg_rays, 184);
VOSH_PARAM_AT(fg_largest_radius, 188);
VOSH_PARAM_AT(fg_smallest_radius, 192);
VOSH_PARAM_AT(fg_radii_in_pixels, 196);
VOSH_PARAM_AT(fg_filter, 200);
VOSH_PARAM_AT(use_light, 204);
VOSH_PARAM_AT(secondary_bright, 208);
VOSH_PARAM_AT(ignore_self, 212);
VOSH_PARAM_AT(unused_216, 216);
VOSH_PARAM_AT(unused_220, 220);
VOSH_PARAM_AT(light, 224);
#undef VOSH_PARAM_AT
static_assert(sizeof(OcclusionParams) == 228, "the module reads exactly 228 bytes");

}  // namespace vosh
