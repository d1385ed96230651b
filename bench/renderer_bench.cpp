// vosh-render against the ray tracer's own limits, scaling with scene size
// and threads, and noise against the closed-form answer. The executable is
// the renderer (it links the renderer library, whose host operations it
// exports) and renders in process.
//
// Throughput: one iteration renders the generated scene, then replays the
// very probe rays that render traced (recorded by a hook in an untimed
// render before) through two bare loops over the same ray-tracer scene with
// the same number of threads: rtcIntersect1 with the same distance weighting,
// and rtcOccluded1. All three run back to back, so each repetition gives a
// paired ratio.
#include <benchmark/benchmark.h>

#include <embree3/rtcore.h>
#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/scene_generator.h"
#include "renderer/trace/geometry.h"
#include "renderer/render/render.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/host/render_hooks.h"

namespace vosh::bench {
namespace {

using render::Image;
using render::RenderSettings;
using render::RenderStats;
using render::Scene;
using render::ShaderDeclaration;
using render::Vec3;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "renderer_bench: %s\n", what.c_str());
    std::exit(1);
}

const ShaderDeclaration& declaration() {
    static const ShaderDeclaration decl = [] {
        const std::string module = VOSH_MODULE_PATH;
        const std::string path = module.substr(0, module.find_last_of('/')) + "/vosh_occlusion.decl.json";
        ShaderDeclaration d;
        std::string error;
        if (!render::load_declaration(path, d, error)) fail(error);
        return d;
    }();
    return decl;
}

struct RenderOutcome {
    double seconds = 0;  // the pixel loop, as vosh-render times it
    double cpu_seconds = 0;  // its render threads' CPU time
    uint64_t probe_rays = 0;
    Image image;
};

RenderOutcome render(const Scene& scene, int threads, int samples_per_pixel = 0) {
    RenderSettings settings;
    settings.module_path = VOSH_MODULE_PATH;
    settings.threads = threads;
    settings.samples_per_pixel = samples_per_pixel;
    RenderOutcome out;
    RenderStats stats;
    std::string error;
    if (!render::render_scene(scene, declaration(), settings, out.image, stats, error)) fail(error);
    if (stats.bad_samples || stats.leaked_blocks) fail("render reported bad samples or leaks");
    out.seconds = stats.seconds;
    out.cpu_seconds = stats.cpu_seconds;
    out.probe_rays = stats.probe_rays;
    return out;
}

double mean_red(const Image& image) {
    double sum = 0;
    for (size_t i = 0; i < image.rgba.size(); i += 4) sum += image.rgba[i];
    return sum / (image.rgba.size() / 4);
}

// ---------------------------------------------------------------------------
// Recording the probe rays of one render.

struct RecordedRay {
    float origin[3];
    float direction[3];
    float max_distance;
};

std::mutex g_record_mutex;
std::vector<std::unique_ptr<std::vector<RecordedRay>>> g_record_buffers;
std::atomic<int> g_record_generation{0};
thread_local std::vector<RecordedRay>* t_record_buffer = nullptr;
thread_local int t_record_generation = -1;

void record_probe(Vec3 o, Vec3 d, double max_distance) {
    const int generation = g_record_generation.load(std::memory_order_relaxed);
    if (t_record_generation != generation) {
        std::lock_guard<std::mutex> lock(g_record_mutex);
        g_record_buffers.push_back(std::make_unique<std::vector<RecordedRay>>());
        t_record_buffer = g_record_buffers.back().get();
        t_record_generation = generation;
    }
    const float far = max_distance >= 3.0e38 ? INFINITY : static_cast<float>(max_distance);
    t_record_buffer->push_back({{static_cast<float>(o.x), static_cast<float>(o.y), static_cast<float>(o.z)},
                                {static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z)},
                                far});
}

