// The probe path: with both faces allowed a probe takes one traversal and
// describes its hit only when a host operation needs it; with one face, or
// when the ray might meet its own primitive, it steps over refused hits.
// Both must see the same scene the same way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "render_harness.h"
#include "renderer/trace/geometry.h"
#include "renderer/trace/ray_origin.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;

constexpr int size = 32;
constexpr double view_width = 6;

// A floor (authored normal up) under a 2 x 2 roof at height 0.6 whose
// authored normal points up or down, a checker over its texture
// coordinates; the camera looks down on both. The floor's shader is plain
// occlusion or colour bleeding, which hands each hit's texture coordinates
// to the roof's checker.
json roof_scene(bool roof_faces_up, const char* facing, bool bleeding) {
    const json edge_x = {2, 0, 0}, edge_z = {0, 0, 2};
    json floor = fraction_params(64);
    if (bleeding) {
        floor["occlusion_mode"] = 1;
        floor["color_strength"] = 1;
        floor["bright"] = {1, 1, 1};
        floor["dark"] = {1, 1, 1};
    }
    return {{"camera", top_view_camera(view_width, size)},
            {"options", {{"facing", facing}}},
            {"shaders",
             {{"floor", {{"type", "vosh_occlusion"}, {"params", floor}}},
              {"tiles",
               {{"type", "checker"},
                {"params", {{"color1", {1, 0, 0}}, {"color2", {0, 0, 1}}, {"scale", 0.5}}}}}}},
            {"materials", {{"floor", {{"shader", "floor"}}}, {"roof", {{"shader", "tiles"}}}}},
            {"objects",
             {{{"shape", "quad"}, {"corner", {-50, 0, -50}}, {"edge1", {0, 0, 100}}, {"edge2", {100, 0, 0}},
               {"material", "floor"}},
              {{"shape", "quad"},
               {"corner", {-1, 0.6, -1}},
               {"edge1", roof_faces_up ? edge_z : edge_x},
               {"edge2", roof_faces_up ? edge_x : edge_z},
               {"material", "roof"}}}}};
}

// Pixels whose eye ray meets the floor beside the roof, in either mode.
bool beside_roof(int px, int py) {
    double x = 0, z = 0;
    top_view_point(view_width, size, px, py, x, z);
    return std::fabs(x) > 1.1 || std::fabs(z) > 1.1;
}

// Probes from the floor meet the roof's underside, its front when it faces
// down: every face they meet is one that "f" accepts, so "a" (one traversal,
// hits described when needed) and "f" (every hit described) agree bit for
// bit, the bleeding colours included.
class ProbePathModes : public ::testing::TestWithParam<bool> {};

TEST_P(ProbePathModes, BothFacesAgreeWithFrontFacesWhereOnlyFrontsAreMet) {
    const bool bleeding = GetParam();
    const Image all = render_in_process(roof_scene(false, "a", bleeding));
    const Image front = render_in_process(roof_scene(false, "f", bleeding));
    ASSERT_EQ(all.rgba.size(), front.rgba.size());
    int compared = 0, shaded = 0;
    for (int py = 0; py < size; ++py)
        for (int px = 0; px < size; ++px) {
            if (!beside_roof(px, py)) continue;
            const size_t i = (static_cast<size_t>(py) * size + px) * 4;
            ASSERT_EQ(0, std::memcmp(&all.rgba[i], &front.rgba[i], 4 * sizeof(float)))
                << "pixel " << px << ", " << py;
            ++compared;
            // Plain: occluded fraction; bleeding: the roof's red or blue
            // takes the place of white.
            shaded += bleeding ? all.rgba[i + 1] < 0.95f : all.rgba[i] > 0.05f;
        }
    EXPECT_GT(compared, size * size / 2);
    EXPECT_GT(shaded, 20);  // the roof does reach the floor around it
}

INSTANTIATE_TEST_SUITE_P(ProbePath, ProbePathModes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "bleeding" : "plain"; });

