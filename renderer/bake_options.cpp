#include "renderer/bake_options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "renderer/scene/scene_limits.h"

namespace vosh::render {

bool parse_size(const std::string& text, int& width, int& height, std::string& error) {
    const size_t x = text.find_first_of("xX");
    const std::string parts[2] = {text.substr(0, x), x == std::string::npos ? text : text.substr(x + 1)};
    long long v[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        size_t used = 0;
        try {
            v[i] = std::stoll(parts[i], &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != parts[i].size() || parts[i][0] == '+' || parts[i][0] == '-') {
            error = "--size " + text + ": expected W or WxH (whole texel counts)";
            return false;
        }
    }
    if (v[0] < 1 || v[1] < 1 || v[0] > max_bake_size || v[1] > max_bake_size) {
        error = "--size " + text + ": each side must lie in [1, " + std::to_string(max_bake_size) + "]";
        return false;
    }
    width = static_cast<int>(v[0]);
    height = static_cast<int>(v[1]);
    return true;
}

bool parse_background(const std::string& text, Color& c, std::string& error) {
    std::vector<float> v;
    std::stringstream in(text);
    std::string part;
    bool ok = true;
    while (ok && std::getline(in, part, ',')) {
        size_t used = 0;
        double value = 0;
        try {
            value = std::stod(part, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        ok = used > 0 && used == part.size() && std::isfinite(value) && std::fabs(value) < 1e30;
        v.push_back(static_cast<float>(value));
    }
    if (!ok || (v.size() != 3 && v.size() != 4)) {
        error = "--background " + text + ": expected r,g,b,a (or r,g,b with alpha 1), finite numbers";
        return false;
    }
    c = {v[0], v[1], v[2], v.size() == 4 ? v[3] : 1.0f};
    return true;
}

// A projection distance: finite, 0 or more, within the scene's reach.
bool parse_distance(const std::string& option, const std::string& text, double& out, std::string& error) {
    size_t used = 0;
    double v = 0;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(v)) {
        error = option + " " + text + ": expected a finite distance in scene units";
        return false;
    }
    if (v < 0 || v > max_scene_coordinate) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g", max_scene_coordinate);
        error = option + " " + text + ": must lie in [0, " + limit + "]";
        return false;
    }
    out = v;
    return true;
}

const char* map_name(BakeMap map) {
    return map == BakeMap::ao ? "ao" : map == BakeMap::bent ? "bent" : "normal";
}

bool parse_maps(const std::string& text, std::vector<BakeMap>& maps, std::string& error) {
    std::stringstream in(text);
    std::string part;
    maps.clear();
    while (std::getline(in, part, ',')) {
        BakeMap map{};
        if (part == "ao")
            map = BakeMap::ao;
        else if (part == "bent")
            map = BakeMap::bent;
        else if (part == "normal")
            map = BakeMap::normal;
        else {
            error = "--maps " + text + ": expected a comma-separated list of ao, bent and normal";
            return false;
        }
        if (std::find(maps.begin(), maps.end(), map) != maps.end()) {
            error = "--maps " + text + ": " + part + " is named twice";
            return false;
        }
        maps.push_back(map);
    }
    if (maps.empty()) {
        error = "--maps " + text + ": expected a comma-separated list of ao, bent and normal";
        return false;
    }
    return true;
}

// The scene object a --from or --cage names.
bool scene_object(const Scene& scene, const std::string& option, const std::string& name, uint32_t& index,
                  std::string& error) {
    for (size_t i = 0; i < scene.objects.size(); ++i)
        if (scene.objects[i].name == name) {
            index = static_cast<uint32_t>(i);
            return true;
        }
    error = scene.file + ": " + option + " " + name + ": no object of the scene has that name";
    return false;
}

// The file of one map: {map} in the name stands for the map's.
std::string map_file(const std::string& output, BakeMap map) {
    std::string name = output;
    for (size_t at = name.find("{map}"); at != std::string::npos; at = name.find("{map}", at))
        name.replace(at, 5, map_name(map));
    return name;
}

// Texels that found no high-poly surface white, the others black.
Image miss_mask_image(const std::vector<uint8_t>& missed, int width, int height) {
    Image mask;
    mask.width = width;
    mask.height = height;
    mask.rgba.assign(missed.size() * 4, 1.0f);
    for (size_t i = 0; i < missed.size(); ++i)
        if (!missed[i]) std::fill(&mask.rgba[i * 4], &mask.rgba[i * 4 + 3], 0.0f);
    return mask;
}

}  // namespace vosh::render
