// A bake: the shader's results over the texels of one mesh object's UV
// layout, where a render takes them over the pixels of a camera. The module
// is called exactly as in a render; only the shading points differ.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "renderer/bake/texel_shading.h"
#include "renderer/image/image_io.h"
#include "renderer/work/bytes.h"
#include "renderer/work/job.h"
#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

constexpr int max_bake_size = 16384;

struct BakeSettings : JobRunSettings {
    uint32_t object = 0;
    int uv_set = 0;
    int width = 1024, height = 1024;
    int padding = 16;  // texels of gutter around every island
    int samples = 4;   // points per texel
    // Adaptive sampling, per texel as a render's per pixel: a texel stops
    // once its estimated error is under the threshold; 0 takes every point.
    double noise_threshold = 0;
    int min_samples = 0;  // before any texel may stop; 0: default_min_samples
    uint32_t seed = 0;  // another seed gives an independent bake
    Color background{0, 0, 0, 0};
    // Bent normals: the space, and how the vectors are stored.
    BakeSpace space = BakeSpace::tangent;
    bool normals_to_unit = false;  // n * 0.5 + 0.5, for PNG
    bool flip_y = false;           // the y-down normal map convention
    // A bake from high-poly sources (the scene's objects with role source,
    // prepared by prepare_projection): the reach of the projection rays and
    // the maps, in order.
    bool project = false;
    ProjectionReach reach{no_object, -1, -1};  // a negative front or back: default_reach
    std::vector<BakeMap> maps;
    uint32_t first_pass_material = 0;  // see prepare_projection
};

struct BakeStats : JobStats {
    int width = 0, height = 0;
    int samples = 0;
    double noise_threshold = 0;  // that the bake used
    int min_samples = 0;         // before any texel could stop
    double mean_samples = 0;     // points a covered texel took on average
    bool bent = false;
    uint64_t covered_texels = 0;
    uint64_t overlapped_texels = 0;
    uint64_t wrapped_triangles = 0;
    uint64_t unusable_triangles = 0;
    bool bad_input = false;  // refused before it started (a layout that covers no texel)
    uint64_t missed_texels = 0;  // projected: covered texels no point of which found a source
};

// A bake's maps (one per BakeSettings::maps, or the one map of a bake
// without sources) and, per texel, whether it found no source.
struct BakedMaps {
    std::vector<Image> maps;
    std::vector<uint8_t> missed;
    std::vector<uint32_t> points;  // per texel, taken (0: not covered)
};

// The object named `name`; false with a one-line message when no object
// has that name.
bool find_object(const Scene& scene, const std::string& name, uint32_t& index, std::string& error);

// Whether `object` can be baked through UV set `uv_set`: a mesh with that
// set. `error` names the object and the problem.
bool check_bake_target(const Scene& scene, uint32_t object, int uv_set, std::string& error);

// Whether the object's shader returns bent normals (an occlusion shader
// with bent_normals on and bent_color_mix off).
bool bakes_bent_normals(const Scene& scene, const ShaderDeclaration& decl, uint32_t object);

// Makes the object's occlusion shader hand back world-space bent normals,
// which the bake then turns into the space asked for.
void ask_for_world_normals(Scene& scene, const ShaderDeclaration& decl, uint32_t object);

// Readies a scene whose sources have their role for a projected bake of
// settings.object: checks the roles and the cage, marks the target, fills
// the reach left negative with default_reach, and appends one material per
// source object and shaded map (its shader with bent normals off for ao,
// on in world space for bent) from settings.first_pass_material on. No
// maps asked for: the one the sources' shaders make (shader_map).
bool prepare_projection(Scene& scene, const ShaderDeclaration& decl, BakeSettings& settings,
                        std::string& error);

// The map the object's shader makes (ao, or bent when it asks for bent
// normals), for a bake from `scene`'s sources: of their shaders.
BakeMap shader_map(const Scene& scene, const ShaderDeclaration& decl, uint32_t object, bool from_sources);

// Bakes the object into `out` (width x height each, gutters and background
// filled; missed texels take the background). False with a one-line
// message when the module cannot be loaded or refuses the scene, or when
// the bake was stopped.
bool bake_maps(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings,
               BakedMaps& out, BakeStats& stats, std::string& error);

// bake_maps of a bake's first map into `image`.
bool bake_object(const Scene& scene, const ShaderDeclaration& decl, const BakeSettings& settings,
                 Image& image, BakeStats& stats, std::string& error);

// A worker's part of the job bake_object sent (see WorkerPiece).
bool read_bake_job(ByteReader& settings, const Scene& scene, const ShaderDeclaration& decl, JobPieces& pieces);

}  // namespace vosh::render
