#include "renderer/scene/scene_sections.h"

#include <cmath>
#include <cstdio>

#include "renderer/image/image_io.h"
#include "renderer/scene/scene_loader.h"

namespace vosh::render {

std::string resolve_path(const std::string& base_dir, const std::string& file) {
    if (file.empty() || file[0] == '/' || base_dir.empty()) return file;
    return base_dir + "/" + file;
}

std::string show_number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

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
    if (!only_keys(j, path, {"depth", "ray_tracing", "facing", "spp", "noise_threshold", "final_gather", "photons"},
                   error))
        return false;
    long long depth = o.depth_setting, spp = scene.samples_per_pixel;
    bool ray_tracing = true;
    std::string facing = "a";
    if (!read_int(j, "depth", path, false, -1000000, 1000000, depth, error) ||
        !read_bool(j, "ray_tracing", path, false, ray_tracing, error) ||
        !read_string(j, "facing", path, false, facing, error) ||
        !read_int(j, "spp", path, false, 1, max_samples_per_pixel, spp, error) ||
        !read_number(j, "noise_threshold", path, false, scene.noise_threshold, error))
        return false;
    if (!(scene.noise_threshold >= 0 && scene.noise_threshold <= max_noise_threshold))
        return fail(error, "/options/noise_threshold",
                    "must lie in [0, " + show_number(max_noise_threshold) + "] (0: no adaptive sampling)");
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

bool parse_camera(const json& doc, CameraDesc& cam, bool& present, std::string& error) {
    auto it = doc.find("camera");
    present = it != doc.end();
    if (!present) return true;
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

bool parse_lights(const json& doc, Scene& scene, std::string& error) {
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
        scene.lights.push_back(light);
    }
    return true;
}

}  // namespace vosh::render
