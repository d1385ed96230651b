// Tinting shared by the environment-tint and colour-bleeding modes. Inline:
// it runs once per probe ray.
#pragma once

#include <cstdint>

#include "host/abi_types.h"
#include "occlusion/sample_math.h"
#include "shader/occlusion_instance.h"
#include "shading_math/color_adjust.h"

namespace vosh {

// Luminance boost, then HSV adjustment, each skipped at its neutral setting.
inline void shape_tint(Color& tint, const OcclusionInstance& instance) {
    if (instance.boost != 1.0f) {
        luminance_boost(tint, instance.boost, instance.boost_threshold, instance.boost_power);
    }
    if (instance.hue_factor != 1.0f || instance.saturation_factor != 1.0f ||
        instance.value_factor != 1.0f) {
        hsv_adjust(tint, instance.hue_factor, instance.saturation_factor, instance.value_factor);
    }
}

// blend + strength * (blend * tint - blend), each step rounded to single
// precision, written out so nothing is fused.
inline float tinted_channel(float blend, float tint, float strength) {
    const float tinted = blend * tint;
    const float difference = tinted - blend;
    const float step = strength * difference;
    return blend + step;
}

// Adds blend + strength * (blend * tint - blend) to r, g, b of `sum`.
inline void add_tinted(Color& sum, const Color& blend, const Color& tint, float strength) {
    sum.r += tinted_channel(blend.r, tint.r, strength);
    sum.g += tinted_channel(blend.g, tint.g, strength);
    sum.b += tinted_channel(blend.b, tint.b, strength);
}

// Adds r, g, b of `color` to `sum`.
inline void add_rgb(Color& sum, const Color& color) {
    sum.r += color.r;
    sum.g += color.g;
    sum.b += color.b;
}

// The result of a tinting mode: the average contribution over the directions
// taken. With none taken the point counts as unoccluded and untinted.
inline void write_tinted_average(Color* result, const Color& sum, float alpha_sum, int32_t taken,
                                 const Color& bright, const OcclusionInstance& instance) {
    if (taken <= 0) {
        set_rgb(result, bright);
        result->a = instance.occlusion_in_alpha ? 0.0f : 1.0f;
        return;
    }
    const float n = static_cast<float>(taken);
    result->r = sum.r / n;
    result->g = sum.g / n;
    result->b = sum.b / n;
    result->a = instance.occlusion_in_alpha ? alpha_sum / n : 1.0f;
}

}  // namespace vosh
