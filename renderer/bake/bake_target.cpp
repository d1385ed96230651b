// Choosing and checking what a bake shades.
#include <cstring>

#include "renderer/bake/bake.h"

namespace vosh::render {

namespace {

int32_t block_int(const ShaderDesc& shader, const ShaderDeclaration& decl, const char* name) {
    const ParamDecl* p = decl.find(name);
    int32_t value = 0;
    if (p && p->offset + sizeof value <= shader.block.size())
        std::memcpy(&value, shader.block.data() + p->offset, sizeof value);
    return value;
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
    const int32_t world = 1;
    std::memcpy(s->block.data() + p->offset, &world, sizeof world);
    // A connection would override the value in the block.
    for (auto c = s->connections.begin(); c != s->connections.end();)
        c = c->offset == p->offset ? s->connections.erase(c) : c + 1;
}

}  // namespace vosh::render
