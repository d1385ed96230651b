#include "renderer/scene/scene_sections.h"

#include <cmath>
#include <map>

#include "renderer/scene/mesh_loader.h"
#include "renderer/scene/scene_loader.h"

namespace vosh::render {

namespace {

bool parse_transform(const json& value, const std::string& path, Mat4& out, std::string& error) {
    Mat4 t;
    if (value.is_array()) {
        if (value.size() != 16)
            return fail(error, path, "expected 16 numbers (row-major 4x4) or an object");
        for (size_t i = 0; i < 16; ++i) {
            if (!value[i].is_number() || !std::isfinite(value[i].get<double>()))
                return fail(error, json_child(path, i), "expected a finite number");
            t.m[i] = value[i].get<double>();
        }
        if (!is_affine(t))
            return fail(error, path, "the last column must be 0, 0, 0, 1 (an affine transform)");
    } else if (value.is_object()) {
        if (!only_keys(value, path, {"scale", "rotate_deg", "translate"}, error)) return false;
        Vec3 scale{1, 1, 1}, rotate, move;
        if (auto s = value.find("scale"); s != value.end() && s->is_number()) {
            const double k = s->get<double>();
            scale = {k, k, k};
        } else if (!read_vec3(value, "scale", path, false, scale, error)) {
            return false;
        }
        if (!read_vec3(value, "rotate_deg", path, false, rotate, error) ||
            !read_vec3(value, "translate", path, false, move, error))
            return false;
        Mat4 s;
        s(0, 0) = scale.x;
        s(1, 1) = scale.y;
        s(2, 2) = scale.z;
        const double k = M_PI / 180;
        const double cx = std::cos(rotate.x * k), sx = std::sin(rotate.x * k);
        const double cy = std::cos(rotate.y * k), sy = std::sin(rotate.y * k);
        const double cz = std::cos(rotate.z * k), sz = std::sin(rotate.z * k);
        // Row-vector rotations: about x, then y, then z.
        const Mat4 rx = from_axes({1, 0, 0}, {0, cx, sx}, {0, -sx, cx}, {});
        const Mat4 ry = from_axes({cy, 0, -sy}, {0, 1, 0}, {sy, 0, cy}, {});
        const Mat4 rz = from_axes({cz, sz, 0}, {-sz, cz, 0}, {0, 0, 1}, {});
        t = s * rx * ry * rz * translation(move);
    } else {
        return fail(error, path, "expected 16 numbers (row-major 4x4) or an object");
    }
    Mat4 inverse;
    if (!invert_affine(t, inverse)) return fail(error, path, "is not invertible");
    out = t;
    return true;
}

// The largest world coordinate the object reaches, bounded through the
// corners of its object-space box.
Vec3 world_extent(const ObjectDesc& o) {
    Vec3 lo, hi;
    const auto grow = [&](Vec3 p, bool first) {
        lo = first ? p : Vec3{std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
        hi = first ? p : Vec3{std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
    };
    switch (o.shape) {
        case ShapeKind::sphere:
        case ShapeKind::disk:
            grow(o.center - Vec3{o.radius, o.radius, o.radius}, true);
            grow(o.center + Vec3{o.radius, o.radius, o.radius}, false);
            break;
        case ShapeKind::quad:
            grow(o.corner, true);
            grow(o.corner + o.edge1, false);
            grow(o.corner + o.edge2, false);
            grow(o.corner + o.edge1 + o.edge2, false);
            break;
        case ShapeKind::mesh:
            for (size_t i = 0; i < o.mesh.positions.size(); ++i) grow(o.mesh.positions[i], i == 0);
            break;
    }
    Vec3 reach;
    for (int k = 0; k < 8; ++k) {
        Vec3 p{k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z};
        if (o.has_transform) p = transform_point(o.transform, p);
        reach = {std::fmax(reach.x, std::fabs(p.x)), std::fmax(reach.y, std::fabs(p.y)),
                 std::fmax(reach.z, std::fabs(p.z))};
    }
    return reach;
}

bool parse_object(const json& j, const std::string& path, size_t index, const Scene& scene,
                  const NameIndex& material_names, ObjectDesc& o, std::string& error) {
    if (!expect_object(j, path, error)) return false;
    std::string shape, material;
    if (!read_string(j, "shape", path, true, shape, error)) return false;
    o.json_path = path;
    if (shape == "sphere") {
        o.shape = ShapeKind::sphere;
        if (!only_keys(j, path, {"shape", "center", "radius", "material", "transform", "label", "name"}, error) ||
            !read_vec3(j, "center", path, true, o.center, error) ||
            !read_number(j, "radius", path, true, o.radius, error))
            return false;
        if (!(o.radius > 0)) return fail(error, json_child(path, "radius"), "must be greater than 0");
    } else if (shape == "quad") {
        o.shape = ShapeKind::quad;
        if (!only_keys(j, path, {"shape", "corner", "edge1", "edge2", "material", "transform", "label", "name"},
                       error) ||
            !read_vec3(j, "corner", path, true, o.corner, error) ||
            !read_vec3(j, "edge1", path, true, o.edge1, error) ||
            !read_vec3(j, "edge2", path, true, o.edge2, error))
            return false;
        const double area = length(cross(o.edge1, o.edge2));
        if (!(area > 1e-12 * dot(o.edge1, o.edge1) + 1e-300))
            return fail(error, json_child(path, "edge2"), "is zero or parallel to edge1");
    } else if (shape == "disk") {
        o.shape = ShapeKind::disk;
        if (!only_keys(j, path, {"shape", "center", "normal", "radius", "material", "transform", "label", "name"},
                       error) ||
            !read_vec3(j, "center", path, true, o.center, error) ||
            !read_vec3(j, "normal", path, true, o.normal, error) ||
            !read_number(j, "radius", path, true, o.radius, error))
            return false;
        if (!(o.radius > 0)) return fail(error, json_child(path, "radius"), "must be greater than 0");
        if (!(length(o.normal) > 0) || !std::isfinite(length(o.normal)))
            return fail(error, json_child(path, "normal"), "must be non-zero and of finite length");
        o.normal = normalize(o.normal);
    } else if (shape == "mesh") {
        o.shape = ShapeKind::mesh;
        if (!only_keys(j, path,
                       {"shape", "file", "material", "transform", "label", "name", "smooth_offset"}, error) ||
            !read_string(j, "file", path, true, o.file, error) ||
            !read_bool(j, "smooth_offset", path, false, o.smooth_offset, error))
            return false;
        std::string problem;
        if (!load_mesh(resolve_path(scene.base_dir, o.file), o.mesh, problem))
            return fail(error, json_child(path, "file"), "\"" + o.file + "\": " + problem);
    } else {
        return fail(error, json_child(path, "shape"),
                    "unknown shape \"" + shape + "\" (expected sphere, quad, disk or mesh)");
    }
    if (!read_string(j, "material", path, true, material, error)) return false;
    auto found = material_names.find(material);
    if (found == material_names.end())
        return fail(error, json_child(path, "material"), "no material named \"" + material + "\"");
    o.material = found->second;
    if (auto t = j.find("transform"); t != j.end()) {
        if (!parse_transform(*t, json_child(path, "transform"), o.transform, error)) return false;
        o.has_transform = true;
    }
    if (!within_scene(world_extent(o), path, error)) return false;
    if (!read_string(j, "name", path, false, o.name, error)) return false;
    if (j.contains("name") && o.name.empty()) return fail(error, json_child(path, "name"), "must not be empty");
    long long label = static_cast<long long>(index) + 1;
    if (!read_int(j, "label", path, false, 0, 0xffffffffLL, label, error)) return false;
    o.label = static_cast<uint32_t>(label);
    return true;
}

// How far from the origin, along any axis, camera rays start.
double camera_reach(const CameraDesc& cam) {
    double reach = max_abs_component(cam.position);
    if (cam.orthographic) {
        const double tall = cam.width / cam.width_px * cam.height_px;
        reach += 0.5 * std::sqrt(cam.width * cam.width + tall * tall);
    }
    return reach;
}

}  // namespace

// Transformed spheres and disks are traced in their own space: every ray
// start in the scene, carried there, must stay within the tracer's range.
bool check_object_spaces(const Scene& scene, std::string& error) {
    double reach = camera_reach(scene.camera);
    for (const ObjectDesc& o : scene.objects)
        reach = std::fmax(reach, max_abs_component(world_extent(o)));
    for (const ObjectDesc& o : scene.objects) {
        if (!o.has_transform || (o.shape != ShapeKind::sphere && o.shape != ShapeKind::disk))
            continue;
        Mat4 to_object;
        if (!invert_affine(o.transform, to_object)) continue;  // refused when parsed
        double far = 0;
        for (int k = 0; k < 8; ++k) {
            const Vec3 p{k & 1 ? reach : -reach, k & 2 ? reach : -reach, k & 4 ? reach : -reach};
            far = std::fmax(far, max_abs_component(transform_point(to_object, p)));
        }
        if (!(far <= max_object_space_coordinate))
            return fail(error, json_child(o.json_path, "transform"),
                        "shrinks the object so far that the scene reaches " + show_number(far) +
                            " units in the object's own space; at most " +
                            show_number(max_object_space_coordinate));
    }
    return true;
}

bool parse_objects(const json& doc, const NameIndex& material_names, Scene& scene,
                   std::string& error) {
    auto it = doc.find("objects");
    if (it == doc.end()) return true;
    if (!it->is_array()) return fail(error, "/objects", "expected an array of objects");
    std::map<std::string, size_t> names;  // bakes pick objects by name
    for (size_t i = 0; i < it->size(); ++i) {
        ObjectDesc o;
        const std::string path = json_child("/objects", i);
        if (!parse_object((*it)[i], path, i, scene, material_names, o, error)) return false;
        if (!o.name.empty() && !names.emplace(o.name, i).second)
            return fail(error, json_child(path, "name"),
                        "\"" + o.name + "\" already names /objects/" + std::to_string(names[o.name]));
        scene.objects.push_back(std::move(o));
    }
    return true;
}

}  // namespace vosh::render