// Bleeding sees the roof's checker through the hit's texture coordinates:
// both colours reach the floor, in about equal shares by symmetry.
TEST(ProbePath, BleedingSeesEachHitsOwnTextureCoordinates) {
    const Image image = render_in_process(roof_scene(false, "a", true));
    double red = 0, blue = 0;
    for (int py = 0; py < size; ++py)
        for (int px = 0; px < size; ++px) {
            if (!beside_roof(px, py)) continue;
            const float* p = &image.rgba[(static_cast<size_t>(py) * size + px) * 4];
            red += 1 - p[2];  // a red hit takes blue away, and the other way round
            blue += 1 - p[0];
        }
    ASSERT_GT(red + blue, 1.0);
    EXPECT_NEAR(red / (red + blue), 0.5, 0.1);
}

// Facing up, the roof shows probes its back: "a" lets them hit it, "f"
// lets them through, and the floor is open everywhere.
TEST(ProbePath, OneFaceModesSkipTheOtherFace) {
    const auto floor_mean = [](const Image& image) {
        double sum = 0;
        int n = 0;
        for (int py = 0; py < size; ++py)
            for (int px = 0; px < size; ++px)
                if (beside_roof(px, py)) {
                    sum += image.rgba[(static_cast<size_t>(py) * size + px) * 4];
                    ++n;
                }
        return sum / n;
    };
    EXPECT_GT(floor_mean(render_in_process(roof_scene(true, "a", false))), 0.02);  // measured 0.038
    EXPECT_EQ(floor_mean(render_in_process(roof_scene(true, "f", false))), 0.0);
}

// One traversal may skip the stepping trace only where the ray cannot meet
// the primitive it leaves from. Rays from random points of a quad and of a
// smooth-shaded triangle, from the point itself and from elsewhere: whenever
// the start says the ray clears its own plane, the nearest hit is never its
// own primitive; and rays that do meet it are among those told apart.
TEST(ProbePath, RaysSaidToClearTheirPlaneNeverMeetTheirOwnPrimitive) {
    Scene scene;
    ObjectDesc quad;
    quad.shape = ShapeKind::quad;
    quad.corner = {-1, 0, -1};
    quad.edge1 = {0, 0, 2};
    quad.edge2 = {2, 0, 0};
    ObjectDesc bump;  // a triangle whose vertex normals lean outward: a convex cap
    bump.shape = ShapeKind::mesh;
    bump.mesh.positions = {{1, 2, 0}, {-0.5, 2, -0.866}, {-0.5, 2, 0.866}};
    for (const Vec3& p : bump.mesh.positions) bump.mesh.normals.push_back(normalize(Vec3{p.x, 1.5, p.z}));
    bump.mesh.indices = {0, 1, 2};
    scene.objects = {quad, bump};
    SceneGeometry geometry;
    std::string error;
    ASSERT_TRUE(geometry.build(scene, error)) << error;

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0, 1);
    int cleared = 0, own_hits = 0, stepped_back = 0;
    for (int i = 0; i < 20000; ++i) {
        const uint32_t object = i % 2;
        double b1 = unit(rng), b2 = unit(rng);
        if (object == 1 && b1 + b2 > 1) b1 = 1 - b1, b2 = 1 - b2;
        SurfaceSite site{object, 0, b1, b2, {}, {0, 1, 0}};
        if (object == 0)
            site.point = Vec3{-1 + 2 * b2, 0, -1 + 2 * b1};
        else {
            SurfaceHit at;
            ASSERT_TRUE(geometry.surface_at(1, 0, b1, b2, at));
            site.point = at.point;
        }
        // Mostly from the site's point; a quarter from just below it.
        const bool elsewhere = i % 8 < 2;
        const Vec3 from = elsewhere ? site.point - Vec3{0, 0.01 + 0.2 * unit(rng), 0} : site.point;
        const double theta = std::acos(2 * unit(rng) - 1), phi = 2 * M_PI * unit(rng);
        const Vec3 d{std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
        const RayStart start = surface_ray_start(geometry, site, from, d);
        ProbeHit hit;
        const bool own = geometry.nearest(start.origin, d, 1e6, hit) && hit.object == object && hit.primitive == 0;
        if (start.clears_own_plane) {
            ++cleared;
            ASSERT_FALSE(own) << "object " << object << " ray " << i;
        } else {
            own_hits += own;
            stepped_back += !elsewhere;
        }
    }
    EXPECT_GT(cleared, 14000);
    EXPECT_GT(own_hits, 100);  // from below, heading up through the quad
    EXPECT_GT(stepped_back, 10);  // the cap's smooth step lifts rays that then dip
    // A ray along its own plane is never said to clear it.
    const SurfaceSite flat{0, 0, 0.5, 0.5, {0, 0, 0}, {0, 1, 0}};
    EXPECT_FALSE(surface_ray_start(geometry, flat, flat.point, {1, 0, 0}).clears_own_plane);
    EXPECT_TRUE(surface_ray_start(geometry, flat, flat.point, {0, -1, 0}).clears_own_plane);
}

