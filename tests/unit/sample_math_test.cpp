#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "occlusion/normalise.h"
#include "occlusion/sample_math.h"
#include "shading_math/scaled_sincos.h"

namespace vosh {
namespace {

float dot(const Vector& a, const Vector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// A vector that is not a number in one component is not a number in all:
// the zero test must not let a half-broken vector pass as a direction.
TEST(Normalise, ZeroStaysZeroAndNaNReachesEveryComponent) {
    for (SumOrder order : {SumOrder::x_first, SumOrder::z_first}) {
        Vector zero{0.0f, -0.0f, 0.0f};
        normalise(zero, order);
        EXPECT_EQ(zero.x, 0.0f);
        EXPECT_EQ(zero.y, 0.0f);
        EXPECT_EQ(zero.z, 0.0f);

        Vector broken{std::nanf(""), 3.0f, 4.0f};
        normalise(broken, order);
        EXPECT_TRUE(std::isnan(broken.y) && std::isnan(broken.z));
    }
}

TEST(ConeDirection, KnownSampleOnTheHemisphere) {
    const Vector axis = scaled_cone_axis({0.0f, 0.0f, 1.0f}, 0.5f);
    EXPECT_FLOAT_EQ(axis.z, 0.5f);

    const Vector d = cone_direction(axis, 0.5f, 0.75, 0.25);
    EXPECT_NEAR(d.x, 0.0f, 1e-7f);
    EXPECT_FLOAT_EQ(d.y, 0.4330127f);
    EXPECT_FLOAT_EQ(d.z, 0.75f);
}

TEST(ConeDirection, ZeroSpreadRunsAlongTheUnitAxis) {
    const Vector axis = scaled_cone_axis({0.0f, 3.0f, 4.0f}, 0.0f);
    for (double u : {0.0, 0.3, 0.99}) {
        for (double v : {0.0, 0.6, 0.95}) {
            const Vector d = cone_direction(axis, 0.0f, u, v);
            EXPECT_FLOAT_EQ(d.x, 0.0f);
            EXPECT_FLOAT_EQ(d.y, 0.6f);
            EXPECT_FLOAT_EQ(d.z, 0.8f);
        }
    }
}

TEST(ConeDirection, ZeroAxisStaysZero) {
    const Vector axis = scaled_cone_axis({0.0f, 0.0f, 0.0f}, 0.25f);
    EXPECT_EQ(axis.x, 0.0f);
    EXPECT_EQ(axis.y, 0.0f);
    EXPECT_EQ(axis.z, 0.0f);
    // Every direction is then spread_fraction times a unit vector.
    const Vector d = cone_direction(axis, 0.25f, 0.1, 0.7);
    EXPECT_NEAR(std::sqrt(dot(d, d)), 0.25f, 1e-6f);
}

// Over a grid of samples: a 90 degree spread never points behind the surface,
// a 180 degree spread does for about half of the directions.
TEST(ConeDirection, SpreadDecidesWhetherDirectionsGoBehind) {
    const Vector unit{1.0f / 3.0f, 2.0f / 3.0f, 2.0f / 3.0f};
    const Vector hemisphere = scaled_cone_axis({1.0f, 2.0f, 2.0f}, 0.5f);
    const Vector sphere = scaled_cone_axis({1.0f, 2.0f, 2.0f}, 1.0f);
    int behind_hemisphere = 0, behind_sphere = 0, total = 0;
    for (int i = 0; i < 40; ++i) {
        for (int j = 0; j < 40; ++j) {
            const double u = (i + 0.5) / 40.0, v = (j + 0.5) / 40.0;
            if (dot(cone_direction(hemisphere, 0.5f, u, v), unit) < -1e-6f) ++behind_hemisphere;
            if (dot(cone_direction(sphere, 1.0f, u, v), unit) < 0.0f) ++behind_sphere;
            ++total;
        }
    }
    EXPECT_EQ(behind_hemisphere, 0);
    EXPECT_GT(behind_sphere, total * 4 / 10);
    EXPECT_LT(behind_sphere, total * 6 / 10);
}

OcclusionInstance adaptive_instance(int32_t near_samples, int32_t far_samples) {
    OcclusionInstance instance{};
    instance.adaptive = 1;
    instance.near_samples = near_samples;
    instance.far_samples = far_samples;
    instance.near_threshold = 10.0f;
    instance.far_threshold = 20.0f;
    return instance;
}

TEST(SampleCount, FollowsTheDistanceBetweenThresholds) {
    const OcclusionInstance rising = adaptive_instance(4, 16);
    const struct {
        double distance;
        uint32_t expected;
    } cases[] = {{0.0, 4}, {10.0, 4}, {12.5, 7}, {15.0, 10}, {19.99, 15}, {20.0, 16}, {1e9, 16}};
    for (const auto& c : cases)
        EXPECT_EQ(sample_count_for(rising, c.distance), c.expected) << "d = " << c.distance;

    EXPECT_EQ(sample_count_for(adaptive_instance(16, 4), 15.0), 10u);
}

TEST(SampleCount, FixedCountIgnoresDistance) {
    OcclusionInstance instance = adaptive_instance(4, 16);
    instance.adaptive = 0;
    instance.samples = 8;
    EXPECT_EQ(sample_count_for(instance, 15.0), 8u);
}

TEST(SampleCount, NegativeCountsTakeNoDirections) {
    OcclusionInstance fixed{};
    fixed.samples = -1;
    EXPECT_EQ(sample_count_for(fixed, 1.0), 0u);
    fixed.samples = INT_MIN;
    EXPECT_EQ(sample_count_for(fixed, 1.0), 0u);

    EXPECT_EQ(sample_count_for(adaptive_instance(-4, 16), 5.0), 0u);
    EXPECT_EQ(sample_count_for(adaptive_instance(4, -16), 25.0), 0u);
    // A negative end counts as 0 in between too.
    EXPECT_EQ(sample_count_for(adaptive_instance(-4, 16), 15.0), 8u);
    EXPECT_EQ(sample_count_for(adaptive_instance(16, INT_MIN), 15.0), 8u);
}

TEST(OcclusionWeight, FallsLinearlyOverTheRange) {
    const struct {
        double distance, near_distance, far_distance, expected;
    } cases[] = {
        {1.0, 2.0, 10.0, 1.0},    // inside near
        {2.0, 2.0, 10.0, 1.0},    // at near
        {6.0, 2.0, 10.0, 0.5},    // between
        {8.0, 2.0, 10.0, 0.25},   // between
        {10.0, 2.0, 10.0, 0.0},   // at far
        {50.0, 2.0, 10.0, 0.0},   // beyond
        {5.0, 5.0, 5.0, 1.0},     // equal ends: a step at the shared distance
        {5.001, 5.0, 5.0, 0.0},   //
        {0.5, 0.0, 0.0, 0.0},     // both zero: nothing occludes
        {10.0, 10.0, 2.0, 1.0},   // reversed ends: a step at near
        {10.5, 10.0, 2.0, 0.0},   //
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(occlusion_weight(c.distance, c.near_distance, c.far_distance), c.expected)
            << "d = " << c.distance << " range " << c.near_distance << ".." << c.far_distance;
}

TEST(AverageOver, NoDirectionsGiveZero) {
    EXPECT_EQ(average_over(0.0f, 0), 0.0f);
    EXPECT_EQ(average_over(3.0f, 0), 0.0f);
    EXPECT_FLOAT_EQ(average_over(3.0f, 4), 0.75f);
}

TEST(MixColors, BlendsAndExtrapolates) {
    const Color bright{1.0f, 0.5f, 0.0f, 0.3f}, dark{0.0f, 0.5f, 1.0f, 0.9f};
    const struct {
        float v;
        Color expected;
    } cases[] = {{0.0f, {1.0f, 0.5f, 0.0f, 0.0f}},
                 {1.0f, {0.0f, 0.5f, 1.0f, 0.0f}},
                 {0.25f, {0.75f, 0.5f, 0.25f, 0.0f}},
                 {2.0f, {-1.0f, 0.5f, 2.0f, 0.0f}}};
    for (const auto& c : cases) {
        const Color m = mix_colors(bright, dark, c.v);
        EXPECT_FLOAT_EQ(m.r, c.expected.r) << "v = " << c.v;
        EXPECT_FLOAT_EQ(m.g, c.expected.g) << "v = " << c.v;
        EXPECT_FLOAT_EQ(m.b, c.expected.b) << "v = " << c.v;
        EXPECT_EQ(m.a, 0.0f);
    }
}

TEST(ShapeOcclusion, NeutralSettingsKeepTheValue) {
    OcclusionInstance instance{};
    instance.gamma = 1.0f;
    instance.bias = 0.5f;
    instance.gain = 0.5f;
    for (float value : {0.0f, 0.3f, 0.5f, 1.0f}) {
        float shaped = value;
        shape_occlusion(shaped, instance);
        EXPECT_FLOAT_EQ(shaped, value);
    }
}

// The short sine and cosine must give the library expression's bits for
// every phi and r, inside its range and outside. (Every float phi of the
// range: bench/sincos_exhaustive.cpp.)
TEST(ScaledCosSin, SameBitsAsTheLibraryExpression) {
    const auto same_bits = [](float phi, float r) {
        float x, y;
        scaled_cos_sin(phi, r, x, y);
        const float xl = static_cast<float>(std::cos(static_cast<double>(phi)) * r);
        const float yl = static_cast<float>(std::sin(static_cast<double>(phi)) * r);
        return std::memcmp(&x, &xl, sizeof x) == 0 && std::memcmp(&y, &yl, sizeof y) == 0;
    };
    const float odd[][2] = {{-0.5f, 0.5f}, {7.0f, 0.5f},    {1e30f, 1.0f},       {NAN, 0.5f},
                            {1.0f, NAN},   {1.0f, 2.0f},    {1.0f, -0.0f},       {0.0f, 1.0f},
                            {6.2831855f, 1.0f}, {1.5707964f, 0.75f}, {4.712389f, 1e-3f}};
    for (const auto& c : odd) EXPECT_TRUE(same_bits(c[0], c[1])) << c[0] << " " << c[1];
    uint32_t h = 12345, differing = 0;
    for (int i = 0; i < 1 << 20; ++i) {
        h = h * 1664525u + 1013904223u;
        const float phi = static_cast<float>((h >> 8) * (6.283185307179586 / 16777216.0));
        h = h * 1664525u + 1013904223u;
        differing += !same_bits(phi, static_cast<float>(h >> 8) * (1.0f / 16777216.0f));
    }
    EXPECT_EQ(differing, 0u);
}

// The guard: products within 64 double ulps of a point halfway between two
// floats go to the library, all others round alike whichever side they lie.
TEST(ScaledCosSin, GuardCatchesProductsNearAHalfwayPoint) {
    const double halfway = (1.0 + static_cast<double>(std::nextafter(1.0f, 2.0f))) / 2;
    const auto ulps_from = [](double x, int n) {
        for (; n > 0; --n) x = std::nextafter(x, INFINITY);
        for (; n < 0; ++n) x = std::nextafter(x, -INFINITY);
        return x;
    };
    const struct { double p; bool near; } cases[] = {
        {halfway, true},           {ulps_from(halfway, 64), true}, {ulps_from(halfway, -64), true},
        {ulps_from(halfway, 65), false}, {ulps_from(halfway, -65), false}, {-halfway, true},
        {1.0, false},              {ulps_from(1.0, -3), false},   {0.0, false}, {0.3, false}};
    for (const auto& c : cases) EXPECT_EQ(sincos_detail::near_float_halfway(c.p), c.near) << c.p;
}

}  // namespace
}  // namespace vosh
