// Hostile input through vosh-render, one case per line: absurd parameter
// values, broken scenes, broken mesh and environment files. Each either
// ends in one error line with exit status 2 and the older output untouched,
// or writes an image with every channel finite; never a crash, a hang or a
// partial file. A broken scene with no --set is the scene loader's refusal
// alone and is checked by calling the loader.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include "render_harness.h"
#include "renderer/scene/scene_loader.h"
#include "support/test_scenes.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;

json base_scene() {
    json scene = vosh::test::floor_and_sphere();
    scene["lights"] = {{"key", {{"position", {2, 4, 1}}}}};
    scene["shaders"]["red"] = {{"type", "constant"}, {"params", {{"color", {1, 0, 0}}}}};
    return scene;
}

// A JSON string "@text@" is written into the file as the bare text (its
// quotes unescaped), for what JSON values cannot hold (1e400, NaN, a key
// given twice).
std::string scene_text(const json& scene) {
    std::string text = scene.dump();
    for (size_t at; (at = text.find("\"@")) != std::string::npos;) {
        const size_t end = text.find("@\"", at + 2);
        std::string bare = text.substr(at + 2, end - at - 2);
        for (size_t q; (q = bare.find("\\\"")) != std::string::npos;) bare.erase(q, 1);
        text = text.substr(0, at) + bare + text.substr(end + 2);
    }
    return text;
}

json& occ(json& s) { return s["shaders"]["occ"]["params"]; }
json& sphere(json& s) { return s["objects"][1]; }

void add_mesh(json& s, const std::string& dir, const std::string& file, const std::string& bytes) {
    write_text(dir + "/" + file, bytes);
    s["objects"].push_back({{"shape", "mesh"}, {"file", file}, {"material", "m"}});
}

const char* const two_triangles = "v 0 0 0\nv 1 0 0\nv 0 0 1\nv 1 0 1\nf 1 2 3\nf 2 4 3\n";

void write_environment(const std::string& dir, float value) {
    Image sky{4, 2, std::vector<float>(4 * 2 * 4, 1.0f)};
    sky.rgba[5] = value;
    std::string error;
    EXPECT_TRUE(write_image_atomic(sky, dir + "/sky.exr", error)) << error;
}

// A PNG file under an .exr name.
void write_png_as_exr(const std::string& dir) {
    const Image image{2, 2, std::vector<float>(16, 0.5f)};
    std::string error;
    EXPECT_TRUE(write_image_atomic(image, dir + "/sky.png", error)) << error;
    std::rename((dir + "/sky.png").c_str(), (dir + "/sky.exr").c_str());
}

void write_truncated_exr(const std::string& dir) {
    write_environment(dir, 1);
    const std::string bytes = read_file(dir + "/sky.exr");
    write_text(dir + "/sky.exr", bytes.substr(0, bytes.size() / 2));
}

std::string binary_junk() {
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) >> 3);
    return junk;
}

const json sky_image = {{"image", "sky.exr"}};

// Every surface textured with `file`, written by `write` (if any) first.
void use_texture(json& s, const std::string& dir, const std::string& file,
                 const std::function<void(const std::string&)>& write, json params = json::object()) {
    if (write) write(dir + "/" + file);
    params["file"] = file;
    s["shaders"]["tex"] = {{"type", "texture"}, {"params", params}};
    s["materials"]["m"]["shader"] = "tex";
}

void write_texture(const std::string& path, float value) {
    Image image{3, 2, std::vector<float>(3 * 2 * 4, 0.5f)};
    image.rgba[4] = value;
    std::string error;
    EXPECT_TRUE(write_image_atomic(image, path, error)) << error;
}

void write_truncated(const std::string& path) {
    write_texture(path, 1);
    const std::string bytes = read_file(path);
    write_text(path, bytes.substr(0, bytes.size() / 2));
}

using Spoil = std::function<void(json& scene, const std::string& dir)>;

struct Hostile {
    const char* name;
    std::vector<const char*> sets;  // --set NAME=VALUE arguments
    Spoil spoil;                    // changes to the scene, or none
    std::vector<const char*> error;  // pieces of the one error line; none: an image is expected
    const char* warning = nullptr;   // a warning the image comes with
    bool as_printed = false;         // the error as vosh-render prints it (control characters escaped)
};

