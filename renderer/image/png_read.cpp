#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <png.h>

#include "renderer/image/image_io.h"

namespace vosh::render {

namespace {

struct PngReadState {
    char message[200] = "";
};

void on_png_error(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Everything that must survive libpng's error jump lives in the caller;
// this frame holds nothing with a destructor.
bool decode_png(std::FILE* file, PngReadState& state, std::vector<uint16_t>& samples,
                std::vector<png_bytep>& rows, int& width, int& height) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, on_png_error, on_png_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    png_set_user_limits(png, 16384, 16384);
    png_init_io(png, file);
    png_read_info(png, info);
    // Every layout becomes 16-bit RGBA, values untouched.
    png_set_expand(png);
    png_set_expand_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xffff, PNG_FILLER_AFTER);
    const uint16_t probe = 1;
    if (*reinterpret_cast<const unsigned char*>(&probe) == 1) png_set_swap(png);  // PNG is big-endian
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    width = static_cast<int>(png_get_image_width(png, info));
    height = static_cast<int>(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) != size_t(width) * 8) {
        std::snprintf(state.message, sizeof state.message, "unsupported pixel layout");
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    samples.assign(size_t(width) * size_t(height) * 4, 0);
    rows.resize(size_t(height));
    for (int y = 0; y < height; ++y)
        rows[size_t(y)] = reinterpret_cast<png_bytep>(samples.data() + size_t(y) * size_t(width) * 4);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool read_png_rgba(const std::string& path, Image& out, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    unsigned char signature[8] = {};
    const bool is_png = std::fread(signature, 1, 8, file) == 8 && png_sig_cmp(signature, 0, 8) == 0;
    std::rewind(file);
    if (!is_png) {
        std::fclose(file);
        error = path + ": not a PNG file";
        return false;
    }
    PngReadState state;
    std::vector<uint16_t> samples;
    std::vector<png_bytep> rows;
    int width = 0, height = 0;
    const bool ok = decode_png(file, state, samples, rows, width, height);
    std::fclose(file);
    if (!ok) {
        error = path + ": cannot read PNG: " + (state.message[0] ? state.message : "out of memory");
        return false;
    }
    Image image;
    image.width = width;
    image.height = height;
    image.rgba.resize(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) image.rgba[i] = float(samples[i]) / 65535.0f;
    out = std::move(image);
    return true;
}

}  // namespace vosh::render
