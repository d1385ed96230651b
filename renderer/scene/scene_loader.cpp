#include "renderer/scene/scene_loader.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "renderer/scene/json_fields.h"
#include "renderer/scene/mesh_loader.h"
#include "renderer/host/tags.h"

namespace vosh::render {

namespace {

std::string resolve_path(const std::string& base_dir, const std::string& file) {
    if (file.empty() || file[0] == '/' || base_dir.empty()) return file;
    return base_dir + "/" + file;
}

std::string show_number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// Refuses a point the ray tracer could not start rays from.
bool within_scene(Vec3 p, const std::string& path, std::string& error) {
    if (max_abs_component(p) <= max_scene_coordinate) return true;
    return fail(error, path,
                "reaches " + show_number(max_abs_component(p)) +
                    " units from the origin; scenes must lie within +-" +
                    show_number(max_scene_coordinate));
}

bool parse_options(const json& doc, Scene& scene, std::string& error) {
    RenderOptions& o = scene.options;
    o = RenderOptions{};
    o.ray_tracing_enabled = 1;
    o.depth_setting = 2;
    o.facing_default = 'a';
    o.gather_ray_count = 64;
    auto it = doc.find("options");
    if (it == doc.end()) return true;
    const std::string path = "/options";
    if (!expect_object(*it, path, error)) return false;
    const json& j = *it;
    if (!only_keys(j, path, {"depth", "ray_tracing", "facing", "spp", "final_gather", "photons"},
                   error))
        return false;
    long long depth = o.depth_setting, spp = scene.samples_per_pixel;
    bool ray_tracing = true;
    std::string facing = "a";
    if (!read_int(j, "depth", path, false, -1000000, 1000000, depth, error) ||
        !read_bool(j, "ray_tracing", path, false, ray_tracing, error) ||
        !read_string(j, "facing", path, false, facing, error) ||
        !read_int(j, "spp", path, false, 1, max_samples_per_pixel, spp, error))
        return false;
    if (facing != "f" && facing != "b" && facing != "a")
        return fail(error, "/options/facing", "expected \"f\", \"b\" or \"a\", got \"" + facing + "\"");
    o.depth_setting = static_cast<int32_t>(depth);
    o.ray_tracing_enabled = ray_tracing ? 1 : 0;
    o.facing_default = facing[0];
    scene.samples_per_pixel = static_cast<int>(spp);

    if (auto fg = j.find("final_gather"); fg != j.end()) {
        const std::string p = "/options/final_gather";
        if (!expect_object(*fg, p, error) ||
            !only_keys(*fg, p, {"rays", "largest_radius", "smallest_radius", "radii_in_pixels", "filter"},
                       error))
            return false;
        long long rays = o.gather_ray_count, filter = 0;
        bool in_pixels = false;
        if (!read_int(*fg, "rays", p, false, 0, max_gather_rays, rays, error) ||
            !read_float(*fg, "largest_radius", p, false, o.gather_largest_radius, error) ||
            !read_float(*fg, "smallest_radius", p, false, o.gather_smallest_radius, error) ||
            !read_bool(*fg, "radii_in_pixels", p, false, in_pixels, error) ||
            !read_int(*fg, "filter", p, false, 0, 255, filter, error))
            return false;
        o.gather_ray_count = static_cast<int32_t>(rays);
        o.gather_radii_in_pixels = in_pixels ? 1 : 0;
        o.gather_filter = static_cast<uint8_t>(filter);
    }
    if (auto ph = j.find("photons"); ph != j.end()) {
        const std::string p = "/options/photons";
        if (!expect_object(*ph, p, error) ||
            !only_keys(*ph, p, {"gi_count", "gi_radius", "caustic_count", "caustic_radius"}, error))
            return false;
        long long gi_count = 0, caustic_count = 0;
        if (!read_int(*ph, "gi_count", p, false, 0, 1LL << 30, gi_count, error) ||
            !read_float(*ph, "gi_radius", p, false, o.gi_photon_radius, error) ||
            !read_int(*ph, "caustic_count", p, false, 0, 1LL << 30, caustic_count, error) ||
            !read_float(*ph, "caustic_radius", p, false, o.caustic_photon_radius, error))
            return false;
        o.gi_photon_count = static_cast<int32_t>(gi_count);
        o.caustic_photon_count = static_cast<int32_t>(caustic_count);
    }
    return true;
}

bool parse_camera(const json& doc, CameraDesc& cam, std::string& error) {
    auto it = doc.find("camera");
    if (it == doc.end()) return fail(error, "/camera", "missing");
    const std::string path = "/camera";
    const json& j = *it;
    if (!expect_object(j, path, error)) return false;
    std::string type;
    if (!read_string(j, "type", path, true, type, error)) return false;
    if (type != "perspective" && type != "orthographic")
        return fail(error, "/camera/type",
                    "unknown camera type \"" + type + "\" (expected perspective or orthographic)");
    cam.orthographic = type == "orthographic";
    if (cam.orthographic) {
        if (!only_keys(j, path, {"type", "position", "look_at", "up", "width", "resolution"}, error))
            return false;
    } else if (!only_keys(j, path, {"type", "position", "look_at", "up", "fov_deg", "resolution"},
                          error)) {
        return false;
    }
    if (!read_vec3(j, "position", path, true, cam.position, error) ||
        !read_vec3(j, "look_at", path, true, cam.look_at, error) ||
        !read_vec3(j, "up", path, false, cam.up, error))
        return false;
    if (!within_scene(cam.position, "/camera/position", error) ||
        !within_scene(cam.look_at, "/camera/look_at", error))
        return false;
    if (cam.orthographic) {
        if (!read_number(j, "width", path, true, cam.width, error)) return false;
        if (!(cam.width > 0)) return fail(error, "/camera/width", "must be greater than 0");
        if (cam.width > max_scene_coordinate)
            return fail(error, "/camera/width",
                        "must be at most " + show_number(max_scene_coordinate) + " units");
    } else {
        if (!read_number(j, "fov_deg", path, false, cam.fov_deg, error)) return false;
        if (!(cam.fov_deg > 0 && cam.fov_deg < 180))
            return fail(error, "/camera/fov_deg", "must lie strictly between 0 and 180");
    }
    const Vec3 forward = cam.look_at - cam.position;
    if (!(length(forward) > 0)) return fail(error, "/camera/look_at", "equals the camera position");
    if (!(length(cross(normalize(forward), normalize(cam.up))) > 1e-6))
        return fail(error, "/camera/up", "is zero or parallel to the viewing direction");

    auto res = j.find("resolution");
    if (res == j.end()) return fail(error, "/camera/resolution", "missing");
    const std::string rpath = "/camera/resolution";
    if (!res->is_array() || res->size() != 2)
        return fail(error, rpath, "expected [width, height], got " + json_show(*res));
    long long size[2];
    for (size_t i = 0; i < 2; ++i) {
        const json& v = (*res)[i];
        const std::string p = json_child(rpath, i);
        if (!v.is_number_integer() && !(v.is_number_float() && v.get<double>() == std::floor(v.get<double>())))
            return fail(error, p, "expected a whole number of pixels, got " + json_show(v));
        const double d = v.get<double>();
        if (d < 1 || d > max_resolution)
            return fail(error, p, json_show(v) + " pixels is out of range [1, " +
                                      std::to_string(max_resolution) + "]");
        size[i] = static_cast<long long>(d);
    }
    if (size[0] * size[1] > max_pixels)
        return fail(error, rpath, "more than " + std::to_string(max_pixels) + " pixels");
    if (cam.orthographic && cam.width / size[0] * size[1] > max_scene_coordinate)
        return fail(error, rpath,
                    "makes the image " + show_number(cam.width / size[0] * size[1]) +
                        " units tall; at most " + show_number(max_scene_coordinate));
    cam.width_px = static_cast<int>(size[0]);
    cam.height_px = static_cast<int>(size[1]);
    return true;
}

bool parse_environment(const json& doc, const std::string& base_dir, EnvironmentDesc& env,
                       std::string& error) {
    auto it = doc.find("environment");
    if (it == doc.end()) return true;
    const std::string path = "/environment";
    if (!expect_object(*it, path, error) || !only_keys(*it, path, {"color", "image"}, error))
        return false;
    if (it->contains("color") && it->contains("image"))
        return fail(error, path, "give either \"color\" or \"image\", not both");
    if (!read_color(*it, "color", path, false, env.color, error)) return false;
    std::string image;
    if (!read_string(*it, "image", path, false, image, error)) return false;
    if (!image.empty()) {
        std::string problem;
        if (!read_exr_rgba(resolve_path(base_dir, image), env.image, problem))
            return fail(error, "/environment/image", problem);
        if (env.image.width < 1 || env.image.height < 1)
            return fail(error, "/environment/image", "image \"" + image + "\" is empty");
        const std::vector<float>& v = env.image.rgba;
        for (size_t i = 0; i < v.size(); ++i) {
            if (std::isfinite(v[i])) continue;
            const size_t pixel = i / 4;
            return fail(error, "/environment/image",
                        "image \"" + image + "\" has a value that is not a finite number at pixel (" +
                            std::to_string(pixel % env.image.width) + ", " +
                            std::to_string(pixel / env.image.width) + ")");
        }
        env.has_image = true;
    }
    return true;
}

bool parse_lights(const json& doc, Scene& scene, std::map<std::string, size_t>& names,
                  std::string& error) {
    auto it = doc.find("lights");
    if (it == doc.end()) return true;
    if (!expect_object(*it, "/lights", error)) return false;
    for (auto l = it->begin(); l != it->end(); ++l) {
        const std::string path = json_child("/lights", l.key());
        if (!expect_object(*l, path, error) ||
            !only_keys(*l, path, {"position", "direction", "color"}, error))
            return false;
        LightDesc light;
        light.name = l.key();
        const bool has_position = l->contains("position");
        const bool has_direction = l->contains("direction");
        if (has_position == has_direction)
            return fail(error, path,
                        "a light has either \"position\" (point) or \"direction\" (directional)");
        light.positional = has_position;
        if (!read_vec3(*l, "position", path, false, light.position, error) ||
            !read_vec3(*l, "direction", path, false, light.direction, error) ||
            !read_color(*l, "color", path, false, light.color, error))
            return false;
        if (light.positional && !within_scene(light.position, json_child(path, "position"), error))
            return false;
        if (!light.positional) {
            if (!(length(light.direction) > 0) || !std::isfinite(length(light.direction)))
                return fail(error, json_child(path, "direction"), "must be non-zero and of finite length");
            light.direction = normalize(light.direction);
        }
        names[light.name] = scene.lights.size();
        scene.lights.push_back(light);
    }
    return true;
}

bool parse_occlusion_params(const json& params, const std::string& path,
                            const ShaderDeclaration& decl,
                            const std::map<std::string, size_t>& shader_names,
                            const std::map<std::string, size_t>& light_names, ShaderDesc& shader,
                            std::string& error) {
    shader.block.assign(decl.block_size, 0);
    write_defaults(decl, shader.block.data());
    if (params.is_null()) return true;
    if (!expect_object(params, path, error)) return false;
    for (auto p = params.begin(); p != params.end(); ++p) {
        const std::string where = json_child(path, p.key());
        const ParamDecl* param = decl.find(p.key());
        if (!param || param->type == ParamType::unused)
            return fail(error, where, "unknown parameter \"" + p.key() + "\" of " + decl.name);
        if (p->is_object()) {
            if (bounds_render_work(p.key()))
                return fail(error, where,
                            "a sample count takes a number, not a connection (it is checked "
                            "before the render starts)");
            std::string target;
            if (!only_keys(*p, where, {"shader"}, error) ||
                !read_string(*p, "shader", where, true, target, error))
                return false;
            auto found = shader_names.find(target);
            if (found == shader_names.end())
                return fail(error, json_child(where, "shader"), "no shader named \"" + target + "\"");
            shader.connections.push_back({param->offset, found->second, where});
            continue;
        }
        if (param->type == ParamType::light) {
            if (p->is_null()) continue;
            if (!p->is_string())
                return fail(error, where, "expected the name of a light, got " + json_show(*p));
            auto light = light_names.find(p->get<std::string>());
            if (light == light_names.end())
                return fail(error, where, "no light named \"" + p->get<std::string>() + "\"");
            const Tag tag = make_tag(TagKind::light_instance, light->second);
            std::memcpy(shader.block.data() + param->offset, &tag, sizeof tag);
            continue;
        }
        std::string problem;
        if (!write_param(*param, *p, shader.block.data(), problem))
            return fail(error, where, problem);
    }
    std::string problem;
    if (!validate_for_render(decl, shader.block.data(), problem)) return fail(error, path, problem);
    return true;
}

// A connection that leads back to its own shader would never finish evaluating.
bool check_connection_cycles(const Scene& scene, std::string& error) {
    enum Mark { unvisited, active, done };
    std::vector<Mark> mark(scene.shaders.size(), unvisited);
    // Iterative depth-first search; the stack holds (shader, next connection).
    for (size_t start = 0; start < scene.shaders.size(); ++start) {
        if (mark[start] != unvisited) continue;
        std::vector<std::pair<size_t, size_t>> stack{{start, 0}};
        mark[start] = active;
        while (!stack.empty()) {
            auto& [shader, next] = stack.back();
            const auto& connections = scene.shaders[shader].connections;
            if (next == connections.size()) {
                mark[shader] = done;
                stack.pop_back();
                continue;
            }
            const Connection& c = connections[next++];
            if (mark[c.shader] == active)
                return fail(error, c.json_path,
                            "connection to \"" + scene.shaders[c.shader].name +
                                "\" closes a loop of connected shaders");
            if (mark[c.shader] == unvisited) {
                mark[c.shader] = active;
                stack.push_back({c.shader, 0});
            }
        }
    }
    return true;
}

bool parse_shaders(const json& doc, const ShaderDeclaration& decl,
                   const std::map<std::string, size_t>& light_names, Scene& scene,
                   std::map<std::string, size_t>& names, std::string& error) {
    auto it = doc.find("shaders");
    if (it == doc.end()) return true;
    if (!expect_object(*it, "/shaders", error)) return false;
    for (auto s = it->begin(); s != it->end(); ++s) names[s.key()] = names.size();
    for (auto s = it->begin(); s != it->end(); ++s) {
        const std::string path = json_child("/shaders", s.key());
        if (!expect_object(*s, path, error) || !only_keys(*s, path, {"type", "params"}, error))
            return false;
        ShaderDesc shader;
        shader.name = s.key();
        shader.json_path = path;
        std::string type;
        if (!read_string(*s, "type", path, true, type, error)) return false;
        const json params = s->contains("params") ? (*s)["params"] : json();
        const std::string ppath = json_child(path, "params");
        if (type == decl.name) {
            shader.kind = ShaderKind::occlusion;
            if (!parse_occlusion_params(params, ppath, decl, names, light_names, shader, error))
                return false;
        } else if (type == "constant" || type == "checker") {
            shader.kind = type == "constant" ? ShaderKind::constant : ShaderKind::checker;
            if (!params.is_null()) {
                if (!expect_object(params, ppath, error)) return false;
                if (shader.kind == ShaderKind::constant) {
                    if (!only_keys(params, ppath, {"color"}, error) ||
                        !read_color(params, "color", ppath, true, shader.color, error))
                        return false;
                } else {
                    if (!only_keys(params, ppath, {"color1", "color2", "scale"}, error) ||
                        !read_color(params, "color1", ppath, false, shader.color, error) ||
                        !read_color(params, "color2", ppath, false, shader.color2, error) ||
                        !read_number(params, "scale", ppath, false, shader.scale, error))
                        return false;
                    if (!(shader.scale > 0))
                        return fail(error, json_child(ppath, "scale"), "must be greater than 0");
                }
            } else if (shader.kind == ShaderKind::constant) {
                return fail(error, json_child(ppath, "color"), "missing");
            }
        } else if (type == "normal_color") {
            shader.kind = ShaderKind::normal_color;
            if (!params.is_null() && !expect_object(params, ppath, error)) return false;
            if (!params.is_null() && !params.empty())
                return fail(error, json_child(ppath, params.begin().key()),
                            "a normal_color shader takes no parameters");
        } else {
            return fail(error, json_child(path, "type"),
                        "unknown shader type \"" + type + "\" (expected " + decl.name +
                            ", constant, checker or normal_color)");
        }
        scene.shaders.push_back(std::move(shader));
    }
    return check_connection_cycles(scene, error);
}

bool parse_materials(const json& doc, const std::map<std::string, size_t>& shader_names,
                     Scene& scene, std::map<std::string, size_t>& names, std::string& error) {
    auto it = doc.find("materials");
    if (it == doc.end()) return true;
    if (!expect_object(*it, "/materials", error)) return false;
    for (auto m = it->begin(); m != it->end(); ++m) {
        const std::string path = json_child("/materials", m.key());
        if (!expect_object(*m, path, error) || !only_keys(*m, path, {"shader", "opacity"}, error))
            return false;
        MaterialDesc material;
        material.name = m.key();
        std::string shader;
        double opacity = 1;
        if (!read_string(*m, "shader", path, true, shader, error) ||
            !read_number(*m, "opacity", path, false, opacity, error))
            return false;
        auto found = shader_names.find(shader);
        if (found == shader_names.end())
            return fail(error, json_child(path, "shader"), "no shader named \"" + shader + "\"");
        if (!(opacity >= 0 && opacity <= 1))
            return fail(error, json_child(path, "opacity"), "must lie in [0, 1]");
        material.shader = found->second;
        material.opacity = static_cast<float>(opacity);
        names[material.name] = scene.materials.size();
        scene.materials.push_back(material);
    }
    return true;
}

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
                  const std::map<std::string, size_t>& material_names, ObjectDesc& o,
                  std::string& error) {
    if (!expect_object(j, path, error)) return false;
    std::string shape, material;
    if (!read_string(j, "shape", path, true, shape, error)) return false;
    o.json_path = path;
    if (shape == "sphere") {
        o.shape = ShapeKind::sphere;
        if (!only_keys(j, path, {"shape", "center", "radius", "material", "transform", "label"}, error) ||
            !read_vec3(j, "center", path, true, o.center, error) ||
            !read_number(j, "radius", path, true, o.radius, error))
            return false;
        if (!(o.radius > 0)) return fail(error, json_child(path, "radius"), "must be greater than 0");
    } else if (shape == "quad") {
        o.shape = ShapeKind::quad;
        if (!only_keys(j, path, {"shape", "corner", "edge1", "edge2", "material", "transform", "label"},
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
        if (!only_keys(j, path, {"shape", "center", "normal", "radius", "material", "transform", "label"},
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
        if (!only_keys(j, path, {"shape", "file", "material", "transform", "label"}, error) ||
            !read_string(j, "file", path, true, o.file, error))
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

bool parse_objects(const json& doc, const std::map<std::string, size_t>& material_names,
                   Scene& scene, std::string& error) {
    auto it = doc.find("objects");
    if (it == doc.end()) return true;
    if (!it->is_array()) return fail(error, "/objects", "expected an array of objects");
    for (size_t i = 0; i < it->size(); ++i) {
        ObjectDesc o;
        if (!parse_object((*it)[i], json_child("/objects", i), i, scene, material_names, o, error))
            return false;
        scene.objects.push_back(std::move(o));
    }
    return true;
}

}  // namespace

bool parse_scene(const json& doc, const std::string& file, const std::string& base_dir,
                 const ShaderDeclaration& decl, Scene& out, std::string& error) {
    Scene scene;
    scene.file = file;
    scene.base_dir = base_dir;
    std::map<std::string, size_t> lights, shaders, materials;
    std::string problem;
    const bool ok =
        expect_object(doc, "", problem) &&
        only_keys(doc, "",
                  {"camera", "environment", "options", "lights", "shaders", "materials", "objects"},
                  problem) &&
        parse_options(doc, scene, problem) && parse_camera(doc, scene.camera, problem) &&
        parse_environment(doc, base_dir, scene.environment, problem) &&
        parse_lights(doc, scene, lights, problem) &&
        parse_shaders(doc, decl, lights, scene, shaders, problem) &&
        parse_materials(doc, shaders, scene, materials, problem) &&
        parse_objects(doc, materials, scene, problem) && check_object_spaces(scene, problem);
    if (!ok) {
        error = file + ": " + problem;
        return false;
    }
    out = std::move(scene);
    return true;
}

namespace {

// Line and column of a byte offset, for messages.
std::string line_and_column(const std::string& text, size_t byte) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Offset of the first bracket nested deeper than max_json_depth, or npos.
// Showing and freeing values recurses per level, so an absurdly deep
// document would overflow the stack long before anything refused it.
size_t too_deep_at(const std::string& text) {
    int depth = 0;
    bool in_string = false, escaped = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > max_json_depth) return i;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return std::string::npos;
}

}  // namespace

bool parse_scene_text(const std::string& text, const std::string& file, const std::string& base_dir,
                      const ShaderDeclaration& decl, Scene& out, std::string& error) {
    if (const size_t at = too_deep_at(text); at != std::string::npos) {
        error = file + ": " + line_and_column(text, at) + ": nested more than " +
                std::to_string(max_json_depth) + " levels deep";
        return false;
    }
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception& e) {
        // Parse errors carry the byte where parsing stopped; others (a number
        // too large for any type) only the message.
        std::string where;
        if (const auto* p = dynamic_cast<const json::parse_error*>(&e))
            where = line_and_column(text, p->byte > 0 ? p->byte - 1 : 0) + ": ";
        std::string what = e.what();
        const size_t colon = what.rfind(": ");
        if (colon != std::string::npos) what = what.substr(colon + 2);
        const size_t tag_end = what.find("] ");
        if (what.rfind("[json.exception", 0) == 0 && tag_end != std::string::npos)
            what = what.substr(tag_end + 2);
        error = file + ": " + where + "malformed JSON: " + what;
        return false;
    }
    return parse_scene(doc, file, base_dir, decl, out, error);
}

bool load_scene(const std::string& path, const ShaderDeclaration& decl, Scene& out,
                std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    const size_t slash = path.find_last_of('/');
    const std::string base_dir = slash == std::string::npos ? "" : path.substr(0, slash);
    return parse_scene_text(text.str(), path, base_dir, decl, out, error);
}

bool apply_overrides(const std::vector<std::string>& assignments, const ShaderDeclaration& decl,
                     Scene& scene, std::string& error) {
    for (const std::string& a : assignments) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "--set " + a + ": expected NAME=VALUE";
            return false;
        }
        const std::string name = a.substr(0, eq);
        const std::string text = a.substr(eq + 1);
        const ParamDecl* param = decl.find(name);
        if (!param || param->type == ParamType::unused) {
            error = "--set " + a + ": unknown parameter \"" + name + "\" of " + decl.name;
            return false;
        }
        json value;
        std::string problem;
        if (!parse_set_value(*param, text, value, problem)) {
            error = "--set " + a + ": " + name + " " + problem;
            return false;
        }
        for (ShaderDesc& shader : scene.shaders) {
            if (shader.kind != ShaderKind::occlusion) continue;
            if (param->type == ParamType::light) {
                size_t index = scene.lights.size();
                for (size_t i = 0; i < scene.lights.size(); ++i)
                    if (scene.lights[i].name == value.get<std::string>()) index = i;
                if (index == scene.lights.size()) {
                    error = "--set " + a + ": no light named \"" + text + "\" in " + scene.file;
                    return false;
                }
                const Tag tag = make_tag(TagKind::light_instance, index);
                std::memcpy(shader.block.data() + param->offset, &tag, sizeof tag);
            } else if (!write_param(*param, value, shader.block.data(), problem)) {
                error = "--set " + a + ": " + name + " " + problem;
                return false;
            }
            auto& c = shader.connections;
            for (size_t i = 0; i < c.size();)
                if (c[i].offset == param->offset)
                    c.erase(c.begin() + static_cast<long>(i));
                else
                    ++i;
        }
    }
    // Checked once all are applied, so their order does not matter.
    for (const ShaderDesc& shader : scene.shaders) {
        std::string problem;
        if (shader.kind == ShaderKind::occlusion &&
            !validate_for_render(decl, shader.block.data(), problem)) {
            error = "--set: " + problem;
            return false;
        }
    }
    return true;
}

}  // namespace vosh::render
