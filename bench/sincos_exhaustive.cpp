// The check behind shading_math/scaled_sincos.h, over every argument it
// takes the short path for: each float phi in [0, 2pi rounded up].
//
//   bench_sincos_exhaustive [THREADS]
//
// For each phi it measures how far the short evaluation lies from the
// library's double-precision cos and sin, and from long-double ones (the
// true value within about 2^-63), in ulps of the double result; and it
// compares scaled_cos_sin with the library expression it replaces, bit for
// bit, for three values of r per phi (1, and two drawn from a hash of phi).
// Exit status 0 only when every comparison agrees and the largest distance
// from the library leaves the guard's window its margin: a product rounded
// to single precision moves by at most 2 (2D + 1) double ulps when cos or sin
// moves by D ulps, and the guard falls back within 64 of a halfway point.
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "renderer/math/mix32.h"
#include "shading_math/scaled_sincos.h"

namespace {

uint32_t float_bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

float from_bits(uint32_t b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// |a - b| in ulps of b (both finite, b nonzero).
double ulps_apart(long double a, double b) {
    const double ulp = std::nextafter(std::fabs(b), INFINITY) - std::fabs(b);
    return static_cast<double>(std::fabs(a - static_cast<long double>(b)) / ulp);
}

struct Tally {
    double library = 0;   // short evaluation against the library, largest, ulps
    double truth = 0;     // short evaluation against long double
    double lib_truth = 0; // the library against long double
    uint64_t arguments = 0, products = 0, mismatches = 0, fallbacks = 0;
};

void check_range(uint32_t first, uint32_t last, Tally& t) {
    for (uint32_t b = first; b < last; ++b) {
        const float phi = from_bits(b);
        double c = 0, s = 0;
        if (!vosh::approximate_cos_sin(phi, c, s)) continue;
        ++t.arguments;
        const double cl = std::cos(static_cast<double>(phi)), sl = std::sin(static_cast<double>(phi));
        const long double ct = std::cos(static_cast<long double>(phi)),
                          st = std::sin(static_cast<long double>(phi));
        if (phi != 0.0f) {
            t.library = std::fmax(t.library, std::fmax(ulps_apart(c, cl), ulps_apart(s, sl)));
            t.truth = std::fmax(t.truth, std::fmax(ulps_apart(ct, c), ulps_apart(st, s)));
            t.lib_truth = std::fmax(t.lib_truth, std::fmax(ulps_apart(ct, cl), ulps_apart(st, sl)));
        }
        const uint32_t h = vosh::render::mix32(b);
        const float rs[3] = {1.0f, static_cast<float>(h >> 8) * (1.0f / 16777216.0f),
                             std::sqrt(1.0f - from_bits(0x3f800000u - (h & 0xffffffu)) *
                                                  from_bits(0x3f800000u - (h & 0xffffffu)))};
        for (float r : rs) {
            float x, y;
            vosh::scaled_cos_sin(phi, r, x, y);
            const float xl = static_cast<float>(cl * r), yl = static_cast<float>(sl * r);
            ++t.products;
            if (float_bits(x) != float_bits(xl) || float_bits(y) != float_bits(yl)) ++t.mismatches;
            const double rd = r;
            if (vosh::sincos_detail::near_float_halfway(c * rd) ||
                vosh::sincos_detail::near_float_halfway(s * rd))
                ++t.fallbacks;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
    if (threads < 1 || threads > 64) {
        std::fprintf(stderr, "usage: bench_sincos_exhaustive [THREADS 1..64]\n");
        return 2;
    }
    const uint32_t end = float_bits(vosh::sincos_detail::largest_fast_phi) + 2;  // one past, to see the edge
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> pool;
    const uint32_t chunk = end / threads + 1;
    for (int i = 0; i < threads; ++i) {
        const uint32_t a = static_cast<uint32_t>(i) * chunk;
        const uint32_t b = static_cast<uint32_t>(std::min<uint64_t>(end, static_cast<uint64_t>(i + 1) * chunk));
        pool.emplace_back(check_range, a, b, std::ref(tallies[i]));
    }
    for (std::thread& th : pool) th.join();
    Tally all;
    for (const Tally& t : tallies) {
        all.library = std::fmax(all.library, t.library);
        all.truth = std::fmax(all.truth, t.truth);
        all.lib_truth = std::fmax(all.lib_truth, t.lib_truth);
        all.arguments += t.arguments;
        all.products += t.products;
        all.mismatches += t.mismatches;
        all.fallbacks += t.fallbacks;
    }
    std::printf("arguments %" PRIu64 " (every float in [0, %.9g])\n", all.arguments,
                static_cast<double>(vosh::sincos_detail::largest_fast_phi));
    std::printf("short evaluation vs library: at most %.3f ulps; vs long double %.3f; library vs long double %.3f\n",
                all.library, all.truth, all.lib_truth);
    std::printf("products %" PRIu64 ": %" PRIu64 " differ from the library expression, %" PRIu64
                " took the library (guard)\n",
                all.products, all.mismatches, all.fallbacks);
    const double moved = 2 * (2 * std::ceil(all.library) + 1);
    const bool margin = moved < 64;
    std::printf("a product moves by at most %.0f double ulps; guard window 64: %s\n", moved,
                margin ? "enough" : "NOT ENOUGH");
    return all.mismatches == 0 && margin ? 0 : 1;
}
