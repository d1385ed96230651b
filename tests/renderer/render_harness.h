// Renders scenes given as JSON, in this process (the test executable exports
// the host operations) or through the vosh-render executable.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "renderer/image/image_io.h"
#include "renderer/render/render.h"
#include "support/process.h"
#include "support/scratch.h"

namespace vosh::render::test {

// The declaration shipped next to the module under test.
const ShaderDeclaration& test_declaration();

// Loads `scene` (base directory `base_dir`), applies `sets`, renders it in
// process and fails the current test on any error.
Image render_in_process(const nlohmann::json& scene, RenderSettings settings = {},
                        const std::string& base_dir = "", RenderStats* stats = nullptr);

// Per-instance occlusion parameters that weigh every hit 1 and leave the
// average unshaped, with `bright` 0 and `dark` 1: a pixel reads as the
// occluded fraction.
nlohmann::json fraction_params(int samples);

// Orthographic camera straight above the origin looking down, the image's
// up along -z: `width` scene units across `pixels` x `pixels`.
nlohmann::json top_view_camera(double width, int pixels);

// The floor point (x, 0, z) at the centre of pixel (px, py) of that camera.
void top_view_point(double width, int pixels, int px, int py, double& x, double& z);

// View factor from the floor point (x, 0, z), facing up, to a sphere of
// `radius` centred `height` > `radius` above the origin: (R/d)^2 cos(theta).
double sphere_view_factor(double x, double z, double radius, double height);

// The scratch files and processes of tests/support, under this namespace.
using vosh::test::file_exists;
using vosh::test::files_in;
using vosh::test::read_file;
using vosh::test::scratch_dir;
using vosh::test::write_text;
using CommandResult = vosh::test::ProcessResult;

// vosh-render followed by `args`.
std::vector<std::string> renderer_command(const std::vector<std::string>& args);

// Runs vosh-render with `args` (each passed as one argument); fails the
// current test if it reports module memory never released or records
// left pinned.
CommandResult run_renderer(const std::vector<std::string>& args);

}  // namespace vosh::render::test
