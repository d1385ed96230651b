// Choosing and checking what a bake shades.
#include "renderer/bake/bake.h"
#include "renderer/bake/projection.h"
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

// Sets the integer or boolean parameter `name` of an occlusion shader
// (replacing a connection, which would override the value).
void set_int(ShaderDesc& s, const ShaderDeclaration& decl, const char* name, int32_t value) {
    const ParamDecl* p = decl.find(name);
    if (s.kind != ShaderKind::occlusion || !p) return;
    ParamValue v = value_for(decl, *p);
    v.integer = value;
    set_param_value(s, v);
}

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
    set_int(scene.shaders[shader_of(scene, object)], decl, "output_space", 1);
}

BakeMap shader_map(const Scene& scene, const ShaderDeclaration& decl, uint32_t object, bool from_sources) {
    for (size_t i = 0; i < scene.objects.size(); ++i) {
        const bool asked = from_sources ? scene.objects[i].bake_role == BakeRole::source : i == object;
        if (asked && bakes_bent_normals(scene, decl, static_cast<uint32_t>(i))) return BakeMap::bent;
    }
    return BakeMap::ao;
}

bool prepare_projection(Scene& scene, const ShaderDeclaration& decl, BakeSettings& settings,
                        std::string& error) {
    ProjectionReach& reach = settings.reach;
    if (!check_projection(scene, settings.object, reach.cage, error)) return false;
    scene.objects[settings.object].bake_role = BakeRole::target;
    if (reach.cage != no_object) scene.objects[reach.cage].bake_role = BakeRole::cage;
    const double by_default = default_reach(scene);
    if (reach.front < 0) reach.front = by_default;
    if (reach.back < 0) reach.back = by_default;
    if (settings.maps.empty()) settings.maps = {shader_map(scene, decl, settings.object, true)};
    settings.project = true;
    settings.first_pass_material = static_cast<uint32_t>(scene.materials.size());
    // Each source's shader once per shaded map, set up for that map.
    for (size_t i = 0; i < scene.objects.size(); ++i) {
        if (scene.objects[i].bake_role != BakeRole::source) continue;
        for (BakeMap map : settings.maps) {
            if (map == BakeMap::normal) continue;
            const MaterialDesc& material = scene.materials[scene.objects[i].material];
            MaterialDesc pass = material;
            ShaderDesc shader = scene.shaders[material.shader];
            shader.name += map == BakeMap::bent ? " (bent pass)" : " (ao pass)";
            set_int(shader, decl, "bent_normals", map == BakeMap::bent);
            if (map == BakeMap::bent) {
                set_int(shader, decl, "bent_color_mix", 0);
                set_int(shader, decl, "output_space", 1);
            }
            pass.shader = scene.shaders.size();
            scene.shaders.push_back(std::move(shader));
            scene.materials.push_back(std::move(pass));
        }
    }
    return true;
}

}  // namespace vosh::render
