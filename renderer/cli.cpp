#include "renderer/cli.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "renderer/bake_cli.h"
#include "renderer/cli_support.h"
#include "renderer/image/image_io.h"
#include "renderer/output/summary.h"
#include "renderer/render/render.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/work/shader_files.h"

namespace vosh::render {

namespace {

constexpr const char* default_scene = "scenes/demo.json";

bool parse_region(const std::string& text, Region& r, std::string& error) {
    std::vector<long long> v;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        size_t used = 0;
        long long value = 0;
        try {
            value = std::stoll(part, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != part.size() || value < 0 || value > max_resolution) {
            error = "--region " + text + ": expected X0,Y0,X1,Y1 (whole pixel numbers)";
            return false;
        }
        v.push_back(value);
    }
    if (v.size() != 4) {
        error = "--region " + text + ": expected X0,Y0,X1,Y1 (whole pixel numbers)";
        return false;
    }
    r = {static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
    return true;
}

// The default scene is found from the working directory, else in the source tree.
std::string locate_default_scene() {
    if (std::ifstream(default_scene).good()) return default_scene;
    const std::string shipped = std::string(VOSH_SOURCE_DIR) + "/" + default_scene;
    if (std::ifstream(shipped).good()) return shipped;
    return default_scene;
}


}  // namespace

int run_cli(int argc, char** argv, const Ranks* ranks) {
    if (argc > 1 && std::string(argv[1]) == "bake") return run_bake_cli(argc - 1, argv + 1, ranks);
    CLI::App app{"vosh-render: renders a JSON scene with the vosh_occlusion shader module.\n"
                 "The module is loaded from the directory of this executable, or from the file\n"
                 "named by the VOSH_MODULE environment variable; its declaration\n"
                 "(vosh_occlusion.decl.json) is read from the module's directory.",
                 "vosh-render"};
    std::string scene_path, output = "occlusion.png", region_text, threshold_text, sample_map_path;
    std::vector<std::string> assignments;
    int spp = 0, min_spp = 0;
    int64_t seed = 0;
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool quiet = false;
    app.add_option("scene", scene_path, "scene file (default: scenes/demo.json)");
    app.add_option("-o,--output", output, "output image, .png (8-bit sRGB) or .exr (32-bit float)")
        ->capture_default_str();
    app.add_option("--set", assignments,
                   "NAME=VALUE: set a parameter of every occlusion shader (repeatable)");
    app.add_option("--spp", spp, "camera samples per pixel (default: the scene's)");
    app.add_option("--noise-threshold", threshold_text,
                   "T: adaptive sampling, a pixel stops once its estimated error is under T (0: off; "
                   "default: the scene's)");
    app.add_option("--min-spp", min_spp,
                   "camera samples every pixel takes before it may stop (default: a sixteenth of --spp, at least 4)");
    app.add_option("--sample-map", sample_map_path,
                   "FILE.png|.exr: also write the camera samples each pixel took (PNG: --spp is white)");
    app.add_option("--threads", threads, "render threads")->capture_default_str();
    app.add_option("--seed", seed, "sampler seed: another gives an independent render")->capture_default_str();
    app.add_option("--region", region_text, "X0,Y0,X1,Y1: render only these pixels (X1, Y1 exclusive)");
    app.add_flag("--quiet", quiet, "no progress bar and no summary");
    app.set_version_flag("--version", std::string("vosh-render ") + VOSH_RENDER_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        return complain(exit_bad_input, e.what());
    }

    if (threads < 1 || threads > max_threads)
        return complain(exit_bad_input,
                        "--threads " + std::to_string(threads) + ": must lie in [1, " +
                            std::to_string(max_threads) + "]");
    if (app.count("--spp") && (spp < 1 || spp > max_samples_per_pixel))
        return complain(exit_bad_input, "--spp " + std::to_string(spp) + ": must lie in [1, " +
                                            std::to_string(max_samples_per_pixel) + "]");
    if (seed < 0 || seed > int64_t{UINT32_MAX})
        return complain(exit_bad_input, "--seed " + std::to_string(seed) + ": must lie in [0, " +
                                            std::to_string(UINT32_MAX) + "]");
    if (image_format_of(output) == ImageFormat::unknown)
        return complain(exit_bad_input, "-o " + output + ": the name must end in .png or .exr");
    RenderSettings settings;
    if (app.count("--noise-threshold")) {
        std::string error;
        if (!parse_threshold(threshold_text, settings.noise_threshold, error)) return complain(exit_bad_input, error);
    }
    if (app.count("--min-spp") && (min_spp < 1 || min_spp > max_samples_per_pixel))
        return complain(exit_bad_input, "--min-spp " + std::to_string(min_spp) + ": must lie in [1, " +
                                            std::to_string(max_samples_per_pixel) + "]");
    if (app.count("--sample-map") && image_format_of(sample_map_path) == ImageFormat::unknown)
        return complain(exit_bad_input, "--sample-map " + sample_map_path + ": the name must end in .png or .exr");
    if (!region_text.empty()) {
        std::string error;
        if (!parse_region(region_text, settings.region, error)) return complain(exit_bad_input, error);
        settings.has_region = true;
    }
    if (scene_path.empty()) scene_path = locate_default_scene();

    ShaderFiles shader;
    std::string error;
    if (!find_shader(shader, module_hint, error)) return complain(exit_failed, error);
    settings.module_path = shader.module_path;
    const ShaderDeclaration& decl = shader.decl;

    Scene scene;
    if (!load_scene(scene_path, decl, scene, error) || !apply_overrides(assignments, decl, scene, error))
        return complain(exit_bad_input, error);
    if (!scene.has_camera)
        return complain(exit_bad_input, scene_path + ": /camera: missing (a scene without a camera can only be baked)");
    // Checked here too, before any module work, so that it counts as bad input.
    if (settings.has_region &&
        !check_region(settings.region, scene.camera.width_px, scene.camera.height_px, error))
        return complain(exit_bad_input, error);

    const int most_samples = spp > 0 ? spp : scene.samples_per_pixel;
    if (min_spp > most_samples)
        return complain(exit_bad_input, "--min-spp " + std::to_string(min_spp) + ": must lie in [1, " +
                                            std::to_string(most_samples) + "] (the render's samples per pixel)");

    settings.threads = threads;
    settings.samples_per_pixel = spp;
    settings.min_samples = min_spp;
    settings.seed = static_cast<uint32_t>(seed);
    settings.progress = !quiet && isatty(STDERR_FILENO);
    settings.stop = &stop_signalled;
    settings.ranks = ranks;
    if (app.count("--threads")) settings.worker_threads = threads;
    Image image;
    RenderStats stats;
    catch_stop_signals();
    const bool rendered = render_scene(scene, decl, settings, image, stats, error);
    if (stats.interrupted || stop_signalled.load()) return stopped();
    if (!rendered) return complain(exit_failed, error);
    if (!write_image_atomic(image, output, error, &stop_signalled))
        return stop_signalled.load() ? stopped() : complain(exit_failed, error);

    if (!sample_map_path.empty() &&
        !write_image_atomic(sample_map(stats.samples_taken, stats.width, stats.height, stats.samples_per_pixel,
                                       image_format_of(sample_map_path) == ImageFormat::exr),
                            sample_map_path, error, &stop_signalled, PngEncoding{false, 8}))
        return stop_signalled.load() ? stopped() : complain(exit_failed, error);

    warn_bad_samples(stats);
    if (!quiet) {
        char timing[800], note[200] = "";
        std::snprintf(timing, sizeof timing, "%.3f s (%.3f s CPU)", stats.seconds, stats.cpu_seconds);
        if (stats.noise_threshold > 0)
            std::snprintf(note, sizeof note, " at most, %.2f on average (noise threshold %g, at least %d)",
                          stats.mean_samples, stats.noise_threshold, stats.min_samples);
        std::printf("vosh-render: %s -> %s\n",
                    describe_run(stats, stats.width, stats.height, stats.samples_per_pixel, timing, note).c_str(),
                    output.c_str());
    }
    return 0;
}

}  // namespace vosh::render
