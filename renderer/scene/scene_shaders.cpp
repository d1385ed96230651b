#include "renderer/scene/scene_sections.h"

#include <cmath>

#include "renderer/scene/param_values.h"
#include "renderer/scene/scene_loader.h"

namespace vosh::render {

namespace {

// The index of the scene light `name`; false when the scene has none of that name.
bool find_light(const std::vector<LightDesc>& lights, const std::string& name, size_t& index) {
    for (size_t i = 0; i < lights.size(); ++i)
        if (lights[i].name == name) {
            index = i;
            return true;
        }
    return false;
}

bool parse_occlusion_params(const json& params, const std::string& path,
                            const ShaderDeclaration& decl, const NameIndex& shader_names,
                            const std::vector<LightDesc>& lights, ShaderDesc& shader,
                            std::string& error) {
    shader.params.clear();
    if (params.is_null()) return true;
    if (!expect_object(params, path, error)) return false;
    for (auto p = params.begin(); p != params.end(); ++p) {
        const std::string where = json_child(path, p.key());
        const ParamDecl* param = decl.find(p.key());
        if (!param || param->type == ParamType::unused)
            return fail(error, where, "unknown parameter \"" + p.key() + "\" of " + decl.name);
        ParamValue value = value_for(decl, *param);
        if (p->is_object()) {
            if (bounds_render_work(*param))
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
            value.connected = true;
            value.shader = found->second;
            value.json_path = where;
            set_param_value(shader, value);
            continue;
        }
        if (param->type == ParamType::light) {
            if (p->is_null()) continue;
            if (!p->is_string())
                return fail(error, where, "expected the name of a light, got " + json_show(*p));
            if (!find_light(lights, p->get<std::string>(), value.light))
                return fail(error, where, "no light named \"" + p->get<std::string>() + "\"");
            set_param_value(shader, value);
            continue;
        }
        std::string problem;
        if (!read_param_value(*param, *p, value, problem)) return fail(error, where, problem);
        set_param_value(shader, value);
    }
    std::string problem;
    if (!validate_for_render(decl, shader.params, problem)) return fail(error, path, problem);
    return true;
}

void decode_srgb(Image& image) {
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        if (i % 4 == 3) continue;  // alpha is linear
        float& v = image.rgba[i];
        v = v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
    }
}

// The image is read with the scene, so a missing or broken file is the
// scene's error rather than a black object.
bool parse_texture_params(const json& params, const std::string& path, const std::string& base_dir,
                          ShaderDesc& shader, std::string& error) {
    if (params.is_null()) return fail(error, json_child(path, "file"), "missing");
    std::string encoding;
    if (!expect_object(params, path, error) || !only_keys(params, path, {"file", "encoding"}, error) ||
        !read_string(params, "file", path, true, shader.file, error) ||
        !read_string(params, "encoding", path, false, encoding, error))
        return false;
    const std::string where = json_child(path, "file");
    const std::string encoding_path = json_child(path, "encoding");
    const std::string file = resolve_path(base_dir, shader.file);
    const ImageFormat format = image_format_of(file);
    std::string problem;
    if (format == ImageFormat::png) {
        if (encoding.empty()) encoding = "srgb";
        if (encoding != "srgb" && encoding != "linear")
            return fail(error, encoding_path, "expected \"srgb\" or \"linear\", got \"" + encoding + "\"");
        if (!read_png_rgba(file, shader.image, problem)) return fail(error, where, problem);
        if (encoding == "srgb") decode_srgb(shader.image);
        return true;
    }
    if (format != ImageFormat::exr)
        return fail(error, where, "\"" + shader.file + "\" is neither .png nor .exr");
    if (!encoding.empty() && encoding != "linear")
        return fail(error, encoding_path, "an OpenEXR image is linear already");
    if (!read_exr_rgba(file, shader.image, problem)) return fail(error, where, problem);
    const std::vector<float>& v = shader.image.rgba;
    for (size_t i = 0; i < v.size(); ++i) {
        if (std::isfinite(v[i])) continue;
        const size_t pixel = i / 4;
        return fail(error, where,
                    "\"" + shader.file + "\" has a value that is not a finite number at pixel (" +
                        std::to_string(pixel % size_t(shader.image.width)) + ", " +
                        std::to_string(pixel / size_t(shader.image.width)) + ")");
    }
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
            const auto& params = scene.shaders[shader].params;
            while (next < params.size() && !params[next].connected) ++next;
            if (next == params.size()) {
                mark[shader] = done;
                stack.pop_back();
                continue;
            }
            const ParamValue& c = params[next++];
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

}  // namespace

bool parse_shaders(const json& doc, const ShaderDeclaration& decl, Scene& scene, NameIndex& names,
                   std::string& error) {
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
            if (!parse_occlusion_params(params, ppath, decl, names, scene.lights, shader, error))
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
        } else if (type == "texture") {
            shader.kind = ShaderKind::texture;
            if (!parse_texture_params(params, ppath, scene.base_dir, shader, error)) return false;
        } else if (type == "normal_color") {
            shader.kind = ShaderKind::normal_color;
            if (!params.is_null() && !expect_object(params, ppath, error)) return false;
            if (!params.is_null() && !params.empty())
                return fail(error, json_child(ppath, params.begin().key()),
                            "a normal_color shader takes no parameters");
        } else {
            return fail(error, json_child(path, "type"),
                        "unknown shader type \"" + type + "\" (expected " + decl.name +
                            ", constant, checker, normal_color or texture)");
        }
        scene.shaders.push_back(std::move(shader));
    }
    return check_connection_cycles(scene, error);
}

bool parse_materials(const json& doc, const NameIndex& shader_names, Scene& scene,
                     NameIndex& names, std::string& error) {
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
            ParamValue v = value_for(decl, *param);
            if (param->type == ParamType::light) {
                if (!find_light(scene.lights, value.get<std::string>(), v.light)) {
                    error = "--set " + a + ": no light named \"" + text + "\" in " + scene.file;
                    return false;
                }
            } else if (!read_param_value(*param, value, v, problem)) {
                error = "--set " + a + ": " + name + " " + problem;
                return false;
            }
            set_param_value(shader, v);
        }
    }
    // Checked once all are applied, so their order does not matter.
    for (const ShaderDesc& shader : scene.shaders) {
        std::string problem;
        if (shader.kind == ShaderKind::occlusion &&
            !validate_for_render(decl, shader.params, problem)) {
            error = "--set: " + problem;
            return false;
        }
    }
    return true;
}

}  // namespace vosh::render
