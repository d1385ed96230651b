// Bakes in texture space against known answers: the view factor of a disk
// over a floor, island gutters, overlapping and wrapped UVs, bent normals in
// world and object space, and thread-count independence.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "render_harness.h"
#include "renderer/bake/bake.h"
#include "renderer/scene/scene_loader.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;

struct Quad {
    Vec3 corner, edge1, edge2;  // front side along edge1 x edge2
    double u0, v0, u1, v1;      // UV rectangle, u along edge1, v along edge2
};

// An OBJ of quads, each two triangles with its own UVs and a flat normal.
std::string quads_obj(const std::vector<Quad>& quads) {
    std::ostringstream obj;
    obj.precision(17);
    int base = 1;
    for (const Quad& q : quads) {
        const Vec3 p[4] = {q.corner, q.corner + q.edge1, q.corner + q.edge1 + q.edge2, q.corner + q.edge2};
        const double uv[4][2] = {{q.u0, q.v0}, {q.u1, q.v0}, {q.u1, q.v1}, {q.u0, q.v1}};
        const Vec3 n = normalize(cross(q.edge1, q.edge2));
        for (int k = 0; k < 4; ++k) obj << "v " << p[k].x << " " << p[k].y << " " << p[k].z << "\n";
        for (int k = 0; k < 4; ++k) obj << "vt " << uv[k][0] << " " << uv[k][1] << "\n";
        obj << "vn " << n.x << " " << n.y << " " << n.z << "\n";
        const int vn = base / 4 + 1;
        auto corner = [&](int k) {
            return std::to_string(base + k) + "/" + std::to_string(base + k) + "/" + std::to_string(vn);
        };
        obj << "f " << corner(0) << " " << corner(1) << " " << corner(2) << "\n";
        obj << "f " << corner(0) << " " << corner(2) << " " << corner(3) << "\n";
        base += 4;
    }
    return obj.str();
}

struct Baked {
    Image image;
    BakeStats stats;
};

// Bakes object `name` of `doc` (meshes relative to `dir`).
Baked bake_in_process(const json& doc, const std::string& dir, const std::string& name,
                      BakeSettings settings) {
    Baked out;
    Scene scene;
    std::string error;
    if (!parse_scene(doc, "test scene", dir, test_declaration(), scene, error) ||
        !find_object(scene, name, settings.object, error) ||
        !check_bake_target(scene, settings.object, settings.uv_set, error)) {
        ADD_FAILURE() << error;
        return out;
    }
    if (bakes_bent_normals(scene, test_declaration(), settings.object))
        ask_for_world_normals(scene, test_declaration(), settings.object);
    settings.module_path = VOSH_MODULE_PATH;
    if (!bake_object(scene, test_declaration(), settings, out.image, out.stats, error))
        ADD_FAILURE() << error;
    EXPECT_EQ(out.stats.leaked_blocks, 0u);
    EXPECT_EQ(out.stats.bad_samples, 0u);
    return out;
}

const float* texel(const Image& img, int x, int y) {
    return &img.rgba[(static_cast<size_t>(y) * img.width + x) * 4];
}

// The floor [-3, 3]^2 at y = 0 facing up, u along x and v along z.
constexpr double floor_half = 3;
const Quad floor_quad{{-3, 0, -3}, {0, 0, 6}, {6, 0, 0}, 0, 0, 1, 1};

// Floor point of the texel centre (i, j) of an n x n bake of floor_quad
// (u runs along edge1, +z; v along edge2, +x).
void floor_point(int n, int i, int j, double& x, double& z) {
    const double u = (i + 0.5) / n, v = 1 - (j + 0.5) / n;
    z = -floor_half + 2 * floor_half * u;
    x = -floor_half + 2 * floor_half * v;
}

double disk_view_factor(double rho, double radius, double height) {
    const double s = height * height + rho * rho + radius * radius;
    return 0.5 * (1 - (height * height + rho * rho - radius * radius) /
                          std::sqrt(s * s - 4 * radius * radius * rho * rho));
}

json base_scene(const json& floor_params) {
    return {{"shaders",
             {{"floor", floor_params},
              {"grey", {{"type", "constant"}, {"params", {{"color", {0.5, 0.5, 0.5}}}}}}}},
            {"materials", {{"floor", {{"shader", "floor"}}}, {"grey", {{"shader", "grey"}}}}}};
}

