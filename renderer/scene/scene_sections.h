// The readers of a scene file's sections, which the entry in
// scene_loader.cpp calls in order, and the checks they share. Each reader
// fails with "<json path>: <problem>" in `error`; the entry adds the file.
#pragma once

#include <map>
#include <string>

#include "renderer/scene/json_fields.h"
#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

// A light's, shader's or material's name to its index in the scene.
using NameIndex = std::map<std::string, size_t>;

// `file` from the scene's folder unless it is absolute.
std::string resolve_path(const std::string& base_dir, const std::string& file);
std::string show_number(double v);
// Refuses a point the ray tracer could not start rays from.
bool within_scene(Vec3 p, const std::string& path, std::string& error);

// scene_sections.cpp: the settings around the objects.
bool parse_options(const json& doc, Scene& scene, std::string& error);
// A scene that is only baked may leave the camera out; `present` says.
bool parse_camera(const json& doc, CameraDesc& cam, bool& present, std::string& error);
bool parse_environment(const json& doc, const std::string& base_dir, EnvironmentDesc& env,
                       std::string& error);
bool parse_lights(const json& doc, Scene& scene, std::string& error);

// scene_shaders.cpp: shaders with their parameter blocks and connections
// (light names resolve against the lights already read), and the materials
// that name them.
bool parse_shaders(const json& doc, const ShaderDeclaration& decl, Scene& scene, NameIndex& names,
                   std::string& error);
bool parse_materials(const json& doc, const NameIndex& shader_names, Scene& scene,
                     NameIndex& names, std::string& error);

// scene_objects.cpp: shapes, meshes, transforms, and how far they reach.
bool parse_objects(const json& doc, const NameIndex& material_names, Scene& scene,
                   std::string& error);
// Run once the camera and every object are read.
bool check_object_spaces(const Scene& scene, std::string& error);

}  // namespace vosh::render
