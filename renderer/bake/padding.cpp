#include "renderer/bake/padding.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace vosh::render {

namespace {

constexpr int64_t far_away = std::numeric_limits<int64_t>::max() / 4;

}  // namespace

// Exact distance transform with nearest sites in two separable passes
// (lower envelopes of parabolas per row, after a nearest-row pass per
// column): linear in the texel count whatever the padding.
void pad_texture(Image& image, const std::vector<uint8_t>& covered, int padding, Color background) {
    const int w = image.width, h = image.height;
    const auto at = [w](int x, int y) { return static_cast<size_t>(y) * w + x; };
    // Pass 1: per column, the row of the nearest covered texel (-1: none).
    std::vector<int> near_row(static_cast<size_t>(w) * h, -1);
    for (int x = 0; x < w; ++x) {
        int last = -1;
        for (int y = 0; y < h; ++y) {
            if (covered[at(x, y)]) last = y;
            near_row[at(x, y)] = last;
        }
        last = -1;
        for (int y = h - 1; y >= 0; --y) {
            if (covered[at(x, y)]) last = y;
            const int up = near_row[at(x, y)];
            if (last >= 0 && (up < 0 || last - y < y - up)) near_row[at(x, y)] = last;
        }
    }
    // Pass 2: per row, the column whose nearest texel is nearest overall.
    std::vector<int> hull(static_cast<size_t>(w));
    std::vector<double> bound(static_cast<size_t>(w) + 1);
    std::vector<int64_t> f(static_cast<size_t>(w));
    const std::vector<float> source = image.rgba;
    const int64_t limit = static_cast<int64_t>(padding) * padding;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int r = near_row[at(x, y)];
            f[x] = r < 0 ? far_away : static_cast<int64_t>(r - y) * (r - y);
        }
        int k = -1;
        for (int q = 0; q < w; ++q) {
            if (f[q] >= far_away) continue;
            double s = -INFINITY;
            while (k >= 0) {
                const int p = hull[k];
                s = (static_cast<double>(f[q] + static_cast<int64_t>(q) * q) -
                     static_cast<double>(f[p] + static_cast<int64_t>(p) * p)) /
                    (2.0 * (q - p));
                if (s > bound[k]) break;
                --k;
            }
            ++k;
            hull[k] = q;
            bound[k] = k == 0 ? -INFINITY : s;
        }
        int j = 0;
        for (int x = 0; x < w; ++x) {
            float* out = &image.rgba[at(x, y) * 4];
            if (covered[at(x, y)]) continue;
            bool filled = false;
            if (k >= 0) {
                while (j < k && bound[j + 1] < x) ++j;
                const int p = hull[j];
                const int64_t d = static_cast<int64_t>(x - p) * (x - p) + f[p];
                if (d <= limit) {
                    const float* from = &source[at(p, near_row[at(p, y)]) * 4];
                    for (int c = 0; c < 4; ++c) out[c] = from[c];
                    filled = true;
                }
            }
            if (!filled) {
                out[0] = background.r;
                out[1] = background.g;
                out[2] = background.b;
                out[3] = background.a;
            }
        }
    }
}

}  // namespace vosh::render
