#include "renderer/bake/bake.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "renderer/bake/padding.h"
#include "renderer/bake/tangent_frame.h"
#include "renderer/bake/texel_layout.h"
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

// A bake's settings as the other ranks receive them.
struct BakeJob {
    uint32_t object = 0;
    int32_t uv_set = 0;
    int32_t width = 0, height = 0;
    int32_t samples = 1;
    uint32_t seed = 0;
    BakeSpace space = BakeSpace::tangent;
};

// What a bake of `object` shades, over the frames and layout it needs.
struct BakePlan {
    BakeTarget target;
    std::vector<TangentFrame> frames;
    TexelLayout layout;
};

void plan_bake(const Scene& scene, const ShaderDeclaration& decl, const BakeJob& job, BakePlan& plan) {
    const ObjectDesc& object = scene.objects[job.object];
    BakeTarget& target = plan.target;
    target.object = job.object;
    target.desc = &object;
    target.uvs = job.uv_set == 0 ? &object.mesh.uvs : &object.mesh.extra_uvs[job.uv_set - 1];
    target.width = job.width;
    target.height = job.height;
    target.samples = job.samples;
    target.seed = job.seed;
    target.bent = bakes_bent_normals(scene, decl, job.object);
    target.space = job.space;
    if (target.bent && target.space == BakeSpace::tangent)
        plan.frames = tangent_frames(object.mesh, *target.uvs, job.uv_set == 0);
    target.frames = &plan.frames;
    plan.layout = layout_texels(*target.uvs, object.mesh.indices, job.width, job.height, tile_size);
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

// What every rank of a bake needs: its texels and how they are shaded.
JobPieces bake_pieces(const std::shared_ptr<const BakePlan>& plan, const BakeJob& job) {
    JobPieces pieces;
    pieces.name = "bake";
    pieces.tiles = split_into_tiles({0, 0, job.width, job.height}, tile_size);
    pieces.raster_width = job.width;
    pieces.raster_height = job.height;
    pieces.shade = [plan](ThreadContext& thread, const Tile& tile, const StopFlag& stop,
                          std::vector<unsigned char>& out) { return shade_tile(thread, tile, stop, *plan, out); };
    return pieces;
}

}  // namespace

bool bake_object(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings,
                 Image& image, BakeStats& stats, std::string& error) {
    BakeJob job;
    job.object = settings.object;
    job.uv_set = settings.uv_set;
    job.width = settings.width;
    job.height = settings.height;
    job.samples = settings.samples;
    job.seed = settings.seed;
    job.space = settings.space;
    const auto plan = std::make_shared<BakePlan>();
    plan_bake(scene, decl, job, *plan);
    if (!covers_any_texel(plan->layout)) {  // an empty map is no bake: refused, nothing written
        error = scene.file + ": object \"" + scene.objects[job.object].name +
                "\": " + why_no_texel_covered(plan->layout);
        stats.bad_input = true;
        return false;
    }
    image.width = settings.width;
    image.height = settings.height;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    std::vector<uint8_t> covered(static_cast<size_t>(image.width) * image.height, 0);
    TileCounts counts;

    JobPieces pieces = bake_pieces(plan, job);
    pieces.place = [&](const Tile& tile, const std::vector<unsigned char>& result) {
        return place_tile(tile, result, image, covered, counts);
    };
    pieces.work = [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
        return bake_tile(thread, tile, stop, plan->target, plan->layout, 0, 0, image, covered, counts);
    };
    const bool finished = run_job(scene, decl, settings, job_record(JobKind::bake, job), pieces, stats, error);
    stats.width = image.width;
    stats.height = image.height;
    stats.samples = settings.samples;
    stats.bent = plan->target.bent;
    stats.covered_texels = counts.covered.load();
    stats.overlapped_texels = counts.overlapped.load();
    stats.wrapped_triangles = plan->layout.wrapped_triangles;
    stats.unusable_triangles = plan->layout.unusable_triangles;
    if (!finished) return false;
    // After the gather: the gutters reach across tiles.
    if (plan->target.bent) store_normals(image, covered, settings.normals_to_unit, settings.flip_y);
    pad_texture(image, covered, settings.padding, settings.background);
    return true;
}

bool read_bake_job(ByteReader& settings, const Scene& scene, const ShaderDeclaration& decl, JobPieces& pieces) {
    BakeJob job;
    get(settings, job);
    std::string error;
    if (!settings.ok || job.width < 1 || job.height < 1 || job.width > max_bake_size ||
        job.height > max_bake_size || job.samples < 1 || job.object >= scene.objects.size() ||
        !check_bake_target(scene, job.object, job.uv_set, error))
        return false;
    const auto plan = std::make_shared<BakePlan>();
    plan_bake(scene, decl, job, *plan);
    pieces = bake_pieces(plan, job);
    return true;
}

}  // namespace vosh::render
