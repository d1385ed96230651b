#include "renderer/bake_cli.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "renderer/bake/bake.h"
#include "renderer/bake_options.h"
#include "renderer/cli_support.h"
#include "renderer/output/summary.h"
#include "renderer/render/render.h"
#include "renderer/scene/model_scene.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/work/shader_files.h"

namespace vosh::render {

namespace {

void report_layout(const BakeStats& s) {
    if (s.overlapped_texels)
        std::fprintf(stderr,
                     "WARNING: %llu texel(s) lie under overlapping UVs; each takes the triangle over "
                     "its centre, else the one covering most of it\n",
                     static_cast<unsigned long long>(s.overlapped_texels));
    if (s.wrapped_triangles)
        std::fprintf(stderr, "WARNING: %llu triangle(s) have UVs outside [0, 1]; they wrap around the texture\n",
                     static_cast<unsigned long long>(s.wrapped_triangles));
    if (s.unusable_triangles)
        std::fprintf(stderr,
                     "WARNING: %llu triangle(s) have UVs that are not finite or wider than the "
                     "texture; they are not baked\n",
                     static_cast<unsigned long long>(s.unusable_triangles));
    warn_bad_samples(s);
}

}  // namespace

int run_bake_cli(int argc, char** argv, const Ranks* ranks) {
    CLI::App app{"vosh-render bake: bakes the vosh_occlusion shader's results (occlusion or bent\n"
                 "normals) into a mesh's texture space. INPUT is a scene (.json; name the object\n"
                 "with --object) or a model file (every mesh of it is baked into one texture).\n"
                 "With --from, the maps come from high-poly sources projected onto INPUT.",
                 "vosh-render bake"};
    std::string input, object_name, output, size_text, background_text, space = "tangent",
                normal_y = "up";
    std::vector<std::string> assignments, sources;
    std::string cage_name, front_text, back_text, maps_text, miss_mask, threshold_text, sample_map_path;
    int padding = 16, spp = 4, uv_set = 0, depth = 8, min_spp = 0;
    int64_t seed = 0;
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool quiet = false;
    app.add_option("input", input, "scene (.json) or model file (.obj, .gltf, .glb, .ply, ...)")->required();
    app.add_option("--object", object_name, "name of the scene object to bake");
    app.add_option("-o,--output", output,
                   "output image, .png or .exr (default: OBJECT_ao.png, or OBJECT_bent.exr for bent normals)");
    app.add_option("--size", size_text, "W or WxH texels (default 1024)");
    app.add_option("--padding", padding, "texels of gutter around every UV island")->capture_default_str();
    app.add_option("--spp", spp, "points per texel")->capture_default_str();
    app.add_option("--noise-threshold", threshold_text,
                   "T: adaptive sampling, a texel stops once its estimated error is under T (0: off)");
    app.add_option("--min-spp", min_spp,
                   "points every texel takes before it may stop (default: a sixteenth of --spp, at least 4)");
    app.add_option("--sample-map", sample_map_path,
                   "FILE.png|.exr: also write the points each texel took (PNG: --spp is white)");
    app.add_option("--uv-set", uv_set, "UV set of the layout")->capture_default_str();
    app.add_option("--space", space, "bent normals: tangent, object or world")->capture_default_str();
    app.add_option("--normal-y", normal_y, "bent normals: green channel up or down")->capture_default_str();
    app.add_option("--depth", depth, "PNG bits per channel, 8 or 16")->capture_default_str();
    app.add_option("--background", background_text, "r,g,b,a beyond the padding (default 0,0,0,0)");
    app.add_option("--set", assignments, "NAME=VALUE: set a parameter of every occlusion shader (repeatable)");
    app.add_option("--threads", threads, "bake threads")->capture_default_str();
    app.add_option("--seed", seed, "sampler seed: another gives an independent bake")->capture_default_str();
    app.add_flag("--quiet", quiet, "no progress bar and no summary");
    app.add_option("--from", sources,
                   "high-poly source projected onto the low-poly INPUT: a model file, or with a scene an "
                   "object's name (repeatable)");
    app.add_option("--cage", cage_name,
                   "cage (model file, or scene object): the low-poly's topology pushed outward; rays start on it");
    app.add_option("--front", front_text,
                   "how far projection rays look out of the low-poly surface (default: 1 % of the "
                   "sources' bounding-box diagonal)");
    app.add_option("--back", back_text, "how far they look into it (default: as --front)");
    app.add_option("--maps", maps_text, "maps of a bake from --from: ao, bent, normal, comma-separated");
    app.add_option("--miss-mask", miss_mask, "image: white where no projection ray found a source");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        return complain(exit_bad_input, e.what());
    }

