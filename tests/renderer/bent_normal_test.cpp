// Bent normals rendered through vosh-render: against closed forms on open
// and walled floors, and every output space against the renderer's frames.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>

#include "render_harness.h"
#include "renderer/math/math3.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;

// Bent normals in `space`, with probes that reach any distance.
json bent_params(int samples, int space) {
    return {{"bent_normals", true}, {"output_space", space}, {"samples", samples},
            {"spread", 90},         {"near_distance", 0},    {"far_distance", 1e6}};
}

json vec(Vec3 v) { return {v.x, v.y, v.z}; }

Vec3 pixel_vector(const Image& image, size_t pixel) {
    const float* p = &image.rgba[pixel * 4];
    return {p[0], p[1], p[2]};
}

double angle_deg(Vec3 a, Vec3 b) {
    const double c = dot(normalize(a), normalize(b));
    return std::acos(std::fmax(-1.0, std::fmin(1.0, c))) * 180 / M_PI;
}

struct AngleError {
    double mean = 0, max = 0;
};

AngleError angle_error(const Image& image, Vec3 expected) {
    AngleError e;
    const size_t pixels = image.rgba.size() / 4;
    for (size_t i = 0; i < pixels; ++i) {
        const double a = angle_deg(pixel_vector(image, i), expected);
        e.mean += a;
        e.max = std::fmax(e.max, a);
    }
    e.mean /= static_cast<double>(pixels);
    return e;
}

// A 40 x 40 square through `centre` facing along the unit `normal`.
json facing_quad(Vec3 centre, Vec3 normal) {
    Vec3 t, b;
    orthonormal_basis(normal, t, b);
    return {{"shape", "quad"}, {"corner", vec(centre - t * 20 - b * 20)}, {"edge1", vec(t * 40)},
            {"edge2", vec(b * 40)}, {"material", "bent"}};
}

json one_shader_scene(const json& camera, const json& params, const json& objects) {
    return {{"camera", camera},
            {"shaders", {{"bent", {{"type", "vosh_occlusion"}, {"params", params}}}}},
            {"materials", {{"bent", {{"shader", "bent"}}}}},
            {"objects", objects}};
}

// A plane seen by a perspective camera straight on. Nothing blocks it, so
// the bent normal is the plane's normal in world space; in camera space
// that normal points back along the view axis, +z, at every pixel.
struct OpenPlaneCase {
    const char* name;
    int space;
    bool camera_frame;  // expect +z rather than the world normal
};

void PrintTo(const OpenPlaneCase& c, std::ostream* os) { *os << c.name; }

class OpenPlane : public ::testing::TestWithParam<OpenPlaneCase> {};

TEST_P(OpenPlane, BentNormalIsTheSurfaceNormal) {
    const Vec3 eye{2, 3, 4}, target{0, 0.5, 0};
    const Vec3 normal = normalize(eye - target);
    const json camera = {{"type", "perspective"}, {"position", vec(eye)}, {"look_at", vec(target)},
                         {"fov_deg", 40},         {"resolution", {24, 24}}};
    const Image image = render_in_process(one_shader_scene(
        camera, bent_params(1024, GetParam().space), json::array({facing_quad(target, normal)})));
    const AngleError e = angle_error(image, GetParam().camera_frame ? Vec3{0, 0, 1} : normal);
    // Measured at 1024 probes over 576 pixels: mean 0.012 degrees, max 0.038,
    // in both spaces.
    EXPECT_LT(e.mean, 0.03);
    EXPECT_LT(e.max, 0.1);
}

