#include "renderer/bake/bake.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "renderer/bake/padding.h"
#include "renderer/bake/tangent_frame.h"
#include "renderer/bake/texel_layout.h"
#include "renderer/render/adaptive_tile.h"
#include "renderer/render/render.h"
#include "renderer/scene/scene_limits.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

namespace {

constexpr int tile_size = 16;

// Per texel: not covered by the layout, covered, or covered with no point
// that found a source.
enum : uint8_t { texel_uncovered = 0, texel_covered = 1, texel_missed = 2 };

// A bake's maps over some texels (a tile, or the texture), and each
// texel's state and points taken.
struct TexelImages {
    std::vector<Image> maps;
    std::vector<uint8_t> state;
    std::vector<uint32_t> points;
};

void size_images(TexelImages& images, int maps, int width, int height) {
    images.maps.assign(static_cast<size_t>(maps), Image{});
    for (Image& m : images.maps) {
        m.width = width;
        m.height = height;
        m.rgba.assign(static_cast<size_t>(width) * height * 4, 0.0f);
    }
    images.state.assign(static_cast<size_t>(width) * height, texel_uncovered);
    images.points.assign(static_cast<size_t>(width) * height, 0);
}

struct TileCounts {
    std::atomic<uint64_t> covered{0}, overlapped{0};
};

// The texels of one tile into `images`, which start at texel (x0, y0) of
// the texture.
bool bake_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const BakeTarget& target,
               const TexelLayout& layout, int x0, int y0, TexelImages& images, TileCounts& counts) {
    TexelCoverage scratch;
    const auto& placed = layout.tiles[static_cast<size_t>(tile.y0 / tile_size) * layout.tiles_x +
                                      tile.x0 / tile_size];
    const int width = images.maps[0].width;
    uint64_t covered_here = 0, overlapped_here = 0;
    for (int y = tile.y0; y < tile.y1; ++y)
        for (int x = tile.x0; x < tile.x1; ++x) {
            // One texel is the longest a stop waits for.
            if (stop_requested(stop)) return false;
            const TexelResult r = bake_texel(thread, target, placed, x, y, scratch);
            const size_t i = static_cast<size_t>(y - y0) * width + (x - x0);
            images.state[i] = !r.covered ? texel_uncovered : r.missed ? texel_missed : texel_covered;
            images.points[i] = r.points;
            covered_here += r.covered;
            overlapped_here += r.overlapped;
            for (size_t m = 0; m < images.maps.size(); ++m)
                std::copy(r.rgba[m], r.rgba[m] + 4, &images.maps[m].rgba[i * 4]);
        }
    counts.covered += covered_here;
    counts.overlapped += overlapped_here;
    return true;
}

// Unit vectors as the file stores them: mapped into [0, 1] for a PNG, raw
// for an EXR; y negated for the y-down convention.
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

// A bake's settings as the other ranks receive them (no padding bytes).
struct BakeJob {
    uint32_t object = 0;
    int32_t uv_set = 0;
    int32_t width = 0, height = 0;
    int32_t samples = 1;
    uint32_t seed = 0;
    BakeSpace space = BakeSpace::tangent;
    uint32_t project = 0;
    int32_t map_count = 1;
    uint32_t maps[max_bake_maps] = {0, 0, 0};
    uint32_t cage = no_object;
    uint32_t first_pass_material = 0;
    double front = 0, back = 0;
    double noise_threshold = 0;  // 0: every texel takes every point
    int32_t min_samples = 1;
    uint32_t unused = 0;  // keeps the record free of padding bytes
};

AdaptiveSampling sampling_of(const BakeJob& job) { return {job.noise_threshold, job.min_samples, job.samples}; }

// What a bake of `object` shades, over the frames, layout and source
// geometry it needs.
struct BakePlan {
    BakeTarget target;
    std::vector<TangentFrame> frames;
    TexelLayout layout;
    SceneGeometry sources;
    std::vector<uint32_t> pass_materials;  // per object; see BakeTarget
};

