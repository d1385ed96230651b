#include "renderer/bake/texel_shading.h"

#include <cmath>

#include "renderer/host/shading.h"
#include "renderer/host/tags.h"
#include "renderer/render/noise_estimate.h"
#include "renderer/trace/sampler.h"

namespace vosh::render {

namespace {

Vec3 corner_position(const ObjectDesc& o, uint32_t vertex) {
    const Vec3 p = o.mesh.positions[vertex];
    return o.has_transform ? transform_point(o.transform, p) : p;
}

bool finite_color(const Color& c) {
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && std::isfinite(c.a);
}

// Texel space, as mi_point_to_raster gives it, over the target's triangle.
void map_texels_over(ThreadContext& thread, const BakeTarget& target, uint32_t triangle) {
    const ObjectDesc& o = *target.desc;
    Vec3 world[3];
    TexelXY texel[3];
    for (int k = 0; k < 3; ++k) {
        const uint32_t v = o.mesh.indices[3 * triangle + k];
        world[k] = corner_position(o, v);
        texel[k] = uv_to_texel((*target.uvs)[v], target.width, target.height);
    }
    thread.raster.world_to_texel = world_to_texel_map(world, texel);
    thread.raster.texel_map = true;
}

// The shader's colour at `hit`, seen by an eye looking straight down the
// shading normal from no distance; through `material` when it is a valid
// index, else the hit object's own.
Color shade_at(ThreadContext& thread, const SurfaceHit& hit, size_t material) {
    HostState& eye = thread.state_at(0);
    describe_hit(eye, nullptr, hit.point, -hit.shading_normal, hit, ray_kind::eye);
    if (material != SIZE_MAX) eye.rs.material_tag = make_tag(TagKind::material, material);
    Color c = shade_surface(eye);
    if (!finite_color(c)) {
        ++thread.bad_samples;
        c = {0, 0, 0, 0};
    }
    return c;
}

// Whether a texel whose shaded values are tallied in `t` may stop: at the
// end of its first round or of a later one, with its error under the
// threshold. Texels do not look at their neighbours (unlike a render's
// pixels), so whether one stops is a function of its own points alone.
bool texel_done(const BakeTarget& target, const SampleTally& t) {
    if (target.noise_threshold <= 0 || t.count < target.first_points ||
        (t.count - target.first_points) % target.round_points != 0)
        return false;
    return error2(t) < target.noise_threshold * target.noise_threshold;
}

void normalise_rgb(float* rgba) {
    const Vec3 mean = normalize(Vec3{rgba[0], rgba[1], rgba[2]});
    rgba[0] = static_cast<float>(mean.x);
    rgba[1] = static_cast<float>(mean.y);
    rgba[2] = static_cast<float>(mean.z);
}

// A texel of a bake from sources: each point projects onto them, and each
// map is made at the source point; points that find no source are left out.
void project_texel(ThreadContext& thread, const BakeTarget& target, const TexelCoverage& coverage, int x,
                   int y, TexelResult& result) {
    const RenderContext& ctx = thread.ctx();
    const ObjectDesc& o = *target.desc;
    double sum[max_bake_maps][4] = {};
    SampleTally shaded[max_bake_maps];  // the stop is decided on the shaded maps alone
    uint32_t found = 0;
    const auto ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
    const auto samples = static_cast<uint32_t>(target.samples);
    for (uint32_t s = 0; s < samples; ++s) {
        result.points = s + 1;
        double at[2];
        cell_position(ux, uy, s, samples, target.seed, at);
        const SurfacePoint point = locate_in_texel(coverage, {x + at[0], y + at[1]});
        SurfaceHit source;
        if (!project_point(*target.sources, *ctx.geometry, target.object, point.triangle, point.b1, point.b2,
                           target.reach, source))
            continue;
        ++found;
        map_texels_over(thread, target, point.triangle);
        uint32_t pass = 0;
        uint64_t probes[max_bake_maps] = {};
        for (int m = 0; m < target.map_count; ++m) {
            Color c{0, 0, 0, 1};
            Vec3 n = source.shading_normal;
            if (target.maps[m] != BakeMap::normal) {
                // Every shaded map of a point takes the same directions, as
                // separate bakes with one seed would.
                thread.begin_sample(ux, uy, s, samples, target.seed);
                const uint64_t probes_before = thread.probes;
                c = shade_at(thread, source, (*target.pass_materials)[source.object] + pass++);
                n = {c.r, c.g, c.b};
                probes[m] = thread.probes - probes_before;
            }
            if (target.maps[m] != BakeMap::ao) {
                n = bent_normal_in_space(n, target.space, o, *target.frames, point.triangle, point.b1, point.b2);
                c = {static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z), c.a};
            }
            sum[m][0] += c.r;
            sum[m][1] += c.g;
            sum[m][2] += c.b;
            sum[m][3] += c.a;
            if (target.maps[m] != BakeMap::normal) add_sample(shaded[m], c, probes[m]);
        }
        if (target.noise_threshold > 0 && pass > 0) {
            bool done = true;
            for (int m = 0; m < target.map_count; ++m)
                done = done && (target.maps[m] == BakeMap::normal || texel_done(target, shaded[m]));
            if (done) break;
        }
    }
    result.missed = found == 0;
    if (result.missed) return;
    for (int m = 0; m < target.map_count; ++m) {
        for (int k = 0; k < 4; ++k) result.rgba[m][k] = static_cast<float>(sum[m][k] / found);
        if (target.maps[m] != BakeMap::ao) normalise_rgb(result.rgba[m]);
    }
}

}  // namespace