std::vector<RecordedRay> record_rays(const Scene& scene, int threads) {
    g_record_buffers.clear();
    g_record_generation.fetch_add(1);
    render::render_hooks.probe_traced = record_probe;
    render(scene, threads);
    render::render_hooks.probe_traced = nullptr;
    std::vector<RecordedRay> rays;
    for (const auto& buffer : g_record_buffers) rays.insert(rays.end(), buffer->begin(), buffer->end());
    g_record_buffers.clear();
    return rays;
}

// ---------------------------------------------------------------------------
// The bare loops.

struct ReplayOutcome {
    double seconds = 0;
    double cpu_seconds = 0;  // summed over the threads
    double weight_sum = 0;
};

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

constexpr size_t replay_chunk = 4096;

template <class TraceChunk>
ReplayOutcome replay(const std::vector<RecordedRay>& rays, int threads, TraceChunk trace_chunk) {
    std::atomic<size_t> next{0};
    // Per thread: weight sum and CPU seconds, a cache line apart.
    std::vector<double> sums(static_cast<size_t>(threads) * 8, 0.0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            // As in vosh-render's render threads: denormals flushed to zero.
            _mm_setcsr(_mm_getcsr() | 0x8040u);
            const double cpu_start = thread_cpu_seconds();
            double sum = 0;
            for (size_t begin = next.fetch_add(replay_chunk); begin < rays.size();
                 begin = next.fetch_add(replay_chunk))
                sum += trace_chunk(rays.data() + begin, std::min(replay_chunk, rays.size() - begin));
            sums[static_cast<size_t>(t) * 8] = sum;
            sums[static_cast<size_t>(t) * 8 + 1] = thread_cpu_seconds() - cpu_start;
        });
    for (std::thread& w : workers) w.join();
    const auto end = std::chrono::steady_clock::now();
    ReplayOutcome out;
    out.seconds = std::chrono::duration<double>(end - start).count();
    for (int t = 0; t < threads; ++t) {
        out.weight_sum += sums[static_cast<size_t>(t) * 8];
        out.cpu_seconds += sums[static_cast<size_t>(t) * 8 + 1];
    }
    return out;
}

inline void fill_ray(RTCRay& ray, const RecordedRay& r) {
    ray.org_x = r.origin[0];
    ray.org_y = r.origin[1];
    ray.org_z = r.origin[2];
    ray.dir_x = r.direction[0];
    ray.dir_y = r.direction[1];
    ray.dir_z = r.direction[2];
    ray.tnear = 0.0f;
    ray.tfar = r.max_distance;
    ray.time = 0.0f;
    ray.mask = 0xffffffffu;
    ray.id = 0;
    ray.flags = 0;
}

// Nearest hit, weighted as the shader weighs it (near 0, far the ray's range).
ReplayOutcome replay_intersect(RTCScene scene, const std::vector<RecordedRay>& rays, int threads) {
    return replay(rays, threads, [scene](const RecordedRay* chunk, size_t n) {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        double sum = 0;
        for (size_t i = 0; i < n; ++i) {
            RTCRayHit rh;
            fill_ray(rh.ray, chunk[i]);
            rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
            rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
            rtcIntersect1(scene, &context, &rh);
            if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) continue;
            const double distance = rh.ray.tfar, far = chunk[i].max_distance;
            sum += distance >= far ? 0.0 : 1.0 - distance / far;
        }
        return sum;
    });
}

// Any hit: the bound for occlusion that needs no distance.
ReplayOutcome replay_occluded(RTCScene scene, const std::vector<RecordedRay>& rays, int threads) {
    return replay(rays, threads, [scene](const RecordedRay* chunk, size_t n) {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        double blocked = 0;
        for (size_t i = 0; i < n; ++i) {
            RTCRay ray;
            fill_ray(ray, chunk[i]);
            rtcOccluded1(scene, &context, &ray);
            blocked += ray.tfar < 0 ? 1.0 : 0.0;
        }
        return blocked;
    });
}

// ---------------------------------------------------------------------------
// Throughput, scaling and threads: one generated scene at a time, kept with
// its ray-tracer scene and recorded rays while consecutive runs use it.

