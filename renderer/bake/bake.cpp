#include "renderer/bake/bake.h"

#include <algorithm>

#include "renderer/bake/padding.h"
#include "renderer/bake/tangent_frame.h"
#include "renderer/bake/texel_layout.h"
#include "renderer/work/session.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

namespace {

constexpr int tile_size = 16;

struct TileCounts {
    std::atomic<uint64_t> covered{0}, overlapped{0};
};

// The texels of one tile; their coverage goes to `covered`.
bool bake_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const BakeTarget& target,
               const TexelLayout& layout, Image& image, std::vector<uint8_t>& covered, TileCounts& counts) {
    TexelCoverage scratch;
    const auto& placed = layout.tiles[static_cast<size_t>(tile.y0 / tile_size) * layout.tiles_x +
                                      tile.x0 / tile_size];
    uint64_t covered_here = 0, overlapped_here = 0;
    for (int y = tile.y0; y < tile.y1; ++y)
        for (int x = tile.x0; x < tile.x1; ++x) {
            // One texel is the longest a stop waits for.
            if (stop_requested(stop)) return false;
            const TexelResult r = bake_texel(thread, target, placed, x, y, scratch);
            const size_t i = static_cast<size_t>(y) * layout.width + x;
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

}  // namespace

bool bake_object(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings,
                 Image& image, BakeStats& stats, std::string& error) {
    const ObjectDesc& object = scene.objects[settings.object];
    BakeTarget target;
    target.object = settings.object;
    target.desc = &object;
    target.uvs = settings.uv_set == 0 ? &object.mesh.uvs : &object.mesh.extra_uvs[settings.uv_set - 1];
    target.width = settings.width;
    target.height = settings.height;
    target.samples = settings.samples;
    target.seed = settings.seed;
    target.bent = bakes_bent_normals(scene, decl, settings.object);
    target.space = settings.space;
    std::vector<TangentFrame> frames;
    if (target.bent && target.space == BakeSpace::tangent)
        frames = tangent_frames(object.mesh, *target.uvs, settings.uv_set == 0);
    target.frames = &frames;
    const TexelLayout layout =
        layout_texels(*target.uvs, object.mesh.indices, settings.width, settings.height, tile_size);

    Session session;
    SessionSettings session_settings;
    session_settings.module_path = settings.module_path;
    if (!open_session(scene, decl, session_settings, session, error)) return false;
    // No camera: camera space is world space, raster space is texel space
    // and the camera record gives the texture's size.
    session.context.camera_record = {settings.width, settings.height};

    image.width = settings.width;
    image.height = settings.height;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    std::vector<uint8_t> covered(static_cast<size_t>(image.width) * image.height, 0);
    const std::vector<Tile> tiles = split_into_tiles({0, 0, settings.width, settings.height}, tile_size);
    TileRunSettings run;
    run.threads = settings.threads;
    run.progress = settings.progress;
    run.stop = settings.stop;
    TileRunStats run_stats;
    TileCounts counts;
    const bool finished = run_tiles(
        tiles, run,
        [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
            return bake_tile(thread, tile, stop, target, layout, image, covered, counts);
        },
        run_stats);
    stats.leaked_blocks = close_session(session).leaked_blocks;

    stats.width = image.width;
    stats.height = image.height;
    stats.samples = settings.samples;
    stats.threads = run_stats.threads;
    stats.bent = target.bent;
    stats.seconds = run_stats.seconds;
    stats.cpu_seconds = run_stats.cpu_seconds;
    stats.probe_rays = run_stats.probe_rays;
    stats.bad_samples = run_stats.bad_samples;
    stats.covered_texels = counts.covered.load();
    stats.overlapped_texels = counts.overlapped.load();
    stats.wrapped_triangles = layout.wrapped_triangles;
    stats.unusable_triangles = layout.unusable_triangles;
    if (!finished) {
        stats.interrupted = true;
        error = "bake stopped before it finished";
        return false;
    }
    if (target.bent) store_normals(image, covered, settings.normals_to_unit, settings.flip_y);
    pad_texture(image, covered, settings.padding, settings.background);
    return true;
}

}  // namespace vosh::render
