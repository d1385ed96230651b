// Final-gather settings record handed to the host's average-radiance
// operation. Every byte is part of the contract with the host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vosh {

struct GatherSettings {
    int32_t size;  // 36 when built, 0 when not
    int32_t ray_count;
    float largest_radius;
    float smallest_radius;
    uint8_t radii_in_pixels;
    uint8_t filter;
    uint8_t reserved[2];
    int32_t gi_photon_count;
    float gi_photon_radius;
    int32_t caustic_photon_count;
    float caustic_photon_radius;
};

static_assert(sizeof(GatherSettings) == 36, "GatherSettings is 36 bytes");
static_assert(offsetof(GatherSettings, radii_in_pixels) == 16, "layout");
static_assert(offsetof(GatherSettings, filter) == 17, "layout");
static_assert(offsetof(GatherSettings, gi_photon_count) == 20, "layout");
static_assert(offsetof(GatherSettings, caustic_photon_radius) == 32, "layout");

}  // namespace vosh