const char* const nan_warning = "came back as NaN or infinity";

const Hostile hostile_inputs[] = {
    // --- parameters on the command line
    {"samples_int_max", {"samples=2147483647"}, {}, {"samples = 2147483647 would not finish", "limit"}},
    {"samples_negative", {"samples=-1"}, {}, {"samples = -1", "negative"}},
    {"samples_zero", {"samples=0"}, {}, {}},
    {"samples_fixed_by_a_later_set", {"samples=-1", "samples=8"}, {}, {}},
    {"samples_not_a_number", {"samples=12abc"}, {}, {"--set samples=12abc", "integer"}},
    {"samples_in_exponent_form", {"samples=1e3"}, {}, {"--set samples=1e3", "integer"}},
    {"near_samples_negative_adaptive", {"adaptive=on", "near_samples=-5"}, {}, {"near_samples = -5", "negative"}},
    {"far_samples_huge_adaptive", {"adaptive=on", "far_samples=2147483647"}, {}, {"far_samples = 2147483647"}},
    {"near_samples_negative_unused", {"near_samples=-5"}, {}, {}},
    {"fg_rays_huge", {"final_gather=1", "fg_override=1", "fg_rays=2147483647"}, {}, {"fg_rays = 2147483647", "65536"}},
    {"fg_rays_negative", {"final_gather=1", "fg_override=1", "fg_rays=-3"}, {}, {}},
    {"spread_huge", {"spread=1e30"}, {}, {}},
    {"spread_negative_huge", {"spread=-1e30"}, {}, {}},
    {"spread_zero", {"spread=0"}, {}, {}},
    {"far_distance_nan", {"far_distance=nan"}, {}, {"--set far_distance=nan", "finite"}},
    {"far_distance_infinite", {"far_distance=inf"}, {}, {"--set far_distance=inf", "finite"}},
    {"near_distance_minus_infinity", {"near_distance=-infinity"}, {}, {"near_distance", "finite"}},
    {"far_distance_beyond_float", {"far_distance=1e39"}, {}, {"1e39", "out of range"}},
    {"far_distance_negative", {"far_distance=-1"}, {}, {}},
    {"near_beyond_far", {"near_distance=1e30", "far_distance=1"}, {}, {}},
    {"gamma_zero", {"gamma=0"}, {}, {}},
    {"gamma_negative", {"gamma=-1"}, {}, {}, nan_warning},
    {"gamma_huge", {"gamma=1e30"}, {}, {}},
    {"bias_one", {"bias=1"}, {}, {}},
    {"bias_zero", {"bias=0"}, {}, {}},
    {"gain_zero", {"gain=0"}, {}, {}},
    {"gain_one", {"gain=1"}, {}, {}},
    {"output_space_negative", {"bent_normals=1", "output_space=-5"}, {}, {}},
    {"occlusion_mode_int_min", {"occlusion_mode=-2147483648"}, {}, {}},
    {"occlusion_mode_int_max", {"occlusion_mode=2147483647"}, {}, {}},
    {"occlusion_mode_beyond_int", {"occlusion_mode=-2147483649"}, {}, {"-2147483649", "32-bit"}},
    {"boosts_huge", {"boost=1e30", "boost_power=1e30", "color_strength=1e30", "hue_adjust=1e30"}, {}, {}},
    {"bright_at_float_max", {"bright=3e38,3e38,3e38"}, {}, {}},
    {"colour_missing_component", {"bright=1,2"}, {}, {"--set bright=1,2", "r,g,b"}},
    {"override_normal_zero", {"override_normal=0,0,0"}, {}, {}},
    {"bias_direction_zero", {"bias_direction=0,0,0", "light_bias=1"}, {}, {}},
    {"light_bias_huge", {"use_light=1", "light=key", "light_bias=1e30"}, {}, {}},
    {"light_unknown", {"light=nowhere"}, {}, {"no light named \"nowhere\""}},

    // --- parameters and values in the scene
    {"samples_connected", {}, [](json& s, auto&) { occ(s)["samples"] = {{"shader", "red"}}; },
     {"/shaders/occ/params/samples", "not a connection"}},
    {"gather_rays_huge", {}, [](json& s, auto&) { s["options"] = {{"final_gather", {{"rays", 1000000}}}}; },
     {"/options/final_gather/rays", "out of range"}},
    {"number_beyond_double", {}, [](json& s, auto&) { sphere(s)["radius"] = "@1e400@"; },
     {"malformed JSON", "1e400"}},
    {"nan_literal", {}, [](json& s, auto&) { sphere(s)["radius"] = "@NaN@"; }, {"malformed JSON", "line 1"}},
    {"nan_vertex_as_null", {}, [](json& s, auto&) { sphere(s)["center"][0] = NAN; },
     {"/objects/1/center/0", "expected a number"}},
    {"colour_beyond_float", {}, [](json& s, auto&) { s["environment"] = {{"color", {1e300, 1, 1}}}; },
     {"/environment/color/0", "32-bit float"}},
    {"nested_too_deep", {}, [](json& s, auto&) { s["camera"]["up"] = "@" + std::string(100000, '[') + std::string(100000, ']') + "@"; },
     {"nested more than"}},
    {"key_with_newline", {}, [](json& s, auto&) { s["camera"]["bad\nkey"] = 1; }, {"bad\\nkey", "unknown key"}, nullptr, true},
    {"key_given_twice", {}, [](json& s, auto&) { occ(s)["samples"] = "@8, \"samples\": 9@"; },
     {"line 1, column ", "/shaders/occ/params/samples", "duplicate key \"samples\""}},

    // --- geometry and camera
    {"empty_scene", {}, [](json& s, auto&) { s["objects"] = json::array(); }, {}},
    {"camera_only", {}, [](json& s, auto&) { s = {{"camera", s["camera"]}}; }, {}},
    {"camera_inside_sphere", {}, [](json& s, auto&) { s["camera"]["position"] = {0, 0.5, 0}; s["camera"]["look_at"] = {0, 0.5, -1}; }, {}},
    {"camera_on_the_floor", {}, [](json& s, auto&) { s["camera"]["position"] = {0, 0, 2}; }, {}},
    {"sphere_zero_radius", {}, [](json& s, auto&) { sphere(s)["radius"] = 0; }, {"/objects/1/radius", "greater than 0"}},
    {"sphere_tiny_radius", {}, [](json& s, auto&) { sphere(s)["radius"] = 1e-30; }, {}},
    {"sphere_far_away", {}, [](json& s, auto&) { sphere(s)["center"] = {1e13, 0, 0}; }, {"/objects/1", "1e+13 units"}},
    {"camera_far_away", {}, [](json& s, auto&) { s["camera"]["position"] = {1e30, 1e30, 1e30}; }, {"/camera/position", "1e+30"}},
    {"orthographic_too_wide", {}, [](json& s, auto&) { s["camera"] = {{"type", "orthographic"}, {"position", {0, 5, 0}}, {"look_at", {0, 0, 0}}, {"up", {0, 0, -1}}, {"width", 1e13}, {"resolution", {16, 12}}}; },
     {"/camera/width"}},
    {"translate_far_away", {}, [](json& s, auto&) { sphere(s)["transform"] = {{"translate", {0, 1e300, 0}}}; }, {"/objects/1", "units from the origin"}},
    {"scale_to_nothing", {}, [](json& s, auto&) { sphere(s)["transform"] = {{"scale", 1e-300}}; }, {"/objects/1/transform", "not invertible"}},
    {"shrunk_out_of_range", {}, [](json& s, auto&) { sphere(s)["radius"] = 1e16; sphere(s)["transform"] = {{"scale", 1e-16}}; },
     {"/objects/1/transform", "own space"}},
    {"degenerate_quad", {}, [](json& s, auto&) { s["objects"][0]["edge2"] = {0, 0, 1}; }, {"/objects/0/edge2", "parallel"}},
    {"disk_normal_overflows", {}, [](json& s, auto&) { s["objects"].push_back({{"shape", "disk"}, {"center", {0, 0, 0}}, {"normal", {1e200, 0, 0}}, {"radius", 1}, {"material", "m"}}); },
     {"/objects/2/normal", "finite length"}},
    {"light_direction_overflows", {}, [](json& s, auto&) { s["lights"]["key"] = {{"direction", {1e200, 1e200, 0}}}; },
     {"/lights/key/direction", "finite length"}},
    {"checker_cells_tiny", {}, [](json& s, auto&) { s["shaders"]["tiles"] = {{"type", "checker"}, {"params", {{"scale", 1e-300}}}}; s["materials"]["m"]["shader"] = "tiles"; }, {}},

    // --- mesh files
    {"mesh_degenerate_triangles", {}, [](json& s, auto& d) { add_mesh(s, d, "flat.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 0 1 0\nf 1 2 3\nf 1 1 1\nf 1 2 4\n"); }, {}},
    {"mesh_only_degenerate", {}, [](json& s, auto& d) { add_mesh(s, d, "flat.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 3\nf 2 2 2\n"); }, {}},
    {"mesh_nan_vertex", {}, [](json& s, auto& d) { add_mesh(s, d, "nan.obj", "v nan 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 3\n"); }, {"/objects/2/file", "nan.obj"}},
    {"mesh_vertex_far_away", {}, [](json& s, auto& d) { add_mesh(s, d, "far.obj", "v 1e30 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 3\n"); }, {"/objects/2", "1e+30"}},
    {"mesh_index_out_of_range", {}, [](json& s, auto& d) { add_mesh(s, d, "bad.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 99\n"); }, {"/objects/2/file", "bad.obj"}},
    {"mesh_truncated", {}, [](json& s, auto& d) { add_mesh(s, d, "cut.obj", std::string(two_triangles).substr(0, 25)); }, {"/objects/2/file", "cut.obj"}},
    {"mesh_empty_file", {}, [](json& s, auto& d) { add_mesh(s, d, "empty.obj", ""); }, {"/objects/2/file", "empty.obj"}},
    {"mesh_binary_garbage", {}, [](json& s, auto& d) { add_mesh(s, d, "junk.obj", binary_junk()); },
     {"/objects/2/file", "junk.obj"}},
    {"mesh_binary_ply_truncated", {}, [](json& s, auto& d) { add_mesh(s, d, "cut.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n" + std::string(20, '\0')); },
     {"/objects/2/file", "cut.ply", "importer crashed"}},
    {"mesh_ply_lying_about_its_size", {}, [](json& s, auto& d) { add_mesh(s, d, "big.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 10000000\nproperty float x\nproperty float y\nproperty float z\nend_header\n\x01\x02\x03"); },
     {"/objects/2/file", "big.ply"}},

    // --- environment images
    {"environment_png_named_exr", {}, [](json& s, auto& d) { write_png_as_exr(d); s["environment"] = sky_image; },
     {"/environment/image", "sky.exr"}},
    {"environment_truncated_exr", {}, [](json& s, auto& d) { write_truncated_exr(d); s["environment"] = sky_image; },
     {"/environment/image", "sky.exr"}},
    {"environment_nan_pixel", {}, [](json& s, auto& d) { write_environment(d, NAN); s["environment"] = sky_image; },
     {"/environment/image", "not a finite number at pixel (1, 0)"}},
    {"environment_infinite_pixel", {}, [](json& s, auto& d) { write_environment(d, INFINITY); s["environment"] = sky_image; },
     {"/environment/image", "pixel (1, 0)"}},
    {"environment_huge_but_finite", {}, [](json& s, auto& d) { write_environment(d, 3e38f); s["environment"] = sky_image; }, {}},

    // --- texture images
    {"texture_png", {}, [](json& s, auto& d) { use_texture(s, d, "t.png", [](auto& p) { write_texture(p, 1); }); }, {}},
    {"texture_exr", {}, [](json& s, auto& d) { use_texture(s, d, "t.exr", [](auto& p) { write_texture(p, 3e38f); }); }, {}},
    {"texture_missing", {}, [](json& s, auto& d) { use_texture(s, d, "none.png", nullptr); },
     {"/shaders/tex/params/file", "none.png", "No such file"}},
    {"texture_truncated_png", {}, [](json& s, auto& d) { use_texture(s, d, "t.png", write_truncated); },
     {"/shaders/tex/params/file", "t.png", "cannot read PNG"}},
    {"texture_junk_named_png", {}, [](json& s, auto& d) { use_texture(s, d, "t.png", [](auto& p) { write_text(p, binary_junk()); }); },
     {"/shaders/tex/params/file", "t.png", "not a PNG file"}},
    {"texture_truncated_exr", {}, [](json& s, auto& d) { use_texture(s, d, "t.exr", write_truncated); },
     {"/shaders/tex/params/file", "t.exr"}},
    {"texture_nan_texel", {}, [](json& s, auto& d) { use_texture(s, d, "t.exr", [](auto& p) { write_texture(p, NAN); }); },
     {"/shaders/tex/params/file", "not a finite number at pixel (1, 0)"}},
    {"texture_unknown_format", {}, [](json& s, auto& d) { use_texture(s, d, "t.jpg", [](auto& p) { write_text(p, "jpeg"); }); },
     {"/shaders/tex/params/file", "neither .png nor .exr"}},
    {"texture_without_file", {}, [](json& s, auto&) { s["shaders"]["tex"] = {{"type", "texture"}}; s["materials"]["m"]["shader"] = "tex"; },
     {"/shaders/tex/params/file", "missing"}},
    {"texture_unknown_encoding", {}, [](json& s, auto& d) { use_texture(s, d, "t.png", [](auto& p) { write_texture(p, 1); }, {{"encoding", "gamma"}}); },
     {"/shaders/tex/params/encoding", "\"gamma\""}},
    {"texture_exr_as_srgb", {}, [](json& s, auto& d) { use_texture(s, d, "t.exr", [](auto& p) { write_texture(p, 1); }, {{"encoding", "srgb"}}); },
     {"/shaders/tex/params/encoding", "linear already"}},
};