struct Prepared {
    size_t wanted_triangles = 0;
    int resolution = 0;
    size_t triangles = 0;
    Scene scene;
    render::SceneGeometry geometry;
    std::vector<RecordedRay> rays;
};

// The rays do not depend on the thread count (the sampler seeds by pixel);
// they are recorded with two threads, in the order each thread traced them.
Prepared& prepared(size_t wanted_triangles, int resolution) {
    static std::unique_ptr<Prepared> current;
    if (current && current->wanted_triangles == wanted_triangles && current->resolution == resolution)
        return *current;
    current.reset();
    auto p = std::make_unique<Prepared>();
    p->wanted_triangles = wanted_triangles;
    p->resolution = resolution;
    SceneRecipe recipe;
    recipe.triangles = wanted_triangles;
    recipe.resolution = resolution;
    std::string error;
    if (!generate_scene(recipe, declaration(), p->scene, p->triangles, error)) fail(error);
    if (!p->geometry.build(p->scene, error)) fail(error);
    p->rays = record_rays(p->scene, 2);
    current = std::move(p);
    return *current;
}

void bench_throughput(benchmark::State& state, size_t wanted_triangles, int resolution, int threads) {
    Prepared& p = prepared(wanted_triangles, resolution);
    RTCScene scene = p.geometry.native_scene();
    const double rays = static_cast<double>(p.rays.size());
    double render_rate = 0, intersect_rate = 0, occluded_rate = 0;
    double render_cpu = 0, intersect_cpu = 0, occluded_cpu = 0;
    double render_occlusion = 0, replay_occlusion = 0;
    for (auto _ : state) {
        const RenderOutcome r = render(p.scene, threads);
        const ReplayOutcome hit = replay_intersect(scene, p.rays, threads);
        const ReplayOutcome any = replay_occluded(scene, p.rays, threads);
        if (r.probe_rays != p.rays.size()) fail("the render traced other rays than were recorded");
        state.SetIterationTime(r.seconds);
        render_rate = rays / r.seconds;
        intersect_rate = rays / hit.seconds;
        occluded_rate = rays / any.seconds;
        render_cpu = r.cpu_seconds;
        intersect_cpu = hit.cpu_seconds;
        occluded_cpu = any.cpu_seconds;
        // The image is 1 - occlusion (bright 1, dark 0, one shading call per
        // pixel, every pixel on a surface), so its mean checks the replay.
        render_occlusion = 1.0 - mean_red(r.image);
        replay_occlusion = hit.weight_sum / rays;
    }
    state.counters["triangles"] = static_cast<double>(p.triangles);
    state.counters["probe_rays"] = rays;
    state.counters["render_rays_per_s"] = render_rate;
    state.counters["intersect_rays_per_s"] = intersect_rate;
    state.counters["occluded_rays_per_s"] = occluded_rate;
    state.counters["render_ns_per_ray"] = 1e9 / render_rate;
    state.counters["intersect_ns_per_ray"] = 1e9 / intersect_rate;
    state.counters["render_vs_intersect"] = render_rate / intersect_rate;
    state.counters["render_vs_occluded"] = render_rate / occluded_rate;
    // CPU time per ray, summed over the threads: unlike the rates above it
    // does not count time the threads waited for other work on the machine.
    state.counters["render_cpu_ns_per_ray"] = render_cpu * 1e9 / rays;
    state.counters["intersect_cpu_ns_per_ray"] = intersect_cpu * 1e9 / rays;
    state.counters["occluded_cpu_ns_per_ray"] = occluded_cpu * 1e9 / rays;
    state.counters["render_vs_intersect_cpu"] = intersect_cpu / render_cpu;
    state.counters["render_vs_occluded_cpu"] = occluded_cpu / render_cpu;
    state.counters["render_mean_occlusion"] = render_occlusion;
    state.counters["replay_mean_occlusion"] = replay_occlusion;
}

