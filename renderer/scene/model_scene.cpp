#include "renderer/scene/model_scene.h"

#include "renderer/scene/mesh_loader.h"
#include "renderer/scene/scene_loader.h"

namespace vosh::render {

namespace {

std::string stem_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name.empty() ? "model" : name;
}

// The file's meshes as one object of material 0.
bool model_object(const std::string& path, ObjectDesc& object, std::string& error) {
    object.shape = ShapeKind::mesh;
    object.name = stem_of(path);
    object.file = path;
    object.json_path = "/";
    object.label = 1;
    std::string problem;
    if (!load_mesh(path, object.mesh, problem)) {
        error = path + ": " + problem;
        return false;
    }
    for (const Vec3& p : object.mesh.positions)
        if (!(max_abs_component(p) <= max_scene_coordinate)) {
            error = path + ": a vertex lies beyond " + std::to_string(max_scene_coordinate) +
                    " from the origin";
            return false;
        }
    return true;
}

}  // namespace

// The shader gives no values, so the declaration's defaults apply when the
// session lays out its block; the declaration itself is not needed here.
bool scene_from_model(const std::string& path, const ShaderDeclaration& /*decl*/, Scene& out,
                      std::string& error) {
    Scene scene;
    scene.file = path;
    const size_t slash = path.find_last_of('/');
    scene.base_dir = slash == std::string::npos ? "." : path.substr(0, slash);
    scene.has_camera = false;
    ObjectDesc object;
    if (!model_object(path, object, error)) return false;
    ShaderDesc shader;
    shader.name = "occlusion";
    shader.kind = ShaderKind::occlusion;
    shader.json_path = "/";
    scene.shaders.push_back(std::move(shader));
    scene.materials.push_back({"occlusion", 0, 1.0f});
    scene.objects.push_back(std::move(object));
    out = std::move(scene);
    return true;
}

bool append_model(const std::string& path, BakeRole role, Scene& scene, std::string& error) {
    ObjectDesc object;
    if (!model_object(path, object, error)) return false;
    object.bake_role = role;
    object.label = static_cast<uint32_t>(scene.objects.size() + 1);
    scene.objects.push_back(std::move(object));
    return true;
}

}  // namespace vosh::render
