#include "occlusion/tint_math.h"

#include "shading_math/color_adjust.h"

namespace vosh {

namespace {

// Each step rounded to single precision, written out so nothing is fused.
float tinted_channel(float blend, float tint, float strength) {
    const float tinted = blend * tint;
    const float difference = tinted - blend;
    const float step = strength * difference;
    return blend + step;
}

}  // namespace

void shape_tint(Color& tint, const OcclusionInstance& instance) {
    if (instance.boost != 1.0f) {
        luminance_boost(tint, instance.boost, instance.boost_threshold, instance.boost_power);
    }
    if (instance.hue_factor != 1.0f || instance.saturation_factor != 1.0f ||
        instance.value_factor != 1.0f) {
        hsv_adjust(tint, instance.hue_factor, instance.saturation_factor, instance.value_factor);
    }
}

void add_tinted(Color& sum, const Color& blend, const Color& tint, float strength) {
    sum.r += tinted_channel(blend.r, tint.r, strength);
    sum.g += tinted_channel(blend.g, tint.g, strength);
    sum.b += tinted_channel(blend.b, tint.b, strength);
}

void add_rgb(Color& sum, const Color& color) {
    sum.r += color.r;
    sum.g += color.g;
    sum.b += color.b;
}

}  // namespace vosh
