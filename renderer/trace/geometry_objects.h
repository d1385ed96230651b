// Inside SceneGeometry: what the builder keeps per object and what turns a
// ray tracer hit into a SurfaceHit. Only trace/geometry*.cpp include this.
#pragma once

#include <cstdint>
#include <vector>

#include <embree3/rtcore.h>

#include "renderer/trace/geometry.h"

namespace vosh::render {

// Per object: what turns an Embree hit into a SurfaceHit.
struct ObjectGeom {
    ShapeKind shape = ShapeKind::sphere;
    Mat4 to_world, to_object;
    bool has_transform = false;
    // sphere and disk in object space; quad in world space
    Vec3 center, normal, disk_u, disk_v;
    double radius = 1;
    Vec3 corner, edge1, edge2, quad_normal;
    double gram_inv[3] = {0, 0, 0};  // inverse Gram matrix of (edge1, edge2): a, b, c
    // mesh, pre-transformed to world space
    std::vector<Vec3> positions, normals, uvs;
    std::vector<uint32_t> indices;
    // Per triangle: rays leave from the smooth surface its vertex normals
    // imply. Empty for meshes without any such triangle or with the option off.
    std::vector<bool> smooth;
};

SmoothTriangle triangle_of(const ObjectGeom& og, size_t triangle);

// The hit at distance t along the ray on primitive `prim` with the ray
// tracer's barycentric coordinates (u, v), described in full.
void fill_hit(const ObjectGeom& og, Vec3 origin, Vec3 direction, double t, uint32_t prim, double u,
              double v, SurfaceHit& hit);

struct SceneGeometry::Impl {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;             // robust: the stepping trace, eye and continued rays
    RTCScene first_hit_scene = nullptr;   // the same geometries, fast traversal (see build)
    std::vector<RTCScene> instanced;  // one per transformed sphere or disk
    std::vector<ObjectGeom> objects;

    ~Impl() {
        if (scene) rtcReleaseScene(scene);
        if (first_hit_scene) rtcReleaseScene(first_hit_scene);
        for (RTCScene s : instanced) rtcReleaseScene(s);
        if (device) rtcReleaseDevice(device);
    }
};

}  // namespace vosh::render
