// Host services the module relies on, seen through rendered pixels:
// repeatable sampling, regions, connected parameters, colour bleeding
// through the hit's material shader, and lights.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "render_harness.h"
#include "support/test_scenes.h"
#include "renderer/scene/scene_loader.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;
using vosh::test::sphere_above;
using vosh::test::wide_floor;

// Several shaders and modes at once: plain occlusion with a distance range,
// colour bleeding off checkered and constant objects, environment tint.
json busy_scene() {
    json occ = fraction_params(24);
    occ["near_distance"] = 0.2;
    occ["far_distance"] = 2.0;
    json bleed = occ;
    bleed["occlusion_mode"] = 1;
    bleed["bright"] = {0.9, 0.9, 0.9};
    json tint = occ;
    tint["occlusion_mode"] = 2;
    return {{"camera",
             {{"type", "perspective"}, {"position", {1, 2.5, 4}}, {"look_at", {0, 0.3, 0}},
              {"fov_deg", 50}, {"resolution", {64, 48}}}},
            {"environment", {{"color", {0.6, 0.7, 0.9}}}},
            {"options", {{"spp", 2}}},
            {"shaders",
             {{"plain", {{"type", "vosh_occlusion"}, {"params", occ}}},
              {"bleed", {{"type", "vosh_occlusion"}, {"params", bleed}}},
              {"tint", {{"type", "vosh_occlusion"}, {"params", tint}}},
              {"checks",
               {{"type", "checker"},
                {"params", {{"color1", {1, 0, 0}}, {"color2", {0, 0, 1}}, {"scale", 0.25}}}}},
              {"green", {{"type", "constant"}, {"params", {{"color", {0, 1, 0}}}}}}}},
            {"materials",
             {{"floor", {{"shader", "bleed"}}},
              {"ball", {{"shader", "plain"}}},
              {"checked", {{"shader", "checks"}}},
              {"glass", {{"shader", "green"}, {"opacity", 0.5}}},
              {"tinted", {{"shader", "tint"}}}}},
            {"objects",
             {{{"shape", "quad"}, {"corner", {-4, 0, -4}}, {"edge1", {0, 0, 8}}, {"edge2", {8, 0, 0}},
               {"material", "floor"}},
              {{"shape", "sphere"}, {"center", {0, 0.5, 0}}, {"radius", 0.5}, {"material", "ball"}},
              {{"shape", "sphere"}, {"center", {1.1, 0.3, 0.2}}, {"radius", 0.3}, {"material", "checked"}},
              {{"shape", "disk"}, {"center", {-1, 0.4, 0.5}}, {"normal", {0.3, 1, 0}}, {"radius", 0.4},
               {"material", "glass"}},
              {{"shape", "quad"}, {"corner", {-1.5, 0, -1}}, {"edge1", {1, 0, 0}}, {"edge2", {0, 1, 0}},
               {"material", "tinted"}}}}};
}

TEST(HostFeatures, ThreadCountDoesNotChangeASingleBit) {
    RenderSettings one, three;
    one.threads = 1;
    three.threads = 3;
    const Image a = render_in_process(busy_scene(), one);
    const Image b = render_in_process(busy_scene(), three);
    ASSERT_EQ(a.rgba.size(), b.rgba.size());
    EXPECT_EQ(0, std::memcmp(a.rgba.data(), b.rgba.data(), a.rgba.size() * sizeof(float)));
    // And the scene is not trivially flat.
    EXPECT_GT(std::set<float>(a.rgba.begin(), a.rgba.end()).size(), 100u);
}

// Another seed gives another render of the same scene: the sampled pixels
// change (the sky and wholly open floor read the same whatever the seed),
// and yet the two agree on average.
TEST(HostFeatures, SeedGivesAnIndependentRender) {
    RenderSettings seeded;
    seeded.seed = 1;
    const Image a = render_in_process(busy_scene());
    const Image b = render_in_process(busy_scene(), seeded);
    ASSERT_EQ(a.rgba.size(), b.rgba.size());
    size_t same = 0;
    double mean_a = 0, mean_b = 0;
    for (size_t i = 0; i < a.rgba.size(); i += 4) {
        same += a.rgba[i] == b.rgba[i];
        mean_a += a.rgba[i];
        mean_b += b.rgba[i];
    }
    const double pixels = static_cast<double>(a.rgba.size() / 4);
    EXPECT_LT(same, a.rgba.size() / 4 * 2 / 3) << "pixels left unchanged by the seed";
    EXPECT_NEAR(mean_a / pixels, mean_b / pixels, 0.01);
}

