// Tangent frames from UV layouts and the conversion of world-space bent
// normals into tangent, object and world space.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <string>

#include "render_harness.h"
#include "renderer/bake/tangent_frame.h"
#include "renderer/scene/mesh_loader.h"

namespace vosh::render {
namespace {

void expect_near(Vec3 got, Vec3 want, const char* what) {
    EXPECT_NEAR(got.x, want.x, 1e-9) << what;
    EXPECT_NEAR(got.y, want.y, 1e-9) << what;
    EXPECT_NEAR(got.z, want.z, 1e-9) << what;
}

// A floor strip along x in y = 0 facing +y, two unit squares side by side
// sharing the edge x = 1. Vertices 0-2 along z = 0, 3-5 along z = -1; the
// UVs are filled in by each test.
MeshData floor_strip(const std::vector<Vec3>& uvs) {
    MeshData m;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, -1}, {1, 0, -1}, {2, 0, -1}};
    m.normals.assign(6, Vec3{0, 1, 0});
    m.uvs = uvs;
    m.indices = {0, 1, 4, 0, 4, 3, 1, 2, 5, 1, 5, 4};
    return m;
}

ObjectDesc object_of(const MeshData& mesh) {
    ObjectDesc o;
    o.shape = ShapeKind::mesh;
    o.mesh = mesh;
    return o;
}

Vec3 in_tangent_space(const ObjectDesc& o, const std::vector<TangentFrame>& frames, Vec3 world,
                      uint32_t triangle, double u, double v) {
    return bent_normal_in_space(normalize(world), BakeSpace::tangent, o, frames, triangle, u, v);
}

const double h = std::sqrt(0.5);

TEST(TangentFrame, FollowsTheUvLayoutOnAPlane) {
    // u along +x, v along -z (the strip seen from above, image up = -z).
    const MeshData straight = floor_strip({{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}, {1, 0.5, 0}});
    // The same strip with its UVs turned a quarter: u along -z, v along -x.
    const MeshData turned = floor_strip({{0, 1, 0}, {0, 0.5, 0}, {0, 0, 0}, {1, 1, 0}, {1, 0.5, 0}, {1, 0, 0}});
    struct Case {
        const char* name;
        MeshData mesh;
        Vec3 along_u, along_v;
    };
    for (const Case& c : {Case{"straight", straight, {1, 0, 0}, {0, 0, -1}},
                          Case{"turned", turned, {0, 0, -1}, {-1, 0, 0}}}) {
        const ObjectDesc o = object_of(c.mesh);
        const auto frames = tangent_frames(c.mesh, c.mesh.uvs, true);
        for (uint32_t t = 0; t < 4; ++t) {
            expect_near(in_tangent_space(o, frames, {0, 1, 0}, t, 0.2, 0.3), {0, 0, 1}, c.name);
            expect_near(in_tangent_space(o, frames, c.along_u + Vec3{0, 1, 0}, t, 0.2, 0.3), {h, 0, h}, c.name);
            expect_near(in_tangent_space(o, frames, c.along_v + Vec3{0, 1, 0}, t, 0.2, 0.3), {0, h, h}, c.name);
        }
    }
}

TEST(TangentFrame, MirroredIslandKeepsItsHandedness) {
    // The right square's UVs mirror the left one's about x = 1, and the
    // vertices on that edge are shared: u grows towards the axis from both
    // sides, v along -z on both.
    const MeshData m = floor_strip({{0, 0, 0}, {0.5, 0, 0}, {0, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}, {0, 0.5, 0}});
    const ObjectDesc o = object_of(m);
    const auto frames = tangent_frames(m, m.uvs, true);
    EXPECT_EQ(frames[0].sign, 1);
    EXPECT_EQ(frames[6].sign, -1);
    // At the shared vertex 1 (corner 0 of triangle 2, corner 1 of triangle
    // 0) and inside each triangle: leaning +x is +u on the left, -u on the
    // right; leaning -z is +v on both sides.
    const struct {
        uint32_t triangle;
        double u, v;
        double x_sign;
    } points[] = {{0, 1, 0, 1}, {0, 0.3, 0.3, 1}, {2, 0, 0, -1}, {2, 0.3, 0.3, -1}};
    for (const auto& p : points) {
        expect_near(in_tangent_space(o, frames, {1, 1, 0}, p.triangle, p.u, p.v), {p.x_sign * h, 0, h}, "lean +x");
        expect_near(in_tangent_space(o, frames, {0, 1, -1}, p.triangle, p.u, p.v), {0, h, h}, "lean -z");
    }
}

