#include "renderer/bake/bake.h"

#include <algorithm>
#include <cstring>

#include "renderer/bake/padding.h"
#include "renderer/bake/tangent_frame.h"
#include "renderer/bake/texel_layout.h"
#include "renderer/work/distributed.h"
#include "renderer/work/scene_wire.h"
#include "renderer/work/session.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

namespace {

constexpr int tile_size = 16;

struct TileCounts {
    std::atomic<uint64_t> covered{0}, overlapped{0};
};

// The texels of one tile into `image` and `covered`, which start at texel
// (x0, y0) of the texture.
bool bake_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const BakeTarget& target,
               const TexelLayout& layout, int x0, int y0, Image& image, std::vector<uint8_t>& covered,
               TileCounts& counts) {
    TexelCoverage scratch;
    const auto& placed = layout.tiles[static_cast<size_t>(tile.y0 / tile_size) * layout.tiles_x +
                                      tile.x0 / tile_size];
    uint64_t covered_here = 0, overlapped_here = 0;
    for (int y = tile.y0; y < tile.y1; ++y)
        for (int x = tile.x0; x < tile.x1; ++x) {
            // One texel is the longest a stop waits for.
            if (stop_requested(stop)) return false;
            const TexelResult r = bake_texel(thread, target, placed, x, y, scratch);
            const size_t i = static_cast<size_t>(y - y0) * image.width + (x - x0);
            covered[i] = r.covered ? 1 : 0;
            covered_here += r.covered;
            overlapped_here += r.overlapped;
            std::copy(r.rgba, r.rgba + 4, &image.rgba[i * 4]);
        }
    counts.covered += covered_here;
    counts.overlapped += overlapped_here;
    return true;
}

// Bent normals as the file stores them: unit vectors mapped into [0, 1] for
// a PNG, raw for an EXR; y negated for the y-down convention.
void store_normals(Image& image, const std::vector<uint8_t>& covered, bool to_unit, bool y_down) {
    for (size_t i = 0; i < covered.size(); ++i) {
        if (!covered[i]) continue;
        float* t = &image.rgba[i * 4];
        Vec3 n{t[0], t[1], t[2]};
        if (to_unit)
            n = encode_unit_vector(n, y_down);
        else if (y_down)
            n.y = -n.y;
        t[0] = static_cast<float>(n.x);
        t[1] = static_cast<float>(n.y);
        t[2] = static_cast<float>(n.z);
    }
}

// What a bake of `object` shades, over the frames and layout it needs.
struct BakePlan {
    BakeTarget target;
    std::vector<TangentFrame> frames;
    TexelLayout layout;
};

void plan_bake(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings, BakePlan& plan) {
    const ObjectDesc& object = scene.objects[settings.object];
    BakeTarget& target = plan.target;
    target.object = settings.object;
    target.desc = &object;
    target.uvs = settings.uv_set == 0 ? &object.mesh.uvs : &object.mesh.extra_uvs[settings.uv_set - 1];
    target.width = settings.width;
    target.height = settings.height;
    target.samples = settings.samples;
    target.seed = settings.seed;
    target.bent = bakes_bent_normals(scene, decl, settings.object);
    target.space = settings.space;
    if (target.bent && target.space == BakeSpace::tangent)
        plan.frames = tangent_frames(object.mesh, *target.uvs, settings.uv_set == 0);
    target.frames = &plan.frames;
    plan.layout = layout_texels(*target.uvs, object.mesh.indices, settings.width, settings.height, tile_size);
}

// A tile's texels as bytes: how many lie under overlapping UVs, their
// colours, their coverage.
bool shade_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const BakePlan& plan,
                std::vector<unsigned char>& result) {
    Image texels;
    texels.width = tile.x1 - tile.x0;
    texels.height = tile.y1 - tile.y0;
    const size_t n = static_cast<size_t>(texels.width) * texels.height;
    texels.rgba.assign(n * 4, 0.0f);
    std::vector<uint8_t> covered(n, 0);
    TileCounts counts;
    if (!bake_tile(thread, tile, stop, plan.target, plan.layout, tile.x0, tile.y0, texels, covered, counts))
        return false;
    ByteWriter w;
    put(w, counts.overlapped.load());
    const auto* rgba = reinterpret_cast<const unsigned char*>(texels.rgba.data());
    w.bytes.insert(w.bytes.end(), rgba, rgba + n * 4 * sizeof(float));
    w.bytes.insert(w.bytes.end(), covered.begin(), covered.end());
    result = std::move(w.bytes);
    return true;
}

bool place_tile(const Tile& tile, const std::vector<unsigned char>& result, Image& image,
                std::vector<uint8_t>& covered, TileCounts& counts) {
    const size_t row = static_cast<size_t>(tile.x1 - tile.x0);
    const size_t n = row * static_cast<size_t>(tile.y1 - tile.y0);
    if (result.size() != sizeof(uint64_t) + n * (4 * sizeof(float) + 1)) return false;
    ByteReader r = reader_of(result);
    uint64_t overlapped = 0;
    get(r, overlapped);
    const unsigned char* rgba = r.at;
    const unsigned char* cover = rgba + n * 4 * sizeof(float);
    uint64_t covered_here = 0;
    for (int y = tile.y0; y < tile.y1; ++y) {
        const size_t from = static_cast<size_t>(y - tile.y0) * row;
        const size_t to = static_cast<size_t>(y) * image.width + tile.x0;
        std::memcpy(&image.rgba[to * 4], rgba + from * 4 * sizeof(float), row * 4 * sizeof(float));
        for (size_t x = 0; x < row; ++x) {
            covered[to + x] = cover[from + x] ? 1 : 0;
            covered_here += covered[to + x];
        }
    }
    counts.covered += covered_here;
    counts.overlapped += overlapped;
    return true;
}