// ---------------------------------------------------------------------------
// Noise against cost on the floor under a sphere.

// Independent uniform pairs: a strong hash of (sequence, index).
uint64_t mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

void random_point(uint32_t index, uint32_t seed, double out[2]) {
    const uint64_t a = mix64((static_cast<uint64_t>(seed) << 32 | index) + 0x9e3779b97f4a7c15ull);
    const uint64_t b = mix64(a + 0x9e3779b97f4a7c15ull);
    out[0] = static_cast<double>(a >> 11) * 0x1.0p-53;
    out[1] = static_cast<double>(b >> 11) * 0x1.0p-53;
}

constexpr int noise_resolution = 128;

// The exact value a pixel should read: at its centre for one camera sample,
// else averaged over the pixel (the camera samples spread over it).
double floor_reference(int px, int py, int camera_samples) {
    const auto at = [&](double fx, double fz) {
        const double x = ((px + fx) / noise_resolution * 2 - 1) * floor_view_width / 2;
        const double z = ((py + fz) / noise_resolution * 2 - 1) * floor_view_width / 2;
        return floor_under_sphere_fraction(x, z);
    };
    if (camera_samples <= 1) return at(0.5, 0.5);
    double sum = 0;
    constexpr int sub = 8;
    for (int i = 0; i < sub; ++i)
        for (int j = 0; j < sub; ++j) sum += at((i + 0.5) / sub, (j + 0.5) / sub);
    return sum / (sub * sub);
}

// How much of the error survives a box blur of w x w pixels, relative to
// white noise (for which the blurred error's variance is 1 / w^2 of the
// pixels'): below 1 the error is blue noise, its neighbours cancelling.
// Windows at every position that lie wholly on the floor.
double blurred_error_ratio(const std::vector<double>& error, int w) {
    double blurred = 0, plain = 0;
    int windows = 0, pixels = 0;
    for (double e : error)
        if (!std::isnan(e)) plain += e * e, ++pixels;
    for (int y = 0; y + w <= noise_resolution; ++y)
        for (int x = 0; x + w <= noise_resolution; ++x) {
            double sum = 0;
            for (int j = 0; j < w; ++j)
                for (int i = 0; i < w; ++i) sum += error[static_cast<size_t>(y + j) * noise_resolution + x + i];
            if (std::isnan(sum)) continue;
            blurred += (sum / (w * w)) * (sum / (w * w));
            ++windows;
        }
    return (blurred / windows) / (plain / pixels / (w * w));
}

void bench_noise(benchmark::State& state, bool random_pairs, int directions, int camera_samples) {
    Scene scene;
    std::string error;
    if (!render::parse_scene(floor_under_sphere_scene(noise_resolution, directions), "floor scene", ".",
                             declaration(), scene, error))
        fail(error);
    render::render_hooks.sample_point = random_pairs ? random_point : nullptr;
    double rms = 0, bias = 0, rms_relative_se = 0, blurred_2 = 0, blurred_4 = 0, expected_random_rms = 0;
    int pixels = 0;
    std::vector<double> pixel_error(static_cast<size_t>(noise_resolution) * noise_resolution);
    for (auto _ : state) {
        const RenderOutcome r = render(scene, 2, camera_samples);
        state.SetIterationTime(r.seconds);
        double squares = 0, fourth_powers = 0, signed_sum = 0, binomial = 0;
        pixels = 0;
        for (int py = 0; py < noise_resolution; ++py)
            for (int px = 0; px < noise_resolution; ++px) {
                const size_t at = static_cast<size_t>(py) * noise_resolution + px;
                const float value = r.image.rgba[at * 4];
                pixel_error[at] = std::nan("");
                if (value < 0) continue;  // the sphere itself
                const double error_here = value - floor_reference(px, py, camera_samples);
                pixel_error[at] = error_here;
                const double p = floor_reference(px, py, camera_samples);
                binomial += p * (1 - p);
                squares += error_here * error_here;
                fourth_powers += error_here * error_here * error_here * error_here;
                signed_sum += error_here;
                ++pixels;
            }
        const double mean_square = squares / pixels;
        rms = std::sqrt(mean_square);
        // What independent uniform directions give on average: every hit
        // weighs 1, so a pixel's count is binomial (one camera sample, at
        // the pixel centre, so p is the reference itself).
        expected_random_rms = std::sqrt(binomial / pixels / directions);
        bias = signed_sum / pixels;
        // Standard error of the RMS over the pixels (delta method): how far
        // another set of sample points would move it.
        const double square_variance = fourth_powers / pixels - mean_square * mean_square;
        rms_relative_se = 0.5 * std::sqrt(square_variance / pixels) / mean_square;
        blurred_2 = blurred_error_ratio(pixel_error, 2);
        blurred_4 = blurred_error_ratio(pixel_error, 4);
    }
    render::render_hooks.sample_point = nullptr;
    state.counters["rms_error"] = rms;
    state.counters["rms_error_relative_se"] = rms_relative_se;
    state.counters["mean_error"] = bias;
    if (camera_samples <= 1) state.counters["expected_random_rms"] = expected_random_rms;
    state.counters["blurred_error_2x2"] = blurred_2;
    state.counters["blurred_error_4x4"] = blurred_4;
    state.counters["floor_pixels"] = pixels;
    state.counters["directions"] = directions;
    state.counters["camera_samples"] = camera_samples;
}