// A disk of radius R at height h over the floor, its axis off the floor's
// centre so that a mirrored or swapped UV mapping reads the wrong texels:
// each texel holds the disk's view factor from its floor point.
TEST(BakeClosedForm, DiskOverFloorGivesTheViewFactorInTextureSpace) {
    const std::string dir = scratch_dir();
    write_text(dir + "/floor.obj", quads_obj({floor_quad}));
    const double radius = 1.0, height = 0.8, ax = 0.9, az = -0.6;
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", fraction_params(256)}});
    doc["objects"] = {{{"shape", "mesh"}, {"file", "floor.obj"}, {"material", "floor"}, {"name", "floor"}},
                      {{"shape", "disk"}, {"center", {ax, height, az}}, {"normal", {0, -1, 0}},
                       {"radius", radius}, {"material", "grey"}}};
    BakeSettings settings;
    const int n = 48;
    settings.width = settings.height = n;
    settings.samples = 4;
    settings.threads = 2;
    const Baked baked = bake_in_process(doc, dir, "floor", settings);
    ASSERT_EQ(baked.image.width, n);
    EXPECT_EQ(baked.stats.covered_texels, static_cast<uint64_t>(n * n));

    double mean_abs = 0, max_abs = 0, mean_signed = 0, mirrored_abs = 0, peak = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            double x, z;
            floor_point(n, i, j, x, z);
            const double exact = disk_view_factor(std::hypot(x - ax, z - az), radius, height);
            const double got = texel(baked.image, i, j)[0];
            mean_abs += std::fabs(got - exact);
            mean_signed += got - exact;
            max_abs = std::fmax(max_abs, std::fabs(got - exact));
            // What a layout read upside down would be compared with.
            mirrored_abs += std::fabs(got - disk_view_factor(std::hypot(-x - ax, z - az), radius, height));
            peak = std::fmax(peak, exact);
            EXPECT_EQ(texel(baked.image, i, j)[3], 1.0f);
        }
    mean_abs /= n * n;
    mean_signed /= n * n;
    mirrored_abs /= n * n;
    EXPECT_GT(peak, 0.5);  // the disk is close enough to matter
    EXPECT_LT(mean_abs, 0.006);
    EXPECT_LT(std::fabs(mean_signed), 0.003);
    EXPECT_LT(max_abs, 0.04);
    EXPECT_GT(mirrored_abs, 10 * mean_abs);
}

// Values that tell the two islands apart exactly: each island's shading
// normal as its colour.
json normal_scene(const std::string& file) {
    return {{"shaders", {{"normal", {{"type", "normal_color"}}}}},
            {"materials", {{"normal", {{"shader", "normal"}}}}},
            {"objects", {{{"shape", "mesh"}, {"file", file}, {"material", "normal"}, {"name", "islands"}}}}};
}

