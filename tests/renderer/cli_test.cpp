// vosh-render as users run it: bad input is refused with one line and exit
// status 2 and nothing written; good input writes the image. A refusal the
// scene loader makes alone is checked by calling the loader.
#include <gtest/gtest.h>

#include <functional>

#include "render_harness.h"
#include "renderer/scene/scene_loader.h"
#include "support/test_scenes.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;

json small_scene() { return vosh::test::floor_and_sphere(); }

void add(std::vector<std::string>& args, std::initializer_list<const char*> more) {
    args.insert(args.end(), more.begin(), more.end());
}

struct BadInput {
    const char* name;
    std::function<void(json&, std::vector<std::string>&, const std::string& dir)> spoil;
    std::vector<const char*> expected;  // pieces of the one error line
    bool loader = false;                // the scene loader's refusal: checked in process
};

const BadInput bad_inputs[] = {
    {"missing_scene_file",
     [](json&, std::vector<std::string>& args, const std::string& dir) { args[0] = dir + "/nowhere.json"; },
     {"nowhere.json", "cannot open"}},
    {"malformed_json",
     [](json&, std::vector<std::string>& args, const std::string&) { args[0] += ".broken"; },
     {"scene.json.broken", "line 3", "malformed JSON"}, true},
    {"duplicate_key",
     [](json&, std::vector<std::string>& args, const std::string&) { args[0] += ".twice"; },
     {"scene.json.twice: line 5, column 24: /shaders/occ/params/samples: duplicate key \"samples\""}, true},
    {"unknown_shader_type",
     [](json& s, auto&, const auto&) { s["shaders"]["occ"]["type"] = "phong"; },
     {"scene.json", "/shaders/occ/type", "unknown shader type \"phong\""}, true},
    {"unknown_shape",
     [](json& s, auto&, const auto&) { s["objects"][1]["shape"] = "cone"; },
     {"/objects/1/shape", "unknown shape \"cone\""}, true},
    {"unknown_parameter",
     [](json& s, auto&, const auto&) { s["shaders"]["occ"]["params"]["smaples"] = 4; },
     {"/shaders/occ/params/smaples", "unknown parameter"}, true},
    {"wrong_value_type",
     [](json& s, auto&, const auto&) { s["shaders"]["occ"]["params"]["samples"] = "many"; },
     {"/shaders/occ/params/samples", "\"many\""}, true},
    {"wrong_vector_length",
     [](json& s, auto&, const auto&) { s["objects"][1]["center"] = {0, 1}; },
     {"/objects/1/center", "3 numbers"}, true},
    {"missing_mesh",
     [](json& s, auto&, const auto&) {
         s["objects"].push_back({{"shape", "mesh"}, {"file", "gone.obj"}, {"material", "m"}});
     },
     {"/objects/2/file", "gone.obj"}, true},
    {"unreadable_environment_image",
     [](json& s, auto&, const std::string& dir) {
         write_text(dir + "/sky.exr", "not an image");
         s["environment"] = {{"image", "sky.exr"}};
     },
     {"/environment/image", "sky.exr"}, true},
    {"no_camera", [](json& s, auto&, const auto&) { s.erase("camera"); },
     {"scene.json: /camera: missing", "can only be baked"}},
    {"zero_resolution",
     [](json& s, auto&, const auto&) { s["camera"]["resolution"] = {0, 12}; },
     {"/camera/resolution/0", "out of range"}, true},
    {"absurd_resolution",
     [](json& s, auto&, const auto&) { s["camera"]["resolution"] = {100000, 100000}; },
     {"/camera/resolution/0", "out of range"}, true},
    {"unknown_material",
     [](json& s, auto&, const auto&) { s["objects"][0]["material"] = "glass"; },
     {"/objects/0/material", "no material named \"glass\""}, true},
    {"connection_loop",
     [](json& s, auto&, const auto&) { s["shaders"]["occ"]["params"]["bright"] = {{"shader", "occ"}}; },
     {"/shaders/occ/params/bright", "loop"}, true},
    {"zero_threads",
     [](json&, std::vector<std::string>& args, const auto&) {
         args.push_back("--threads");
         args.push_back("0");
     },
     {"--threads 0"}},
    {"negative_seed",
     [](json&, std::vector<std::string>& args, const auto&) {
         args.push_back("--seed");
         args.push_back("-1");
     },
     {"--seed -1"}},
    {"seed_beyond_32_bits",
     [](json&, std::vector<std::string>& args, const auto&) {
         args.push_back("--seed");
         args.push_back("4294967296");
     },
     {"--seed 4294967296"}},
    {"unknown_set_parameter",
     [](json&, std::vector<std::string>& args, const auto&) {
         args.push_back("--set");
         args.push_back("sampels=3");
     },
     {"--set sampels=3", "unknown parameter"}},
    {"region_outside_image",
     [](json&, std::vector<std::string>& args, const auto&) {
         args.push_back("--region");
         args.push_back("0,0,17,12");
     },
     {"--region 0,0,17,12"}},
    {"noise_threshold_not_a_number", [](json&, auto& args, const auto&) { add(args, {"--noise-threshold", "nan"}); },
     {"--noise-threshold nan", "[0, 1]"}},
    {"noise_threshold_negative", [](json&, auto& args, const auto&) { add(args, {"--noise-threshold", "-0.01"}); },
     {"--noise-threshold -0.01"}},
    {"noise_threshold_absurd", [](json&, auto& args, const auto&) { add(args, {"--noise-threshold", "1e9"}); },
     {"--noise-threshold 1e9"}},
    {"min_spp_above_spp", [](json&, auto& args, const auto&) { add(args, {"--spp", "8", "--min-spp", "9"}); },
     {"--min-spp 9", "[1, 8]"}},
    {"sample_map_format", [](json&, auto& args, const auto&) { add(args, {"--sample-map", "map.jpg"}); },
     {"--sample-map map.jpg", ".png or .exr"}},
    {"scene_noise_threshold_negative", [](json& s, auto&, const auto&) { s["options"]["noise_threshold"] = -1; },
     {"/options/noise_threshold", "[0, 1]"}, true},
    {"unknown_output_format",
     [](json&, std::vector<std::string>& args, const std::string& dir) { args[2] = dir + "/out.jpg"; },
     {".png or .exr"}},
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class BadInputs : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, OneLineExitTwoNoImage) {
    const BadInput& c = GetParam();
    const std::string dir = scratch_dir();
    const std::string out = dir + "/out.png";
    std::vector<std::string> args = {dir + "/scene.json", "-o", out, "--quiet"};
    json scene = small_scene();
    c.spoil(scene, args, dir);
    write_text(dir + "/scene.json", scene.dump(2));
    write_text(dir + "/scene.json.broken", "{\n  \"camera\": [1, 2,\n");
    write_text(dir + "/scene.json.twice",
               "{\n  \"shaders\": {\n    \"occ\": {\"type\": \"vosh_occlusion\",\n"
               "            \"params\": {\"samples\": 8,\n                       \"samples\": 9}}}\n}\n");

    if (c.loader) {
        Scene scene;
        std::string error;
        EXPECT_FALSE(load_scene(args[0], test_declaration(), scene, error));
        EXPECT_EQ(error.find('\n'), std::string::npos) << "more than one line: " << error;
        for (const char* piece : c.expected) EXPECT_NE(error.find(piece), std::string::npos) << error;
        return;
    }
    const CommandResult r = run_renderer(args);
    EXPECT_EQ(r.status, 2) << r.err;
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "more than one line: " << r.err;
    for (const char* piece : c.expected) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(out));
    EXPECT_FALSE(file_exists(dir + "/out.jpg"));
}

