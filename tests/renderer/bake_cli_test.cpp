// `vosh-render bake` from the command line: the model-file path, what a PNG
// holds, and the bad input it refuses with one line and nothing written.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <set>

#include <png.h>

#include "render_harness.h"

namespace vosh::render::test {
namespace {

// A 2 x 2 unit quad at y = 0 facing up, its UVs [u0, u1] x [v0, v1].
std::string plane_obj(double u0, double u1, bool with_uvs = true) {
    std::string obj = "v -1 0 1\nv 1 0 1\nv 1 0 -1\nv -1 0 -1\nvn 0 1 0\n";
    if (!with_uvs) return obj + "f 1//1 2//1 3//1\nf 1//1 3//1 4//1\n";
    obj += "vt " + std::to_string(u0) + " " + std::to_string(u0) + "\n";
    obj += "vt " + std::to_string(u1) + " " + std::to_string(u0) + "\n";
    obj += "vt " + std::to_string(u1) + " " + std::to_string(u1) + "\n";
    obj += "vt " + std::to_string(u0) + " " + std::to_string(u1) + "\n";
    return obj + "f 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n";
}

// The same quad with the UV lines `vts` (four "vt u v" lines).
std::string plane_obj_uvs(const std::string& vts) {
    return "v -1 0 1\nv 1 0 1\nv 1 0 -1\nv -1 0 -1\nvn 0 1 0\n" + vts +
           "f 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n";
}

struct Png {
    int width = 0, height = 0, depth = 0;
    std::vector<std::vector<unsigned>> rows;  // channel values, RGBA
};

// Reads the stored values as they are, with no colour conversion.
bool read_png_values(const std::string& path, Png& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    out.depth = png_get_bit_depth(png, info);
    const bool rgba = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGBA;
    png_bytepp rows = png_get_rows(png, info);
    out.rows.assign(static_cast<size_t>(out.height), {});
    for (int y = 0; y < out.height && rgba; ++y)
        for (int i = 0; i < out.width * 4; ++i)
            out.rows[y].push_back(out.depth == 16 ? (rows[y][2 * i] << 8) | rows[y][2 * i + 1] : rows[y][i]);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return rgba;
}

// An open plane shows `bright` exactly; a PNG keeps it linear at the depth
// asked for, and the background beyond the padding.
TEST(BakeCommand, ModelFileToSixteenBitPng) {
    const std::string dir = scratch_dir();
    write_text(dir + "/plane.obj", plane_obj(0.25, 0.75));
    const std::string out = dir + "/plane.png";
    const CommandResult r = run_renderer({"bake", dir + "/plane.obj", "-o", out, "--size", "32x16",
                                          "--padding", "2", "--depth", "16", "--background", "1,0,0,0.5",
                                          "--set", "bright=0.2,0.4,0.6", "--set", "samples=8", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    Png png;
    ASSERT_TRUE(read_png_values(out, png));
    ASSERT_EQ(png.width, 32);
    ASSERT_EQ(png.height, 16);
    EXPECT_EQ(png.depth, 16);
    // The island covers columns 8..23 and rows 4..11; 2 texels of gutter.
    const std::vector<unsigned> island = {13107, 26214, 39321, 65535}, background = {65535, 0, 0, 32768};
    auto at = [&](int x, int y) {
        return std::vector<unsigned>(png.rows[y].begin() + 4 * x, png.rows[y].begin() + 4 * x + 4);
    };
    EXPECT_EQ(at(16, 8), island);
    EXPECT_EQ(at(6, 8), island);
    EXPECT_EQ(at(25, 4), island);      // 2 texels from the corner texel (23, 4)
    EXPECT_EQ(at(25, 3), background);  // sqrt 5 from it
    EXPECT_EQ(at(5, 8), background);
    EXPECT_EQ(at(16, 1), background);
}

// Bent normals of an open plane in world space: +y, as n * 0.5 + 0.5, and
// with the green channel flipped for the y-down convention.
TEST(BakeCommand, BentNormalsInPngAndTheGreenConvention) {
    const std::string dir = scratch_dir();
    write_text(dir + "/plane.obj", plane_obj(0, 1));
    for (const char* y : {"up", "down"}) {
        const std::string out = dir + "/bent_" + y + ".png";
        const CommandResult r = run_renderer({"bake", dir + "/plane.obj", "-o", out, "--size", "8",
                                              "--space", "world", "--normal-y", y, "--set", "bent_normals=on",
                                              "--set", "samples=256", "--quiet"});
        ASSERT_EQ(r.status, 0) << r.err;
        Png png;
        ASSERT_TRUE(read_png_values(out, png));
        EXPECT_EQ(png.depth, 8);
        const int green = std::string(y) == "up" ? 255 : 0;
        for (int row = 0; row < 8; row += 3)
            for (int x = 0; x < 8; x += 3) {
                const unsigned* t = &png.rows[row][4 * x];
                EXPECT_NEAR(t[0], 128, 4) << x << "," << row;
                EXPECT_NEAR(t[1], green, 2) << x << "," << row;
                EXPECT_NEAR(t[2], 128, 4) << x << "," << row;
                EXPECT_EQ(t[3], 255u);
            }
    }
}

// Exit status of vosh-render run with `args` from the directory `dir`.
int run_in(const std::string& dir, const std::vector<std::string>& args) {
    vosh::test::ProcessOptions options;
    options.cwd = dir;
    return vosh::test::run_process(renderer_command(args), options).status;
}

// Without -o the map is named after the object: the scene object's name, or
// the model file's name without its extension.
TEST(BakeCommand, OutputNamedAfterTheObject) {
    const std::string dir = scratch_dir();
    write_text(dir + "/rock.obj", plane_obj(0, 1));
    write_text(dir + "/scene.json",
               R"({"shaders": {"occ": {"type": "vosh_occlusion"}}, "materials": {"m": {"shader": "occ"}},
                   "objects": [{"shape": "mesh", "file": "rock.obj", "material": "m", "name": "slab"}]})");
    const std::vector<std::string> small = {"--size", "4", "--spp", "1", "--set", "samples=4", "--quiet"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), small.begin(), small.end());
        return args;
    };
    EXPECT_EQ(run_in(dir, with({"bake", "rock.obj"})), 0);
    EXPECT_TRUE(file_exists(dir + "/rock_ao.png"));
    EXPECT_EQ(run_in(dir, with({"bake", "scene.json", "--object", "slab"})), 0);
    EXPECT_TRUE(file_exists(dir + "/slab_ao.png"));
    EXPECT_EQ(run_in(dir, with({"bake", "rock.obj", "--set", "bent_normals=on"})), 0);
    EXPECT_TRUE(file_exists(dir + "/rock_bent.exr"));
    // From a high-poly: the shader's map and the normal map, one file each.
    write_text(dir + "/sculpt.obj", plane_obj(0, 1));
    EXPECT_EQ(run_in(dir, with({"bake", "rock.obj", "--from", "sculpt.obj", "--miss-mask", "miss.png"})), 0);
    for (const char* file : {"rock_ao.png", "rock_normal.png", "miss.png"})
        EXPECT_TRUE(file_exists(dir + "/" + file)) << file;
    // A set of maps is written whole or not at all: the mask cannot be.
    EXPECT_EQ(run_in(dir, with({"bake", "rock.obj", "--from", "sculpt.obj", "-o", "set_{map}.png",
                                "--miss-mask", "no/such/dir/miss.png"})), 1);
    EXPECT_FALSE(file_exists(dir + "/set_ao.png"));
}

// The sample map holds each texel's own count: an open plane stops every
// covered texel at the minimum, and texels off the layout took none.
TEST(BakeCommand, SampleMapCountsEachTexel) {
    const std::string dir = scratch_dir();
    write_text(dir + "/rock.obj", plane_obj(0, 0.75));
    ASSERT_EQ(run_in(dir, {"bake", "rock.obj", "--size", "32", "--padding", "0", "--spp", "16", "--min-spp", "4",
                           "--noise-threshold", "0.1", "--set", "samples=4", "--sample-map", "map.png", "--quiet"}),
              0);
    Png ao, map;
    ASSERT_TRUE(read_png_values(dir + "/rock_ao.png", ao) && read_png_values(dir + "/map.png", map));
    int covered = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool on_layout = ao.rows[y][4 * x + 3] > 0;
            covered += on_layout;
            EXPECT_EQ(map.rows[y][4 * x], on_layout ? 64u : 0u) << x << "," << y;  // 4 of 16 points
        }
    EXPECT_GT(covered, 24 * 22);
    EXPECT_LT(covered, 32 * 32);
}