TEST(BakePadding, GuttersComeFromTheNearestIslandOutToThePadding) {
    const std::string dir = scratch_dir();
    // Island A faces +y, island B faces +x; 64 texels: A covers columns 6..19
    // (u 0.1 to 0.3), B 32..44 (u 0.5 to 0.7); both rows 6..57.
    write_text(dir + "/islands.obj",
               quads_obj({{{0, 0, 0}, {1, 0, 0}, {0, 0, -1}, 0.1, 0.1, 0.3, 0.9},
                          {{5, 0, 0}, {0, 1, 0}, {0, 0, 1}, 0.5, 0.1, 0.7, 0.9}}));
    BakeSettings settings;
    settings.width = settings.height = 64;
    settings.samples = 1;
    settings.padding = 4;
    settings.background = {0.25f, 0.25f, 0.25f, 0};
    const Baked baked = bake_in_process(normal_scene("islands.obj"), dir, "islands", settings);
    ASSERT_EQ(baked.image.width, 64);
    EXPECT_EQ(baked.stats.covered_texels, static_cast<uint64_t>((14 + 13) * 52));
    const float a[4] = {0, 1, 0, 1}, b[4] = {1, 0, 0, 1}, bg[4] = {0.25f, 0.25f, 0.25f, 0};
    auto expect_row = [&](int y, int x0, int x1, const float* want) {
        for (int x = x0; x <= x1; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(texel(baked.image, x, y)[c], want[c], 1e-6) << x << "," << y << " channel " << c;
    };
    expect_row(30, 0, 1, bg);
    expect_row(30, 2, 23, a);   // 4 texels of gutter each side of columns 6..19
    expect_row(30, 24, 27, bg);  // 5 or more from both islands
    expect_row(30, 28, 48, b);
    expect_row(30, 49, 63, bg);
    expect_row(1, 10, 10, bg);
    expect_row(2, 10, 10, a);
    expect_row(61, 40, 40, b);
    expect_row(62, 40, 40, bg);
    expect_row(3, 3, 3, bg);  // corner: 3 sqrt 2 = 4.24 texels from the island
    expect_row(3, 4, 4, a);   // 2 sqrt 2 = 2.83
}

TEST(BakeLayout, OverlappingAndWrappedUvsAreBakedAndCounted) {
    const std::string dir = scratch_dir();
    // Two islands stacked over UVs [0.25, 0.5]^2, one facing +y, the other
    // +z; and an island across u = 0 facing +x.
    write_text(dir + "/layout.obj",
               quads_obj({{{0, 0, 0}, {1, 0, 0}, {0, 0, -1}, 0, 0, 0.5, 0.5},
                          {{0, 0, 3}, {1, 0, 0}, {0, 1, 0}, 0.25, 0.25, 0.75, 0.75},
                          {{9, 0, 0}, {0, 1, 0}, {0, 0, 1}, -0.125, 0.875, 0.125, 1.0}}));
    BakeSettings settings;
    settings.width = settings.height = 64;
    settings.samples = 4;
    settings.padding = 0;
    const Baked baked = bake_in_process(normal_scene("layout.obj"), dir, "islands", settings);
    ASSERT_EQ(baked.image.width, 64);
    // Texels 16..31 in x and rows 32..47 lie under both stacked islands.
    EXPECT_EQ(baked.stats.overlapped_texels, 16u * 16u);
    EXPECT_EQ(baked.stats.wrapped_triangles, 2u);
    for (int y = 32; y < 48; ++y)
        for (int x = 16; x < 32; ++x) {
            const float* t = texel(baked.image, x, y);
            // One island's normal, never a blend of the two.
            const bool up = t[1] > 0.9999f && std::fabs(t[2]) < 1e-4f;
            const bool front = t[2] > 0.9999f && std::fabs(t[1]) < 1e-4f;
            EXPECT_TRUE(up || front) << x << "," << y << ": " << t[0] << " " << t[1] << " " << t[2];
        }
    // The wrapped island, rows 0..7, columns 56..63 and 0..7, faces +x.
    for (int x : {0, 7, 56, 63}) EXPECT_GT(texel(baked.image, x, 3)[0], 0.9999f) << x;
    for (int x : {8, 55}) EXPECT_EQ(texel(baked.image, x, 3)[3], 0.0f) << x;
}

// A tilted floor with nothing above it: every bent normal is the surface
// normal, in world space as the scene has it, in object space as the mesh
// file has it, and (0, 0, 1) in tangent space.
TEST(BakeBentNormals, OpenPlaneInEverySpace) {
    const std::string dir = scratch_dir();
    write_text(dir + "/floor.obj", quads_obj({floor_quad}));
    json params = fraction_params(256);
    params["bent_normals"] = true;
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", params}});
    doc["objects"] = {{{"shape", "mesh"}, {"file", "floor.obj"}, {"material", "floor"}, {"name", "floor"},
                       {"transform", {{"rotate_deg", {0, 0, 30}}}}}};
    Scene scene;
    std::string error;
    ASSERT_TRUE(parse_scene(doc, "test scene", dir, test_declaration(), scene, error)) << error;
    Mat4 to_object;
    ASSERT_TRUE(invert_affine(scene.objects[0].transform, to_object));
    const Vec3 world_normal = normalize(transform_normal(to_object, {0, 1, 0}));
    ASSERT_LT(world_normal.y, 0.9);  // the transform does turn the floor
    for (BakeSpace space : {BakeSpace::world, BakeSpace::object, BakeSpace::tangent}) {
        BakeSettings settings;
        settings.width = settings.height = 16;
        settings.samples = 1;
        settings.space = space;
        const Baked baked = bake_in_process(doc, dir, "floor", settings);
        ASSERT_EQ(baked.image.width, 16);
        EXPECT_TRUE(baked.stats.bent);
        const Vec3 want = space == BakeSpace::world    ? world_normal
                          : space == BakeSpace::object ? Vec3{0, 1, 0}
                                                       : Vec3{0, 0, 1};
        for (int y = 0; y < 16; y += 5)
            for (int x = 0; x < 16; x += 5) {
                const float* t = texel(baked.image, x, y);
                EXPECT_GT(t[0] * want.x + t[1] * want.y + t[2] * want.z, 0.99) << x << "," << y;
            }
    }
}

// Beside a wall at x = 1.5 the bent normal leans away from it, toward -x.
// The floor's +u runs along +z and +v along +x, so in tangent space the
// lean shows in y (the bitangent) alone.
TEST(BakeBentNormals, TangentSpaceLeansAwayFromAWall) {
    const std::string dir = scratch_dir();
    write_text(dir + "/floor.obj", quads_obj({floor_quad}));
    json params = fraction_params(512);
    params["bent_normals"] = true;
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", params}});
    doc["objects"] = {{{"shape", "mesh"}, {"file", "floor.obj"}, {"material", "floor"}, {"name", "floor"}},
                      {{"shape", "quad"}, {"corner", {1.5, 0, -3}}, {"edge1", {0, 3, 0}}, {"edge2", {0, 0, 6}},
                       {"material", "grey"}}};
    BakeSettings settings;
    settings.width = settings.height = 16;
    settings.samples = 4;
    settings.space = BakeSpace::tangent;
    const Baked baked = bake_in_process(doc, dir, "floor", settings);
    ASSERT_EQ(baked.image.width, 16);
    // Texel (8, 4): z = 0.1875 (middle of the wall's length), x = 1.3125.
    double x, z;
    floor_point(16, 8, 4, x, z);
    ASSERT_NEAR(x, 1.3125, 1e-12);
    const float* near_wall = texel(baked.image, 8, 4);
    EXPECT_LT(near_wall[1], -0.3);             // away from the wall: -x is -v
    EXPECT_NEAR(near_wall[0], 0.0, 0.05);      // along the wall: no lean
    EXPECT_GT(near_wall[2], 0.3);              // still out of the surface
    // Farther from the wall, less lean.
    EXPECT_GT(texel(baked.image, 8, 12)[1], near_wall[1] + 0.1);
}

TEST(BakeThreads, TheTextureDependsOnTheSeedNotTheThreadCount) {
    const std::string dir = scratch_dir();
    write_text(dir + "/floor.obj", quads_obj({floor_quad}));
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", fraction_params(16)}});
    doc["objects"] = {{{"shape", "mesh"}, {"file", "floor.obj"}, {"material", "floor"}, {"name", "floor"}},
                      {{"shape", "sphere"}, {"center", {0.5, 0.7, 0}}, {"radius", 0.6}, {"material", "grey"}}};
    BakeSettings settings;
    settings.width = 40;
    settings.height = 24;
    settings.samples = 3;
    settings.threads = 1;
    const Baked one = bake_in_process(doc, dir, "floor", settings);
    settings.threads = 3;
    const Baked three = bake_in_process(doc, dir, "floor", settings);
    ASSERT_EQ(one.image.rgba.size(), static_cast<size_t>(40 * 24 * 4));
    EXPECT_TRUE(one.image.rgba == three.image.rgba);
    // Another seed is another, independent bake.
    settings.seed = 1;
    const Baked reseeded = bake_in_process(doc, dir, "floor", settings);
    EXPECT_FALSE(one.image.rgba == reseeded.image.rgba);
}

// A 2 x 1 floor bake, probes reaching 0.3: a lid low over half of texel 0 makes it go on past
// its first round while open texels stop there; a threshold no texel reaches is the fixed bake.
TEST(BakeAdaptive, OpenTexelsStopFirstAndTexelsThatGoOnAreTheFixedBake) {
    const std::string dir = scratch_dir();
    write_text(dir + "/floor.obj", quads_obj({floor_quad}));
    json params = fraction_params(64);
    params["near_distance"] = params["far_distance"] = 0.3;
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", params}});
    doc["objects"] = {{{"shape", "mesh"}, {"file", "floor.obj"}, {"material", "floor"}, {"name", "floor"}}};
    BakeSettings settings;
    settings.width = 2;
    settings.height = 1;
    settings.samples = 64;
    settings.noise_threshold = 0.01;
    EXPECT_EQ(bake_in_process(doc, dir, "floor", settings).stats.mean_samples, 4.0);
    doc["objects"].push_back({{"shape", "quad"}, {"corner", {0, 0.1, -3}}, {"edge1", {3, 0, 0}},
                              {"edge2", {0, 0, 2.4}}, {"material", "grey"}});
    const double mean = bake_in_process(doc, dir, "floor", settings).stats.mean_samples;
    EXPECT_TRUE(mean > 4 && mean <= (4 + 64) / 2.0) << mean;
    settings.noise_threshold = 1e-9;
    const Baked all = bake_in_process(doc, dir, "floor", settings);
    settings.noise_threshold = 0;
    EXPECT_TRUE(all.image.rgba == bake_in_process(doc, dir, "floor", settings).image.rgba);
    EXPECT_EQ(all.stats.mean_samples, 64.0);
}

// Projected bakes: `low` of `doc` baked from the objects named `sources`
// (and the cage named `cage`, if any).
struct Projected {
    BakedMaps maps;
    BakeStats stats;
    std::string refusal;  // prepare_projection's, when it refuses
};

Projected project_in_process(const json& doc, const std::string& dir, const std::string& low,
                             const std::vector<std::string>& sources, BakeSettings settings,
                             const std::string& cage = "") {
    Projected out;
    Scene scene;
    std::string error;
    bool found = parse_scene(doc, "test scene", dir, test_declaration(), scene, error) &&
                 find_object(scene, low, settings.object, error) &&
                 (cage.empty() || find_object(scene, cage, settings.reach.cage, error));
    for (const std::string& name : sources) {
        uint32_t i = 0;
        found = found && find_object(scene, name, i, error);
        if (found) scene.objects[i].bake_role = BakeRole::source;
    }
    if (!found) {
        ADD_FAILURE() << error;
        return out;
    }
    if (!prepare_projection(scene, test_declaration(), settings, out.refusal)) return out;
    settings.module_path = VOSH_MODULE_PATH;
    if (!bake_maps(scene, test_declaration(), settings, out.maps, out.stats, error)) ADD_FAILURE() << error;
    EXPECT_EQ(out.stats.leaked_blocks, 0u);
    return out;
}

json mesh_object(const std::string& name, const std::string& file, const std::string& material) {
    return {{"shape", "mesh"}, {"file", file}, {"material", material}, {"name", name}};
}

// The low-poly floor under a source floor lifted by `lift`, a disk above:
// the projected occlusion is the disk's view factor from the source floor,
// and the normal map is the source's normal in the low-poly's tangent space.
TEST(BakeProjected, DiskOverLiftedSourceFloorGivesTheViewFactor) {
    const std::string dir = scratch_dir();
    const double lift = 0.03, radius = 1.0, height = 0.8, ax = 0.9, az = -0.6;
    write_text(dir + "/low.obj", quads_obj({floor_quad}));
    write_text(dir + "/high.obj", quads_obj({{{-3, lift, -3}, {0, 0, 6}, {6, 0, 0}, 0, 0, 1, 1}}));
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", fraction_params(256)}});
    doc["objects"] = {mesh_object("low", "low.obj", "floor"), mesh_object("high", "high.obj", "floor"),
                      {{"shape", "disk"}, {"center", {ax, lift + height, az}}, {"normal", {0, -1, 0}},
                       {"radius", radius}, {"material", "grey"}}};
    BakeSettings settings;
    const int n = 48;
    settings.width = settings.height = n;
    settings.threads = 2;
    settings.maps = {BakeMap::ao, BakeMap::normal};
    const Projected baked = project_in_process(doc, dir, "low", {"high"}, settings);
    ASSERT_EQ(baked.maps.maps.size(), 2u);
    EXPECT_EQ(baked.stats.missed_texels, 0u);
    double mean_abs = 0, max_abs = 0, peak = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            double x, z;
            floor_point(n, i, j, x, z);
            const double exact = disk_view_factor(std::hypot(x - ax, z - az), radius, height);
            const double got = texel(baked.maps.maps[0], i, j)[0];
            mean_abs += std::fabs(got - exact);
            max_abs = std::fmax(max_abs, std::fabs(got - exact));
            peak = std::fmax(peak, exact);
            EXPECT_GT(texel(baked.maps.maps[1], i, j)[2], 0.9999f) << i << "," << j;
        }
    EXPECT_GT(peak, 0.5);
    EXPECT_LT(mean_abs / (n * n), 0.006);
    EXPECT_LT(max_abs, 0.04);
}

