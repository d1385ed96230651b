// The texture host shader: which texel a hit's UVs land on, bilinear
// weights, wrapping, and how PNG values are decoded.
#include <gtest/gtest.h>
#include <png.h>

#include "render_harness.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;

// A floor quad seen from above, textured by `file`: u runs along +x from
// the quad's corner and v along -z (up the image).
json textured_floor(double width, int pixels, Vec3 corner, double u_length, double v_length,
                    const json& params) {
    return {{"camera", top_view_camera(width, pixels)},
            {"shaders", {{"tex", {{"type", "texture"}, {"params", params}}}}},
            {"materials", {{"m", {{"shader", "tex"}}}}},
            {"objects",
             {{{"shape", "quad"}, {"corner", {corner.x, corner.y, corner.z}}, {"edge1", {u_length, 0, 0}},
               {"edge2", {0, 0, -v_length}}, {"material", "m"}}}}};
}

void write(const Image& image, const std::string& path) {
    std::string error;
    ASSERT_TRUE(write_image_atomic(image, path, error)) << error;
}

const float* pixel(const Image& image, int x, int y) {
    return &image.rgba[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
}

TEST(TextureShader, BilinearBetweenTexelCentresAndWrapping) {
    // Three texels in a row: red, green, blue. Eight pixels sample u = 1,
    // 1.25, ... 2.75: past the first copy, so every lookup wraps, and u = 1
    // and 2 fall between the last texel and the first.
    const std::string dir = scratch_dir();
    Image row{3, 1, {1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1}};
    write(row, dir + "/row.exr");
    const Image image = render_in_process(
        textured_floor(2, 8, {-1.875, 0, 1}, 4, 2, {{"file", "row.exr"}}), {}, dir);
    ASSERT_EQ(image.width, 8);
    const float expected[4][3] = {{0.5f, 0, 0.5f}, {0.75f, 0.25f, 0}, {0, 1, 0}, {0, 0.25f, 0.75f}};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(pixel(image, x, y)[c], expected[x % 4][c], 1e-5) << "pixel " << x << "," << y;
}

TEST(TextureShader, TopRowIsHighestVAndPngDecodesAsAsked) {
    // Texels (linear) top left, top right, bottom left, bottom right; the
    // 2 x 2 render samples their centres.
    const std::string dir = scratch_dir();
    const Image texels{2, 2, {0.2f, 0, 0, 1, 0, 0.5f, 0, 1, 0, 0, 0.8f, 1, 1, 1, 1, 1}};
    write(texels, dir + "/quad.png");  // sRGB-encoded, 8 bits
    const Image decoded = render_in_process(
        textured_floor(1, 2, {-0.5, 0, 0.5}, 1, 1, {{"file", "quad.png"}}), {}, dir);
    ASSERT_EQ(decoded.width, 2);
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(pixel(decoded, i % 2, i / 2)[c], texels.rgba[size_t(i) * 4 + c], 0.005)
                << "texel " << i << " channel " << c;

    // As data: the stored value, sRGB-encoded 0.2 (124 / 255).
    const Image raw = render_in_process(
        textured_floor(1, 2, {-0.5, 0, 0.5}, 1, 1, {{"file", "quad.png"}, {"encoding", "linear"}}), {}, dir);
    EXPECT_NEAR(pixel(raw, 0, 0)[0], 124 / 255.0, 1e-4);
}

TEST(TextureShader, PngLayoutsComeBackAsStored) {
    // 16-bit grey (byte order matters) and 8-bit grey with alpha: r, g, b
    // repeat the grey, alpha is 1 when absent, no curve is applied.
    const std::string dir = scratch_dir();
    const uint16_t wide[4] = {0, 1000, 30000, 65535};
    const uint8_t narrow[8] = {0, 255, 60, 128, 200, 0, 255, 255};
    struct Case {
        const char* file;
        png_uint_32 format;
        const void* data;
        float grey[4], alpha[4];
    };
    for (const Case& c : {Case{"wide.png", PNG_FORMAT_LINEAR_Y, wide,
                               {0, 1000 / 65535.f, 30000 / 65535.f, 1}, {1, 1, 1, 1}},
                          Case{"narrow.png", PNG_FORMAT_GA, narrow,
                               {0, 60 / 255.f, 200 / 255.f, 1}, {1, 128 / 255.f, 0, 1}}}) {
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        png.width = 2;
        png.height = 2;
        png.format = c.format;
        const std::string path = dir + "/" + c.file;
        ASSERT_TRUE(png_image_write_to_file(&png, path.c_str(), 0, c.data, 0, nullptr)) << png.message;
        Image back;
        std::string error;
        ASSERT_TRUE(read_png_rgba(path, back, error)) << error;
        ASSERT_EQ(back.width, 2);
        ASSERT_EQ(back.height, 2);
        for (int i = 0; i < 4; ++i) {
            for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(back.rgba[size_t(i) * 4 + k], c.grey[i]) << c.file << " " << i;
            EXPECT_FLOAT_EQ(back.rgba[size_t(i) * 4 + 3], c.alpha[i]) << c.file << " " << i;
        }
    }
}

}  // namespace
}  // namespace vosh::render::test
