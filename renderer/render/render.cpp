#include "renderer/render/render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "renderer/host/shading.h"
#include "renderer/render/adaptive_tile.h"
#include "renderer/scene/scene_limits.h"
#include "renderer/trace/sampler.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

namespace {

constexpr int tile_size = 16;
// Adaptive tiles also take the first round of a ring of pixels around
// them: larger tiles keep that ring a smaller share (13 % at 32).
constexpr int adaptive_tile_size = 32;

Color render_sample(ThreadContext& thread, uint32_t px, uint32_t py, uint32_t sample, int spp,
                    uint32_t seed) {
    RenderContext& ctx = thread.ctx();
    const uint32_t samples = static_cast<uint32_t>(spp);
    thread.begin_sample(px, py, sample, samples, seed);
    double jitter[2];
    cell_position(px, py, sample, samples, seed, jitter);
    Vec3 origin, direction;
    camera_ray(ctx.camera, px + jitter[0], py + jitter[1], origin, direction);
    HostState& eye = thread.state_at(0);
    SurfaceHit hit;
    Color c;
    if (ctx.geometry->intersect(origin, direction, std::numeric_limits<double>::infinity(),
                                ctx.options.facing_default, UINT32_MAX, UINT32_MAX, hit)) {
        describe_hit(eye, nullptr, origin, direction, hit, ray_kind::eye);
        c = shade_surface(eye);
    } else {
        c = environment_radiance(ctx, direction);
        c.a = 1;
    }
    if (!std::isfinite(c.r) || !std::isfinite(c.g) || !std::isfinite(c.b) || !std::isfinite(c.a)) {
        ++thread.bad_samples;
        c = {0, 0, 0, 0};
    }
    return c;
}

// The pixels of one tile, each the average of its camera samples.
bool render_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const Region& area,
                 int spp, uint32_t seed, Image& image) {
    for (int y = tile.y0; y < tile.y1; ++y)
        for (int x = tile.x0; x < tile.x1; ++x) {
            double sum[4] = {0, 0, 0, 0};
            for (int s = 0; s < spp; ++s) {
                // One camera sample is the longest a stop waits for.
                if (stop_requested(stop)) return false;
                const Color c = render_sample(thread, static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                                              static_cast<uint32_t>(s), spp, seed);
                sum[0] += c.r;
                sum[1] += c.g;
                sum[2] += c.b;
                sum[3] += c.a;
            }
            float* out = &image.rgba[(static_cast<size_t>(y - area.y0) * image.width + (x - area.x0)) * 4];
            for (int k = 0; k < 4; ++k) out[k] = static_cast<float>(sum[k] / spp);
        }
    return true;
}

}  // namespace

bool check_region(const Region& r, int width, int height, std::string& error) {
    if (r.x0 >= 0 && r.y0 >= 0 && r.x1 <= width && r.y1 <= height && r.x0 < r.x1 && r.y0 < r.y1)
        return true;
    error = "--region " + std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
            std::to_string(r.x1) + "," + std::to_string(r.y1) + ": must be a non-empty area within the " +
            std::to_string(width) + "x" + std::to_string(height) + " image (X1 and Y1 are exclusive)";
    return false;
}

namespace {

// A render's settings as the other ranks receive them.
struct RenderJob {
    Region area;
    int32_t samples_per_pixel = 1;
    uint32_t seed = 0;
    double noise_threshold = 0;  // 0: every pixel takes samples_per_pixel
    int32_t min_samples = 1;
    int32_t image_width = 0, image_height = 0;  // where an adaptive tile's neighbours end
    int32_t tile_side = tile_size;
};

bool adaptive(const RenderJob& job) { return job.noise_threshold > 0; }

AdaptiveSampling sampling_of(const RenderJob& job) {
    return {job.noise_threshold, job.min_samples, job.samples_per_pixel};
}

// An adaptive tile's pixels, through the same camera samples as a fixed one.
bool adaptive_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const RenderJob& job,
                   std::vector<float>& rgba, std::vector<uint32_t>& samples) {
    const PixelSampler sample = [&](int x, int y, uint32_t s, bool own, uint64_t& probes) {
        const uint64_t probes_before = thread.probes, bad_before = thread.bad_samples;
        const Color c = render_sample(thread, static_cast<uint32_t>(x), static_cast<uint32_t>(y), s,
                                      job.samples_per_pixel, job.seed);
        probes = thread.probes - probes_before;
        if (!own) thread.bad_samples = bad_before;  // the pixel's own tile counts it
        return c;
    };
    return sample_adaptive_tile(tile, {0, 0, job.image_width, job.image_height}, sampling_of(job), sample, stop,
                                rgba, samples);
}