// Constant-coloured sources at heights over the low-poly floor (y = 0),
// searched 0.1 out and in: the hit nearest the surface wins, from either
// side; nothing within reach is a miss, counted and left at the background.
struct HitRuleCase {
    const char* name;
    double red_y, green_y;  // heights of the two source floors
    int want;               // 0 red, 1 green, -1 missed
};

TEST(BakeProjected, NearestHitToTheLowSurfaceWins) {
    const std::string dir = scratch_dir();
    write_text(dir + "/low.obj", quads_obj({floor_quad}));
    const HitRuleCase cases[] = {{"behind beats farther in front", -0.01, 0.05, 0},
                                 {"in front beats farther behind", -0.05, 0.01, 1},
                                 {"nothing within reach", -0.2, 0.3, -1}};
    for (const HitRuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        write_text(dir + "/red.obj", quads_obj({{{-3, c.red_y, -3}, {0, 0, 6}, {6, 0, 0}, 0, 0, 1, 1}}));
        write_text(dir + "/green.obj", quads_obj({{{-3, c.green_y, -3}, {0, 0, 6}, {6, 0, 0}, 0, 0, 1, 1}}));
        json doc = {{"shaders", {{"red", {{"type", "constant"}, {"params", {{"color", {1, 0, 0}}}}}},
                                 {"green", {{"type", "constant"}, {"params", {{"color", {0, 1, 0}}}}}}}},
                    {"materials", {{"red", {{"shader", "red"}}}, {"green", {{"shader", "green"}}}}},
                    {"objects", {mesh_object("low", "low.obj", "red"), mesh_object("red", "red.obj", "red"),
                                 mesh_object("green", "green.obj", "green")}}};
        BakeSettings settings;
        settings.width = settings.height = 8;
        settings.reach.front = settings.reach.back = 0.1;
        settings.background = {0.25f, 0.25f, 0.25f, 0};
        const Projected baked = project_in_process(doc, dir, "low", {"red", "green"}, settings);
        ASSERT_EQ(baked.maps.maps.size(), 1u);
        EXPECT_EQ(baked.stats.missed_texels, c.want < 0 ? 64u : 0u);
        const float* t = texel(baked.maps.maps[0], 3, 5);
        if (c.want < 0) {
            EXPECT_EQ(t[0], 0.25f);
            EXPECT_EQ(baked.maps.missed[5 * 8 + 3], 1);
        } else {
            EXPECT_EQ(t[c.want], 1.0f);
            EXPECT_EQ(t[1 - c.want], 0.0f);
        }
    }
}