TEST(HostFeatures, RegionIsACropOfTheFullImage) {
    const Image full = render_in_process(busy_scene());
    RenderSettings settings;
    settings.has_region = true;
    settings.region = {5, 3, 41, 30};
    settings.threads = 2;
    const Image crop = render_in_process(busy_scene(), settings);
    ASSERT_EQ(crop.width, 36);
    ASSERT_EQ(crop.height, 27);
    for (int y = 0; y < crop.height; ++y)
        for (int x = 0; x < crop.width; ++x)
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(crop.rgba[(static_cast<size_t>(y) * crop.width + x) * 4 + k],
                          full.rgba[(static_cast<size_t>(y + 3) * full.width + x + 5) * 4 + k])
                    << "pixel " << x << "," << y;
}

// Whoever passes the region, the command line or a caller of render_scene,
// a region outside the image is refused before the module is loaded.
TEST(HostFeatures, RegionOutsideTheImageIsRefused) {
    Scene scene;
    std::string error;
    ASSERT_TRUE(parse_scene(busy_scene(), "test scene", "", test_declaration(), scene, error)) << error;
    const Region refused[] = {{-1, 0, 8, 8}, {0, 0, 65, 48}, {0, 0, 64, 49}, {5, 5, 5, 9}, {5, 9, 9, 5}};
    for (const Region& r : refused) {
        RenderSettings settings;
        settings.module_path = "/nonexistent/module.so";  // would fail later, with another message
        settings.has_region = true;
        settings.region = r;
        Image image;
        RenderStats stats;
        EXPECT_FALSE(render_scene(scene, test_declaration(), settings, image, stats, error));
        EXPECT_NE(error.find(": must be a non-empty area within the 64x48 image"), std::string::npos)
            << error;
        EXPECT_TRUE(image.rgba.empty());
    }
    EXPECT_FALSE(check_region({0, 0, 65, 48}, 64, 48, error));
    EXPECT_EQ(error, "--region 0,0,65,48: must be a non-empty area within the 64x48 image (X1 and Y1 are "
                     "exclusive)");
    EXPECT_TRUE(check_region({0, 0, 64, 48}, 64, 48, error));
    EXPECT_TRUE(check_region({63, 47, 64, 48}, 64, 48, error));
}

// `bright` fed by a checker: an open floor shows the checker's two colours,
// evaluated at each shading point.
TEST(HostFeatures, ConnectedParameterIsEvaluatedPerShadingPoint) {
    json params = fraction_params(4);
    params["bright"] = {{"shader", "checks"}};
    const json scene = {
        {"camera",
         {{"type", "orthographic"}, {"position", {0, 5, 0}}, {"look_at", {0, 0, 0}}, {"up", {0, 0, -1}},
          {"width", 4}, {"resolution", {32, 32}}}},
        {"shaders",
         {{"occ", {{"type", "vosh_occlusion"}, {"params", params}}},
          {"checks",
           {{"type", "checker"}, {"params", {{"color1", {1, 0, 0}}, {"color2", {0, 0, 1}}, {"scale", 1}}}}}}},
        {"materials", {{"floor", {{"shader", "occ"}}}}},
        {"objects",
         {{{"shape", "quad"}, {"corner", {-2, 0, -2}}, {"edge1", {0, 0, 4}}, {"edge2", {4, 0, 0}},
           {"material", "floor"}}}}};
    const Image image = render_in_process(scene);
    int red = 0, blue = 0;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        const bool is_red = image.rgba[i] == 1 && image.rgba[i + 2] == 0;
        const bool is_blue = image.rgba[i] == 0 && image.rgba[i + 2] == 1;
        ASSERT_TRUE(is_red || is_blue) << image.rgba[i] << " " << image.rgba[i + 2];
        (is_red ? red : blue)++;
    }
    // A 4x4 checker over the 32x32 view: half the pixels each.
    EXPECT_EQ(red, 512);
    EXPECT_EQ(blue, 512);
}

