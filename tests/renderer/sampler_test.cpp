#include "renderer/trace/sampler.h"

#include "host/host_interface.h"
#include "renderer/host/thread_context.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <set>
#include <utility>
#include <vector>

namespace vosh::render {
namespace {

std::vector<std::pair<double, double>> points(uint32_t seed, uint32_t count) {
    std::vector<std::pair<double, double>> result;
    for (uint32_t i = 0; i < count; ++i) {
        double uv[2];
        sobol_owen_2d(i, seed, uv);
        result.emplace_back(uv[0], uv[1]);
    }
    return result;
}

const uint32_t some_seeds[] = {
    0u, 1u, 0xffffffffu, sampler_seed(0, 0, 0, 0), sampler_seed(17, 4, 3, 2),
    sampler_seed(639, 479, 15, 7),
};

TEST(Sampler, ValuesStayInTheHalfOpenUnitInterval) {
    for (const uint32_t seed : some_seeds) {
        for (uint32_t i = 0; i < 4096; ++i) {
            double uv[2];
            sobol_owen_2d(i, seed, uv);
            for (const double v : uv) {
                ASSERT_GE(v, 0.0);
                ASSERT_LT(v, 1.0);
                ASSERT_LT(static_cast<float>(v), 1.0f);  // also after narrowing
            }
        }
    }
    // Indices far along the sequence too.
    double uv[2];
    sobol_owen_2d(0xffffffffu, 0xffffffffu, uv);
    EXPECT_LT(uv[0], 1.0);
    EXPECT_LT(uv[1], 1.0);
}

// Every elementary interval [a 2^-j, (a+1) 2^-j) x [b 2^-(k-j), (b+1) 2^-(k-j))
// holds exactly one of the first 2^k points: a (0, k, 2)-net. With j = k or
// j = 0 this is the one-dimensional stratification of each coordinate.
TEST(Sampler, FirstPowerOfTwoPointsFormANet) {
    for (const uint32_t seed : some_seeds) {
        for (int k = 0; k <= 8; ++k) {
            const uint32_t n = 1u << k;
            const auto pts = points(seed, n);
            for (int j = 0; j <= k; ++j) {
                const double cols = std::ldexp(1.0, j), rows = std::ldexp(1.0, k - j);
                std::set<std::pair<int, int>> cells;
                for (const auto& [u, v] : pts)
                    cells.emplace(static_cast<int>(u * cols), static_cast<int>(v * rows));
                EXPECT_EQ(cells.size(), n) << "seed " << seed << " k " << k << " j " << j;
            }
        }
    }
}

TEST(Sampler, SeedsGiveDifferentSequences) {
    const auto a = points(sampler_seed(10, 10, 0, 0), 16);
    for (const uint32_t seed : {sampler_seed(11, 10, 0, 0), sampler_seed(10, 11, 0, 0),
                                sampler_seed(10, 10, 1, 0), sampler_seed(10, 10, 0, 1)}) {
        const auto b = points(seed, 16);
        int same = 0;
        for (int i = 0; i < 16; ++i) same += (a[i] == b[i]);
        EXPECT_EQ(same, 0) << "seed " << seed;
    }
    // The same arguments give the same sequence.
    EXPECT_EQ(points(sampler_seed(3, 4, 5, 6), 32), points(sampler_seed(3, 4, 5, 6), 32));
}

TEST(Sampler, SeedsOfNeighbouringArgumentsAreDistinct) {
    std::set<uint32_t> seeds;
    int count = 0;
    for (uint32_t x = 0; x < 16; ++x)
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t s = 0; s < 8; ++s)
                for (uint32_t c = 0; c < 4; ++c, ++count) seeds.insert(sampler_seed(x, y, s, c));
    EXPECT_EQ(seeds.size(), static_cast<std::size_t>(count));
}

// Sequences of neighbouring seeds must not be correlated with each other,
// or pixels would show the same noise pattern.
TEST(Sampler, NeighbouringSeedsAreUncorrelated) {
    const int n = 64, seeds = 256;
    double sum_ab = 0, sum_a = 0, sum_b = 0, sum_aa = 0, sum_bb = 0;
    int pairs = 0;
    for (int s = 0; s < seeds; ++s) {
        const auto a = points(sampler_seed(s, 0, 0, 0), n);
        const auto b = points(sampler_seed(s + 1, 0, 0, 0), n);
        for (int i = 0; i < n; ++i, ++pairs) {
            sum_a += a[i].first;
            sum_b += b[i].first;
            sum_ab += a[i].first * b[i].first;
            sum_aa += a[i].first * a[i].first;
            sum_bb += b[i].first * b[i].first;
        }
    }
    const double cov = sum_ab / pairs - (sum_a / pairs) * (sum_b / pairs);
    const double var_a = sum_aa / pairs - std::pow(sum_a / pairs, 2);
    const double var_b = sum_bb / pairs - std::pow(sum_b / pairs, 2);
    // Independent: |r| about 1/sqrt(16384) = 0.008; allow a wide margin.
    EXPECT_LT(std::fabs(cov / std::sqrt(var_a * var_b)), 0.05);
}

// A smooth integrand over 256 points. Its standard deviation is 0.37, so
// independent random points give an RMS error near 0.37/16 = 0.023; a
// scrambled net does better than 1/N. Checked over many seeds so that no
// single lucky seed passes.
TEST(Sampler, IntegratesSmoothFunctionsFarBetterThanRandom) {
    const auto f = [](double u, double v) {
        return std::sin(M_PI * u) * std::sin(M_PI * v) * (1.0 + u * v);
    };
    // Exact integral: (2/pi)^2 + (1/pi)^2.
    const double exact = 4.0 / (M_PI * M_PI) + 1.0 / (M_PI * M_PI);
    double worst = 0.0, squared = 0.0;
    const int trials = 64;
    for (int t = 0; t < trials; ++t) {
        double sum = 0.0;
        for (const auto& [u, v] : points(sampler_seed(t, 7, 0, 0), 256)) sum += f(u, v);
        const double error = std::fabs(sum / 256 - exact);
        worst = std::max(worst, error);
        squared += error * error;
    }
    const double rms = std::sqrt(squared / trials);
    EXPECT_LT(rms, 0.002);
    EXPECT_LT(worst, 0.006);
}

// Whether the points (2^k of them) form a (0, k, 2)-net: every elementary
// interval of area 2^-k holds one.
void expect_net(const std::vector<std::pair<double, double>>& pts, const std::string& what) {
    int k = 0;
    while ((size_t{1} << k) < pts.size()) ++k;
    ASSERT_EQ(size_t{1} << k, pts.size()) << what;
    for (int j = 0; j <= k; ++j) {
        const double cols = std::ldexp(1.0, j), rows = std::ldexp(1.0, k - j);
        std::set<std::pair<int, int>> cells;
        for (const auto& [u, v] : pts) cells.emplace(static_cast<int>(u * cols), static_cast<int>(v * rows));
        EXPECT_EQ(cells.size(), pts.size()) << what << ", " << cols << " x " << rows << " cells";
    }
}

// The host's path: a shading call's points as mi_sample hands them out in
// sample `s` of `k` of one cell.
std::vector<std::pair<double, double>> call_points(ThreadContext& t, uint32_t x, uint32_t y, uint32_t s,
                                                   uint32_t k, uint32_t n, uint32_t seed) {
    t.begin_sample(x, y, s, k, seed);
    int32_t counter = 0;
    std::vector<std::pair<double, double>> pts;
    for (double uv[2]; mi_sample(uv, &counter, &t.state_at(0).rs, 2, &n);) pts.emplace_back(uv[0], uv[1]);
    return pts;
}

struct Split {
    uint32_t samples, directions;
};

TEST(CellSampler, SamplesOfACellShareOneStratifiedSet) {
    RenderContext ctx;
    ThreadContext t(ctx);
    for (const Split split : {Split{1, 64}, Split{16, 4}, Split{4, 16}, Split{256, 1}}) {
        std::vector<std::pair<double, double>> all;
        for (uint32_t s = 0; s < split.samples; ++s) {
            const auto pts = call_points(t, 7, 9, s, split.samples, split.directions, 3);
            expect_net(pts, "one sample's points");
            all.insert(all.end(), pts.begin(), pts.end());
        }
        expect_net(all, "the cell's points, " + std::to_string(split.samples) + " x " +
                            std::to_string(split.directions));
    }
}

TEST(CellSampler, CellsCallsAndSeedsGetTheirOwnSets) {
    RenderContext ctx;
    ThreadContext t(ctx);
    const auto base = call_points(t, 10, 10, 0, 1, 16, 0);
    const auto again = call_points(t, 10, 10, 0, 1, 16, 0);
    EXPECT_EQ(base, again);
    for (const auto& other : {call_points(t, 11, 10, 0, 1, 16, 0), call_points(t, 10, 11, 0, 1, 16, 0),
                              call_points(t, 10, 10, 0, 1, 16, 1)})
        EXPECT_NE(base[0], other[0]);
    // A second shading call in the same sample starts a set of its own; the
    // same counter restarting at 0 does too.
    t.begin_sample(10, 10, 0, 1, 0);
    int32_t counter = 0;
    const uint32_t first = t.sequence(&counter, 16).seed;
    counter = 3;
    EXPECT_EQ(t.sequence(&counter, 16).seed, first);  // still the first call's
    counter = 0;
    EXPECT_NE(t.sequence(&counter, 16).seed, first);
}

// A disk of radius 0.3 in the unit square, integrated by the cell's points
// over many cells: the error of k x n points must hardly depend on the split
// and must stay well below that of independent random points
// (sqrt(p (1 - p) / 64) = 0.057 for p = 0.28). (Camera positions do not
// enter here: all samples see the same integrand.)
TEST(CellSampler, ErrorHardlyDependsOnTheSplit) {
    RenderContext ctx;
    ThreadContext t(ctx);
    const double exact = M_PI * 0.09;
    const auto rms = [&](Split split) {
        double squares = 0;
        const int cells = 400;
        for (int c = 0; c < cells; ++c) {
            int inside = 0;
            for (uint32_t s = 0; s < split.samples; ++s)
                for (const auto& [u, v] : call_points(t, c, 1, s, split.samples, split.directions, 0))
                    inside += (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5) < 0.09;
            const double e = inside / 64.0 - exact;
            squares += e * e;
        }
        return std::sqrt(squares / cells);
    };
    const double whole = rms({1, 64});
    EXPECT_LT(whole, 0.5 * 0.057);
    for (const Split split : {Split{16, 4}, Split{4, 16}, Split{64, 1}})
        EXPECT_LT(rms(split), 1.2 * whole) << split.samples << " x " << split.directions;
}

TEST(CellSampler, PositionsInsideTheCellAreStratified) {
    double c[2];
    cell_position(3, 4, 0, 1, 0, c);
    EXPECT_EQ(c[0], 0.5);
    EXPECT_EQ(c[1], 0.5);
    for (const uint32_t k : {2u, 16u, 64u}) {
        std::vector<std::pair<double, double>> pts;
        for (uint32_t s = 0; s < k; ++s) {
            cell_position(3, 4, s, k, 0, c);
            pts.emplace_back(c[0], c[1]);
        }
        expect_net(pts, "positions in the cell, " + std::to_string(k));
        double other[2];
        cell_position(3, 4, 0, k, 1, other);
        EXPECT_NE(other[0], pts[0].first) << "another seed moves the positions";
    }
}

// Aligned groups of 2 x 2 and 4 x 4 cells hold one bigger net between them
// (what spreads the error as blue noise); a group across a tile's border
// does not need to.
TEST(CellSampler, AlignedGroupsOfCellsFormOneNet) {
    RenderContext ctx;
    ThreadContext t(ctx);
    for (const Split split : {Split{1, 16}, Split{4, 4}}) {
        for (const uint32_t side : {2u, 4u}) {
            for (const auto& [x0, y0] : {std::pair{0u, 0u}, std::pair{60u, 12u}, std::pair{1000u, 388u}}) {
                std::vector<std::pair<double, double>> all;
                for (uint32_t y = y0; y < y0 + side; ++y)
                    for (uint32_t x = x0; x < x0 + side; ++x)
                        for (uint32_t s = 0; s < split.samples; ++s) {
                            const auto pts = call_points(t, x, y, s, split.samples, split.directions, 5);
                            all.insert(all.end(), pts.begin(), pts.end());
                        }
                expect_net(all, std::to_string(side) + " x " + std::to_string(side) + " cells at " +
                                    std::to_string(x0) + ", " + std::to_string(y0));
            }
        }
    }
}

// A cell's error against those of its neighbours: a disk of radius 0.3 that
// drifts slowly over the image, 64 points per cell. Blurred over 2 x 2 cells,
// white noise keeps a quarter of its variance, which cells seeded one by one
// do; the sampler's neighbours cancel part of it, and the error per cell
// must not grow for that.
TEST(CellSampler, ErrorIsSpreadAsBlueNoise) {
    RenderContext ctx;
    ThreadContext t(ctx);
    // Cells of one tile share the scramble's top digits, so the error per
    // cell is averaged over many renders' seeds.
    constexpr int side = 32, n = 64, renders = 32;
    const double exact = M_PI * 0.09;
    double squares = 0, squares_alone = 0, blurred = 0, blurred_alone = 0;
    std::vector<double> error(side * side), error_alone(side * side);
    const auto blur = [&](const std::vector<double>& e) {
        double sum = 0;
        for (int y = 0; y + 1 < side; ++y)
            for (int x = 0; x + 1 < side; ++x) {
                const double m =
                    (e[y * side + x] + e[y * side + x + 1] + e[(y + 1) * side + x] + e[(y + 1) * side + x + 1]) / 4;
                sum += m * m;
            }
        return sum / ((side - 1) * (side - 1));
    };
    for (uint32_t seed = 0; seed < renders; ++seed) {
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const double cu = 0.4 + 0.2 * x / side, cv = 0.4 + 0.2 * y / side;
                const auto inside = [&](double u, double v) {
                    return (u - cu) * (u - cu) + (v - cv) * (v - cv) < 0.09;
                };
                int hits = 0, hits_alone = 0;
                for (const auto& [u, v] : call_points(t, x, y, 0, 1, n, seed)) hits += inside(u, v);
                for (const auto& [u, v] : points(sampler_seed(x, y, 99, seed), n)) hits_alone += inside(u, v);
                const double e = double(hits) / n - exact, e_alone = double(hits_alone) / n - exact;
                error[y * side + x] = e;
                error_alone[y * side + x] = e_alone;
                squares += e * e;
                squares_alone += e_alone * e_alone;
            }
        blurred += blur(error);
        blurred_alone += blur(error_alone);
    }
    // The blurred error's variance as a share of the white-noise figure.
    const double kept = blurred / (squares / (side * side) / 4);
    const double kept_alone = blurred_alone / (squares_alone / (side * side) / 4);
    EXPECT_GT(kept_alone, 0.9);
    EXPECT_LT(kept, 0.85);
    EXPECT_LT(std::sqrt(squares), 1.05 * std::sqrt(squares_alone));
}

}  // namespace
}  // namespace vosh::render