INSTANTIATE_TEST_SUITE_P(Cli, BadInputs, ::testing::ValuesIn(bad_inputs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Cli, FailedRenderLeavesAnOldImageAlone) {
    const std::string dir = scratch_dir();
    json scene = small_scene();
    scene["objects"][1]["radius"] = -1;
    write_text(dir + "/scene.json", scene.dump());
    write_text(dir + "/out.png", "an older image");
    const CommandResult r = run_renderer({dir + "/scene.json", "-o", dir + "/out.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/objects/1/radius"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir + "/out.png"), "an older image");
}

// Values outside [0, 1] reach the EXR file unclamped, and the file holds
// exactly what the same render gives in process.
TEST(Cli, ExrRoundTripKeepsEveryValue) {
    const std::string dir = scratch_dir();
    json scene = small_scene();
    scene["shaders"]["occ"]["params"]["bright"] = {2.5, -0.5, 0.25};
    scene["shaders"]["occ"]["params"]["dark"] = {-1, 3, 0.5};
    write_text(dir + "/scene.json", scene.dump());
    const CommandResult r =
        run_renderer({dir + "/scene.json", "-o", dir + "/out.exr", "--threads", "2", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    Image from_file;
    std::string error;
    ASSERT_TRUE(read_exr_rgba(dir + "/out.exr", from_file, error)) << error;
    const Image direct = render_in_process(scene);
    ASSERT_EQ(from_file.width, 16);
    ASSERT_EQ(from_file.height, 12);
    EXPECT_EQ(from_file.rgba, direct.rgba);
    EXPECT_GT(*std::max_element(direct.rgba.begin(), direct.rgba.end()), 1.0f);
    EXPECT_LT(*std::min_element(direct.rgba.begin(), direct.rgba.end()), 0.0f);
}

TEST(Cli, SetOverridesEveryOcclusionShader) {
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", small_scene().dump());
    const CommandResult r = run_renderer({dir + "/scene.json", "-o", dir + "/out.exr", "--quiet",
                                          "--set", "bright=0.5,0.5,0.5", "--set", "dark=0.5,0.5,0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    Image image;
    std::string error;
    ASSERT_TRUE(read_exr_rgba(dir + "/out.exr", image, error)) << error;
    // Every surface pixel is the one colour; the sky keeps the environment's.
    for (size_t i = 0; i < image.rgba.size(); i += 4)
        EXPECT_TRUE(image.rgba[i] == 0.5f || image.rgba[i] == 1.0f) << image.rgba[i];
}

}  // namespace
}  // namespace vosh::render::test