// Colour bleeding with bright = dark = 1 and full strength: an open
// direction adds white, a blocked one the occluder's colour (red). Green
// therefore reads 1 - view factor of the sphere, whether the red comes from
// a host shader or from another occlusion instance answering the re-entrant
// call with its bright colour.
class BleedingSources : public ::testing::TestWithParam<const char*> {};

TEST_P(BleedingSources, BlockedDirectionsTakeTheHitShadersColour) {
    json bleed = fraction_params(1024);
    bleed["occlusion_mode"] = 1;
    bleed["color_strength"] = 1;
    bleed["bright"] = {1, 1, 1};
    bleed["dark"] = {1, 1, 1};
    json red_occlusion = fraction_params(16);
    red_occlusion["bright"] = {1, 0, 0};
    const double radius = 0.8, height = 1.2;
    const json scene = {
        {"camera",
         {{"type", "orthographic"}, {"position", {0, 10, 0}}, {"look_at", {0, 0, 0}}, {"up", {0, 0, -1}},
          {"width", 6}, {"resolution", {32, 32}}}},
        {"shaders",
         {{"bleed", {{"type", "vosh_occlusion"}, {"params", bleed}}},
          {"red", {{"type", "constant"}, {"params", {{"color", {1, 0, 0}}}}}},
          {"red_occlusion", {{"type", "vosh_occlusion"}, {"params", red_occlusion}}},
          {"marker", {{"type", "constant"}, {"params", {{"color", {-1, -1, -1}}}}}}}},
        {"materials",
         {{"floor", {{"shader", "bleed"}}}, {"occluder", {{"shader", GetParam()}}}}},
        {"objects",
         {wide_floor(),
          sphere_above(height, radius, "occluder")}}};
    const Image image = render_in_process(scene);
    double error = 0;
    int pixels = 0;
    for (int py = 0; py < 32; ++py)
        for (int px = 0; px < 32; ++px) {
            const float* p = &image.rgba[(py * 32 + px) * 4];
            const double x = ((px + 0.5) / 32 * 2 - 1) * 3, z = ((py + 0.5) / 32 * 2 - 1) * 3;
            if (x * x + z * z < radius * radius) continue;  // the sphere seen from above
            const double d2 = x * x + z * z + height * height;
            const double view_factor = radius * radius / d2 * (height / std::sqrt(d2));
            EXPECT_NEAR(p[1], p[2], 1e-6);
            error += std::fabs(p[1] - (1 - view_factor));
            ++pixels;
        }
    ASSERT_GT(pixels, 600);
    // Measured: mean absolute error 0.00134 over 972 floor pixels at 1024
    // probes per pixel, for both sources.
    EXPECT_LT(error / pixels, 0.0025);
}

INSTANTIATE_TEST_SUITE_P(HostFeatures, BleedingSources, ::testing::Values("red", "red_occlusion"));

