#include "renderer/work/scene_wire.h"

namespace vosh::render {

// Each record's fields, listed once for both directions (see WireWriter in
// bytes.h); `R` is the record, const when it is sent.
namespace {

template <typename Io, typename V, typename Each>
void list(Io& io, V& items, Each each) {
    io.count(items);
    for (auto& item : items) each(io, item);
}

template <typename Io, typename R>
void image_fields(Io& io, R& image) {
    io.value(image.width);
    io.value(image.height);
    io.values(image.rgba);
    io.refuse_unless(image.width >= 0 && image.height >= 0 &&
                     image.rgba.size() == static_cast<size_t>(image.width) *
                                              static_cast<size_t>(image.height) * 4);
}

template <typename Io, typename R>
void mesh_fields(Io& io, R& m) {
    io.values(m.positions);
    io.values(m.normals);
    io.values(m.uvs);
    io.values(m.tangents);
    io.values(m.tangent_signs);
    list(io, m.extra_uvs, [](Io& io, auto& set) { io.values(set); });
    io.values(m.indices);
    for (const uint32_t i : m.indices) io.refuse_unless(i < m.positions.size());
}

template <typename Io, typename R>
void camera_fields(Io& io, R& c) {
    io.flag(c.orthographic);
    io.value(c.position);
    io.value(c.look_at);
    io.value(c.up);
    io.value(c.fov_deg);
    io.value(c.width);
    io.value(c.width_px);
    io.value(c.height_px);
}

template <typename Io, typename R>
void light_fields(Io& io, R& l) {
    io.text(l.name);
    io.flag(l.positional);
    io.value(l.position);
    io.value(l.direction);
    io.value(l.color);
}

template <typename Io, typename R>
void param_value_fields(Io& io, R& v) {
    io.text(v.name);
    io.value(v.param);
    io.value(v.type);
    io.refuse_unless(v.type >= ParamType::color && v.type <= ParamType::unused);
    io.flag(v.connected);
    io.index(v.shader);
    io.text(v.json_path);
    io.value(v.numbers);
    io.value(v.integer);
    io.index(v.light);
}

template <typename Io, typename R>
void shader_fields(Io& io, R& s) {
    io.text(s.name);
    io.value(s.kind);
    io.refuse_unless(s.kind >= ShaderKind::occlusion && s.kind <= ShaderKind::texture);
    io.text(s.json_path);
    list(io, s.params, [](Io& io, auto& v) { param_value_fields(io, v); });
    io.value(s.color);
    io.value(s.color2);
    io.value(s.scale);
    io.text(s.file);
    image_fields(io, s.image);
}

template <typename Io, typename R>
void material_fields(Io& io, R& m) {
    io.text(m.name);
    io.index(m.shader);
    io.value(m.opacity);
}

template <typename Io, typename R>
void object_fields(Io& io, R& o) {
    io.text(o.name);
    io.value(o.shape);
    io.refuse_unless(o.shape >= ShapeKind::sphere && o.shape <= ShapeKind::mesh);
    io.text(o.json_path);
    io.value(o.center);
    io.value(o.radius);
    io.value(o.normal);
    io.value(o.corner);
    io.value(o.edge1);
    io.value(o.edge2);
    io.text(o.file);
    mesh_fields(io, o.mesh);
    io.index(o.material);
    io.flag(o.has_transform);
    io.value(o.transform);
    io.value(o.label);
    io.flag(o.smooth_offset);
    io.value(o.bake_role);
    io.refuse_unless(o.bake_role >= BakeRole::none && o.bake_role <= BakeRole::cage);
}

template <typename Io, typename R>
void scene_fields(Io& io, R& scene) {
    io.text(scene.file);
    io.text(scene.base_dir);
    io.flag(scene.has_camera);
    camera_fields(io, scene.camera);
    io.value(scene.environment.color);
    io.flag(scene.environment.has_image);
    image_fields(io, scene.environment.image);
    io.value(scene.options);
    io.value(scene.samples_per_pixel);
    io.value(scene.noise_threshold);
    list(io, scene.lights, [](Io& io, auto& l) { light_fields(io, l); });
    list(io, scene.shaders, [](Io& io, auto& s) { shader_fields(io, s); });
    list(io, scene.materials, [](Io& io, auto& m) { material_fields(io, m); });
    list(io, scene.objects, [](Io& io, auto& o) { object_fields(io, o); });
}

}  // namespace

void put_scene(ByteWriter& w, const Scene& scene) {
    WireWriter io{w};
    scene_fields(io, scene);
}

bool get_scene(ByteReader& r, Scene& scene) {
    WireReader io{r};
    scene_fields(io, scene);
    if (!r.ok) return false;
    // Indices between records: a scene that points outside itself is refused.
    for (const ShaderDesc& s : scene.shaders)
        for (const ParamValue& v : s.params)
            if ((v.connected && v.shader >= scene.shaders.size()) ||
                (!v.connected && v.type == ParamType::light && v.light >= scene.lights.size()))
                return false;
    for (const MaterialDesc& m : scene.materials)
        if (m.shader >= scene.shaders.size()) return false;
    for (const ObjectDesc& o : scene.objects)
        if (o.material >= scene.materials.size()) return false;
    return true;
}

namespace {

std::string layout_of(const ShaderDeclaration& decl) {
    std::string text = decl.name + " " + std::to_string(decl.version) + " " + std::to_string(decl.block_size);
    for (const ParamDecl& p : decl.params)
        text += ";" + p.name + ":" + param_type_name(p.type) + "@" + std::to_string(p.offset) + "+" +
                std::to_string(p.size);
    return text;
}

}  // namespace

void put_declaration_layout(ByteWriter& w, const ShaderDeclaration& decl) { put_string(w, layout_of(decl)); }

bool same_declaration_layout(ByteReader& r, const ShaderDeclaration& decl) {
    std::string sent;
    get_string(r, sent);
    return r.ok && sent == layout_of(decl);
}

}  // namespace vosh::render
