#include "renderer/scene/scene_sections.h"

#include <cmath>
#include <cstring>

#include "renderer/host/tags.h"
#include "renderer/scene/param_values.h"
#include "renderer/scene/scene_loader.h"

namespace vosh::render {

namespace {

// Writes the tag of the scene light `name` into the light parameter's slot;
// false when the scene has no light of that name.
bool write_light_tag(const std::vector<LightDesc>& lights, const std::string& name,
                     const ParamDecl& param, ShaderDesc& shader) {
    for (size_t i = 0; i < lights.size(); ++i) {
        if (lights[i].name != name) continue;
        const Tag tag = make_tag(TagKind::light_instance, i);
        std::memcpy(shader.block.data() + param.offset, &tag, sizeof tag);
        return true;
    }
    return false;
}

bool parse_occlusion_params(const json& params, const std::string& path,
                            const ShaderDeclaration& decl, const NameIndex& shader_names,
                            const std::vector<LightDesc>& lights, ShaderDesc& shader,
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
            shader.connections.push_back({param->offset, found->second, where});
            continue;
        }
        if (param->type == ParamType::light) {
            if (p->is_null()) continue;
            if (!p->is_string())
                return fail(error, where, "expected the name of a light, got " + json_show(*p));
            if (!write_light_tag(lights, p->get<std::string>(), *param, shader))
                return fail(error, where, "no light named \"" + p->get<std::string>() + "\"");
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
            if (param->type == ParamType::light) {
                if (!write_light_tag(scene.lights, value.get<std::string>(), *param, shader)) {
                    error = "--set " + a + ": no light named \"" + text + "\" in " + scene.file;
                    return false;
                }
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