// A square read from an OBJ file (and moved by a transform) occludes the
// floor as the same square given as a quad does.
TEST(HostFeatures, MeshFromFileOccludesLikeTheSameQuad) {
    const std::string dir = scratch_dir();
    write_text(dir + "/square.obj",
               "v -0.5 0 -0.5\nv 0.5 0 -0.5\nv 0.5 0 0.5\nv -0.5 0 0.5\nf 1 2 3\nf 1 3 4\n");
    const auto scene_with = [](const json& square) {
        return json{
            {"camera",
             {{"type", "orthographic"}, {"position", {0, 10, 0}}, {"look_at", {0, 0, 0}}, {"up", {0, 0, -1}},
              {"width", 4}, {"resolution", {24, 24}}}},
            {"shaders",
             {{"occ", {{"type", "vosh_occlusion"}, {"params", fraction_params(256)}}},
              {"marker", {{"type", "constant"}, {"params", {{"color", {-1, -1, -1}}}}}}}},
            {"materials", {{"floor", {{"shader", "occ"}}}, {"lid", {{"shader", "marker"}}}}},
            {"objects",
             {{{"shape", "quad"}, {"corner", {-5, 0, -5}}, {"edge1", {0, 0, 10}}, {"edge2", {10, 0, 0}},
               {"material", "floor"}},
              square}}};
    };
    const Image from_file = render_in_process(
        scene_with({{"shape", "mesh"}, {"file", "square.obj"}, {"material", "lid"},
                    {"transform", {{"scale", 2}, {"translate", {0, 0.6, 0}}}}}),
        {}, dir);
    const Image as_quad = render_in_process(scene_with({{"shape", "quad"}, {"corner", {-1, 0.6, -1}},
                                                        {"edge1", {2, 0, 0}}, {"edge2", {0, 0, 2}},
                                                        {"material", "lid"}}));
    ASSERT_EQ(from_file.rgba.size(), as_quad.rgba.size());
    int floor_pixels = 0;
    for (size_t i = 0; i < as_quad.rgba.size(); i += 4) {
        if (as_quad.rgba[i] == -1.0f) continue;
        ++floor_pixels;
        EXPECT_NEAR(from_file.rgba[i], as_quad.rgba[i], 1e-6) << "pixel " << i / 4;
    }
    EXPECT_GT(floor_pixels, 300);
}

// The environment image is latitude-longitude: red encodes the column
// (u), green the row (v), so a ray that leaves the scene reads back where
// it looked.
TEST(HostFeatures, EnvironmentImageIsLatitudeLongitude) {
    const std::string dir = scratch_dir();
    Image sky;
    sky.width = 64;
    sky.height = 32;
    for (int y = 0; y < sky.height; ++y)
        for (int x = 0; x < sky.width; ++x)
            for (float v : {(x + 0.5f) / sky.width, (y + 0.5f) / sky.height, 0.0f, 1.0f})
                sky.rgba.push_back(v);
    std::string error;
    ASSERT_TRUE(write_image_atomic(sky, dir + "/sky.exr", error)) << error;
    struct Look {
        double dx, dy, dz, u, v;
    };
    for (const Look& l : {Look{0, 0, -1, 0.5, 0.5}, Look{1, 0, 0, 0.75, 0.5}, Look{-1, 0, 0, 0.25, 0.5},
                          Look{0, 0.70710678, -0.70710678, 0.5, 0.25}, Look{0, -1, 0.001, 1.0, 1.0}}) {
        const json scene = {{"camera",
                             {{"type", "perspective"}, {"position", {0, 0, 0}}, {"look_at", {l.dx, l.dy, l.dz}},
                              {"up", {0, 1, 1e-3}}, {"resolution", {1, 1}}}},
                            {"environment", {{"image", "sky.exr"}}}};
        const Image image = render_in_process(scene, {}, dir);
        ASSERT_EQ(image.rgba.size(), 4u);
        // Half a texel of slack where the lookup clamps at the poles.
        if (l.v < 1) {
            EXPECT_NEAR(image.rgba[0], l.u, 1e-3) << l.dx << " " << l.dy << " " << l.dz;
        }
        EXPECT_NEAR(image.rgba[1], l.v, 0.5 / sky.height + 1e-3) << l.dx << " " << l.dy << " " << l.dz;
    }
}