// One untimed render of a generated scene, for a profiler:
//   bench_renderer --profile-render TRIANGLES RESOLUTION THREADS
int profile_render(const char* triangles, const char* resolution, const char* threads) {
    SceneRecipe recipe;
    recipe.triangles = std::strtoul(triangles, nullptr, 10);
    recipe.resolution = std::atoi(resolution);
    Scene scene;
    size_t made = 0;
    std::string error;
    if (!generate_scene(recipe, declaration(), scene, made, error)) fail(error);
    const RenderOutcome r = render(scene, std::atoi(threads));
    std::printf("%zu triangles, %llu probe rays, %.3f s, %.3f M rays/s, %.1f CPU ns per ray\n", made,
                static_cast<unsigned long long>(r.probe_rays), r.seconds, r.probe_rays / r.seconds / 1e6,
                r.cpu_seconds * 1e9 / static_cast<double>(r.probe_rays));
    return 0;
}

}  // namespace
}  // namespace vosh::bench

int main(int argc, char** argv) {
    using namespace vosh::bench;
    if (argc == 5 && std::string(argv[1]) == "--profile-render") return profile_render(argv[2], argv[3], argv[4]);
    const auto add = [](const std::string& name, auto&& fn, auto... args) {
        benchmark::RegisterBenchmark(name.c_str(), fn, args...)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    };
    add("throughput/triangles:200000/res:512/threads:2", bench_throughput, size_t{200000}, 512, 2);
    add("throughput/triangles:200000/res:512/threads:1", bench_throughput, size_t{200000}, 512, 1);
    for (size_t n : {size_t{10000}, size_t{50000}, size_t{200000}, size_t{1000000}, size_t{2000000}})
        add("scaling/triangles:" + std::to_string(n) + "/res:256/threads:2", bench_throughput, n, 256, 2);
    for (int directions : {16, 64, 256}) {
        add("noise/sampler/directions:" + std::to_string(directions), bench_noise, false, directions, 1);
        add("noise/random/directions:" + std::to_string(directions), bench_noise, true, directions, 1);
    }
    // One budget of 64 rays split over camera samples: the sampler stratifies
    // the whole pixel, so the error should stay near that of 1 x 64.
    for (const auto& [samples, directions] : {std::pair{16, 4}, std::pair{4, 16}}) {
        const std::string split = "/spp:" + std::to_string(samples) + "/directions:" + std::to_string(directions);
        add("noise/sampler" + split, bench_noise, false, directions, samples);
        add("noise/random" + split, bench_noise, true, directions, samples);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
