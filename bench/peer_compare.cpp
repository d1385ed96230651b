// Squared error of renders against a converged reference, for
// scripts/bench-peer.sh:
//
//   bench_peer_compare REF_A.exr REF_B.exr IMAGE.exr ...
//
// The reference is the mean of two independent converged renders A and B;
// its own noise, estimated from their difference (mean((A - B)^2) / 4 is the
// variance left in their mean), is taken off each image's mean squared
// error. Prints one line per image: "NAME MSE RAW_MSE" (red channel; the
// images are grey), and first "REFERENCE NOISE_MSE".
//
//   bench_peer_compare --montage OUT.png COLUMNS X Y W H ZOOM IMAGE.exr ...
//
// lays the region (X, Y, W, H) of each image out in a grid, each pixel
// repeated ZOOM times, to look at edges and noise side by side; W = H = 0
// takes the whole image.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "renderer/image/image_io.h"

namespace {

bool load(const char* path, vosh::render::Image& image) {
    std::string error;
    if (vosh::render::read_exr_rgba(path, image, error)) return true;
    std::fprintf(stderr, "bench_peer_compare: %s\n", error.c_str());
    return false;
}

int montage(int argc, char** argv) {
    if (argc < 10) {
        std::fprintf(stderr, "usage: bench_peer_compare --montage OUT.png COLUMNS X Y W H ZOOM IMAGE.exr ...\n");
        return 2;
    }
    const int columns = std::atoi(argv[3]), x0 = std::atoi(argv[4]), y0 = std::atoi(argv[5]);
    int w = std::atoi(argv[6]), h = std::atoi(argv[7]);
    const int zoom = std::atoi(argv[8]);
    const int count = argc - 9;
    if (columns < 1 || zoom < 1 || zoom > 16 || x0 < 0 || y0 < 0 || w < 0 || h < 0) {
        std::fprintf(stderr, "bench_peer_compare: bad montage layout\n");
        return 2;
    }
    std::vector<vosh::render::Image> images(count);
    for (int i = 0; i < count; ++i) {
        if (!load(argv[9 + i], images[i])) return 1;
        if (w == 0 || h == 0) w = images[0].width - x0, h = images[0].height - y0;
        if (x0 + w > images[i].width || y0 + h > images[i].height) {
            std::fprintf(stderr, "bench_peer_compare: %s is smaller than the region\n", argv[9 + i]);
            return 1;
        }
    }
    constexpr int gap = 4;
    const int rows = (count + columns - 1) / columns;
    vosh::render::Image out;
    out.width = columns * w * zoom + (columns - 1) * gap;
    out.height = rows * h * zoom + (rows - 1) * gap;
    out.rgba.assign(static_cast<size_t>(out.width) * out.height * 4, 1.0f);  // white gaps
    for (int i = 0; i < count; ++i) {
        const int ox = (i % columns) * (w * zoom + gap), oy = (i / columns) * (h * zoom + gap);
        for (int y = 0; y < h * zoom; ++y)
            for (int x = 0; x < w * zoom; ++x) {
                const float* from =
                    &images[i].rgba[(static_cast<size_t>(y0 + y / zoom) * images[i].width + x0 + x / zoom) * 4];
                float* to = &out.rgba[(static_cast<size_t>(oy + y) * out.width + ox + x) * 4];
                for (int c = 0; c < 3; ++c) to[c] = from[c];
                to[3] = 1.0f;
            }
    }
    std::string error;
    if (!vosh::render::write_image_atomic(out, argv[2], error)) {
        std::fprintf(stderr, "bench_peer_compare: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--montage") return montage(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_peer_compare REF_A.exr REF_B.exr IMAGE.exr ...\n");
        return 2;
    }
    vosh::render::Image a, b;
    if (!load(argv[1], a) || !load(argv[2], b)) return 1;
    if (a.width != b.width || a.height != b.height) {
        std::fprintf(stderr, "bench_peer_compare: the references differ in size\n");
        return 1;
    }
    const size_t pixels = static_cast<size_t>(a.width) * a.height;
    std::vector<double> reference(pixels);
    double noise = 0;
    for (size_t i = 0; i < pixels; ++i) {
        const double d = double(a.rgba[4 * i]) - b.rgba[4 * i];
        noise += d * d;
        reference[i] = 0.5 * (double(a.rgba[4 * i]) + b.rgba[4 * i]);
    }
    noise /= 4.0 * static_cast<double>(pixels);
    std::printf("REFERENCE %.6e\n", noise);
    for (int k = 3; k < argc; ++k) {
        vosh::render::Image image;
        if (!load(argv[k], image)) return 1;
        if (image.width != a.width || image.height != a.height) {
            std::fprintf(stderr, "bench_peer_compare: %s differs in size from the references\n", argv[k]);
            return 1;
        }
        double sum = 0;
        for (size_t i = 0; i < pixels; ++i) {
            const double d = image.rgba[4 * i] - reference[i];
            sum += d * d;
        }
        const double raw = sum / static_cast<double>(pixels);
        std::printf("%s %.6e %.6e\n", argv[k], raw - noise, raw);
    }
    return 0;
}
