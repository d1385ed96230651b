// The texel side of a bake: which texels a UV layout covers, where their
// points land, how UVs outside the texture wrap, and the gutters.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "renderer/bake/padding.h"
#include "renderer/bake/texel_coverage.h"
#include "renderer/bake/texel_layout.h"

namespace vosh::render {
namespace {

// Coverage of texel (x, y) from the layout's tile holding it.
TexelCoverage coverage_at(const TexelLayout& layout, int x, int y) {
    TexelCoverage c;
    const int tile = (y / layout.tile_size) * layout.tiles_x + x / layout.tile_size;
    cover_texel(layout.tiles[static_cast<size_t>(tile)], x, y, c);
    return c;
}

// A UV quad (u0, v0)-(u1, v1) as two triangles appended to `uvs`/`indices`.
void add_quad(std::vector<Vec3>& uvs, std::vector<uint32_t>& indices, double u0, double v0, double u1,
              double v1) {
    const auto base = static_cast<uint32_t>(uvs.size());
    uvs.insert(uvs.end(), {{u0, v0, 0}, {u1, v0, 0}, {u1, v1, 0}, {u0, v1, 0}});
    indices.insert(indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
}

TEST(TexelCoverage, AreaOfTriangleInSquare) {
    const TexelXY half[3] = {{0, 0}, {1, 0}, {0, 1}};
    EXPECT_NEAR(triangle_square_overlap(half, 0, 0), 0.5, 1e-12);
    EXPECT_NEAR(triangle_square_overlap(half, 1, 0), 0.0, 1e-12);  // touches the edge only
    // x >= -10, y >= -10, x + y <= 0.
    const TexelXY big[3] = {{-10, -10}, {10, -10}, {-10, 10}};
    EXPECT_NEAR(triangle_square_overlap(big, -3, -3), 1.0, 1e-12);
    EXPECT_NEAR(triangle_square_overlap(big, -0.5, -0.5), 0.5, 1e-12);  // cut along its diagonal
    EXPECT_NEAR(triangle_square_overlap(big, 0, -1), 0.5, 1e-12);
    EXPECT_NEAR(triangle_square_overlap(big, 2, 2), 0.0, 1e-12);
    EXPECT_NEAR(triangle_square_overlap(big, -10.5, -3), 0.5, 1e-12);  // half across x = -10
}

// A quad split along its diagonal: every point on the shared edge belongs
// to exactly one of the two triangles, so the layout shows no overlap.
TEST(TexelCoverage, SharedEdgeBelongsToOneTriangle) {
    const TexelXY a[3] = {{0, 0}, {4, 0}, {4, 4}}, b[3] = {{0, 0}, {4, 4}, {0, 4}};
    for (double t : {0.0, 0.5, 1.0, 2.0, 3.5, 4.0}) {
        const TexelXY p{t, t};
        if (t == 0.0 || t == 4.0) continue;  // corners of the quad border
        EXPECT_NE(contains_point(a, p), contains_point(b, p)) << t;
    }
    // Mirrored winding changes nothing.
    const TexelXY a_flipped[3] = {{0, 0}, {4, 4}, {4, 0}};
    EXPECT_EQ(contains_point(a, {2, 2}), contains_point(a_flipped, {2, 2}));
    EXPECT_TRUE(contains_point(a, {3, 1}));
    EXPECT_FALSE(contains_point(a, {1, 3}));
}

TEST(TexelCoverage, NearestPointOfATriangle) {
    const TexelXY t[3] = {{0, 0}, {4, 0}, {0, 4}};
    double b1, b2;
    EXPECT_EQ(nearest_weights(t, {1, 1}, b1, b2), 0.0);
    EXPECT_NEAR(b1, 0.25, 1e-12);
    EXPECT_NEAR(b2, 0.25, 1e-12);
    // Beyond the hypotenuse: the foot of the perpendicular, (2, 2).
    EXPECT_NEAR(nearest_weights(t, {3, 3}, b1, b2), 2.0, 1e-12);
    EXPECT_NEAR(b1, 0.5, 1e-12);
    EXPECT_NEAR(b2, 0.5, 1e-12);
    // Beyond a corner: the corner itself.
    EXPECT_NEAR(nearest_weights(t, {-1, -2}, b1, b2), 5.0, 1e-12);
    EXPECT_NEAR(b1, 0.0, 1e-12);
    EXPECT_NEAR(b2, 0.0, 1e-12);
}

// One island covering texel columns 2..5 partly: conservative coverage,
// points of a partial texel outside the triangle pulled onto it.
TEST(TexelCoverage, PartialTexelsAtIslandEdges) {
    std::vector<Vec3> uvs;
    std::vector<uint32_t> indices;
    add_quad(uvs, indices, 2.25 / 8, 2.5 / 8, 5.75 / 8, 5.5 / 8);  // texels x 2.25..5.75, y 2.5..5.5
    const TexelLayout layout = layout_texels(uvs, indices, 8, 8, 4);
    EXPECT_EQ(layout.wrapped_triangles, 0u);
    int covered = 0;
    double total = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const TexelCoverage c = coverage_at(layout, x, y);
            const bool inside = x >= 2 && x <= 5 && y >= 2 && y <= 5;
            EXPECT_EQ(c.chosen != nullptr, inside) << x << "," << y;
            EXPECT_FALSE(c.overlapped) << x << "," << y;
            covered += c.chosen != nullptr;
            for (const TexelCover& k : c.covers) total += k.area;
        }
    EXPECT_EQ(covered, 16);
    EXPECT_NEAR(total, 3.5 * 3.0, 1e-9);

    // Texel (2, 2) is covered only in its lower-right 0.75 x 0.5 corner;
    // a point in its top-left corner moves onto the island's corner, and a
    // twentieth of a texel on inside.
    const TexelCoverage edge = coverage_at(layout, 2, 2);
    ASSERT_NE(edge.chosen, nullptr);
    const SurfacePoint s = locate_in_texel(edge, {2.1, 2.1});
    const TexelXY* c = nullptr;
    for (const TexelCover& k : edge.covers)
        if (k.triangle->triangle == s.triangle) c = k.triangle->corner;
    ASSERT_NE(c, nullptr);
    const double x = c[0].x * (1 - s.b1 - s.b2) + c[1].x * s.b1 + c[2].x * s.b2;
    const double y = c[0].y * (1 - s.b1 - s.b2) + c[1].y * s.b1 + c[2].y * s.b2;
    const double from_corner = std::hypot(x - 2.25, y - 2.5);
    EXPECT_GT(from_corner, 0.04);
    EXPECT_LT(from_corner, 0.05 + 1e-9);
    EXPECT_GT(x, 2.25);
    EXPECT_GT(y, 2.5);
}

// Two islands over one another, and the rule for the texel's triangle.
TEST(TexelCoverage, OverlapTakesCentreElseLargestCover) {
    std::vector<Vec3> uvs;
    std::vector<uint32_t> indices;
    add_quad(uvs, indices, 0, 0, 0.5, 0.5);
    add_quad(uvs, indices, 0.25, 0.25, 0.75, 0.75);  // triangles 2, 3
    const TexelLayout layout = layout_texels(uvs, indices, 8, 8, 8);
    // Texel (3, 4) lies in both quads (texel rows run down from v = 1).
    const TexelCoverage both = coverage_at(layout, 3, 4);
    EXPECT_TRUE(both.overlapped);
    // Only the first quad: no overlap.
    EXPECT_FALSE(coverage_at(layout, 0, 7).overlapped);

    // The centre rule against the area rule: a small triangle covers the
    // centre, a larger sliver covers more of the texel but not the centre.
    const std::vector<PlacedTriangle> placed = {
        {0, {{0, 0}, {1, 0}, {0, 0.9}}, 0, 0, 1, 1},       // 0.45 of the texel, not the centre
        {1, {{0.4, 0.4}, {0.6, 0.4}, {0.5, 0.6}}, 0, 0, 1, 1},  // small, holds the centre
    };
    TexelCoverage c;
    cover_texel(placed, 0, 0, c);
    ASSERT_NE(c.chosen, nullptr);
    EXPECT_EQ(c.chosen->triangle, 1u);
    EXPECT_TRUE(c.overlapped);
    const std::vector<PlacedTriangle> apart = {
        {0, {{0, 0}, {1, 0}, {0, 0.9}}, 0, 0, 1, 1},
        {1, {{1, 0.2}, {1, 1}, {0.3, 1}}, 0, 0, 1, 1},  // neither holds the centre
    };
    cover_texel(apart, 0, 0, c);
    ASSERT_NE(c.chosen, nullptr);
    EXPECT_EQ(c.chosen->triangle, 0u);
    EXPECT_FALSE(c.overlapped);
}

// A quad from u = -0.125 to 0.125 lands on both edges of the texture.
TEST(TexelLayout, UvsOutsideTheTextureWrap) {
    std::vector<Vec3> uvs;
    std::vector<uint32_t> indices;
    add_quad(uvs, indices, -0.125, 0.5, 0.125, 0.75);
    add_quad(uvs, indices, 1.5, 1.5, 1.625, 1.625);  // wholly in the next period
    const TexelLayout layout = layout_texels(uvs, indices, 16, 16, 4);
    EXPECT_EQ(layout.wrapped_triangles, 4u);
    for (int x = 0; x < 16; ++x) {
        const bool expected = x < 2 || x >= 14;
        EXPECT_EQ(coverage_at(layout, x, 5).chosen != nullptr, expected) << x;
    }
    // (1.5, 1.5) wraps to texel (8, 8) counted from the bottom-left.
    EXPECT_NE(coverage_at(layout, 8, 6).chosen, nullptr);
    EXPECT_EQ(coverage_at(layout, 8, 9).chosen, nullptr);

    std::vector<Vec3> bad = {{0, 0, 0}, {NAN, 0, 0}, {0, 1, 0}, {0, 0, 0}, {3, 0, 0}, {0, 1, 0}};
    const TexelLayout unusable = layout_texels(bad, {0, 1, 2, 3, 4, 5}, 16, 16, 4);
    EXPECT_EQ(unusable.unusable_triangles, 2u);  // not finite; wider than the texture
}

// A layout is baked when any texel has a cover by area, wherever the
// texel's centre lies; a sliver whose area is rounding covers none.
TEST(TexelLayout, CoversAnyTexelByArea) {
    const struct {
        const char* name;
        std::vector<Vec3> uvs;  // one triangle, on a 16 x 16 texture
        bool covers;
    } cases[] = {
        {"off every centre", {{0.01, 0.01, 0}, {0.02, 0.01, 0}, {0.01, 0.02, 0}}, true},
        {"wrapped in from u < 0", {{-0.2, 0.5, 0}, {-0.01, 0.5, 0}, {-0.01, 0.51, 0}}, true},
        {"sliver across", {{0, 0.5, 0}, {1, 0.5, 0}, {0.5, 0.5 + 1e-14, 0}}, false},
        {"collinear", {{0, 0, 0}, {0.5, 0.5, 0}, {1, 1, 0}}, false},
        {"not finite", {{0, 0, 0}, {NAN, 0, 0}, {0, 1, 0}}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(covers_any_texel(layout_texels(c.uvs, {0, 1, 2}, 16, 16, 4)), c.covers) << c.name;
}

Image filled(int w, int h, float value) {
    Image img;
    img.width = w;
    img.height = h;
    img.rgba.assign(static_cast<size_t>(w) * h * 4, value);
    return img;
}

// Two islands side by side with different values: each gutter texel takes
// the nearest island's value, out to exactly the padding, then background.
TEST(Padding, GuttersReachExactlyThePaddingFromTheRightIsland) {
    const int w = 40, h = 9, padding = 3;
    Image img = filled(w, h, 0);
    std::vector<uint8_t> covered(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float v = -1;
            if (x >= 5 && x < 10) v = 0.25f;   // island A
            if (x >= 18 && x < 22) v = 0.75f;  // island B, 8 texels on
            if (v < 0) continue;
            covered[static_cast<size_t>(y) * w + x] = 1;
            for (int c = 0; c < 4; ++c) img.rgba[(static_cast<size_t>(y) * w + x) * 4 + c] = v;
        }
    pad_texture(img, covered, padding, {0.5f, 0, 0, 0});
    for (int x = 0; x < w; ++x) {
        float expected = 0.5f;  // background (red channel)
        if (x >= 5 - padding && x < 10 + padding) expected = 0.25f;
        if (x >= 18 - padding && x < 22 + padding) expected = 0.75f;
        for (int y = 0; y < h; ++y)
            EXPECT_EQ(img.rgba[(static_cast<size_t>(y) * w + x) * 4], expected) << x << "," << y;
    }
    EXPECT_EQ(img.rgba[(4 * w + 30) * 4 + 3], 0.0f);  // background alpha
    EXPECT_EQ(img.rgba[(4 * w + 11) * 4 + 3], 0.25f);  // padded texels copy alpha too
}

// Against a brute-force search on random masks: every filled texel copies
// a covered texel at the least distance, every other one is background.
TEST(Padding, CopiesANearestCoveredTexel) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        const int w = 5 + static_cast<int>(rng() % 30), h = 5 + static_cast<int>(rng() % 30);
        const int padding = static_cast<int>(rng() % 8);
        const int density = 2 + static_cast<int>(rng() % 40);
        Image img = filled(w, h, 0);
        std::vector<uint8_t> covered(static_cast<size_t>(w) * h, 0);
        for (size_t i = 0; i < covered.size(); ++i) {
            covered[i] = rng() % static_cast<unsigned>(density) == 0;
            img.rgba[i * 4] = static_cast<float>(i);  // each texel its own value
        }
        const Image before = img;
        pad_texture(img, covered, padding, {-1, -1, -1, -1});
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                if (covered[i]) {
                    EXPECT_EQ(img.rgba[i * 4], before.rgba[i * 4]);
                    continue;
                }
                long best = -1;
                for (int v = 0; v < h; ++v)
                    for (int u = 0; u < w; ++u)
                        if (covered[static_cast<size_t>(v) * w + u]) {
                            const long d = static_cast<long>(u - x) * (u - x) + static_cast<long>(v - y) * (v - y);
                            if (best < 0 || d < best) best = d;
                        }
                const float got = img.rgba[i * 4];
                if (best < 0 || best > static_cast<long>(padding) * padding) {
                    EXPECT_EQ(got, -1.0f) << round << ": " << x << "," << y;
                    continue;
                }
                ASSERT_GE(got, 0.0f) << round << ": " << x << "," << y;
                const size_t from = static_cast<size_t>(got);
                ASSERT_TRUE(covered[from]);
                const long fx = static_cast<long>(from % w), fy = static_cast<long>(from / w);
                EXPECT_EQ((fx - x) * (fx - x) + (fy - y) * (fy - y), best) << round << ": " << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace vosh::render
