#include "renderer/image/image_io.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <unistd.h>

#include <png.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>

namespace vosh::render {

ImageFormat image_format_of(const std::string& path) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return ImageFormat::unknown;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext == "png") return ImageFormat::png;
    if (ext == "exr") return ImageFormat::exr;
    return ImageFormat::unknown;
}

namespace {

std::string temporary_name(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp-" + std::to_string(static_cast<long>(getpid())) + "-" +
           std::to_string(counter.fetch_add(1));
}

float clamp_unit(float v) {
    if (!(v > 0.0f)) return 0.0f;  // also NaN
    return v < 1.0f ? v : 1.0f;
}

uint8_t to_byte(double v) { return static_cast<uint8_t>(std::lround(v * 255.0)); }

uint8_t srgb_byte(float linear) {
    const double v = clamp_unit(linear);
    const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    return to_byte(encoded);
}

bool write_png(const Image& img, const std::string& file, std::string& error) {
    std::vector<uint8_t> bytes(img.rgba.size());
    for (std::size_t i = 0; i < img.rgba.size(); i += 4) {
        bytes[i + 0] = srgb_byte(img.rgba[i + 0]);
        bytes[i + 1] = srgb_byte(img.rgba[i + 1]);
        bytes[i + 2] = srgb_byte(img.rgba[i + 2]);
        bytes[i + 3] = to_byte(clamp_unit(img.rgba[i + 3]));
    }
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) {
        error = std::strerror(errno);
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(img.width);
    png.height = static_cast<png_uint_32>(img.height);
    png.format = PNG_FORMAT_RGBA;  // 8-bit, colour taken as sRGB-encoded
    const bool written =
        png_image_write_to_stdio(&png, out, 0, bytes.data(), img.width * 4, nullptr) != 0;
    if (!written) error = png.message;
    png_image_free(&png);
    const bool flushed = std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    if (written && !flushed) error = std::strerror(errno);
    const bool closed = std::fclose(out) == 0;
    if (written && flushed && !closed) error = std::strerror(errno);
    return written && flushed && closed;
}

// libpng reports through these; its default would print and abort.
struct PngProblem {
    char text[200] = "";
};

extern "C" void on_png_error(png_structp png, png_const_charp message) {
    auto* problem = static_cast<PngProblem*>(png_get_error_ptr(png));
    std::snprintf(problem->text, sizeof problem->text, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

extern "C" void on_png_warning(png_structp, png_const_charp) {}

uint16_t to_word(float v) { return static_cast<uint16_t>(std::lround(clamp_unit(v) * 65535.0)); }

// Values as they are, clamped to [0, 1], big-endian when 16 bits wide.
bool write_png_values(const Image& img, const std::string& file, int depth, std::string& error) {
    const std::size_t row_bytes = static_cast<std::size_t>(img.width) * 4 * (depth / 8);
    std::vector<png_byte> data(row_bytes * static_cast<std::size_t>(img.height));
    for (std::size_t i = 0; i < img.rgba.size(); ++i) {
        if (depth == 16) {
            const uint16_t w = to_word(img.rgba[i]);
            data[2 * i] = static_cast<png_byte>(w >> 8);
            data[2 * i + 1] = static_cast<png_byte>(w & 0xff);
        } else {
            data[i] = to_byte(clamp_unit(img.rgba[i]));
        }
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(img.height));
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = data.data() + y * row_bytes;
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) {
        error = std::strerror(errno);
        return false;
    }
    PngProblem problem;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &problem, on_png_error, on_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        error = problem.text;
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height),
                 depth, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    const bool flushed = std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    if (!flushed) error = std::strerror(errno);
    const bool closed = std::fclose(out) == 0;
    if (flushed && !closed) error = std::strerror(errno);
    return flushed && closed;
}

bool sync_file(const std::string& file, std::string& error) {
    const int fd = open(file.c_str(), O_RDONLY);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (!synced) error = std::strerror(errno);
    if (fd >= 0) close(fd);
    return synced;
}

bool write_exr(const Image& img, const std::string& file, std::string& error) {
    try {
        {
            Imf::Header header(img.width, img.height);
            header.compression() = Imf::ZIP_COMPRESSION;  // lossless
            Imf::FrameBuffer frame;
            const char* names[4] = {"R", "G", "B", "A"};
            const std::size_t x_stride = 4 * sizeof(float);
            const std::size_t y_stride = x_stride * static_cast<std::size_t>(img.width);
            for (int c = 0; c < 4; ++c) {
                header.channels().insert(names[c], Imf::Channel(Imf::FLOAT));
                frame.insert(names[c],
                             Imf::Slice(Imf::FLOAT,
                                        const_cast<char*>(reinterpret_cast<const char*>(
                                            img.rgba.data() + c)),
                                        x_stride, y_stride));
            }
            Imf::OutputFile out(file.c_str(), header);
            out.setFrameBuffer(frame);
            out.writePixels(img.height);
        }
        // The line offset table goes out when the file closes, where a write
        // failure is swallowed; read the header back to catch it.
        Imf::InputFile check(file.c_str());
        if (!check.isComplete()) {
            error = "the file came out incomplete";
            return false;
        }
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    } catch (...) {
        error = "unknown failure";
        return false;
    }
    return sync_file(file, error);
}

}  // namespace

