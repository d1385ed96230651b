// Shading one texel of a bake: its points, the render state at each of
// them, and the average.
#pragma once

#include <cstdint>
#include <vector>

#include "renderer/bake/projection.h"
#include "renderer/bake/tangent_frame.h"
#include "renderer/bake/texel_coverage.h"
#include "renderer/host/thread_context.h"
#include "renderer/scene/scene.h"

namespace vosh::render {

// The maps a bake from high-poly sources makes: occlusion and bent normals
// from the sources' shaders, and the sources' own normals.
enum class BakeMap : uint8_t { ao, bent, normal };
constexpr int max_bake_maps = 3;

// What a bake shades: one mesh object of the scene through one UV set.
struct BakeTarget {
    uint32_t object = 0;
    const ObjectDesc* desc = nullptr;
    const std::vector<Vec3>* uvs = nullptr;  // the UV set baked, per vertex
    int width = 0, height = 0;
    int samples = 1;  // points per texel, the most with a threshold
    // > 0: a texel stops, after first_points and then after every further
    // round_points, once its error estimate is under the threshold.
    double noise_threshold = 0;
    uint32_t first_points = 1, round_points = 1;
    uint32_t seed = 0;  // the sampler's, as a render's --seed
    // The shader's result is a world-space bent normal that the host turns
    // into `space`; otherwise it is stored as it comes.
    bool bent = false;
    BakeSpace space = BakeSpace::tangent;
    const std::vector<TangentFrame>* frames = nullptr;  // per triangle corner, for tangent space
    // A bake from sources: each point projects onto them (`sources` traces
    // only those) and each map is shaded there. Pass p of source object o
    // (the p-th of the shaded maps) runs material (*pass_materials)[o] + p.
    bool project = false;
    const SceneGeometry* sources = nullptr;
    ProjectionReach reach;
    BakeMap maps[max_bake_maps] = {BakeMap::ao, BakeMap::bent, BakeMap::normal};
    int map_count = 1;
    const std::vector<uint32_t>* pass_materials = nullptr;
};

// Affine map from world space to texel space over the plane of a mesh
// triangle: (x, y) the texel position of the point's projection onto the
// plane, z its height above the plane along the geometric normal, in world
// units. Corners in world space and texel space.
Mat4 world_to_texel_map(const Vec3 world[3], const TexelXY texel[3]);

struct TexelResult {
    bool covered = false;
    bool overlapped = false;
    bool missed = false;  // projected: covered, but no point found a source
    uint32_t points = 0;  // points taken
    float rgba[max_bake_maps][4] = {};  // per map (the one map of a bake without sources)
};

// Shades texel (x, y) from the placements of its tile, projected onto the
// sources when the target says so. `scratch` is reused between calls to
// spare allocations.
TexelResult bake_texel(ThreadContext& thread, const BakeTarget& target,
                       const std::vector<PlacedTriangle>& placed, int x, int y,
                       TexelCoverage& scratch);

}  // namespace vosh::render
