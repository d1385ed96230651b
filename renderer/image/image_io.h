// Image files: rendered output (PNG or OpenEXR by extension),
// latitude-longitude environment maps (OpenEXR) and textures (either).
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace vosh::render {

// Row-major, top row first, 4 linear floats (r, g, b, a) per pixel.
struct Image {
    int width = 0, height = 0;
    std::vector<float> rgba;
};

enum class ImageFormat { png, exr, unknown };

// By the extension of the file name, case-insensitive: ".png" or ".exr".
ImageFormat image_format_of(const std::string& path);

// How a PNG stores values: a render is a picture (sRGB-encoded, 8 bits);
// a baked map is data (values as they are, 8 or 16 bits, no colour space).
struct PngEncoding {
    bool srgb = true;
    int depth = 8;  // 8 or 16; 16 only without sRGB encoding
};

// Writes by the extension of `path` (case-insensitive): ".png" is 8-bit RGBA
// with sRGB-encoded colour and linear alpha, clamped to [0, 1], NaN as 0;
// ".exr" is RGBA 32-bit float, values kept as they are (negative, above 1).
// The file is written under a temporary name in the same directory and
// renamed over `path` only when complete, so a failure leaves whatever was
// at `path` untouched and no temporary file behind. When `abandon` is true
// by the time the temporary file is complete, it is removed instead.
// `png` changes the PNG encoding from the render's.
bool write_image_atomic(const Image& img, const std::string& path, std::string& error,
                        const std::atomic<bool>* abandon = nullptr, PngEncoding png = {});

// One file of a set written together.
struct ImageFile {
    const Image* image = nullptr;
    std::string path;
    PngEncoding png;
};

// Writes every file as write_image_atomic does, but renames none of them
// over its path until all are complete: a failure or a stop leaves every
// path as it was (short of a rename itself failing part way).
bool write_images_atomic(const std::vector<ImageFile>& files, std::string& error,
                         const std::atomic<bool>* abandon = nullptr);

// Reads a PNG file of any bit depth and colour type into RGBA (grey
// spread to r, g, b; alpha 1 when absent), each value as stored, scaled to
// [0, 1]: no transfer curve is undone, since a PNG may hold colour or data.
bool read_png_rgba(const std::string& path, Image& out, std::string& error);

// Reads an OpenEXR file with R, G, B (FLOAT or HALF; A optional, 1 when
// absent). Errors are reported, never thrown.
bool read_exr_rgba(const std::string& path, Image& out, std::string& error);

}  // namespace vosh::render
