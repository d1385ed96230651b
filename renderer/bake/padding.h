// Gutters around the islands of a baked texture: bilinear filtering and
// mip-mapping read texels beside an island, so those take the island's
// values instead of the background.
#pragma once

#include <cstdint>
#include <vector>

#include "host/render_state.h"
#include "renderer/image/image_io.h"

namespace vosh::render {

// Every texel with `covered` 0 takes the value of its nearest covered texel
// (Euclidean distance between texel centres) when that lies within
// `padding` texels, else `background`. A gutter texel so copies one texel
// of the island it is nearest to, never a blend of two islands.
void pad_texture(Image& image, const std::vector<uint8_t>& covered, int padding, Color background);

}  // namespace vosh::render
