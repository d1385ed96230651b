// The scene's surfaces in an Embree BVH, and what a ray hit looks like to
// the renderer. Spheres and disks are exact (Embree's point geometries),
// quads are Embree quads, meshes triangles; a sphere or disk with a transform
// is an instance, so any affine transform (an ellipsoid, say) stays exact.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "renderer/math/math3.h"
#include "renderer/scene/scene.h"
#include "renderer/trace/smooth_origin.h"

struct RTCSceneTy;  // the ray tracer's scene handle

namespace vosh::render {

struct SurfaceHit {
    double distance = 0;  // along the unit ray direction
    uint32_t object = 0;
    uint32_t primitive = 0;
    Vec3 point;             // on the surface, in world space
    Vec3 geometric_normal;  // unit, as authored (quad: edge1 x edge2; sphere: outward)
    Vec3 shading_normal;    // unit, same side as geometric_normal
    Vec3 texture;           // texture coordinates (see docs/scene-format.md)
    double b1 = 0, b2 = 0;  // mesh: barycentric weights of the triangle's second and third vertex
};

// The least a hit records: what is read of it at once (the distance, the
// object) and what describes it in full later (SceneGeometry::describe).
struct ProbeHit {
    double distance = 0;
    uint32_t object = 0;
    uint32_t primitive = 0;
    float u = 0, v = 0;  // the ray tracer's barycentric coordinates
};

// Which faces a ray may hit: 'f' front (against the authored normal),
// 'b' back, anything else both.
bool facing_accepts(char facing, Vec3 geometric_normal, Vec3 direction);

class SceneGeometry {
public:
    SceneGeometry();
    ~SceneGeometry();
    SceneGeometry(const SceneGeometry&) = delete;
    SceneGeometry& operator=(const SceneGeometry&) = delete;

    // Which objects the rays see: every object but bake targets and cages
    // (renders, shading), or only bake sources (a bake's projection rays).
    enum class Traced { occluders, sources };

    // Copies what it needs: `scene` may go away once this returns. False
    // with a one-line message when the ray tracer cannot build it. Objects
    // left out of `traced` are never hit but keep their index, and
    // surface_at still describes them.
    bool build(const Scene& scene, std::string& error, Traced traced = Traced::occluders);

    // Nearest hit with distance in (0, max_distance] along `direction` (unit)
    // from `origin`. Hits refused by `facing`, and hits on the planar
    // primitive `skip_object`/`skip_primitive` (pass UINT32_MAX for none),
    // are passed through.
    bool intersect(Vec3 origin, Vec3 direction, double max_distance, char facing,
                   uint32_t skip_object, uint32_t skip_primitive, SurfaceHit& hit) const;

    // Nearest hit on any face with distance in (0, max_distance]: one
    // traversal, nothing described. For rays that accept both faces and
    // cannot meet the primitive they leave from.
    bool nearest(Vec3 origin, Vec3 direction, double max_distance, ProbeHit& hit) const;
    // Whether anything lies within (0, max_distance], on either face.
    bool occluded(Vec3 origin, Vec3 direction, double max_distance) const;
    // The full description of a hit `nearest` found along the same ray: what
    // `intersect` would have made of it.
    void describe(Vec3 origin, Vec3 direction, const ProbeHit& found, SurfaceHit& hit) const;

    // The point of mesh triangle `primitive` of `object` with weights b1,
    // b2 of its second and third corner, described as a ray hit at distance
    // 0 would describe it. False when the object is not a mesh or has no
    // such triangle.
    bool surface_at(uint32_t object, uint32_t primitive, double b1, double b2, SurfaceHit& hit) const;

    // Object-to-world and world-to-object matrices (identity when the
    // object has no transform).
    const Mat4& to_world(uint32_t object) const;
    const Mat4& to_object(uint32_t object) const;

    bool is_planar(uint32_t object) const;

    // Step from the point with barycentrics (b1, b2) on mesh triangle
    // `primitive` to the smooth surface its vertex normals imply, for a ray
    // leaving along `direction` (see smooth_origin.h). False, and `offset`
    // untouched, for other shapes, meshes without vertex normals or with
    // smooth_offset off, and flat-shaded triangles.
    bool smooth_offset(uint32_t object, uint32_t primitive, double b1, double b2, Vec3 direction,
                       Vec3& offset) const;

    // The ray-tracer scene that nearest and occluded trace, for benchmarks
    // that trace it directly.
    RTCSceneTy* native_scene() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vosh::render
