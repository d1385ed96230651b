#include "render_harness.h"

#include <gtest/gtest.h>

#include <cmath>

#include "renderer/scene/scene_loader.h"

namespace vosh::render::test {

const ShaderDeclaration& test_declaration() {
    static ShaderDeclaration decl = [] {
        std::string module = VOSH_MODULE_PATH;
        const std::string path = module.substr(0, module.find_last_of('/')) + "/vosh_occlusion.decl.json";
        ShaderDeclaration d;
        std::string error;
        if (!load_declaration(path, d, error)) ADD_FAILURE() << error;
        return d;
    }();
    return decl;
}

Image render_in_process(const nlohmann::json& scene_doc, RenderSettings settings,
                        const std::string& base_dir, RenderStats* stats_out) {
    Scene scene;
    std::string error;
    Image image;
    if (!parse_scene(scene_doc, "test scene", base_dir, test_declaration(), scene, error)) {
        ADD_FAILURE() << error;
        return image;
    }
    settings.module_path = VOSH_MODULE_PATH;
    if (settings.threads < 1) settings.threads = 1;
    RenderStats stats;
    if (!render_scene(scene, test_declaration(), settings, image, stats, error)) ADD_FAILURE() << error;
    EXPECT_EQ(stats.leaked_blocks, 0u);
    EXPECT_EQ(stats.bad_samples, 0u);
    if (stats_out) *stats_out = stats;
    return image;
}

nlohmann::json fraction_params(int samples) {
    return {{"bright", {0, 0, 0}}, {"dark", {1, 1, 1}}, {"samples", samples},
            {"spread", 90},        {"near_distance", 1e6}, {"far_distance", 1e6},
            {"gamma", 1},          {"bias", 0.5},        {"gain", 0.5}};
}

nlohmann::json top_view_camera(double width, int pixels) {
    return {{"type", "orthographic"}, {"position", {0, 10, 0}}, {"look_at", {0, 0, 0}},
            {"up", {0, 0, -1}},       {"width", width},         {"resolution", {pixels, pixels}}};
}

void top_view_point(double width, int pixels, int px, int py, double& x, double& z) {
    x = ((px + 0.5) / pixels * 2 - 1) * width / 2;
    z = ((py + 0.5) / pixels * 2 - 1) * width / 2;
}

double sphere_view_factor(double x, double z, double radius, double height) {
    const double d2 = x * x + z * z + height * height;
    return radius * radius / d2 * (height / std::sqrt(d2));
}

std::vector<std::string> renderer_command(const std::vector<std::string>& args) {
    std::vector<std::string> command = {VOSH_RENDER_EXE};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

CommandResult run_renderer(const std::vector<std::string>& args) {
    const CommandResult result = vosh::test::run_process(renderer_command(args));
    // Every render, whatever its outcome, ends with the module's memory
    // given back and no record left pinned.
    EXPECT_EQ(result.err.find("never released"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("still pinned"), std::string::npos) << result.err;
    return result;
}

}  // namespace vosh::render::test