// First-hit rays trace a second BVH built without the robust traversal,
// which is faster but may slip between faces at a ray aimed exactly at a
// shared edge or vertex. From inside a closed mesh: rays in random
// directions all hit, at the distance the robust trace finds; rays aimed
// at the edges and corners never get through the robust trace, which eye
// rays and the stepping trace use.
TEST(ProbePath, FirstHitRaysAgreeWithTheRobustTraceWhichHasNoGapsAtEdges) {
    Scene scene;
    ObjectDesc box;  // a cube of side 2 about the origin, two triangles per face
    box.shape = ShapeKind::mesh;
    for (int k = 0; k < 8; ++k)
        box.mesh.positions.push_back({k & 1 ? 1.0 : -1.0, k & 2 ? 1.0 : -1.0, k & 4 ? 1.0 : -1.0});
    box.mesh.indices = {0, 1, 3, 0, 3, 2, 4, 6, 7, 4, 7, 5, 0, 4, 5, 0, 5, 1,
                        2, 3, 7, 2, 7, 6, 0, 2, 6, 0, 6, 4, 1, 5, 7, 1, 7, 3};
    scene.objects = {box};
    SceneGeometry geometry;
    std::string error;
    ASSERT_TRUE(geometry.build(scene, error)) << error;

    std::mt19937 rng(11);
    std::uniform_real_distribution<double> inside(-0.9, 0.9), unit(0, 1);
    int at_edges = 0;
    for (int i = 0; i < 20000; ++i) {
        const Vec3 from{inside(rng), inside(rng), inside(rng)};
        const double theta = std::acos(2 * unit(rng) - 1), phi = 2 * M_PI * unit(rng);
        const Vec3 d{std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
        ProbeHit fast;
        SurfaceHit robust;
        ASSERT_TRUE(geometry.nearest(from, d, 10, fast)) << "ray " << i;
        ASSERT_TRUE(geometry.occluded(from, d, 10)) << "ray " << i;
        ASSERT_TRUE(geometry.intersect(from, d, 10, 'a', UINT32_MAX, UINT32_MAX, robust)) << "ray " << i;
        EXPECT_NEAR(fast.distance, robust.distance, 1e-5) << "ray " << i;

        // A corner, or a point between two corners of one face: on its edges
        // and on the diagonal that splits it.
        const Vec3 a = box.mesh.positions[i % 8], b = box.mesh.positions[(i / 8 + 1 + i % 8) % 8];
        if (a.x != b.x && a.y != b.y && a.z != b.z) continue;
        const Vec3 target = i % 3 == 0 ? a : a + (b - a) * unit(rng);
        ++at_edges;
        const Vec3 to_edge = normalize(target - from);
        ASSERT_TRUE(geometry.intersect(from, to_edge, 10, 'a', UINT32_MAX, UINT32_MAX, robust)) << "ray " << i;
        EXPECT_NEAR(robust.distance, length(target - from), 1e-5) << "ray " << i;
    }
    EXPECT_GT(at_edges, 5000);
}

}  // namespace
}  // namespace vosh::render::test