int shaded_maps(const BakeJob& job) {
    int n = 0;
    for (int m = 0; m < job.map_count; ++m) n += job.maps[m] != static_cast<uint32_t>(BakeMap::normal);
    return n;
}

bool plan_bake(const Scene& scene, const ShaderDeclaration& decl, const BakeJob& job, BakePlan& plan,
               std::string& error) {
    const ObjectDesc& object = scene.objects[job.object];
    BakeTarget& target = plan.target;
    target.object = job.object;
    target.desc = &object;
    target.uvs = job.uv_set == 0 ? &object.mesh.uvs : &object.mesh.extra_uvs[job.uv_set - 1];
    target.width = job.width;
    target.height = job.height;
    target.samples = job.samples;
    target.seed = job.seed;
    target.noise_threshold = job.noise_threshold;
    target.first_points = first_round(sampling_of(job));
    target.round_points = static_cast<uint32_t>(job.min_samples);
    target.bent = !job.project && bakes_bent_normals(scene, decl, job.object);
    target.space = job.space;
    target.project = job.project != 0;
    target.map_count = job.project ? job.map_count : 1;
    bool vectors = target.bent;
    for (int m = 0; job.project && m < job.map_count; ++m) {
        target.maps[m] = static_cast<BakeMap>(job.maps[m]);
        vectors = vectors || target.maps[m] != BakeMap::ao;
    }
    if (vectors && target.space == BakeSpace::tangent)
        plan.frames = tangent_frames(object.mesh, *target.uvs, job.uv_set == 0);
    target.frames = &plan.frames;
    plan.layout = layout_texels(*target.uvs, object.mesh.indices, job.width, job.height, tile_size);
    if (!job.project) return true;
    target.reach = {job.cage, job.front, job.back};
    uint32_t next = job.first_pass_material;
    plan.pass_materials.assign(scene.objects.size(), 0);
    for (size_t i = 0; i < scene.objects.size(); ++i)
        if (scene.objects[i].bake_role == BakeRole::source) {
            plan.pass_materials[i] = next;
            next += static_cast<uint32_t>(shaded_maps(job));
        }
    target.pass_materials = &plan.pass_materials;
    target.sources = &plan.sources;
    return plan.sources.build(scene, error, SceneGeometry::Traced::sources);
}

// A tile's texels as bytes: how many lie under overlapping UVs, each map's
// colours, each texel's state, then its points.
bool shade_tile(ThreadContext& thread, const Tile& tile, const StopFlag& stop, const BakePlan& plan,
                std::vector<unsigned char>& result) {
    TexelImages texels;
    size_images(texels, plan.target.map_count, tile.x1 - tile.x0, tile.y1 - tile.y0);
    TileCounts counts;
    if (!bake_tile(thread, tile, stop, plan.target, plan.layout, tile.x0, tile.y0, texels, counts)) return false;
    ByteWriter w;
    put(w, counts.overlapped.load());
    for (const Image& m : texels.maps) {
        const auto* rgba = reinterpret_cast<const unsigned char*>(m.rgba.data());
        w.bytes.insert(w.bytes.end(), rgba, rgba + m.rgba.size() * sizeof(float));
    }
    w.bytes.insert(w.bytes.end(), texels.state.begin(), texels.state.end());
    const auto* points = reinterpret_cast<const unsigned char*>(texels.points.data());
    w.bytes.insert(w.bytes.end(), points, points + texels.points.size() * sizeof(uint32_t));
    result = std::move(w.bytes);
    return true;
}