// The low-poly floor 0.05 above the source and a cage 0.5 above: were
// either traced, the source would read as fully occluded.
TEST(BakeProjected, LowPolyAndCageNeverOcclude) {
    const std::string dir = scratch_dir();
    write_text(dir + "/low.obj", quads_obj({{{-3, 0.05, -3}, {0, 0, 6}, {6, 0, 0}, 0, 0, 1, 1}}));
    write_text(dir + "/cage.obj", quads_obj({{{-3, 0.5, -3}, {0, 0, 6}, {6, 0, 0}, 0, 0, 1, 1}}));
    write_text(dir + "/high.obj", quads_obj({floor_quad}));
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", fraction_params(64)}});
    doc["objects"] = {mesh_object("low", "low.obj", "floor"), mesh_object("cage", "cage.obj", "floor"),
                      mesh_object("high", "high.obj", "floor")};
    BakeSettings settings;
    settings.width = settings.height = 8;
    settings.reach.back = 0.1;
    const Projected baked = project_in_process(doc, dir, "low", {"high"}, settings, "cage");
    ASSERT_EQ(baked.maps.maps.size(), 1u);
    EXPECT_EQ(baked.stats.missed_texels, 0u);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(baked.maps.maps[0].rgba[4 * k], 0.0f) << k;
}

TEST(BakeProjected, CageOfOtherTopologyIsRefusedNamingBothCounts) {
    const std::string dir = scratch_dir();
    write_text(dir + "/low.obj", quads_obj({floor_quad}));
    write_text(dir + "/cage.obj", quads_obj({floor_quad, {{9, 0, 0}, {1, 0, 0}, {0, 0, -1}, 0, 0, 1, 1}}));
    json doc = base_scene({{"type", "vosh_occlusion"}, {"params", fraction_params(4)}});
    doc["objects"] = {mesh_object("low", "low.obj", "floor"), mesh_object("cage", "cage.obj", "floor"),
                      mesh_object("high", "low.obj", "floor")};
    const Projected baked = project_in_process(doc, dir, "low", {"high"}, BakeSettings{}, "cage");
    EXPECT_NE(baked.refusal.find("\"cage\" has 8 vertices and 4 triangles, the low-poly \"low\" 4 and 2"),
              std::string::npos)
        << baked.refusal;
    EXPECT_TRUE(baked.maps.maps.empty());
}

}  // namespace
}  // namespace vosh::render::test
