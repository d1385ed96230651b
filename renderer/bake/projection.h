// A bake from high-poly sources onto a low-poly target: where the
// projection ray of a low-poly point meets the sources, how far it looks,
// and what a scene must hold for such a bake.
#pragma once

#include <cstdint>
#include <string>

#include "renderer/scene/scene.h"
#include "renderer/trace/geometry.h"

namespace vosh::render {

constexpr uint32_t no_object = UINT32_MAX;

// How far a projection ray searches: `front` out of the low surface along
// its normal and `back` into it; with a cage, the ray starts at the cage's
// point instead and runs through the low surface on by `back`.
struct ProjectionReach {
    uint32_t cage = no_object;
    double front = 0, back = 0;
};

// The source surface the low-poly point (`low` triangle `triangle`, weights
// b1, b2) projects onto: of the source hits on the ray's segment, the one
// nearest the low surface, on either face. `sources` traces only the
// sources; `scene` is the full geometry (the low-poly and its cage). False
// when the segment meets no source, or when the normal or the cage's
// direction is degenerate.
bool project_point(const SceneGeometry& sources, const SceneGeometry& scene, uint32_t low,
                   uint32_t triangle, double b1, double b2, const ProjectionReach& reach,
                   SurfaceHit& hit);

// The default of --front and --back: 1 % of the diagonal of the sources'
// joint world-space bounding box.
double default_reach(const Scene& scene);

// Whether the scene's roles make a projected bake of `low` with `cage`
// (no_object: none): some source, the low-poly not a source, a cage that is
// a mesh with the low-poly's vertex and triangle counts. `error` says why not.
bool check_projection(const Scene& scene, uint32_t low, uint32_t cage, std::string& error);

}  // namespace vosh::render