bool place_tile(const Tile& tile, const std::vector<unsigned char>& result, TexelImages& images,
                TileCounts& counts) {
    const size_t row = static_cast<size_t>(tile.x1 - tile.x0);
    const size_t n = row * static_cast<size_t>(tile.y1 - tile.y0);
    const size_t maps = images.maps.size(), width = static_cast<size_t>(images.maps[0].width);
    if (result.size() != sizeof(uint64_t) + n * (maps * 4 * sizeof(float) + 1 + sizeof(uint32_t))) return false;
    ByteReader r = reader_of(result);
    uint64_t overlapped = 0;
    get(r, overlapped);
    const unsigned char* state = r.at + maps * n * 4 * sizeof(float);
    const unsigned char* points = state + n;
    uint64_t covered_here = 0;
    for (int y = tile.y0; y < tile.y1; ++y) {
        const size_t from = static_cast<size_t>(y - tile.y0) * row;
        const size_t to = static_cast<size_t>(y) * width + tile.x0;
        for (size_t m = 0; m < maps; ++m)
            std::memcpy(&images.maps[m].rgba[to * 4], r.at + (m * n + from) * 4 * sizeof(float),
                        row * 4 * sizeof(float));
        for (size_t x = 0; x < row; ++x) {
            const uint8_t s = state[from + x];
            images.state[to + x] = s == texel_missed ? texel_missed : s ? texel_covered : texel_uncovered;
            covered_here += s != texel_uncovered;
        }
        std::memcpy(&images.points[to], points + from * sizeof(uint32_t), row * sizeof(uint32_t));
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

// After the gather (the gutters reach across tiles): vectors encoded,
// gutters filled from the texels that found a surface, missed texels back
// to the background.
void finish_maps(const BakePlan& plan, const BakeSettings& settings, TexelImages& images, BakedMaps& out) {
    std::vector<uint8_t> covered(images.state.size()), missed(images.state.size());
    for (size_t i = 0; i < images.state.size(); ++i) {
        covered[i] = images.state[i] == texel_covered;
        missed[i] = images.state[i] == texel_missed;
    }
    for (size_t m = 0; m < images.maps.size(); ++m) {
        Image& image = images.maps[m];
        const bool vectors = plan.target.project ? plan.target.maps[m] != BakeMap::ao : plan.target.bent;
        if (vectors) store_normals(image, covered, settings.normals_to_unit, settings.flip_y);
        pad_texture(image, covered, settings.padding, settings.background);
        const float bg[4] = {settings.background.r, settings.background.g, settings.background.b,
                             settings.background.a};
        for (size_t i = 0; i < missed.size(); ++i)
            if (missed[i]) std::copy(bg, bg + 4, &image.rgba[i * 4]);
    }
    out.maps = std::move(images.maps);
    out.missed = std::move(missed);
    out.points = std::move(images.points);
}

BakeJob job_of(const BakeSettings& settings) {
    BakeJob job;
    job.object = settings.object;
    job.uv_set = settings.uv_set;
    job.width = settings.width;
    job.height = settings.height;
    job.samples = settings.samples;
    job.seed = settings.seed;
    job.space = settings.space;
    job.noise_threshold = settings.noise_threshold;
    job.min_samples = settings.min_samples > 0 ? std::min(settings.min_samples, settings.samples)
                                               : default_min_samples(settings.samples);
    if (!settings.project) return job;
    job.project = 1;
    job.map_count = static_cast<int32_t>(std::min<size_t>(settings.maps.size(), max_bake_maps));
    for (int m = 0; m < job.map_count; ++m) job.maps[m] = static_cast<uint32_t>(settings.maps[m]);
    job.cage = settings.reach.cage;
    job.front = settings.reach.front;
    job.back = settings.reach.back;
    job.first_pass_material = settings.first_pass_material;
    return job;
}

// Whether a projected job's record makes sense for `scene`.
bool projection_arrived_whole(const BakeJob& job, const Scene& scene) {
    if (!job.project) return true;
    if (job.map_count < 1 || job.map_count > max_bake_maps) return false;
    for (int m = 0; m < job.map_count; ++m)
        if (job.maps[m] > static_cast<uint32_t>(BakeMap::normal)) return false;
    const size_t sources = static_cast<size_t>(std::count_if(
        scene.objects.begin(), scene.objects.end(), [](const ObjectDesc& o) { return o.bake_role == BakeRole::source; }));
    std::string error;
    return std::isfinite(job.front) && std::isfinite(job.back) && job.front >= 0 && job.back >= 0 &&
           (job.cage == no_object || job.cage < scene.objects.size()) &&
           job.first_pass_material + sources * static_cast<size_t>(shaded_maps(job)) <= scene.materials.size() &&
           check_projection(scene, job.object, job.cage, error);
}

}  // namespace

bool bake_maps(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings,
               BakedMaps& out, BakeStats& stats, std::string& error) {
    const BakeJob job = job_of(settings);
    const auto plan = std::make_shared<BakePlan>();
    if (!plan_bake(scene, decl, job, *plan, error)) return false;
    if (!covers_any_texel(plan->layout)) {  // an empty map is no bake: refused, nothing written
        error = scene.file + ": object \"" + scene.objects[job.object].name +
                "\": " + why_no_texel_covered(plan->layout);
        stats.bad_input = true;
        return false;
    }
    TexelImages images;
    size_images(images, plan->target.map_count, settings.width, settings.height);
    TileCounts counts;

    JobPieces pieces = bake_pieces(plan, job);
    pieces.place = [&](const Tile& tile, const std::vector<unsigned char>& result) {
        return place_tile(tile, result, images, counts);
    };
    pieces.work = [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
        return bake_tile(thread, tile, stop, plan->target, plan->layout, 0, 0, images, counts);
    };
    const bool finished = run_job(scene, decl, settings, job_record(JobKind::bake, job), pieces, stats, error);
    stats.width = settings.width;
    stats.height = settings.height;
    stats.samples = settings.samples;
    stats.noise_threshold = job.noise_threshold;
    stats.min_samples = job.noise_threshold > 0 ? static_cast<int>(first_round(sampling_of(job))) : job.samples;
    stats.bent = plan->target.bent;
    stats.covered_texels = counts.covered.load();
    uint64_t points = 0;
    for (const uint32_t p : images.points) points += p;
    stats.mean_samples = stats.covered_texels ? static_cast<double>(points) / stats.covered_texels : 0;
    stats.overlapped_texels = counts.overlapped.load();
    stats.wrapped_triangles = plan->layout.wrapped_triangles;
    stats.unusable_triangles = plan->layout.unusable_triangles;
    stats.missed_texels = static_cast<uint64_t>(std::count(images.state.begin(), images.state.end(), texel_missed));
    if (!finished) return false;
    finish_maps(*plan, settings, images, out);
    return true;
}

bool bake_object(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings,
                 Image& image, BakeStats& stats, std::string& error) {
    BakedMaps out;
    if (!bake_maps(scene, decl, settings, out, stats, error)) return false;
    image = std::move(out.maps[0]);
    return true;
}

bool read_bake_job(ByteReader& settings, const Scene& scene, const ShaderDeclaration& decl, JobPieces& pieces) {
    BakeJob job;
    get(settings, job);
    std::string error;
    if (!settings.ok || job.width < 1 || job.height < 1 || job.width > max_bake_size ||
        job.height > max_bake_size || job.samples < 1 ||
        !(job.noise_threshold >= 0 && job.noise_threshold <= max_noise_threshold) || job.min_samples < 1 ||
        job.min_samples > job.samples || job.object >= scene.objects.size() ||
        !check_bake_target(scene, job.object, job.uv_set, error) || !projection_arrived_whole(job, scene))
        return false;
    const auto plan = std::make_shared<BakePlan>();
    if (!plan_bake(scene, decl, job, *plan, error)) return false;
    pieces = bake_pieces(plan, job);
    return true;
}

}  // namespace vosh::render