// A tile's pixels as bytes: what travels from the rank that rendered it;
// after an adaptive tile's pixels, the samples each took.
bool shade_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const RenderJob& job,
                std::vector<unsigned char>& result) {
    std::vector<float> rgba;
    std::vector<uint32_t> samples;
    if (adaptive(job)) {
        if (!adaptive_tile(thread, tile, stop, job, rgba, samples)) return false;
    } else {
        Image pixels;
        pixels.width = tile.x1 - tile.x0;
        pixels.height = tile.y1 - tile.y0;
        pixels.rgba.assign(static_cast<size_t>(pixels.width) * pixels.height * 4, 0.0f);
        if (!render_tile(thread, tile, stop, {tile.x0, tile.y0, tile.x1, tile.y1}, job.samples_per_pixel, job.seed,
                         pixels))
            return false;
        rgba = std::move(pixels.rgba);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(rgba.data());
    result.assign(bytes, bytes + rgba.size() * sizeof(float));
    const auto* counts = reinterpret_cast<const unsigned char*>(samples.data());
    result.insert(result.end(), counts, counts + samples.size() * sizeof(uint32_t));
    return true;
}

// Where a finished render keeps its pixels and what each took.
struct RenderTarget {
    Region area;
    Image& image;
    std::vector<uint32_t>& samples;  // per pixel of the image
};

void place_pixels(const Tile& tile, const float* rgba, const uint32_t* samples, RenderTarget& target) {
    const size_t row = static_cast<size_t>(tile.x1 - tile.x0);
    for (int y = tile.y0; y < tile.y1; ++y) {
        const size_t at = static_cast<size_t>(y - target.area.y0) * target.image.width + (tile.x0 - target.area.x0);
        std::memcpy(&target.image.rgba[at * 4], rgba + static_cast<size_t>(y - tile.y0) * row * 4,
                    row * 4 * sizeof(float));
        if (samples)
            std::memcpy(&target.samples[at], samples + static_cast<size_t>(y - tile.y0) * row,
                        row * sizeof(uint32_t));
    }
}

bool place_tile(const Tile& tile, const std::vector<unsigned char>& result, bool with_samples, RenderTarget& target) {
    const size_t pixels = static_cast<size_t>(tile.x1 - tile.x0) * (tile.y1 - tile.y0);
    const size_t colour_bytes = pixels * 4 * sizeof(float);
    if (result.size() != colour_bytes + (with_samples ? pixels * sizeof(uint32_t) : 0)) return false;
    std::vector<float> rgba(pixels * 4);
    std::memcpy(rgba.data(), result.data(), colour_bytes);
    std::vector<uint32_t> samples(with_samples ? pixels : 0);
    if (with_samples) std::memcpy(samples.data(), result.data() + colour_bytes, pixels * sizeof(uint32_t));
    place_pixels(tile, rgba.data(), with_samples ? samples.data() : nullptr, target);
    return true;
}

// What every rank of a render needs: its pixels and how they are shaded.
JobPieces render_pieces(const Scene& scene, const RenderJob& job) {
    JobPieces pieces;
    pieces.name = "render";
    pieces.tiles = split_into_tiles({job.area.x0, job.area.y0, job.area.x1, job.area.y1}, job.tile_side);
    pieces.camera = &scene.camera;
    pieces.shade = [job](ThreadContext& thread, const Tile& tile, const StopFlag& stop,
                         std::vector<unsigned char>& out) { return shade_tile(thread, tile, stop, job, out); };
    return pieces;
}

}  // namespace

