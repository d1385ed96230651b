// Tinting shared by the environment-tint and colour-bleeding modes.
#pragma once

#include "host/render_state.h"
#include "shader/occlusion_instance.h"

namespace vosh {

// Luminance boost, then HSV adjustment, each skipped at its neutral setting.
void shape_tint(Color& tint, const OcclusionInstance& instance);

// Adds blend + strength * (blend * tint - blend) to r, g, b of `sum`.
void add_tinted(Color& sum, const Color& blend, const Color& tint, float strength);

// Adds r, g, b of `color` to `sum`.
void add_rgb(Color& sum, const Color& color);

}  // namespace vosh
