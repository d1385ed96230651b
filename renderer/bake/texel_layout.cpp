#include "renderer/bake/texel_layout.h"

#include <algorithm>
#include <cmath>

namespace vosh::render {

namespace {

// UVs beyond this many periods are garbage in a file, not a layout.
constexpr double max_uv = 1e6;

long long floor_div(long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

double signed_area(const TexelXY c[3]) {
    return 0.5 * ((c[1].x - c[0].x) * (c[2].y - c[0].y) - (c[2].x - c[0].x) * (c[1].y - c[0].y));
}

}  // namespace

TexelXY uv_to_texel(Vec3 uv, int width, int height) {
    return {uv.x * width, (1.0 - uv.y) * height};
}

TexelLayout layout_texels(const std::vector<Vec3>& uvs, const std::vector<uint32_t>& indices,
                          int width, int height, int tile_size) {
    TexelLayout layout;
    layout.width = width;
    layout.height = height;
    layout.tile_size = tile_size;
    layout.tiles_x = (width + tile_size - 1) / tile_size;
    layout.tiles_y = (height + tile_size - 1) / tile_size;
    layout.tiles.resize(static_cast<size_t>(layout.tiles_x) * layout.tiles_y);
    const size_t triangles = indices.size() / 3;
    for (size_t t = 0; t < triangles; ++t) {
        Vec3 uv[3];
        bool usable = true;
        for (int k = 0; k < 3; ++k) {
            const uint32_t i = indices[3 * t + k];
            uv[k] = i < uvs.size() ? uvs[i] : Vec3{NAN, NAN, 0};
            usable = usable && std::isfinite(uv[k].x) && std::isfinite(uv[k].y) &&
                     std::fabs(uv[k].x) <= max_uv && std::fabs(uv[k].y) <= max_uv;
        }
        if (!usable) {
            ++layout.unusable_triangles;
            continue;
        }
        PlacedTriangle p;
        p.triangle = static_cast<uint32_t>(t);
        double min_x = INFINITY, max_x = -INFINITY, min_y = INFINITY, max_y = -INFINITY;
        bool outside = false;
        for (int k = 0; k < 3; ++k) {
            p.corner[k] = uv_to_texel(uv[k], width, height);
            min_x = std::fmin(min_x, p.corner[k].x);
            max_x = std::fmax(max_x, p.corner[k].x);
            min_y = std::fmin(min_y, p.corner[k].y);
            max_y = std::fmax(max_y, p.corner[k].y);
            outside = outside || uv[k].x < 0 || uv[k].x > 1 || uv[k].y < 0 || uv[k].y > 1;
        }
        if (!(std::fabs(signed_area(p.corner)) > 0)) continue;
        if (max_x - min_x > width || max_y - min_y > height) {
            ++layout.unusable_triangles;
            continue;
        }
        if (outside) ++layout.wrapped_triangles;
        // Texels whose square meets the triangle's bounding box with area.
        const long long ix0 = static_cast<long long>(std::floor(min_x));
        const long long ix1 = static_cast<long long>(std::ceil(max_x));
        const long long iy0 = static_cast<long long>(std::floor(min_y));
        const long long iy1 = static_cast<long long>(std::ceil(max_y));
        for (long long ky = floor_div(iy0, height); ky <= floor_div(iy1 - 1, height); ++ky)
            for (long long kx = floor_div(ix0, width); kx <= floor_div(ix1 - 1, width); ++kx) {
                PlacedTriangle q = p;
                const double dx = static_cast<double>(kx * width), dy = static_cast<double>(ky * height);
                for (TexelXY& c : q.corner) {
                    c.x -= dx;
                    c.y -= dy;
                }
                q.x0 = static_cast<int>(std::max<long long>(ix0 - kx * width, 0));
                q.x1 = static_cast<int>(std::min<long long>(ix1 - kx * width, width));
                q.y0 = static_cast<int>(std::max<long long>(iy0 - ky * height, 0));
                q.y1 = static_cast<int>(std::min<long long>(iy1 - ky * height, height));
                if (q.x0 >= q.x1 || q.y0 >= q.y1) continue;
                for (int ty = q.y0 / tile_size; ty <= (q.y1 - 1) / tile_size; ++ty)
                    for (int tx = q.x0 / tile_size; tx <= (q.x1 - 1) / tile_size; ++tx)
                        layout.tiles[static_cast<size_t>(ty) * layout.tiles_x + tx].push_back(q);
            }
    }
    return layout;
}

}  // namespace vosh::render