    BakeSettings settings;
    std::string error;
    if (!size_text.empty() && !parse_size(size_text, settings.width, settings.height, error))
        return complain(exit_bad_input, error);
    if (padding < 0 || padding > max_bake_size)
        return complain(exit_bad_input, "--padding " + std::to_string(padding) + ": must lie in [0, " +
                                            std::to_string(max_bake_size) + "]");
    if (spp < 1 || spp > max_samples_per_pixel)
        return complain(exit_bad_input, "--spp " + std::to_string(spp) + ": must lie in [1, " +
                                            std::to_string(max_samples_per_pixel) + "]");
    if (app.count("--noise-threshold") && !parse_threshold(threshold_text, settings.noise_threshold, error))
        return complain(exit_bad_input, error);
    if (app.count("--min-spp") && (min_spp < 1 || min_spp > max_samples_per_pixel))
        return complain(exit_bad_input, "--min-spp " + std::to_string(min_spp) + ": must lie in [1, " +
                                            std::to_string(max_samples_per_pixel) + "]");
    if (min_spp > spp)
        return complain(exit_bad_input, "--min-spp " + std::to_string(min_spp) + ": must lie in [1, " +
                                            std::to_string(spp) + "] (the bake's points per texel)");
    settings.min_samples = min_spp;
    if (uv_set < 0) return complain(exit_bad_input, "--uv-set " + std::to_string(uv_set) + ": must be 0 or more");
    if (threads < 1 || threads > max_threads)
        return complain(exit_bad_input, "--threads " + std::to_string(threads) + ": must lie in [1, " +
                                            std::to_string(max_threads) + "]");
    if (seed < 0 || seed > int64_t{UINT32_MAX})
        return complain(exit_bad_input, "--seed " + std::to_string(seed) + ": must lie in [0, " +
                                            std::to_string(UINT32_MAX) + "]");
    settings.seed = static_cast<uint32_t>(seed);
    if (space == "tangent")
        settings.space = BakeSpace::tangent;
    else if (space == "object")
        settings.space = BakeSpace::object;
    else if (space == "world")
        settings.space = BakeSpace::world;
    else
        return complain(exit_bad_input, "--space " + space + ": expected tangent, object or world");
    if (normal_y != "up" && normal_y != "down")
        return complain(exit_bad_input, "--normal-y " + normal_y + ": expected up or down");
    if (depth != 8 && depth != 16)
        return complain(exit_bad_input, "--depth " + std::to_string(depth) + ": expected 8 or 16");
    if (!background_text.empty() && !parse_background(background_text, settings.background, error))
        return complain(exit_bad_input, error);
    for (const std::string& a : assignments)
        if (a.rfind("output_space=", 0) == 0)
            return complain(exit_bad_input, "--set " + a + ": a bake chooses the bent-normal space with --space");
    if (!output.empty()) {
        const std::string ext = lower_extension(output);
        if (ext != ".png" && ext != ".exr")
            return complain(exit_bad_input, "-o " + output + ": the name must end in .png or .exr");
        if (ext == ".exr" && app.count("--depth"))
            return complain(exit_bad_input, "--depth: applies to PNG output only (EXR is 32-bit float)");
    }

    const bool project = !sources.empty();
    std::vector<BakeMap> maps;
    if (!project)
        for (const char* option : {"--cage", "--front", "--back", "--maps", "--miss-mask"})
            if (app.count(option))
                return complain(exit_bad_input, std::string(option) +
                                                    ": applies to a bake from a high-poly model (--from)");
    if (!front_text.empty() && !parse_distance("--front", front_text, settings.reach.front, error))
        return complain(exit_bad_input, error);
    if (!back_text.empty() && !parse_distance("--back", back_text, settings.reach.back, error))
        return complain(exit_bad_input, error);
    if (!cage_name.empty() && !front_text.empty())
        return complain(exit_bad_input, "--front: with --cage the rays start on the cage; only --back applies");
    if (cage_name.empty() && settings.reach.front == 0 && settings.reach.back == 0)
        return complain(exit_bad_input, "--front 0 --back 0: the projection rays would search nowhere");
    if (!maps_text.empty() && !parse_maps(maps_text, maps, error)) return complain(exit_bad_input, error);
    if (!miss_mask.empty() && lower_extension(miss_mask) != ".png" && lower_extension(miss_mask) != ".exr")
        return complain(exit_bad_input, "--miss-mask " + miss_mask + ": the name must end in .png or .exr");
    if (app.count("--sample-map") && lower_extension(sample_map_path) != ".png" &&
        lower_extension(sample_map_path) != ".exr")
        return complain(exit_bad_input, "--sample-map " + sample_map_path + ": the name must end in .png or .exr");

    ShaderFiles shader;
    if (!find_shader(shader, module_hint, error)) return complain(exit_failed, error);
    settings.module_path = shader.module_path;
    const ShaderDeclaration& decl = shader.decl;

