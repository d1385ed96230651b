#include "renderer/bake/texel_layout.h"

#include <algorithm>
#include <cmath>

#include "renderer/bake/texel_coverage.h"

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
    layout.triangles = triangles;
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
        if (!(std::fabs(signed_area(p.corner)) > 0)) {
            ++layout.degenerate_triangles;
            continue;
        }
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

namespace {

// Columns of row y the placement can cover, [lo, hi): its x extent over
// rows y - 0.5 to y + 1.5, a texel wider each side. Every texel beyond lies
// half a texel or more from the triangle, so clipping leaves nothing of it.
bool row_span(const PlacedTriangle& p, int y, int& lo, int& hi) {
    const double lines[2] = {y - 0.5, y + 1.5};
    double lo_x = INFINITY, hi_x = -INFINITY;
    for (int k = 0; k < 3; ++k) {
        const TexelXY a = p.corner[k], b = p.corner[(k + 1) % 3];
        if (a.y >= lines[0] && a.y <= lines[1]) {
            lo_x = std::fmin(lo_x, a.x);
            hi_x = std::fmax(hi_x, a.x);
        }
        for (double line : lines)
            if ((a.y < line) != (b.y < line)) {
                const double x = a.x + (b.x - a.x) * ((line - a.y) / (b.y - a.y));
                lo_x = std::fmin(lo_x, x);
                hi_x = std::fmax(hi_x, x);
            }
    }
    if (!(lo_x <= hi_x)) return false;
    lo = static_cast<int>(std::fmax(std::floor(lo_x) - 1, p.x0));
    hi = static_cast<int>(std::fmin(std::floor(hi_x) + 2, p.x1));
    return lo < hi;
}

std::string count_of(uint64_t n, uint64_t total) {
    if (n == total) return n == 1 ? "its one triangle is" : "all " + std::to_string(n) + " triangles are";
    return std::to_string(n) + " of " + std::to_string(total) + (n == 1 ? " triangles is" : " triangles are");
}

}  // namespace

bool covers_any_texel(const TexelLayout& layout) {
    // Tile by tile, as the bake goes: a placement's texels in each tile it
    // was binned to, and only those near the triangle, so a sliver across
    // the texture costs its length, not its bounding box.
    for (int ty = 0; ty < layout.tiles_y; ++ty)
        for (int tx = 0; tx < layout.tiles_x; ++tx) {
            const int x0 = tx * layout.tile_size, y0 = ty * layout.tile_size;
            for (const PlacedTriangle& p : layout.tiles[static_cast<size_t>(ty) * layout.tiles_x + tx]) {
                const int y1 = std::min(p.y1, y0 + layout.tile_size);
                for (int y = std::max(p.y0, y0); y < y1; ++y) {
                    int lo = 0, hi = 0;
                    if (!row_span(p, y, lo, hi)) continue;
                    for (int x = std::max(lo, x0); x < std::min(hi, x0 + layout.tile_size); ++x)
                        if (texel_cover_area(p, x, y) > 0) return true;
                }
            }
        }
    return false;
}

std::string why_no_texel_covered(const TexelLayout& layout) {
    std::string why = "no UV triangle covers a texel of the " + std::to_string(layout.width) + "x" +
                      std::to_string(layout.height) + " texture";
    const uint64_t total = layout.triangles;
    if (total == 0) return why + ": the mesh has no triangles";
    const uint64_t thin = total - layout.unusable_triangles - layout.degenerate_triangles;
    const char* sep = ": ";
    if (layout.degenerate_triangles) {
        why += sep + count_of(layout.degenerate_triangles, total) + " degenerate (no area in UV)";
        sep = ", ";
    }
    if (layout.unusable_triangles) {
        why += sep + count_of(layout.unusable_triangles, total) +
               " unusable (UVs not finite, beyond a million periods or wider than the texture)";
        sep = ", ";
    }
    if (thin) why += sep + count_of(thin, total) + " too thin to cover any texel";
    return why;
}

}  // namespace vosh::render
