// Per-instance record built once by init and only read while shading. Plain
// values only, so the pure sampling maths can take it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/abi_types.h"
#include "host/gather_settings.h"

namespace vosh {

struct OcclusionInstance {
    HostBool pass_through;
    int32_t sampling;
    int32_t near_samples;
    int32_t far_samples;
    float near_threshold;
    float far_threshold;
    int32_t reserved_24;  // unused; keeps the record's layout
    HostBool adaptive;
    int32_t samples;
    float spread_fraction;
    float light_bias;
    HostBool reflective;
    float gamma;
    float bias;
    float gain;
    int32_t occlusion_mode;
    float hue_factor;
    float saturation_factor;
    float value_factor;
    float boost;
    float boost_threshold;
    float boost_power;
    HostBool occlusion_in_alpha;
    HostBool bent_normals;
    int32_t output_space;
    HostBool bent_relative;
    HostBool final_gather;
    HostBool bent_color_mix;
    float color_strength;
    // 8-byte aligned as on 32-bit Windows; 32-bit Linux would align it to 4
    // and shift every later field.
    alignas(8) double far_distance;
    double near_distance;
    GatherSettings gather_settings;
    Vector light_position;
    Tag light_tag;
    int32_t light_mode;  // -1 none, 0 at light_position, 1 traced per call
    HostBool secondary_bright;
    HostBool ignore_self;
};

static_assert(sizeof(OcclusionInstance) == 200, "instance record is 200 bytes");
static_assert(offsetof(OcclusionInstance, far_distance) == 120, "layout");
static_assert(offsetof(OcclusionInstance, gather_settings) == 136, "layout");
static_assert(offsetof(OcclusionInstance, ignore_self) == 196, "layout");

namespace light_mode {
constexpr int32_t none = -1;
constexpr int32_t position = 0;
constexpr int32_t traced = 1;
}  // namespace light_mode

}  // namespace vosh