    Scene scene;
    const bool from_scene = lower_extension(input) == ".json";
    if (from_scene) {
        if (object_name.empty())
            return complain(exit_bad_input, input + ": a bake of a scene needs --object NAME");
        if (!load_scene(input, decl, scene, error)) return complain(exit_bad_input, error);
        if (!find_object(scene, object_name, settings.object, error)) return complain(exit_bad_input, error);
        for (const std::string& name : sources) {
            uint32_t index = 0;
            if (!scene_object(scene, "--from", name, index, error)) return complain(exit_bad_input, error);
            scene.objects[index].bake_role = BakeRole::source;
        }
        if (!cage_name.empty() && !scene_object(scene, "--cage", cage_name, settings.reach.cage, error))
            return complain(exit_bad_input, error);
    } else {
        if (!object_name.empty())
            return complain(exit_bad_input, "--object " + object_name +
                                                ": a model file is baked whole; --object names an object of a scene");
        if (!scene_from_model(input, decl, scene, error)) return complain(exit_bad_input, error);
        settings.object = 0;
        for (const std::string& path : sources)
            if (!append_model(path, BakeRole::source, scene, error)) return complain(exit_bad_input, error);
        if (!cage_name.empty()) {
            if (!append_model(cage_name, BakeRole::cage, scene, error)) return complain(exit_bad_input, error);
            settings.reach.cage = static_cast<uint32_t>(scene.objects.size() - 1);
        }
    }
    if (!apply_overrides(assignments, decl, scene, error)) return complain(exit_bad_input, error);
    if (!check_bake_target(scene, settings.object, uv_set, error)) return complain(exit_bad_input, error);
    settings.uv_set = uv_set;
    const std::string& low_name = scene.objects[settings.object].name;
    bool bent = false;
    if (project) {
        if (maps.empty()) maps = {shader_map(scene, decl, settings.object, true), BakeMap::normal};
        if (output.empty()) output = low_name + "_{map}.png";
        if (maps.size() > 1 && output.find("{map}") == std::string::npos)
            return complain(exit_bad_input, "-o " + output + ": a bake of " + std::to_string(maps.size()) +
                                                " maps needs {map} in the name, e.g. " + low_name + "_{map}.png");
        settings.maps = maps;
        if (!prepare_projection(scene, decl, settings, error)) return complain(exit_bad_input, error);
    } else {
        bent = bakes_bent_normals(scene, decl, settings.object);
        if (bent) ask_for_world_normals(scene, decl, settings.object);
        if (output.empty()) output = low_name + (bent ? "_bent.exr" : "_ao.png");
        maps = {bent ? BakeMap::bent : BakeMap::ao};
    }
    const bool png = lower_extension(output) == ".png";
    settings.normals_to_unit = (bent || project) && png;
    settings.flip_y = (bent || project) && normal_y == "down";
    settings.padding = padding;
    settings.samples = spp;
    settings.threads = threads;
    settings.progress = !quiet && isatty(STDERR_FILENO);
    settings.stop = &stop_signalled;
    settings.ranks = ranks;
    if (app.count("--threads")) settings.worker_threads = threads;

    BakedMaps baked_maps;
    BakeStats stats;
    catch_stop_signals();
    const bool baked = bake_maps(scene, decl, settings, baked_maps, stats, error);
    if (stats.interrupted || stop_signalled.load()) return stopped();
    if (!baked) return complain(stats.bad_input ? exit_bad_input : exit_failed, error);
    PngEncoding encoding;
    encoding.srgb = false;
    encoding.depth = depth;
    // Every map or none: a failure part way leaves no set of files that
    // belong to different bakes.
    std::vector<ImageFile> files;
    std::string written;
    for (size_t m = 0; m < maps.size(); ++m) {
        files.push_back({&baked_maps.maps[m], project ? map_file(output, maps[m]) : output, encoding});
        written += (m ? ", " : "") + files.back().path;
    }
    Image mask;
    if (!miss_mask.empty()) {
        mask = miss_mask_image(baked_maps.missed, stats.width, stats.height);
        files.push_back({&mask, miss_mask, encoding});
    }
    Image taken;
    if (!sample_map_path.empty()) {
        taken = sample_map(baked_maps.points, stats.width, stats.height, stats.samples,
                           lower_extension(sample_map_path) == ".exr");
        files.push_back({&taken, sample_map_path, PngEncoding{false, 8}});
    }
    if (!write_images_atomic(files, error, &stop_signalled))
        return stop_signalled.load() ? stopped() : complain(exit_failed, error);
    report_layout(stats);
    if (!quiet) {
        char timing[400], note[200] = "";
        std::snprintf(timing, sizeof timing, "%.2f s", stats.seconds);
        if (stats.noise_threshold > 0)
            std::snprintf(note, sizeof note, " at most, %.2f on average (noise threshold %g, at least %d)",
                          stats.mean_samples, stats.noise_threshold, stats.min_samples);
        const std::string missed =
            project ? ", " + std::to_string(stats.missed_texels) + " texels found no high-poly surface" : "";
        std::printf("vosh-render: bake %s, %s, %llu texels covered%s -> %s\n", one_line(low_name).c_str(),
                    describe_run(stats, stats.width, stats.height, stats.samples, timing, note).c_str(),
                    static_cast<unsigned long long>(stats.covered_texels), missed.c_str(), written.c_str());
    }
    return 0;
}

}  // namespace vosh::render