// A pass-through surface answers black and lets what lies behind show in
// proportion to its transparency.
TEST(HostFeatures, PassThroughShowsWhatLiesBehind) {
    json glass = fraction_params(4);
    glass["pass_through"] = true;
    const json scene = {
        {"camera",
         {{"type", "orthographic"}, {"position", {0, 5, 0}}, {"look_at", {0, 0, 0}}, {"up", {0, 0, -1}},
          {"width", 2}, {"resolution", {8, 8}}}},
        {"shaders",
         {{"glass", {{"type", "vosh_occlusion"}, {"params", glass}}},
          {"paint", {{"type", "constant"}, {"params", {{"color", {0.2, 0.4, 0.8}}}}}}}},
        {"materials", {{"pane", {{"shader", "glass"}, {"opacity", 0.25}}}, {"floor", {{"shader", "paint"}}}}},
        {"objects",
         {{{"shape", "quad"}, {"corner", {-5, 0, -5}}, {"edge1", {0, 0, 10}}, {"edge2", {10, 0, 0}},
           {"material", "floor"}},
          {{"shape", "quad"}, {"corner", {-5, 1, -5}}, {"edge1", {0, 0, 10}}, {"edge2", {10, 0, 0}},
           {"material", "pane"}}}}};
    const Image image = render_in_process(scene);
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        ASSERT_FLOAT_EQ(image.rgba[i], 0.75f * 0.2f);
        ASSERT_FLOAT_EQ(image.rgba[i + 1], 0.75f * 0.4f);
        ASSERT_FLOAT_EQ(image.rgba[i + 2], 0.75f * 0.8f);
        ASSERT_FLOAT_EQ(image.rgba[i + 3], 1.0f);
    }
}

// With spread 0 and light_bias 1 every probe runs straight at the light, so
// the floor reads 1 exactly where a ball hides the light and 0 elsewhere.
struct LightCase {
    const char* name;
    json light;
    double lx, ly, lz;  // light position, or direction toward the light times a large distance
};

class Lights : public ::testing::TestWithParam<LightCase> {};

TEST_P(Lights, ProbesRunTowardTheSelectedLight) {
    const LightCase& c = GetParam();
    json params = fraction_params(2);
    params["spread"] = 0;
    params["light_bias"] = 1;
    params["use_light"] = true;
    params["light"] = "key";
    const double ball_radius = 0.5, ball_height = 1.0;
    const json scene = {
        {"camera",
         {{"type", "orthographic"}, {"position", {0, 10, 0}}, {"look_at", {0, 0, 0}}, {"up", {0, 0, -1}},
          {"width", 4}, {"resolution", {40, 40}}}},
        {"lights", {{"key", c.light}, {"fill", {{"position", {-3, 1, 3}}}}}},
        {"shaders",
         {{"occ", {{"type", "vosh_occlusion"}, {"params", params}}},
          {"marker", {{"type", "constant"}, {"params", {{"color", {-1, -1, -1}}}}}}}},
        {"materials", {{"floor", {{"shader", "occ"}}}, {"ball", {{"shader", "marker"}}}}},
        {"objects",
         {wide_floor(),
          sphere_above(ball_height, ball_radius, "ball")}}};
    const Image image = render_in_process(scene);
    int shadowed = 0, mismatches = 0;
    for (int py = 0; py < 40; ++py)
        for (int px = 0; px < 40; ++px) {
            const float v = image.rgba[(py * 40 + px) * 4];
            if (v == -1.0f) continue;
            const double x = ((px + 0.5) / 40 * 2 - 1) * 2, z = ((py + 0.5) / 40 * 2 - 1) * 2;
            // Does the segment from (x, 0, z) toward the light pass through the ball?
            const double dx = c.lx - x, dy = c.ly, dz = c.lz - z;
            const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
            const double t = (-x * dx + ball_height * dy - z * dz) / len;  // along the unit direction
            const double cx = x + dx / len * t, cy = dy / len * t, cz = z + dz / len * t;
            const double miss2 = cx * cx + (cy - ball_height) * (cy - ball_height) + cz * cz;
            const double margin = 0.02;  // pixels grazing the ball's outline may go either way
            if (miss2 < (ball_radius - margin) * (ball_radius - margin)) {
                ++shadowed;
                mismatches += v != 1.0f;
            } else if (miss2 > (ball_radius + margin) * (ball_radius + margin)) {
                mismatches += v != 0.0f;
            }
        }
    EXPECT_GT(shadowed, 30);
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(
    HostFeatures, Lights,
    ::testing::Values(LightCase{"point", {{"position", {1.5, 3, 0.5}}}, 1.5, 3, 0.5},
                      LightCase{"directional", {{"direction", {-0.5, -1, 0.25}}}, 500, 1000, -250}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vosh::render::test