namespace {

// Writes `file.image` under a temporary name beside `file.path`; the name in
// `temporary`. False, with nothing left behind, when it cannot be written.
bool write_temporary(const ImageFile& file, std::string& temporary, std::string& error) {
    const Image& img = *file.image;
    const std::string& path = file.path;
    const ImageFormat format = image_format_of(path);
    if (format == ImageFormat::unknown) {
        error = path + ": unknown image format (use .png or .exr)";
        return false;
    }
    if (img.width <= 0 || img.height <= 0 ||
        img.rgba.size() != static_cast<std::size_t>(img.width) * img.height * 4) {
        error = path + ": image has no pixels or a pixel buffer of the wrong size";
        return false;
    }
    const PngEncoding& png = file.png;
    if (png.depth != 8 && (png.depth != 16 || png.srgb)) {
        error = path + ": PNG depth " + std::to_string(png.depth) + " is not supported";
        return false;
    }
    temporary = temporary_name(path);
    std::string reason;
    bool written;
    if (format == ImageFormat::exr)
        written = write_exr(img, temporary, reason);
    else if (png.srgb)
        written = write_png(img, temporary, reason);
    else
        written = write_png_values(img, temporary, png.depth, reason);
    if (!written) {
        std::remove(temporary.c_str());
        error = "cannot write " + path + ": " + reason;
        return false;
    }
    return true;
}

}  // namespace

bool write_images_atomic(const std::vector<ImageFile>& files, std::string& error,
                         const std::atomic<bool>* abandon) {
    std::vector<std::string> temporaries;
    const auto discard = [&temporaries] {
        for (const std::string& t : temporaries) std::remove(t.c_str());
    };
    for (const ImageFile& file : files) {
        std::string temporary;
        if (!write_temporary(file, temporary, error)) {
            discard();
            return false;
        }
        temporaries.push_back(temporary);
        if (abandon && abandon->load()) {
            discard();
            error = "not writing " + file.path + ": stopped";
            return false;
        }
    }
    for (size_t i = 0; i < files.size(); ++i)
        if (std::rename(temporaries[i].c_str(), files[i].path.c_str()) != 0) {
            error = "cannot write " + files[i].path + ": " + std::strerror(errno);
            temporaries.erase(temporaries.begin(), temporaries.begin() + static_cast<long>(i));
            discard();
            return false;
        }
    return true;
}

bool write_image_atomic(const Image& img, const std::string& path, std::string& error,
                        const std::atomic<bool>* abandon, PngEncoding png) {
    return write_images_atomic({{&img, path, png}}, error, abandon);
}

bool read_exr_rgba(const std::string& path, Image& out, std::string& error) {
    try {
        Imf::InputFile file(path.c_str());
        const Imf::Header& header = file.header();
        for (const char* name : {"R", "G", "B"}) {
            if (!header.channels().findChannel(name)) {
                error = path + ": OpenEXR file has no " + name + " channel (need R, G, B)";
                return false;
            }
        }
        for (auto channel = header.channels().begin(); channel != header.channels().end();
             ++channel) {
            if (channel.channel().xSampling != 1 || channel.channel().ySampling != 1) {
                error = path + ": subsampled channels are not supported";
                return false;
            }
        }
        if (!file.isComplete()) {
            error = path + ": OpenEXR file is incomplete";
            return false;
        }
        const Imath::Box2i window = header.dataWindow();
        const int64_t width = int64_t(window.max.x) - window.min.x + 1;
        const int64_t height = int64_t(window.max.y) - window.min.y + 1;
        if (width <= 0 || height <= 0 || width * height > (int64_t(1) << 28)) {
            error = path + ": unsupported image size " + std::to_string(width) + " x " +
                    std::to_string(height);
            return false;
        }
        Image image;
        image.width = static_cast<int>(width);
        image.height = static_cast<int>(height);
        image.rgba.assign(static_cast<std::size_t>(width * height) * 4, 0.0f);
        Imf::FrameBuffer frame;
        const char* names[4] = {"R", "G", "B", "A"};
        const double fill[4] = {0.0, 0.0, 0.0, 1.0};  // alpha 1 when absent
        for (int c = 0; c < 4; ++c) {
            frame.insert(names[c], Imf::Slice::Make(Imf::FLOAT, image.rgba.data() + c, window,
                                                    4 * sizeof(float), 0, 1, 1, fill[c]));
        }
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
        out = std::move(image);
        return true;
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
    } catch (...) {
        error = path + ": cannot read OpenEXR file";
    }
    return false;
}

}  // namespace vosh::render