std::vector<unsigned char> bake_job(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& s) {
    ByteWriter w;
    put(w, JobKind::bake);
    put_declaration_layout(w, decl);
    put_scene(w, scene);
    put(w, s.object);
    put(w, s.uv_set);
    put(w, s.width);
    put(w, s.height);
    put(w, s.samples);
    put(w, s.seed);
    put(w, s.space);
    put(w, static_cast<int32_t>(s.worker_threads));
    return std::move(w.bytes);
}

}  // namespace

bool bake_object(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings,
                 Image& image, BakeStats& stats, std::string& error) {
    BakePlan plan;
    plan_bake(scene, decl, settings, plan);
    const Ranks* ranks = settings.ranks;
    if (ranks) share_job(bake_job(scene, decl, settings));

    Session session;
    SessionSettings session_settings;
    session_settings.module_path = settings.module_path;
    if (!open_session(scene, decl, session_settings, session, error)) {
        if (ranks) dismiss_workers(*ranks);
        return false;
    }
    // No camera: camera space is world space, raster space is texel space
    // and the camera record gives the texture's size.
    session.context.camera_record = {settings.width, settings.height};

    image.width = settings.width;
    image.height = settings.height;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    std::vector<uint8_t> covered(static_cast<size_t>(image.width) * image.height, 0);
    const std::vector<Tile> tiles = split_into_tiles({0, 0, settings.width, settings.height}, tile_size);
    TileRunSettings run;
    run.context = &session.context;
    run.threads = settings.threads;
    run.progress = settings.progress;
    run.stop = settings.stop;
    TileCounts counts;
    JobTileStats job;
    const bool finished = run_job_tiles(
        ranks, tiles, run,
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop, std::vector<unsigned char>& out) {
            return shade_tile(thread, tile, stop, plan, out);
        },
        [&](const Tile& tile, const std::vector<unsigned char>& result) {
            return place_tile(tile, result, image, covered, counts);
        },
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
            return bake_tile(thread, tile, stop, plan.target, plan.layout, 0, 0, image, covered, counts);
        },
        job, error);
    copy_job_stats(job, stats);
    stats.leaked_blocks += close_session(session).leaked_blocks;

    stats.width = image.width;
    stats.height = image.height;
    stats.samples = settings.samples;
    stats.bent = plan.target.bent;
    stats.covered_texels = counts.covered.load();
    stats.overlapped_texels = counts.overlapped.load();
    stats.wrapped_triangles = plan.layout.wrapped_triangles;
    stats.unusable_triangles = plan.layout.unusable_triangles;
    if (!finished) {
        if (error.empty()) error = "bake stopped before it finished";
        return false;
    }
    // After the gather: the gutters reach across tiles.
    if (plan.target.bent) store_normals(image, covered, settings.normals_to_unit, settings.flip_y);
    pad_texture(image, covered, settings.padding, settings.background);
    return true;
}

int bake_as_worker(ByteReader& job, const ShaderDeclaration& decl, const WorkerSettings& worker) {
    const bool same_layout = same_declaration_layout(job, decl);
    Scene scene;
    const bool whole = get_scene(job, scene);
    BakeSettings settings;
    int32_t threads = 0;
    get(job, settings.object);
    get(job, settings.uv_set);
    get(job, settings.width);
    get(job, settings.height);
    get(job, settings.samples);
    get(job, settings.seed);
    get(job, settings.space);
    get(job, threads);
    if (!same_layout) {
        report_failure("its shader declaration lays out parameters differently from rank 0's");
        return 1;
    }
    std::string error;
    if (!whole || !job.ok || settings.width < 1 || settings.height < 1 || settings.width > max_bake_size ||
        settings.height > max_bake_size || settings.samples < 1 ||
        !check_bake_target(scene, settings.object, settings.uv_set, error)) {
        report_failure("the job from rank 0 did not arrive whole");
        return 1;
    }
    BakePlan plan;
    plan_bake(scene, decl, settings, plan);
    Session session;
    SessionSettings session_settings;
    session_settings.module_path = worker.module_path;
    session_settings.warning_outlet = forward_warning;
    if (!open_session(scene, decl, session_settings, session, error)) {
        report_failure(error);
        return 1;
    }
    session.context.camera_record = {settings.width, settings.height};
    const std::vector<Tile> tiles = split_into_tiles({0, 0, settings.width, settings.height}, tile_size);
    TileRunSettings run;
    run.context = &session.context;
    run.threads = threads > 0 ? threads : worker.threads;
    run.stop = worker.stop;
    TileRunStats run_stats;
    follow_tiles(
        tiles, run,
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop, std::vector<unsigned char>& out) {
            return shade_tile(thread, tile, stop, plan, out);
        },
        run_stats);
    WorkerTotals totals;
    totals.leaked_blocks = close_session(session).leaked_blocks;
    totals.threads = run_stats.threads;
    totals.signalled = worker.stop && worker.stop->load();
    totals.cpu_seconds = run_stats.cpu_seconds;
    totals.probe_rays = run_stats.probe_rays;
    totals.bad_samples = run_stats.bad_samples;
    report_finished(totals);
    return 0;
}

}  // namespace vosh::render