INSTANTIATE_TEST_SUITE_P(BentNormals, OpenPlane,
                         ::testing::Values(OpenPlaneCase{"World", 1, false},
                                           OpenPlaneCase{"Camera", 3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A floor beside a wall (the plane x = 3.2) so tall and long that it stands
// for a half-space: every probe with a +x component is blocked, whatever the
// point's distance to the wall, and the open directions are the quarter
// sphere y > 0, x < 0.
//
// A probe direction is the unit normal n times 0.5 plus 0.5 times a uniform
// point on the unit sphere: a uniform point on the sphere of diameter 1
// that touches the shading point. Seen from the point, direction w at angle
// theta from n is cosine-distributed, and the generated vector has length
// cos(theta). The bent normal therefore is the direction of the integral of
// cos^2(theta) w over the open directions, with w = (sin t cos p, cos t,
// sin t sin p) around n = +y and p in (pi/2, 3pi/2) for x < 0:
//   y: int cos^3 t sin t dt * pi             = pi/4
//   x: int cos^2 t sin^2 t dt * int cos p dp = (pi/16) * (-2) = -pi/8
//   z: 0 by symmetry.
// So it leans away from the wall by atan((pi/8) / (pi/4)) = atan(1/2) =
// 26.565 degrees. (Normalising each direction first would give atan(2/pi) =
// 32.48 degrees; a uniform hemisphere 45; counting blocked directions 0.)
// The wall's finite size lets through directions within 6.1e-4 rad of its
// plane, which moves the expectation by far less than the tolerance.
TEST(BentNormals, FloorBesideATallWallLeansAwayByAtanOneHalf) {
    const double lean = std::atan(0.5);
    const Vec3 expected{-std::sin(lean), std::cos(lean), 0};
    const double big = 1e4;
    const json floor = {{"shape", "quad"},       {"corner", {-50, 0, -50}}, {"edge1", {0, 0, 100}},
                        {"edge2", {53.2, 0, 0}}, {"material", "bent"}};
    const json wall = {{"shape", "quad"},          {"corner", {3.2, 0, -big}}, {"edge1", {0, big, 0}},
                       {"edge2", {0, 0, 2 * big}}, {"material", "bent"}};
    // Floor points from 0.3 to 6.1 units away from the wall.
    const Image image = render_in_process(
        one_shader_scene(top_view_camera(6, 24), bent_params(1024, 1), json::array({floor, wall})));
    const AngleError e = angle_error(image, expected);
    // Measured at 1024 probes over 576 pixels: mean 0.026 degrees, max 0.21.
    EXPECT_LT(e.mean, 0.06);
    EXPECT_LT(e.max, 0.5);
}

// An orthographic camera looking along -x at a quad that an affine matrix
// carries out of its own xy plane; a point light first and a directional
// light second, the shader naming the second. Each output space must be the
// world-space bent normal of the same pixel carried into that frame: the
// sampling is identical across the renders, so the comparison is exact up
// to rounding.
constexpr int spaces_size = 16;
constexpr double spaces_width = 2;
// Rows: images of the object's x, y and z axes (not orthogonal, not unit).
const Vec3 object_axes[3] = {{0.2, 0.3, -1.5}, {0.1, 1.0, 0.2}, {1.0, -0.1, 0.2}};
const Vec3 key_direction{-0.6, -0.8, 0};  // the way the directional light shines
// Camera frame for a camera at +x looking at the origin with +y up.
const Vec3 cam_right{0, 0, -1}, cam_up{0, 1, 0}, cam_back{1, 0, 0};

json spaces_scene(int space, const json& extra_params = json::object()) {
    json params = bent_params(64, space);
    params["light"] = "key";
    params.update(extra_params);
    const Vec3* r = object_axes;
    const json matrix = {r[0].x, r[0].y, r[0].z, 0, r[1].x, r[1].y, r[1].z, 0,
                         r[2].x, r[2].y, r[2].z, 0, 0,      0,      0,      1};
    // The quad and, in front of it, an ellipsoid (a sphere in object space)
    // whose bent normals take many directions.
    const json quad = {{"shape", "quad"},     {"corner", {-3, -3, 0}}, {"edge1", {6, 0, 0}},
                       {"edge2", {0, 6, 0}}, {"material", "bent"},   {"transform", matrix}};
    const json ellipsoid = {{"shape", "sphere"}, {"center", {0, 0, 1}},  {"radius", 0.4},
                            {"material", "bent"}, {"transform", matrix}};
    json scene = one_shader_scene(
        {{"type", "orthographic"}, {"position", {10, 0, 0}}, {"look_at", {0, 0, 0}},
         {"width", spaces_width}, {"resolution", {spaces_size, spaces_size}}},
        params, json::array({quad, ellipsoid}));
    scene["lights"] = {{"fill", {{"position", {0, 5, 0}}}},  // first by name
                       {"key", {{"direction", vec(key_direction)}}}};
    return scene;
}

struct SpaceCase {
    const char* name;
    int space;
    std::function<void(Vec3 world, Vec3 got)> check;
};

void expect_vec_near(Vec3 got, Vec3 want) {
    // Rounding of single-precision conversions; measured up to 8.4e-7
    // (raster), 3e-8 for the colour mix.
    EXPECT_NEAR(got.x, want.x, 1e-5);
    EXPECT_NEAR(got.y, want.y, 1e-5);
    EXPECT_NEAR(got.z, want.z, 1e-5);
}

void PrintTo(const SpaceCase& c, std::ostream* os) { *os << c.name; }

class OutputSpaces : public ::testing::TestWithParam<SpaceCase> {};

TEST_P(OutputSpaces, FollowTheRenderersFrames) {
    const Image world = render_in_process(spaces_scene(1));
    const Image converted = render_in_process(spaces_scene(GetParam().space));
    ASSERT_EQ(world.rgba.size(), converted.rgba.size());
    int moved = 0;
    for (size_t i = 0; i < world.rgba.size() / 4; ++i) {
        const Vec3 w = pixel_vector(world, i), got = pixel_vector(converted, i);
        ASSERT_NEAR(length(w), 1.0, 1e-5) << "pixel " << i;
        GetParam().check(w, got);
        moved += length(got - w) > 0.1;
    }
    // No space is world space in disguise (the quad alone fills over half the view).
    EXPECT_GT(moved, spaces_size * spaces_size / 2);
}

INSTANTIATE_TEST_SUITE_P(
    BentNormals, OutputSpaces,
    ::testing::Values(
        // Normals go to object space with the transpose of the object-to-world matrix.
        SpaceCase{"Object", 2,
                  [](Vec3 w, Vec3 got) {
                      const Vec3* r = object_axes;
                      expect_vec_near(got, normalize({dot(w, r[0]), dot(w, r[1]), dot(w, r[2])}));
                  }},
        SpaceCase{"Camera", 3,
                  [](Vec3 w, Vec3 got) {
                      expect_vec_near(got, {dot(w, cam_right), dot(w, cam_up), dot(w, cam_back)});
                  }},
        // Raster: x right and y down in pixels (8 per unit here), z the depth.
        SpaceCase{"Raster", 5,
                  [](Vec3 w, Vec3 got) {
                      const double k = spaces_size / spaces_width;
                      expect_vec_near(got, normalize({k * dot(w, cam_right), -k * dot(w, cam_up),
                                                      -dot(w, cam_back)}));
                  }},
        SpaceCase{"RasterPerPixel", 6,
                  [](Vec3 w, Vec3 got) {
                      const double k = 1 / spaces_width;
                      expect_vec_near(got, normalize({k * dot(w, cam_right), -k * dot(w, cam_up),
                                                      -dot(w, cam_back)}));
                  }},
        // The directional light's local -z axis is the way it shines; its
        // x and y axes are the renderer's choice, so only z is pinned.
        SpaceCase{"Light", 7,
                  [](Vec3 w, Vec3 got) {
                      EXPECT_NEAR(length(got), 1.0, 1e-5);
                      EXPECT_NEAR(got.z, dot(w, normalize(-key_direction)), 1e-5);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// `bent_color_mix` with `bright` fed by the host's normal_color shader: each
// pixel shows its world-space bent normal mapped into [0, 1].
TEST(BentNormals, ColourMixShowsTheMappedBentNormalThroughAConnectedShader) {
    const Image world = render_in_process(spaces_scene(1));
    json mixed = spaces_scene(1, {{"bent_color_mix", true}, {"bright", {{"shader", "normals"}}}});
    mixed["shaders"]["normals"] = {{"type", "normal_color"}};
    const Image image = render_in_process(mixed);
    ASSERT_EQ(world.rgba.size(), image.rgba.size());
    for (size_t i = 0; i < world.rgba.size() / 4; ++i) {
        const Vec3 w = pixel_vector(world, i);
        expect_vec_near(pixel_vector(image, i), (w + Vec3{1, 1, 1}) * 0.5);
        ASSERT_EQ(image.rgba[i * 4 + 3], 1.0f);
    }
}

}  // namespace
}  // namespace vosh::render::test
