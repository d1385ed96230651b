#include "renderer/render/render.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "renderer/host/shading.h"
#include "renderer/trace/sampler.h"
#include "renderer/work/distributed.h"
#include "renderer/work/scene_wire.h"
#include "renderer/work/session.h"
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

std::vector<unsigned char> render_job(const Scene& scene, const ShaderDeclaration& decl, const Region& area,
                                      int spp, const RenderSettings& settings) {
    ByteWriter w;
    put(w, JobKind::render);
    put_declaration_layout(w, decl);
    put_scene(w, scene);
    put(w, area);
    put(w, spp);
    put(w, settings.seed);
    put(w, static_cast<int32_t>(settings.worker_threads));
    return std::move(w.bytes);
}

}  // namespace

bool render_scene(const Scene& scene, const ShaderDeclaration& decl, const RenderSettings& settings,
                  Image& image, RenderStats& stats, std::string& error) {
    Region area{0, 0, scene.camera.width_px, scene.camera.height_px};
    if (settings.has_region) {
        if (!check_region(settings.region, area.x1, area.y1, error)) return false;
        area = settings.region;
    }
    const int spp = settings.samples_per_pixel > 0 ? settings.samples_per_pixel : scene.samples_per_pixel;
    const Ranks* ranks = settings.ranks;
    // The others start on their share while this rank opens its own session.
    if (ranks) share_job(render_job(scene, decl, area, spp, settings));

    Session session;
    SessionSettings session_settings;
    session_settings.module_path = settings.module_path;
    session_settings.camera = &scene.camera;
    if (!open_session(scene, decl, session_settings, session, error)) {
        if (ranks) dismiss_workers(*ranks);
        return false;
    }

    image.width = area.x1 - area.x0;
    image.height = area.y1 - area.y0;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    const std::vector<Tile> tiles = split_into_tiles({area.x0, area.y0, area.x1, area.y1}, tile_size);
    TileRunSettings run;
    run.context = &session.context;
    run.threads = settings.threads;
    run.progress = settings.progress;
    run.stop = settings.stop;
    JobTileStats job;
    const bool finished = run_job_tiles(
        ranks, tiles, run,
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop, std::vector<unsigned char>& out) {
            return shade_tile(thread, tile, stop, spp, settings.seed, out);
        },
        [&](const Tile& tile, const std::vector<unsigned char>& result) {
            return place_tile(tile, result, area, image);
        },
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
            return render_tile(thread, tile, stop, area, spp, settings.seed, image);
        },
        job, error);
    copy_job_stats(job, stats);
    stats.leaked_blocks += close_session(session).leaked_blocks;
    stats.width = image.width;
    stats.height = image.height;
    stats.samples_per_pixel = spp;
    if (!finished) {
        if (error.empty()) error = "render stopped before it finished";
        return false;
    }
    return true;
}

int render_as_worker(ByteReader& job, const ShaderDeclaration& decl, const WorkerSettings& settings) {
    const bool same_layout = same_declaration_layout(job, decl);
    Scene scene;
    const bool whole = get_scene(job, scene);
    Region area;
    int spp = 1;
    uint32_t seed = 0;
    int32_t threads = 0;
    get(job, area);
    get(job, spp);
    get(job, seed);
    get(job, threads);
    if (!same_layout) {
        report_failure("its shader declaration lays out parameters differently from rank 0's");
        return 1;
    }
    std::string error;
    if (!whole || !job.ok || spp < 1 ||
        !check_region(area, scene.camera.width_px, scene.camera.height_px, error)) {
        report_failure("the job from rank 0 did not arrive whole");
        return 1;
    }
    Session session;
    SessionSettings session_settings;
    session_settings.module_path = settings.module_path;
    session_settings.camera = &scene.camera;
    session_settings.warning_outlet = forward_warning;
    if (!open_session(scene, decl, session_settings, session, error)) {
        report_failure(error);
        return 1;
    }
    const std::vector<Tile> tiles = split_into_tiles({area.x0, area.y0, area.x1, area.y1}, tile_size);
    TileRunSettings run;
    run.context = &session.context;
    run.threads = threads > 0 ? threads : settings.threads;
    run.stop = settings.stop;
    TileRunStats run_stats;
    follow_tiles(
        tiles, run,
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop, std::vector<unsigned char>& out) {
            return shade_tile(thread, tile, stop, spp, seed, out);
        },
        run_stats);
    WorkerTotals totals;
    totals.leaked_blocks = close_session(session).leaked_blocks;
    totals.threads = run_stats.threads;
    totals.signalled = settings.stop && settings.stop->load();
    totals.cpu_seconds = run_stats.cpu_seconds;
    totals.probe_rays = run_stats.probe_rays;
    totals.bad_samples = run_stats.bad_samples;
    report_finished(totals);
    return 0;
}

}  // namespace vosh::render
