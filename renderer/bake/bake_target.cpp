// Choosing and checking what a bake shades.
#include "renderer/bake/bake.h"
#include "renderer/scene/param_values.h"

namespace vosh::render {

namespace {

// What the shader's block will hold for the integer or boolean parameter.
int32_t block_int(const ShaderDesc& shader, const ShaderDeclaration& decl, const char* name) {
    const ParamDecl* p = decl.find(name);
    return p ? int32_value(decl, shader.params, *p) : 0;
}

// The shader of the object's material.
size_t shader_of(const Scene& scene, uint32_t object) {
    return scene.materials[scene.objects[object].material].shader;
}

bool from_model_file(const ObjectDesc& o) { return o.json_path == "/"; }

std::string where_is(const Scene& scene, const ObjectDesc& o) {
    return from_model_file(o) ? scene.file : scene.file + ": " + o.json_path;
}

// The mesh file, as messages name it.
std::string mesh_file(const Scene& scene, const ObjectDesc& o) {
    return from_model_file(o) ? scene.file + ":"
                              : scene.file + ": " + o.json_path + "/file: \"" + o.file + "\"";
}

}  // namespace

bool find_object(const Scene& scene, const std::string& name, uint32_t& index, std::string& error) {
    for (size_t i = 0; i < scene.objects.size(); ++i)
        if (scene.objects[i].name == name) {
            index = static_cast<uint32_t>(i);
            return true;
        }
    error = scene.file + ": --object " + name + ": no object of the scene has that name";
    return false;
}

bool check_bake_target(const Scene& scene, uint32_t object, int uv_set, std::string& error) {
    const ObjectDesc& o = scene.objects[object];
    if (o.shape != ShapeKind::mesh) {
        error = where_is(scene, o) + ": object \"" + o.name +
                "\" is not a mesh: a bake needs a mesh with a UV layout";
        return false;
    }
    if (o.mesh.uvs.empty()) {
        error = mesh_file(scene, o) + " has no texture coordinates: a bake needs a UV layout";
        return false;
    }
    const size_t sets = 1 + o.mesh.extra_uvs.size();
    if (static_cast<size_t>(uv_set) >= sets) {
        error = mesh_file(scene, o) + " has no UV set " + std::to_string(uv_set) +
                " (it has " + std::to_string(sets) + ", numbered from 0)";
        return false;
    }
    return true;
}

bool bakes_bent_normals(const Scene& scene, const ShaderDeclaration& decl, uint32_t object) {
    const ShaderDesc& s = scene.shaders[shader_of(scene, object)];
    return s.kind == ShaderKind::occlusion && block_int(s, decl, "bent_normals") != 0 &&
           block_int(s, decl, "bent_color_mix") == 0;
}

void ask_for_world_normals(Scene& scene, const ShaderDeclaration& decl, uint32_t object) {
    ShaderDesc* s = &scene.shaders[shader_of(scene, object)];
    const ParamDecl* p = decl.find("output_space");
    if (s->kind != ShaderKind::occlusion || !p) return;
    // Replaces a connection too, which would override the value.
    ParamValue world = value_for(decl, *p);
    world.integer = 1;
    set_param_value(*s, world);
}

}  // namespace vosh::render
