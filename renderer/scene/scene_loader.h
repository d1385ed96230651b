// Reads a scene file (see docs/scene-format.md) into a Scene, checking
// everything a render relies on, and applies `--set` overrides.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "renderer/scene/scene.h"
#include "renderer/scene/scene_limits.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

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
