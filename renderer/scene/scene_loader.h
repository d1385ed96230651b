// Reads a scene file (see docs/scene-format.md) into a Scene, checking
// everything a render relies on, and applies `--set` overrides.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

// Limits that keep a typo from turning into a render that never ends.
constexpr int max_resolution = 16384;
constexpr long long max_pixels = 8192LL * 8192LL;
constexpr int max_samples_per_pixel = 65536;
// Every point of the scene lies within this distance of the origin along
// each axis, so rays always start where the ray tracer accepts them.
constexpr double max_scene_coordinate = 1e12;
// The same for a transformed sphere or disk, which is traced in its own
// space: the scene carried there must stay within this.
constexpr double max_object_space_coordinate = 1e16;

// On failure `error` is one line: "<file>: <json path>: <problem>".
bool load_scene(const std::string& path, const ShaderDeclaration& decl, Scene& out,
                std::string& error);

// Same, from the file's text; `file` names it in messages and `base_dir`
// anchors relative paths (meshes, environment images).
bool parse_scene_text(const std::string& text, const std::string& file, const std::string& base_dir,
                      const ShaderDeclaration& decl, Scene& out, std::string& error);

// Same, from an already parsed document; `file` names it in messages and
// `base_dir` anchors relative paths (meshes, environment images).
bool parse_scene(const nlohmann::json& doc, const std::string& file, const std::string& base_dir,
                 const ShaderDeclaration& decl, Scene& out, std::string& error);

// Applies "NAME=VALUE" to every occlusion shader of the scene; a connection
// on that parameter is replaced by the value.
bool apply_overrides(const std::vector<std::string>& assignments, const ShaderDeclaration& decl,
                     Scene& scene, std::string& error);

}  // namespace vosh::render
