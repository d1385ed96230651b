#include "renderer/scene/scene_loader.h"


#include "renderer/scene/json_document.h"
#include "renderer/scene/json_fields.h"
#include "renderer/scene/scene_sections.h"

namespace vosh::render {

bool parse_scene(const json& doc, const std::string& file, const std::string& base_dir,
                 const ShaderDeclaration& decl, Scene& out, std::string& error) {
    Scene scene;
    scene.file = file;
    scene.base_dir = base_dir;
    NameIndex shaders, materials;
    std::string problem;
    const bool ok =
        expect_object(doc, "", problem) &&
        only_keys(doc, "",
                  {"camera", "environment", "options", "lights", "shaders", "materials", "objects"},
                  problem) &&
        parse_options(doc, scene, problem) && parse_camera(doc, scene.camera, scene.has_camera, problem) &&
        parse_environment(doc, base_dir, scene.environment, problem) &&
        parse_lights(doc, scene, problem) && parse_shaders(doc, decl, scene, shaders, problem) &&
        parse_materials(doc, shaders, scene, materials, problem) &&
        parse_objects(doc, materials, scene, problem) && check_object_spaces(scene, problem);
    if (!ok) {
        error = file + ": " + problem;
        return false;
    }
    out = std::move(scene);
    return true;
}

bool parse_scene_text(const std::string& text, const std::string& file, const std::string& base_dir,
                      const ShaderDeclaration& decl, Scene& out, std::string& error) {
    json doc;
    if (!parse_json_document(text, file, doc, error)) return false;
    return parse_scene(doc, file, base_dir, decl, out, error);
}

bool load_scene(const std::string& path, const ShaderDeclaration& decl, Scene& out,
                std::string& error) {
    std::string text;
    if (!read_json_text(path, text, error)) return false;
    const size_t slash = path.find_last_of('/');
    const std::string base_dir = slash == std::string::npos ? "" : path.substr(0, slash);
    return parse_scene_text(text, path, base_dir, decl, out, error);
}

}  // namespace vosh::render
