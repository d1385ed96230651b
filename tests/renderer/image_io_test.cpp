#include "renderer/image/image_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <sys/stat.h>

#include <png.h>

#include "render_harness.h"

namespace vosh::render {
namespace {

// A fresh directory per test, removed with its contents afterwards.
class ImageIoTest : public testing::Test {
protected:
    std::string dir;

    void SetUp() override { dir = test::scratch_dir() + "/"; }
    // A test may leave it read-only.
    void TearDown() override { chmod(dir.c_str(), 0700); }
    std::set<std::string> entries() const { return test::files_in(dir, true); }
};

Image test_image() {
    Image img;
    img.width = 3;
    img.height = 2;
    img.rgba = {0.5f,  -0.25f, 7.5f,  1.0f,  1e-8f, 0.0f, -0.0f, 0.5f,  1e30f, 3.0f, 0.1f, 0.0f,
                -2.0f, 0.75f,  1.25f, 2.0f,  0.0f,  1.0f, 0.3f,  0.25f, 1e-3f, 4.0f, 5.0f, 6.0f};
    return img;
}

TEST_F(ImageIoTest, ExrRoundTripKeepsEveryFloatBitForBit) {
    const Image img = test_image();
    std::string error;
    ASSERT_TRUE(write_image_atomic(img, dir + "out.exr", error)) << error;
    Image back;
    ASSERT_TRUE(read_exr_rgba(dir + "out.exr", back, error)) << error;
    EXPECT_EQ(back.width, img.width);
    EXPECT_EQ(back.height, img.height);
    ASSERT_EQ(back.rgba.size(), img.rgba.size());
    EXPECT_EQ(std::memcmp(back.rgba.data(), img.rgba.data(), img.rgba.size() * sizeof(float)), 0);
    EXPECT_EQ(entries(), std::set<std::string>{"out.exr"});
}

TEST_F(ImageIoTest, PngIsEightBitSrgbWithClampedAlpha) {
    Image img;
    img.width = 4;
    img.height = 1;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    img.rgba = {0.5f, 0.0f,  1.0f,  0.5f,   // mid grey encodes to 188
                2.0f, -1.0f, nan,   nan,    // clamped; NaN to 0
                0.18f, 0.002f, 0.04f, 1.5f,
                0.0f, 0.0f,  0.0f,  0.0f};
    std::string error;
    ASSERT_TRUE(write_image_atomic(img, dir + "out.PNG", error)) << error;

    const std::string bytes = test::read_file(dir + "out.PNG");
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, (dir + "out.PNG").c_str())) << png.message;
    EXPECT_EQ(png.width, 4u);
    EXPECT_EQ(png.height, 1u);
    png.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) << png.message;
    const std::vector<unsigned char> expected = {
        188, 0, 255, 128,  //
        255, 0, 0, 0,      //
        118, 7, 56, 255,   // sRGB of 0.18, of 0.002 (linear segment), of 0.04
        0, 0, 0, 0,
    };
    EXPECT_EQ(pixels, expected);
}

TEST_F(ImageIoTest, FailedWritesLeaveTheOldFileAndNoTemporary) {
    const std::string target = dir + "keep.png";
    { std::ofstream(target) << "old image"; }
    std::string error;

    Image empty;
    EXPECT_FALSE(write_image_atomic(empty, target, error));

    Image wrong_size = test_image();
    wrong_size.rgba.pop_back();
    EXPECT_FALSE(write_image_atomic(wrong_size, target, error));

    EXPECT_FALSE(write_image_atomic(test_image(), dir + "keep.jpg", error));
    EXPECT_NE(error.find(".png"), std::string::npos) << error;
    EXPECT_NE(error.find(".exr"), std::string::npos) << error;

    EXPECT_FALSE(write_image_atomic(test_image(), dir + "no_such_dir/out.exr", error));
    EXPECT_NE(error.find("no_such_dir/out.exr"), std::string::npos) << error;

    // Renaming onto a directory fails after the temporary file was written.
    ASSERT_EQ(mkdir((dir + "taken.exr").c_str(), 0700), 0);
    EXPECT_FALSE(write_image_atomic(test_image(), dir + "taken.exr", error));
    rmdir((dir + "taken.exr").c_str());

    if (geteuid() != 0) {  // root writes anywhere
        ASSERT_EQ(chmod(dir.c_str(), 0500), 0);
        EXPECT_FALSE(write_image_atomic(test_image(), target, error));
        EXPECT_FALSE(write_image_atomic(test_image(), dir + "keep.exr", error));
        ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
    }

    EXPECT_EQ(test::read_file(target), "old image");
    EXPECT_EQ(entries(), std::set<std::string>{"keep.png"});
}

TEST_F(ImageIoTest, SuccessfulWriteReplacesTheOldFile) {
    const std::string target = dir + "out.exr";
    { std::ofstream(target) << "old image"; }
    std::string error;
    ASSERT_TRUE(write_image_atomic(test_image(), target, error)) << error;
    Image back;
    EXPECT_TRUE(read_exr_rgba(target, back, error)) << error;
    EXPECT_EQ(entries(), std::set<std::string>{"out.exr"});
}

TEST_F(ImageIoTest, ReadingBadFilesReportsWithoutThrowing) {
    { std::ofstream(dir + "text.exr") << "not an image at all"; }
    Image img = test_image();
    std::string error;
    ASSERT_TRUE(write_image_atomic(img, dir + "real.exr", error)) << error;
    const std::string real = test::read_file(dir + "real.exr");
    { std::ofstream(dir + "cut.exr", std::ios::binary) << real.substr(0, real.size() / 2); }
    ASSERT_TRUE(write_image_atomic(img, dir + "image.png", error)) << error;

    for (const char* name : {"missing.exr", "text.exr", "cut.exr", "image.png"}) {
        Image out;
        error.clear();
        EXPECT_FALSE(read_exr_rgba(dir + name, out, error)) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
        EXPECT_EQ(out.width, 0) << name;
    }
}

}  // namespace
}  // namespace vosh::render
