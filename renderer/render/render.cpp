#include "renderer/render/render.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "renderer/host/shading.h"
#include "renderer/trace/sampler.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

namespace {

constexpr int tile_size = 16;
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

// A tile's pixels as bytes: what travels from the rank that rendered it.
bool shade_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, int spp, uint32_t seed,
                std::vector<unsigned char>& result) {
    Image pixels;
    pixels.width = tile.x1 - tile.x0;
    pixels.height = tile.y1 - tile.y0;
    pixels.rgba.assign(static_cast<size_t>(pixels.width) * pixels.height * 4, 0.0f);
    if (!render_tile(thread, tile, stop, {tile.x0, tile.y0, tile.x1, tile.y1}, spp, seed, pixels))
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(pixels.rgba.data());
    result.assign(bytes, bytes + pixels.rgba.size() * sizeof(float));
    return true;
}

bool place_tile(const Tile& tile, const std::vector<unsigned char>& result, const Region& area, Image& image) {
    const size_t row = static_cast<size_t>(tile.x1 - tile.x0) * 4;
    if (result.size() != row * static_cast<size_t>(tile.y1 - tile.y0) * sizeof(float)) return false;
    for (int y = tile.y0; y < tile.y1; ++y) {
        float* out = &image.rgba[(static_cast<size_t>(y - area.y0) * image.width + (tile.x0 - area.x0)) * 4];
        std::memcpy(out, result.data() + static_cast<size_t>(y - tile.y0) * row * sizeof(float),
                    row * sizeof(float));
    }
    return true;
}

// A render's settings as the other ranks receive them.
struct RenderJob {
    Region area;
    int32_t samples_per_pixel = 1;
    uint32_t seed = 0;
};

// What every rank of a render needs: its pixels and how they are shaded.
JobPieces render_pieces(const Scene& scene, const RenderJob& job) {
    JobPieces pieces;
    pieces.name = "render";
    pieces.tiles = split_into_tiles({job.area.x0, job.area.y0, job.area.x1, job.area.y1}, tile_size);
    pieces.camera = &scene.camera;
    pieces.shade = [job](ThreadContext& thread, const Tile& tile, const StopFlag& stop,
                         std::vector<unsigned char>& out) {
        return shade_tile(thread, tile, stop, job.samples_per_pixel, job.seed, out);
    };
    return pieces;
}

}  // namespace

bool render_scene(const Scene& scene, const ShaderDeclaration& decl, const RenderSettings& settings,
                  Image& image, RenderStats& stats, std::string& error) {
    RenderJob job;
    job.area = {0, 0, scene.camera.width_px, scene.camera.height_px};
    if (settings.has_region) {
        if (!check_region(settings.region, job.area.x1, job.area.y1, error)) return false;
        job.area = settings.region;
    }
    job.samples_per_pixel = settings.samples_per_pixel > 0 ? settings.samples_per_pixel : scene.samples_per_pixel;
    job.seed = settings.seed;
    const Region area = job.area;
    image.width = area.x1 - area.x0;
    image.height = area.y1 - area.y0;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);

    JobPieces pieces = render_pieces(scene, job);
    pieces.place = [&](const Tile& tile, const std::vector<unsigned char>& result) {
        return place_tile(tile, result, area, image);
    };
    pieces.work = [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
        return render_tile(thread, tile, stop, area, job.samples_per_pixel, job.seed, image);
    };
    const bool finished = run_job(scene, decl, settings, job_record(JobKind::render, job), pieces, stats, error);
    stats.width = image.width;
    stats.height = image.height;
    stats.samples_per_pixel = job.samples_per_pixel;
    return finished;
}

bool read_render_job(ByteReader& settings, const Scene& scene, const ShaderDeclaration&, JobPieces& pieces) {
    RenderJob job;
    get(settings, job);
    std::string error;
    if (!settings.ok || job.samples_per_pixel < 1 ||
        !check_region(job.area, scene.camera.width_px, scene.camera.height_px, error))
        return false;
    pieces = render_pieces(scene, job);
    return true;
}

}  // namespace vosh::render