struct BadBake {
    const char* name;
    std::vector<std::string> args;  // after "bake"; DIR stands for the scratch directory
    const char* message;
};

void PrintTo(const BadBake& c, std::ostream* os) { *os << c.name; }

class BakeRefuses : public ::testing::TestWithParam<BadBake> {};

TEST_P(BakeRefuses, WithOneLineAndNothingWritten) {
    const std::string dir = scratch_dir();
    write_text(dir + "/plane.obj", plane_obj(0, 1));
    write_text(dir + "/bare.obj", plane_obj(0, 1, false));
    // UV layouts that cover no texel.
    write_text(dir + "/flat.obj", plane_obj(0.3, 0.3));
    write_text(dir + "/far.obj", plane_obj(2e6, 2e6 + 0.5));
    write_text(dir + "/thin.obj", plane_obj_uvs("vt 0 0\nvt 1 0\nvt 1 1e-11\nvt 0 1e-11\n"));
    write_text(dir + "/scene.json",
               R"({"shaders": {"occ": {"type": "vosh_occlusion"}}, "materials": {"m": {"shader": "occ"}},
                   "objects": [{"shape": "mesh", "file": "plane.obj", "material": "m", "name": "plane"},
                               {"shape": "sphere", "center": [0, 2, 0], "radius": 0.5, "material": "m",
                                "name": "ball"}]})");
    const std::set<std::string> before = files_in(dir);
    std::vector<std::string> args = {"bake"};
    for (std::string a : GetParam().args) {
        if (a.rfind("DIR", 0) == 0) a = dir + a.substr(3);
        args.push_back(a);
    }
    args.insert(args.end(), {"-o", dir + "/out.png", "--quiet"});
    const CommandResult r = run_renderer(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(files_in(dir), before);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, BakeRefuses,
    ::testing::Values(
        BadBake{"ModelWithoutUvs", {"DIR/bare.obj"}, "bare.obj: has no texture coordinates: a bake needs a UV layout"},
        BadBake{"ObjectNamingNothing", {"DIR/scene.json", "--object", "lamp"}, "--object lamp: no object"},
        BadBake{"ObjectNotAMesh", {"DIR/scene.json", "--object", "ball"}, "/objects/1: object \"ball\" is not a mesh"},
        BadBake{"SceneWithoutObject", {"DIR/scene.json"}, "needs --object NAME"},
        BadBake{"MissingUvSet", {"DIR/scene.json", "--object", "plane", "--uv-set", "1"}, "has no UV set 1"},
        BadBake{"SizeZero", {"DIR/plane.obj", "--size", "0"}, "--size 0: each side must lie in [1, 16384]"},
        BadBake{"SizeTooLarge", {"DIR/plane.obj", "--size", "64x16385"}, "--size 64x16385: each side"},
        BadBake{"NegativePadding", {"DIR/plane.obj", "--padding", "-1"}, "--padding -1: must lie in [0, 16384]"},
        BadBake{"ThresholdNaN", {"DIR/plane.obj", "--noise-threshold", "nan"}, "--noise-threshold nan: must be a number in"},
        BadBake{"MinSppZero", {"DIR/plane.obj", "--min-spp", "0"}, "--min-spp 0: must lie in [1, 65536]"},
        BadBake{"SampleMapFormat", {"DIR/plane.obj", "--sample-map", "DIR/map.jpg"},
                "map.jpg: the name must end in .png or .exr"},
        BadBake{"MinSppOverSpp", {"DIR/plane.obj", "--spp", "8", "--min-spp", "9"},
                "--min-spp 9: must lie in [1, 8] (the bake's points per texel)"},
        BadBake{"UnknownSpace", {"DIR/plane.obj", "--space", "screen"}, "--space screen"},
        BadBake{"OutputSpaceSet", {"DIR/plane.obj", "--set", "output_space=2"}, "--space"},
        BadBake{"MissingModel", {"DIR/none.glb"}, "none.glb"},
        BadBake{"UvsAllDegenerate", {"DIR/flat.obj", "--size", "64x32"},
                "flat.obj: object \"flat\": no UV triangle covers a texel of the 64x32 texture: all 2 "
                "triangles are degenerate (no area in UV)"},
        BadBake{"UvsBeyondWrapping", {"DIR/far.obj"}, "all 2 triangles are unusable (UVs not finite, beyond"},
        BadBake{"UvsTooThin", {"DIR/thin.obj", "--size", "8"}, "8x8 texture: all 2 triangles are too thin"},
        BadBake{"CageWithoutFrom", {"DIR/plane.obj", "--cage", "DIR/plane.obj"},
                "--cage: applies to a bake from a high-poly model (--from)"},
        BadBake{"NormalMapWithoutFrom", {"DIR/plane.obj", "--maps", "normal"}, "--maps: applies to a bake from"},
        BadBake{"FrontNotFinite", {"DIR/plane.obj", "--from", "DIR/bare.obj", "--front", "nan"},
                "--front nan: expected a finite distance"},
        BadBake{"BackNegative", {"DIR/plane.obj", "--from", "DIR/bare.obj", "--back", "-1"}, "--back -1: must lie in [0,"},
        BadBake{"SeveralMapsOneFile", {"DIR/plane.obj", "--from", "DIR/bare.obj"}, "2 maps needs {map} in the name"},
        BadBake{"UnknownMap", {"DIR/plane.obj", "--from", "DIR/bare.obj", "--maps", "ao,height"}, "--maps ao,height"},
        BadBake{"FromNamesNoObject", {"DIR/scene.json", "--object", "plane", "--from", "lamp"},
                "--from lamp: no object of the scene has that name"},
        BadBake{"LowPolyIsItsSource", {"DIR/scene.json", "--object", "plane", "--from", "plane", "--maps", "ao"},
                "\"plane\" is the low-poly baked and one of its sources"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vosh::render::test