int default_min_samples(int samples_per_pixel) {
    return std::min(samples_per_pixel, std::max(4, samples_per_pixel / 16));
}

bool render_scene(const Scene& scene, const ShaderDeclaration& decl, const RenderSettings& settings,
                  Image& image, RenderStats& stats, std::string& error) {
    RenderJob job;
    job.image_width = scene.camera.width_px;
    job.image_height = scene.camera.height_px;
    job.area = {0, 0, job.image_width, job.image_height};
    if (settings.has_region) {
        if (!check_region(settings.region, job.area.x1, job.area.y1, error)) return false;
        job.area = settings.region;
    }
    job.samples_per_pixel = settings.samples_per_pixel > 0 ? settings.samples_per_pixel : scene.samples_per_pixel;
    job.seed = settings.seed;
    job.noise_threshold = settings.noise_threshold >= 0 ? settings.noise_threshold : scene.noise_threshold;
    job.min_samples = settings.min_samples > 0 ? std::min(settings.min_samples, job.samples_per_pixel)
                                               : default_min_samples(job.samples_per_pixel);
    if (adaptive(job)) job.tile_side = adaptive_tile_size;
    const Region area = job.area;
    image.width = area.x1 - area.x0;
    image.height = area.y1 - area.y0;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    std::vector<uint32_t> samples(static_cast<size_t>(image.width) * image.height,
                                  static_cast<uint32_t>(job.samples_per_pixel));
    RenderTarget target{area, image, samples};

    JobPieces pieces = render_pieces(scene, job);
    pieces.place = [&](const Tile& tile, const std::vector<unsigned char>& result) {
        return place_tile(tile, result, adaptive(job), target);
    };
    pieces.work = [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
        if (!adaptive(job)) return render_tile(thread, tile, stop, area, job.samples_per_pixel, job.seed, image);
        std::vector<float> rgba;
        std::vector<uint32_t> taken;
        if (!adaptive_tile(thread, tile, stop, job, rgba, taken)) return false;
        place_pixels(tile, rgba.data(), taken.data(), target);
        return true;
    };
    const bool finished = run_job(scene, decl, settings, job_record(JobKind::render, job), pieces, stats, error);
    stats.width = image.width;
    stats.height = image.height;
    stats.samples_per_pixel = job.samples_per_pixel;
    stats.noise_threshold = job.noise_threshold;
    stats.min_samples = adaptive(job) ? static_cast<int>(first_round(sampling_of(job))) : job.samples_per_pixel;
    double total = 0;
    for (const uint32_t n : samples) total += n;
    stats.mean_samples = samples.empty() ? 0 : total / static_cast<double>(samples.size());
    stats.samples_taken = std::move(samples);
    return finished;
}

Image sample_map(const std::vector<uint32_t>& taken, int width, int height, int most, bool counts) {
    Image map;
    map.width = width;
    map.height = height;
    map.rgba.assign(taken.size() * 4, 1.0f);
    const double scale = counts || most < 1 ? 1.0 : 1.0 / most;
    for (size_t i = 0; i < taken.size(); ++i)
        for (int k = 0; k < 3; ++k) map.rgba[i * 4 + k] = static_cast<float>(taken[i] * scale);
    return map;
}

bool read_render_job(ByteReader& settings, const Scene& scene, const ShaderDeclaration&, JobPieces& pieces) {
    RenderJob job;
    get(settings, job);
    std::string error;
    if (!settings.ok || job.samples_per_pixel < 1 ||
        !check_region(job.area, scene.camera.width_px, scene.camera.height_px, error) ||
        !(job.noise_threshold >= 0 && job.noise_threshold <= max_noise_threshold) || job.min_samples < 1 ||
        job.min_samples > job.samples_per_pixel || job.image_width != scene.camera.width_px ||
        job.image_height != scene.camera.height_px || job.tile_side < 1 || job.tile_side > max_resolution)
        return false;
    pieces = render_pieces(scene, job);
    return true;
}

}  // namespace vosh::render