void PrintTo(const Hostile& c, std::ostream* os) { *os << c.name; }

class HostileInputs : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileInputs, ClearErrorOrFiniteImage) {
    const Hostile& c = GetParam();
    const std::string dir = scratch_dir();
    const std::string out = dir + "/out.exr";
    const std::string older = "an older image";
    write_text(out, older);
    json scene = base_scene();
    if (c.spoil) c.spoil(scene, dir);
    write_text(dir + "/scene.json", scene_text(scene));
    std::vector<std::string> args = {dir + "/scene.json", "-o", out, "--quiet", "--threads", "2"};
    for (const char* s : c.sets) {
        args.push_back("--set");
        args.push_back(s);
    }
    if (c.sets.empty() && !c.error.empty() && !c.as_printed) {
        Scene loaded;
        std::string error;
        EXPECT_FALSE(load_scene(dir + "/scene.json", test_declaration(), loaded, error));
        EXPECT_EQ(error.find('\n'), std::string::npos) << "more than one line: " << error;
        for (const char* piece : c.error) EXPECT_NE(error.find(piece), std::string::npos) << error;
        return;
    }
    const std::set<std::string> before = files_in(dir);

    const CommandResult r = run_renderer(args);
    EXPECT_EQ(files_in(dir), before) << "a file was left behind or removed";
    if (!c.error.empty()) {
        EXPECT_EQ(r.status, 2) << r.err;
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "more than one line: " << r.err;
        EXPECT_EQ(r.err.rfind("vosh-render: error: ", 0), 0u) << r.err;
        for (const char* piece : c.error) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
        EXPECT_EQ(read_file(out), older);
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    if (c.warning)
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
    else
        EXPECT_EQ(r.err.find(nan_warning), std::string::npos) << r.err;
    Image image;
    std::string error;
    ASSERT_TRUE(read_exr_rgba(out, image, error)) << error;
    ASSERT_EQ(image.width, 16);
    ASSERT_EQ(image.height, 12);
    for (size_t i = 0; i < image.rgba.size(); ++i)
        ASSERT_TRUE(std::isfinite(image.rgba[i]))
            << "pixel " << i / 4 % 16 << "," << i / 4 / 16 << " channel " << i % 4 << " is " << image.rgba[i];
}

INSTANTIATE_TEST_SUITE_P(Renderer, HostileInputs, ::testing::ValuesIn(hostile_inputs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vosh::render::test
