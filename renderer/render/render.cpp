#include "renderer/render/render.h"

#include <cmath>
#include <limits>

#include "renderer/host/shading.h"
#include "renderer/trace/sampler.h"
#include "renderer/work/session.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

namespace {

constexpr int tile_size = 16;
Color render_sample(ThreadContext& thread, uint32_t px, uint32_t py, uint32_t sample, int spp,
                    uint32_t seed) {
    RenderContext& ctx = context();
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
        c = environment_radiance(direction);
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

bool render_scene(const Scene& scene, const ShaderDeclaration& decl, const RenderSettings& settings,
                  Image& image, RenderStats& stats, std::string& error) {
    Region area{0, 0, scene.camera.width_px, scene.camera.height_px};
    if (settings.has_region) {
        if (!check_region(settings.region, area.x1, area.y1, error)) return false;
        area = settings.region;
    }
    const int spp = settings.samples_per_pixel > 0 ? settings.samples_per_pixel : scene.samples_per_pixel;

    Session session;
    SessionSettings session_settings;
    session_settings.module_path = settings.module_path;
    session_settings.camera = &scene.camera;
    if (!open_session(scene, decl, session_settings, session, error)) return false;

    image.width = area.x1 - area.x0;
    image.height = area.y1 - area.y0;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    const std::vector<Tile> tiles = split_into_tiles({area.x0, area.y0, area.x1, area.y1}, tile_size);
    TileRunSettings run;
    run.threads = settings.threads;
    run.progress = settings.progress;
    run.stop = settings.stop;
    TileRunStats run_stats;
    const bool finished = run_tiles(
        tiles, run,
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
            return render_tile(thread, tile, stop, area, spp, settings.seed, image);
        },
        run_stats);
    stats.leaked_blocks = close_session(session).leaked_blocks;

    stats.width = image.width;
    stats.height = image.height;
    stats.samples_per_pixel = spp;
    stats.threads = run_stats.threads;
    stats.seconds = run_stats.seconds;
    stats.cpu_seconds = run_stats.cpu_seconds;
    stats.probe_rays = run_stats.probe_rays;
    stats.bad_samples = run_stats.bad_samples;
    if (!finished) {
        stats.interrupted = true;
        error = "render stopped before it finished";
        return false;
    }
    return true;
}

}  // namespace vosh::render
