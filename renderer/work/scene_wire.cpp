#include "renderer/work/scene_wire.h"

namespace vosh::render {

namespace {

void put_image(ByteWriter& w, const Image& image) {
    put(w, image.width);
    put(w, image.height);
    put_vector(w, image.rgba);
}

void get_image(ByteReader& r, Image& image) {
    get(r, image.width);
    get(r, image.height);
    get_vector(r, image.rgba);
    if (image.width < 0 || image.height < 0 ||
        image.rgba.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4)
        r.ok = false;
}

void put_mesh(ByteWriter& w, const MeshData& m) {
    put_vector(w, m.positions);
    put_vector(w, m.normals);
    put_vector(w, m.uvs);
    put_vector(w, m.tangents);
    put_vector(w, m.tangent_signs);
    put(w, static_cast<uint64_t>(m.extra_uvs.size()));
    for (const auto& set : m.extra_uvs) put_vector(w, set);
    put_vector(w, m.indices);
}

void get_mesh(ByteReader& r, MeshData& m) {
    get_vector(r, m.positions);
    get_vector(r, m.normals);
    get_vector(r, m.uvs);
    get_vector(r, m.tangents);
    get_vector(r, m.tangent_signs);
    uint64_t sets = 0;
    get(r, sets);
    if (sets > static_cast<uint64_t>(r.end - r.at) / sizeof(uint64_t)) r.ok = false;
    m.extra_uvs.resize(r.ok ? sets : 0);
    for (auto& set : m.extra_uvs) get_vector(r, set);
    get_vector(r, m.indices);
    for (const uint32_t i : m.indices)
        if (i >= m.positions.size()) r.ok = false;
}

void put_shader(ByteWriter& w, const ShaderDesc& s) {
    put_string(w, s.name);
    put(w, s.kind);
    put_string(w, s.json_path);
    put_vector(w, s.block);
    put(w, static_cast<uint64_t>(s.connections.size()));
    for (const Connection& c : s.connections) {
        put(w, c.offset);
        put(w, static_cast<uint64_t>(c.shader));
        put_string(w, c.json_path);
    }
    put(w, s.color);
    put(w, s.color2);
    put(w, s.scale);
    put_string(w, s.file);
    put_image(w, s.image);
}

void get_shader(ByteReader& r, ShaderDesc& s) {
    get_string(r, s.name);
    get(r, s.kind);
    get_string(r, s.json_path);
    get_vector(r, s.block);
    uint64_t n = 0;
    get(r, n);
    if (n > static_cast<uint64_t>(r.end - r.at)) r.ok = false;
    s.connections.resize(r.ok ? n : 0);
    for (Connection& c : s.connections) {
        uint64_t shader = 0;
        get(r, c.offset);
        get(r, shader);
        c.shader = static_cast<size_t>(shader);
        get_string(r, c.json_path);
        if (c.offset >= s.block.size()) r.ok = false;
    }
    get(r, s.color);
    get(r, s.color2);
    get(r, s.scale);
    get_string(r, s.file);
    get_image(r, s.image);
}

void put_object(ByteWriter& w, const ObjectDesc& o) {
    put_string(w, o.name);
    put(w, o.shape);
    put_string(w, o.json_path);
    put(w, o.center);
    put(w, o.radius);
    put(w, o.normal);
    put(w, o.corner);
    put(w, o.edge1);
    put(w, o.edge2);
    put_string(w, o.file);
    put_mesh(w, o.mesh);
    put(w, static_cast<uint64_t>(o.material));
    put(w, o.has_transform);
    put(w, o.transform);
    put(w, o.label);
    put(w, o.smooth_offset);
}

void get_object(ByteReader& r, ObjectDesc& o) {
    get_string(r, o.name);
    get(r, o.shape);
    get_string(r, o.json_path);
    get(r, o.center);
    get(r, o.radius);
    get(r, o.normal);
    get(r, o.corner);
    get(r, o.edge1);
    get(r, o.edge2);
    get_string(r, o.file);
    get_mesh(r, o.mesh);
    uint64_t material = 0;
    get(r, material);
    o.material = static_cast<size_t>(material);
    get(r, o.has_transform);
    get(r, o.transform);
    get(r, o.label);
    get(r, o.smooth_offset);
}

// Reads a count of records and makes room for them; each takes at least a
// byte, which bounds a count that was never sent.
template <typename T>
void get_count(ByteReader& r, std::vector<T>& items) {
    uint64_t n = 0;
    get(r, n);
    if (n > static_cast<uint64_t>(r.end - r.at)) r.ok = false;
    items.resize(r.ok ? n : 0);
}

}  // namespace

void put_scene(ByteWriter& w, const Scene& scene) {
    put_string(w, scene.file);
    put_string(w, scene.base_dir);
    put(w, scene.has_camera);
    put(w, scene.camera);
    put(w, scene.environment.color);
    put(w, scene.environment.has_image);
    put_image(w, scene.environment.image);
    put(w, scene.options);
    put(w, scene.samples_per_pixel);
    put(w, static_cast<uint64_t>(scene.lights.size()));
    for (const LightDesc& l : scene.lights) {
        put_string(w, l.name);
        put(w, l.positional);
        put(w, l.position);
        put(w, l.direction);
        put(w, l.color);
    }
    put(w, static_cast<uint64_t>(scene.shaders.size()));
    for (const ShaderDesc& s : scene.shaders) put_shader(w, s);
    put(w, static_cast<uint64_t>(scene.materials.size()));
    for (const MaterialDesc& m : scene.materials) {
        put_string(w, m.name);
        put(w, static_cast<uint64_t>(m.shader));
        put(w, m.opacity);
    }
    put(w, static_cast<uint64_t>(scene.objects.size()));
    for (const ObjectDesc& o : scene.objects) put_object(w, o);
}

bool get_scene(ByteReader& r, Scene& scene) {
    get_string(r, scene.file);
    get_string(r, scene.base_dir);
    get(r, scene.has_camera);
    get(r, scene.camera);
    get(r, scene.environment.color);
    get(r, scene.environment.has_image);
    get_image(r, scene.environment.image);
    get(r, scene.options);
    get(r, scene.samples_per_pixel);
    get_count(r, scene.lights);
    for (LightDesc& l : scene.lights) {
        get_string(r, l.name);
        get(r, l.positional);
        get(r, l.position);
        get(r, l.direction);
        get(r, l.color);
    }
    get_count(r, scene.shaders);
    for (ShaderDesc& s : scene.shaders) get_shader(r, s);
    get_count(r, scene.materials);
    for (MaterialDesc& m : scene.materials) {
        uint64_t shader = 0;
        get_string(r, m.name);
        get(r, shader);
        m.shader = static_cast<size_t>(shader);
        get(r, m.opacity);
    }
    get_count(r, scene.objects);
    for (ObjectDesc& o : scene.objects) get_object(r, o);
    if (!r.ok) return false;
    // Indices between records: a scene that points outside itself is refused.
    for (const ShaderDesc& s : scene.shaders)
        for (const Connection& c : s.connections)
            if (c.shader >= scene.shaders.size()) return false;
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