Mat4 world_to_texel_map(const Vec3 world[3], const TexelXY texel[3]) {
    const Vec3 e1 = world[1] - world[0], e2 = world[2] - world[0];
    const Vec3 n = normalize(cross(e1, e2));
    // World point = corner 0 + a e1 + b e2 + h n; texel point = texel 0 +
    // a (texel 1 - texel 0) + b (texel 2 - texel 0), with h as depth.
    Mat4 to_weights;
    if (!invert_affine(from_axes(e1, e2, n, world[0]), to_weights)) return Mat4{};
    const Mat4 to_texel =
        from_axes({texel[1].x - texel[0].x, texel[1].y - texel[0].y, 0},
                  {texel[2].x - texel[0].x, texel[2].y - texel[0].y, 0}, {0, 0, 1},
                  {texel[0].x, texel[0].y, 0});
    return to_weights * to_texel;
}

TexelResult bake_texel(ThreadContext& thread, const BakeTarget& target,
                       const std::vector<PlacedTriangle>& placed, int x, int y,
                       TexelCoverage& scratch) {
    TexelResult result;
    cover_texel(placed, x, y, scratch);
    if (!scratch.chosen) return result;
    result.covered = true;
    result.overlapped = scratch.overlapped;
    if (target.project) {
        project_texel(thread, target, scratch, x, y, result);
        return result;
    }
    const RenderContext& ctx = thread.ctx();
    const ObjectDesc& o = *target.desc;
    double sum[4] = {0, 0, 0, 0};
    SampleTally tally;
    const auto ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
    const auto samples = static_cast<uint32_t>(target.samples);
    for (uint32_t s = 0; s < samples && !texel_done(target, tally); ++s) {
        result.points = s + 1;
        // A texel is sampled as a render samples a pixel: the same in-cell
        // positions, and its points share the stratified direction sets.
        double at[2];
        cell_position(ux, uy, s, samples, target.seed, at);
        const SurfacePoint point = locate_in_texel(scratch, {x + at[0], y + at[1]});
        SurfaceHit hit;
        if (!ctx.geometry->surface_at(target.object, point.triangle, point.b1, point.b2, hit)) {
            // A point off the surface counts as a black one, as in the mean.
            if (target.noise_threshold > 0) add_sample(tally, {0, 0, 0, 0}, 0);
            continue;
        }
        thread.begin_sample(ux, uy, s, samples, target.seed);
        map_texels_over(thread, target, point.triangle);
        const uint64_t probes_before = thread.probes;
        Color c = shade_at(thread, hit, SIZE_MAX);
        const uint64_t probes = thread.probes - probes_before;
        if (target.bent) {
            const Vec3 n = bent_normal_in_space({c.r, c.g, c.b}, target.space, o, *target.frames,
                                                point.triangle, point.b1, point.b2);
            c.r = static_cast<float>(n.x);
            c.g = static_cast<float>(n.y);
            c.b = static_cast<float>(n.z);
        }
        sum[0] += c.r;
        sum[1] += c.g;
        sum[2] += c.b;
        sum[3] += c.a;
        if (target.noise_threshold > 0) add_sample(tally, c, probes);
    }
    for (int k = 0; k < 4; ++k) result.rgba[0][k] = static_cast<float>(sum[k] / result.points);
    if (target.bent) normalise_rgb(result.rgba[0]);
    return result;
}

}  // namespace vosh::render