// Each corner its own vertex, as files often store meshes.
MeshData split(const MeshData& m) {
    MeshData out;
    for (const uint32_t i : m.indices) {
        out.indices.push_back(uint32_t(out.positions.size()));
        out.positions.push_back(m.positions[i]);
        out.normals.push_back(m.normals[i]);
        out.uvs.push_back(m.uvs[i]);
    }
    return out;
}

TEST(TangentFrame, CornersGroupByValueAndWinding) {
    const MeshData mirrored = split(floor_strip({{0, 0, 0}, {0.5, 0, 0}, {0, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}, {0, 0.5, 0}}));
    // u along -z, v along -x; triangle 3's vertex 5 moved onto the line
    // between its other two: no UV area, but its edge 1-4 meets triangle 0's.
    MeshData flat_uv = split(floor_strip({{0, 1, 0}, {0, 0.5, 0}, {0, 0, 0}, {1, 1, 0}, {1, 0.5, 0}, {1, 0, 0}}));
    flat_uv.uvs[10] = {0.5, 0.5, 0};
    const struct {
        const char* name;
        const MeshData& mesh;
        size_t corner;
        Vec3 tangent;
        double sign;
    } cases[] = {
        {"mirrored, left at the axis", mirrored, 1, {1, 0, 0}, 1},
        {"mirrored, right at the axis", mirrored, 6, {-1, 0, 0}, -1},
        {"no UV area, joined to its neighbour", flat_uv, 9, {0, 0, -1}, 1},
        {"no UV area, joined to its neighbour", flat_uv, 11, {0, 0, -1}, 1},
        {"no UV area, nothing to join", flat_uv, 10, {1, 0, 0}, -1},
    };
    for (const auto& c : cases) {
        const auto frames = tangent_frames(c.mesh, c.mesh.uvs, false);
        expect_near(frames[c.corner].tangent, c.tangent, c.name);
        EXPECT_EQ(frames[c.corner].sign, c.sign) << c.name;
    }

    // A bent strip: the tangent at a vertex averages its triangles', the
    // same whether the file shares the vertex or repeats it per corner.
    MeshData bent = floor_strip({{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {0, 0.5, 0}, {0.5, 0.3, 0}, {1, 0.5, 0}});
    bent.positions[2].y = bent.positions[5].y = 0.6;
    for (const size_t i : {1, 4}) bent.normals[i] = normalize(Vec3{-0.3, 1, 0});
    const auto welded = tangent_frames(bent, bent.uvs, false);
    const MeshData apart = split(bent);
    const auto separate = tangent_frames(apart, apart.uvs, false);
    for (size_t c = 0; c < welded.size(); ++c) expect_near(separate[c].tangent, welded[c].tangent, "split");
    expect_near(welded[6].tangent, welded[1].tangent, "one group at vertex 1");
    EXPECT_GT(length(welded[1].tangent - welded[0].tangent), 0.01);
}

TEST(TangentFrame, FileTangentsWinOverTheUvLayout) {
    MeshData m = floor_strip({{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}, {1, 0.5, 0}});
    // Tangents along -z, left-handed: the bitangent is -(y x -z) = +x.
    m.tangents.assign(6, Vec3{0, 0, -1});
    m.tangent_signs.assign(6, -1);
    const ObjectDesc o = object_of(m);
    const Vec3 lean_x = in_tangent_space(o, tangent_frames(m, m.uvs, true), {1, 1, 0}, 1, 0.2, 0.2);
    expect_near(lean_x, {0, h, h}, "file");
    const Vec3 generated = in_tangent_space(o, tangent_frames(m, m.uvs, false), {1, 1, 0}, 1, 0.2, 0.2);
    expect_near(generated, {h, 0, h}, "another UV set");
}

std::string base64(const std::vector<float>& values) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes(values.size() * 4, '\0');
    std::memcpy(bytes.data(), values.data(), bytes.size());
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t chunk = 0;
        for (size_t k = 0; k < 3; ++k)
            chunk = chunk << 8 | (i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0);
        const size_t present = std::min<size_t>(3, bytes.size() - i);
        for (size_t k = 0; k < 4; ++k) out += k <= present ? digits[(chunk >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

TEST(TangentFrame, TangentsAndHandednessComeFromTheFile) {
    // One triangle in z = 0 with left-handed tangents along +y: the file's
    // bitangent is -(z x y) = +x. All alike, as on any flat mesh.
    const std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::vector<float> normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    const std::vector<float> tangents = {0, 1, 0, -1, 0, 1, 0, -1, 0, 1, 0, -1};
    const std::vector<float> uvs = {0, 0, 1, 0, 0, 1};
    std::vector<float> all = positions;
    for (const auto* part : {&normals, &tangents, &uvs}) all.insert(all.end(), part->begin(), part->end());
    const size_t f = sizeof(float);
    nlohmann::json views = nlohmann::json::array(), accessors = nlohmann::json::array();
    size_t offset = 0;
    int index = 0;
    for (const auto& [count, type, floats] : {std::tuple{3, "VEC3", 9}, {3, "VEC3", 9}, {3, "VEC4", 12}, {3, "VEC2", 6}}) {
        views.push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", floats * f}});
        accessors.push_back({{"bufferView", index++}, {"componentType", 5126}, {"count", count}, {"type", type}});
        offset += floats * f;
    }
    accessors[0]["min"] = {0, 0, 0};
    accessors[0]["max"] = {1, 1, 0};
    nlohmann::json gltf = nlohmann::json::parse(R"({
        "asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1, "TANGENT": 2, "TEXCOORD_0": 3}}]}]})");
    gltf["buffers"] = {{{"byteLength", all.size() * f}, {"uri", "data:application/octet-stream;base64," + base64(all)}}};
    gltf["bufferViews"] = views;
    gltf["accessors"] = accessors;
    const std::string path = test::scratch_dir() + "/tangents.gltf";
    test::write_text(path, gltf.dump());
    MeshData mesh;
    std::string error;
    ASSERT_TRUE(load_mesh(path, mesh, error)) << error;
    ASSERT_EQ(mesh.tangents.size(), 3u);
    ASSERT_EQ(mesh.tangent_signs.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        expect_near(mesh.tangents[i], {0, 1, 0}, "file tangent");
        EXPECT_EQ(mesh.tangent_signs[i], -1);
    }
}

TEST(TangentFrame, SmoothNormalsAreTheFramesZ) {
    // A bent patch: vertex normals spread apart, so the interpolated normal
    // is no corner's. An open surface's bent normal is that normal; in
    // tangent space it is +z wherever the point lies.
    MeshData m;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {0, 0, -1}};
    m.normals = {normalize(Vec3{-1, 2, 1}), normalize(Vec3{1, 2, 0}), normalize(Vec3{0, 2, -1})};
    m.uvs = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    m.indices = {0, 1, 2};
    ObjectDesc o = object_of(m);
    o.has_transform = true;
    o.transform = from_axes({2, 0, 0}, {0, 0.5, 0}, {0, 0, 1}, {3, 4, 5});  // non-uniform scale
    const auto frames = tangent_frames(m, m.uvs, true);
    for (const double u : {0.0, 0.25, 0.6})
        for (const double v : {0.0, 0.3}) {
            // The renderer's normal: vertex normals carried to world space
            // one by one, then interpolated.
            Mat4 inverse;
            ASSERT_TRUE(invert_affine(o.transform, inverse));
            Vec3 n[3];
            for (int k = 0; k < 3; ++k) n[k] = normalize(transform_normal(inverse, m.normals[k]));
            const Vec3 world = normalize(n[0] * (1 - u - v) + n[1] * u + n[2] * v);
            expect_near(in_tangent_space(o, frames, world, 0, u, v), {0, 0, 1}, "smooth");
        }
}

TEST(TangentFrame, ObjectSpaceFollowsTheTransform) {
    const MeshData m = floor_strip({{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}, {1, 0.5, 0}});
    ObjectDesc o = object_of(m);
    const auto frames = tangent_frames(m, m.uvs, true);
    const Vec3 world = normalize(Vec3{1, 2, 3});
    expect_near(bent_normal_in_space(world, BakeSpace::world, o, frames, 0, 0.2, 0.2), world, "world");
    expect_near(bent_normal_in_space(world, BakeSpace::object, o, frames, 0, 0.2, 0.2), world, "identity");

    // Turned a quarter about z (x goes to y) and scaled 3 along the new y:
    // an object normal (1, 1, 0)/sqrt 2 becomes (-1, 1/3, 0) normalised in
    // world space (normal to the image (1, 3, 0) of its tangent (1, -1, 0)),
    // and comes back as it was.
    o.has_transform = true;
    o.transform = from_axes({0, 3, 0}, {-1, 0, 0}, {0, 0, 1}, {7, 0, 0});
    const Vec3 object_normal{h, h, 0};
    expect_near(bent_normal_in_space(normalize(Vec3{-1, 1.0 / 3, 0}), BakeSpace::object, o, frames, 0, 0.2, 0.2),
                object_normal, "inverse transpose");

    // Tangent space is carried along: the floor now faces -x in world, its
    // +u along +y (stretched), its +v along -z.
    expect_near(in_tangent_space(o, frames, {-1, 0, 0}, 3, 0.1, 0.1), {0, 0, 1}, "turned normal");
    expect_near(in_tangent_space(o, frames, {-1, 1, 0}, 3, 0.1, 0.1), {h, 0, h}, "turned u");
    expect_near(in_tangent_space(o, frames, {-1, 0, -1}, 3, 0.1, 0.1), {0, h, h}, "turned v");

    // A mirroring transform (x to -x): +u now runs along -x, +v still -z.
    o.transform = from_axes({-1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0});
    expect_near(in_tangent_space(o, frames, {-1, 1, 0}, 0, 0.1, 0.1), {h, 0, h}, "mirrored u");
    expect_near(in_tangent_space(o, frames, {0, 1, -1}, 0, 0.1, 0.1), {0, h, h}, "mirrored v");
}

TEST(TangentFrame, UnitVectorsAsImageValues) {
    expect_near(encode_unit_vector({0, 0, 1}, false), {0.5, 0.5, 1}, "flat");
    expect_near(encode_unit_vector({-1, 1, 0}, false), {0, 1, 0.5}, "y up");
    expect_near(encode_unit_vector({-1, 1, 0}, true), {0, 0, 0.5}, "y down");
    // Fully blocked: nothing to point at, stays zero in every space.
    const MeshData m = floor_strip({{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}, {1, 0.5, 0}});
    expect_near(bent_normal_in_space({0, 0, 0}, BakeSpace::tangent, object_of(m), tangent_frames(m, m.uvs, true), 0, 0, 0),
                {0, 0, 0}, "blocked");
}

}  // namespace
}  // namespace vosh::render
