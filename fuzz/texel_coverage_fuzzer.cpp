// The texel side of a bake over hostile UVs (huge, tiny, NaN, infinite,
// denormal, slivers, triangles across many periods) on a small texture:
// layout_texels, cover_texel, locate_in_texel, covers_any_texel and
// pad_texture. Sanitizers catch undefined behaviour and stray writes; the
// checks below hold for every layout.
//
// Input: width, height, tile size, padding and vertex count (one byte
// each), then two coordinates per vertex (a tag byte choosing how the
// value is read, then its bytes), then three bytes per triangle (vertex
// indices; the vertex count itself stands for an index past the UVs).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/renderer_fuzz_support.h"
#include "renderer/bake/padding.h"
#include "renderer/bake/texel_coverage.h"
#include "renderer/bake/texel_layout.h"

using namespace vosh::render;
using fuzz::check;

namespace {

// Values a fuzzer rarely reaches by flipping bits.
const double special[] = {
    std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
    INFINITY, -INFINITY, 0.0, -0.0, 1.0, 0.5, 0.5 + 1e-12, 1 - 1e-16, 1 + 1e-15,
    std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(), 1e-310,
    std::numeric_limits<double>::min(), std::numeric_limits<float>::denorm_min(), 1e-12, 1e6, 1e6 + 1,
    -1e6, 999999.9999, 1e300, -1e300, std::numeric_limits<double>::max(), 1e38, 12345.678};

double take_coordinate(FuzzInput& in, double previous) {
    const uint8_t tag = in.take<uint8_t>();
    switch (tag % 5) {
        case 0: return in.take<float>();
        case 1: return in.take<double>();
        case 2: return in.take<int16_t>() / 64.0;  // on a grid finer than the texels, over many periods
        case 3: return special[in.take<uint8_t>() % (sizeof special / sizeof special[0])];
        default: return previous + in.take<int8_t>() * 1e-13;  // a sliver beside the previous vertex
    }
}

bool finite(TexelXY p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// Whether the located point lies on placement `t`: finite weights of a
// point inside it, near the texel point it was asked for (a cover meets
// that texel).
bool lands_on(const PlacedTriangle& t, const SurfacePoint& s, TexelXY p) {
    const double eps = 1e-9;
    check(std::isfinite(s.b1) && std::isfinite(s.b2), "located weights are finite");
    check(s.b1 >= -eps && s.b2 >= -eps && s.b1 + s.b2 <= 1 + eps, "located point lies inside its triangle");
    const double b0 = 1 - s.b1 - s.b2;
    const TexelXY q{t.corner[0].x * b0 + t.corner[1].x * s.b1 + t.corner[2].x * s.b2,
                    t.corner[0].y * b0 + t.corner[1].y * s.b1 + t.corner[2].y * s.b2};
    return t.triangle == s.triangle && std::hypot(q.x - p.x, q.y - p.y) <= 1.5;
}

// Every texel's coverage and the points located in it; returns the mask of
// covered texels.
std::vector<uint8_t> check_coverage(const TexelLayout& layout) {
    const int w = layout.width, h = layout.height, ts = layout.tile_size;
    std::vector<uint8_t> covered(static_cast<size_t>(w) * h, 0);
    TexelCoverage c;
    const double offsets[] = {0, 1e-300, 0.25, 0.5, 0.75, 1 - 1e-16};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto& placed = layout.tiles[static_cast<size_t>(y / ts) * layout.tiles_x + x / ts];
            cover_texel(placed, x, y, c);
            check((c.chosen == nullptr) == c.covers.empty(), "a texel with a cover has a chosen triangle");
            check(!c.overlapped || c.covers.size() > 1, "an overlap takes two covers");
            bool chosen_covers = c.chosen == nullptr;
            double sum = 0;
            for (const TexelCover& k : c.covers) {
                check(k.area > 0 && k.area <= 1 + 1e-9, "a cover's area lies in (0, 1]");
                check(k.triangle >= placed.data() && k.triangle < placed.data() + placed.size(),
                      "a cover is a placement of the texel's tile");
                chosen_covers = chosen_covers || k.triangle == c.chosen;
                sum += k.area;
            }
            check(chosen_covers, "the chosen triangle is one of the covers");
            // Pairs may share up to the rounding cover_texel ignores.
            const double shared = 1e-9 * static_cast<double>(c.covers.size() * c.covers.size());
            check(c.overlapped || sum <= 1 + 1e-9 + shared, "covers that do not overlap share out one texel");
            if (!c.chosen) continue;
            covered[static_cast<size_t>(y) * w + x] = 1;
            for (double ox : offsets)
                for (double oy : offsets) {
                    const TexelXY p{x + ox, y + oy};
                    const SurfacePoint s = locate_in_texel(c, p);
                    // A triangle a whole period across can cover a texel twice.
                    bool landed = c.overlapped && lands_on(*c.chosen, s, p);
                    for (size_t k = 0; k < c.covers.size() && !c.overlapped && !landed; ++k)
                        landed = lands_on(*c.covers[k].triangle, s, p);
                    check(landed, "a point lands near its texel on a triangle covering it");
                }
        }
    return covered;
}

void check_placements(const TexelLayout& layout) {
    for (int ty = 0; ty < layout.tiles_y; ++ty)
        for (int tx = 0; tx < layout.tiles_x; ++tx)
            for (const PlacedTriangle& p : layout.tiles[static_cast<size_t>(ty) * layout.tiles_x + tx]) {
                check(p.triangle < layout.triangles, "a placement is a triangle of the mesh");
                check(p.x0 >= 0 && p.x0 < p.x1 && p.x1 <= layout.width && p.y0 >= 0 && p.y0 < p.y1 &&
                          p.y1 <= layout.height,
                      "a placement's texels lie in the texture");
                check(p.x0 < (tx + 1) * layout.tile_size && p.x1 > tx * layout.tile_size &&
                          p.y0 < (ty + 1) * layout.tile_size && p.y1 > ty * layout.tile_size,
                      "a placement is binned to tiles it reaches");
                check(finite(p.corner[0]) && finite(p.corner[1]) && finite(p.corner[2]),
                      "a placement's corners are finite");
            }
}

// Gutters against a search of every covered texel: covered texels keep
// their value, a gutter texel copies all of one covered texel at the least
// distance when that is within the padding, every other is background.
void check_padding(int w, int h, const std::vector<uint8_t>& covered, int padding) {
    Image image;
    image.width = w;
    image.height = h;
    image.rgba.resize(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < covered.size(); ++i) {
        const float v = static_cast<float>(i);
        const float texel[4] = {v, -v, v + 0.5f, 1};
        std::memcpy(&image.rgba[i * 4], texel, sizeof texel);
    }
    const std::vector<float> before = image.rgba;
    const vosh::Color background{-1, -2, -3, -4};
    pad_texture(image, covered, padding, background);
    const int64_t limit = static_cast<int64_t>(padding) * padding;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            const float* got = &image.rgba[i * 4];
            if (covered[i]) {
                check(std::memcmp(got, &before[i * 4], 4 * sizeof(float)) == 0, "padding leaves covered texels");
                continue;
            }
            int64_t best = -1;
            for (size_t k = 0; k < covered.size(); ++k) {
                if (!covered[k]) continue;
                const int64_t dx = static_cast<int64_t>(k % w) - x, dy = static_cast<int64_t>(k / w) - y;
                if (best < 0 || dx * dx + dy * dy < best) best = dx * dx + dy * dy;
            }
            if (best < 0 || best > limit) {
                check(got[0] == background.r && got[1] == background.g && got[2] == background.b &&
                          got[3] == background.a,
                      "texels beyond the padding take the background");
                continue;
            }
            const float from = got[0];
            check(from >= 0 && from < static_cast<float>(covered.size()) && from == std::floor(from),
                  "a gutter texel copies a texel");
            const auto k = static_cast<size_t>(from);
            const int64_t dx = static_cast<int64_t>(k % w) - x, dy = static_cast<int64_t>(k / w) - y;
            check(covered[k] && dx * dx + dy * dy == best, "a gutter texel copies a nearest covered texel");
            check(std::memcmp(got, &before[k * 4], 4 * sizeof(float)) == 0, "a gutter texel copies all of it");
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const int width = 1 + in.take<uint8_t>() % 24, height = 1 + in.take<uint8_t>() % 24;
    const int tile_size = 1 + in.take<uint8_t>() % 16;
    const uint8_t pad_byte = in.take<uint8_t>();
    const int padding = pad_byte < 240 ? pad_byte % 12 : 16384;
    const uint32_t vertices = 1 + in.take<uint8_t>() % 12;
    std::vector<vosh::render::Vec3> uvs;
    double last_u = 0, last_v = 0;
    for (uint32_t i = 0; i < vertices; ++i) {
        last_u = take_coordinate(in, last_u);
        last_v = take_coordinate(in, last_v);
        uvs.push_back({last_u, last_v, 0});
    }
    std::vector<uint32_t> indices;
    while (in.size >= 3 && indices.size() < 3 * 32)
        for (int k = 0; k < 3; ++k) indices.push_back(in.take<uint8_t>() % (vertices + 1));

    const TexelLayout layout = layout_texels(uvs, indices, width, height, tile_size);
    check(layout.triangles == indices.size() / 3, "every triangle is counted");
    check(layout.unusable_triangles + layout.degenerate_triangles <= layout.triangles,
          "no triangle is left out twice");
    check_placements(layout);
    const std::vector<uint8_t> covered = check_coverage(layout);
    bool any = false;
    for (uint8_t c : covered) any = any || c;
    check(covers_any_texel(layout) == any, "covers_any_texel agrees with the texels a bake covers");
    check(any || !why_no_texel_covered(layout).empty(), "an empty layout says why");
    check_padding(width, height, covered, padding);
    return 0;
}
