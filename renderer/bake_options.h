// The bake command's option values: parsed and checked one by one, each
// refusal one line naming the option.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "renderer/bake/bake.h"

namespace vosh::render {

// --size: W or WxH, each side in [1, max_bake_size].
bool parse_size(const std::string& text, int& width, int& height, std::string& error);
// --background: r,g,b,a or r,g,b (alpha 1), finite numbers.
bool parse_background(const std::string& text, Color& c, std::string& error);
// --front, --back: a finite distance, 0 or more, within the scene's reach.
bool parse_distance(const std::string& option, const std::string& text, double& out, std::string& error);
// --maps: ao, bent and normal, comma-separated, each at most once.
bool parse_maps(const std::string& text, std::vector<BakeMap>& maps, std::string& error);

const char* map_name(BakeMap map);

// The scene object a --from or --cage names.
bool scene_object(const Scene& scene, const std::string& option, const std::string& name, uint32_t& index,
                  std::string& error);

// The file of one map: {map} in the name stands for the map's.
std::string map_file(const std::string& output, BakeMap map);

// Texels that found no high-poly surface white, the others black.
Image miss_mask_image(const std::vector<uint8_t>& missed, int width, int height);

}  // namespace vosh::render
