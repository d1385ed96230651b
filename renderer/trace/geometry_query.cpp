// Tracing the built scene and describing what a ray hit.
#include <cmath>
#include <limits>

#include "renderer/trace/geometry.h"
#include "renderer/trace/geometry_objects.h"

namespace vosh::render {

namespace {

// Just below the largest ray origin coordinate the ray tracer accepts.
constexpr double max_ray_origin = 1e18;

}  // namespace

SmoothTriangle triangle_of(const ObjectGeom& og, size_t triangle) {
    SmoothTriangle t;
    for (size_t k = 0; k < 3; ++k) {
        const uint32_t index = og.indices[3 * triangle + k];
        t.vertex[k] = og.positions[index];
        t.normal[k] = og.normals[index];
    }
    return t;
}

void fill_hit(const ObjectGeom& og, Vec3 origin, Vec3 direction, double t, uint32_t prim,
              double u, double v, SurfaceHit& hit) {
    hit.distance = t;
    hit.primitive = prim;
    Vec3 p = origin + direction * t;
    switch (og.shape) {
        case ShapeKind::sphere: {
            // Back onto the surface in object space, which keeps hit points
            // within rounding of the true sphere.
            const Vec3 local = og.has_transform ? transform_point(og.to_object, p) : p;
            Vec3 n = normalize(local - og.center);
            const Vec3 on = og.center + n * og.radius;
            p = og.has_transform ? transform_point(og.to_world, on) : on;
            const double phi = std::atan2(n.z, n.x);
            const double theta = std::acos(std::fmax(-1.0, std::fmin(1.0, n.y)));
            hit.texture = {(phi + M_PI) * og.radius, theta * og.radius, 0};
            if (og.has_transform) n = normalize(transform_normal(og.to_object, n));
            hit.geometric_normal = hit.shading_normal = n;
            break;
        }
        case ShapeKind::disk: {
            const Vec3 local = og.has_transform ? transform_point(og.to_object, p) : p;
            const Vec3 rel = local - og.center;
            const Vec3 flat = rel - og.normal * dot(rel, og.normal);
            const Vec3 on = og.center + flat;
            p = og.has_transform ? transform_point(og.to_world, on) : on;
            hit.texture = {dot(flat, og.disk_u), dot(flat, og.disk_v), 0};
            const Vec3 n =
                og.has_transform ? normalize(transform_normal(og.to_object, og.normal)) : og.normal;
            hit.geometric_normal = hit.shading_normal = n;
            break;
        }
        case ShapeKind::quad: {
            Vec3 rel = p - og.corner;
            rel = rel - og.quad_normal * dot(rel, og.quad_normal);
            p = og.corner + rel;
            const double d1 = dot(rel, og.edge1), d2 = dot(rel, og.edge2);
            const double a = og.gram_inv[0] * d1 + og.gram_inv[1] * d2;
            const double b = og.gram_inv[1] * d1 + og.gram_inv[2] * d2;
            hit.texture = {a * length(og.edge1), b * length(og.edge2), 0};
            hit.geometric_normal = hit.shading_normal = og.quad_normal;
            break;
        }
        case ShapeKind::mesh: {
            const uint32_t i0 = og.indices[3 * prim], i1 = og.indices[3 * prim + 1],
                           i2 = og.indices[3 * prim + 2];
            const double w = 1.0 - u - v;
            const Vec3 &a = og.positions[i0], &b = og.positions[i1], &c = og.positions[i2];
            p = a * w + b * u + c * v;
            const Vec3 ng = normalize(cross(b - a, c - a));
            hit.geometric_normal = ng;
            Vec3 ns = ng;
            if (!og.normals.empty()) {
                const Vec3 s = og.normals[i0] * w + og.normals[i1] * u + og.normals[i2] * v;
                if (length(s) > 1e-12) ns = normalize(s);
                if (dot(ns, ng) < 0) ns = -ns;
            }
            hit.shading_normal = ns;
            hit.b1 = u;
            hit.b2 = v;
            if (!og.uvs.empty())
                hit.texture = og.uvs[i0] * w + og.uvs[i1] * u + og.uvs[i2] * v;
            else
                hit.texture = og.has_transform ? transform_point(og.to_object, p) : p;
            break;
        }
    }
    hit.point = p;
}

bool facing_accepts(char facing, Vec3 geometric_normal, Vec3 direction) {
    const double d = dot(geometric_normal, direction);
    if (facing == 'f') return d < 0;
    if (facing == 'b') return d > 0;
    return true;
}

namespace {

// The ray tracer takes origins within about 1.8e18 and finite directions
// only; the scene lies well inside, so anything else is a ray from nowhere
// (a shader's arithmetic gone astray) and hits nothing.
bool traceable(Vec3 origin, Vec3 direction, double max_distance) {
    return max_distance > 0 && is_finite(origin) && max_abs_component(origin) <= max_ray_origin &&
           is_finite(direction);
}

float far_limit(double max_distance) {
    return max_distance >= std::numeric_limits<float>::max() ? std::numeric_limits<float>::infinity()
                                                             : static_cast<float>(max_distance);
}

void set_ray(RTCRay& ray, Vec3 origin, Vec3 direction, float near, float far) {
    ray.org_x = static_cast<float>(origin.x);
    ray.org_y = static_cast<float>(origin.y);
    ray.org_z = static_cast<float>(origin.z);
    ray.dir_x = static_cast<float>(direction.x);
    ray.dir_y = static_cast<float>(direction.y);
    ray.dir_z = static_cast<float>(direction.z);
    ray.tnear = near;
    ray.tfar = far;
    ray.time = 0;
    ray.mask = 0xffffffffu;
    ray.id = 0;
    ray.flags = 0;
}

// Nearest hit beyond `near`; false on a miss. The object is the instance's
// for an instanced sphere or disk.
bool trace_nearest(RTCScene scene, Vec3 origin, Vec3 direction, float near, float far, RTCRayHit& rh,
                   uint32_t& object) {
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    set_ray(rh.ray, origin, direction, near, far);
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene, &context, &rh);
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
    object = rh.hit.instID[0] != RTC_INVALID_GEOMETRY_ID ? rh.hit.instID[0] : rh.hit.geomID;
    return true;
}

}  // namespace

bool SceneGeometry::intersect(Vec3 origin, Vec3 direction, double max_distance, char facing,
                              uint32_t skip_object, uint32_t skip_primitive, SurfaceHit& hit) const {
    const Impl& im = *impl_;
    if (!traceable(origin, direction, max_distance)) return false;
    const float far = far_limit(max_distance);
    float near = 0;
    // Refused hits are stepped over; a bounded number keeps a pathological
    // pile of coincident faces from looping.
    for (int attempt = 0; attempt < 64; ++attempt) {
        RTCRayHit rh;
        uint32_t object = 0;
        if (!trace_nearest(im.scene, origin, direction, near, far, rh, object)) return false;
        const ObjectGeom& og = im.objects[object];
        fill_hit(og, origin, direction, rh.ray.tfar, rh.hit.primID, rh.hit.u, rh.hit.v, hit);
        hit.object = object;
        const bool self = object == skip_object && rh.hit.primID == skip_primitive && is_planar(object);
        if (!self && facing_accepts(facing, hit.geometric_normal, direction)) return true;
        near = std::nextafter(rh.ray.tfar, std::numeric_limits<float>::infinity());
        if (!(near < far)) return false;
    }
    return false;
}

bool SceneGeometry::nearest(Vec3 origin, Vec3 direction, double max_distance, ProbeHit& hit) const {
    if (!traceable(origin, direction, max_distance)) return false;
    RTCRayHit rh;
    if (!trace_nearest(impl_->first_hit_scene, origin, direction, 0.0f, far_limit(max_distance), rh,
                       hit.object))
        return false;
    hit.distance = rh.ray.tfar;
    hit.primitive = rh.hit.primID;
    hit.u = rh.hit.u;
    hit.v = rh.hit.v;
    return true;
}

bool SceneGeometry::occluded(Vec3 origin, Vec3 direction, double max_distance) const {
    if (!traceable(origin, direction, max_distance)) return false;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRay ray;
    set_ray(ray, origin, direction, 0.0f, far_limit(max_distance));
    rtcOccluded1(impl_->first_hit_scene, &context, &ray);
    return ray.tfar < 0;  // the ray tracer's mark for "blocked"
}

void SceneGeometry::describe(Vec3 origin, Vec3 direction, const ProbeHit& found, SurfaceHit& hit) const {
    fill_hit(impl_->objects[found.object], origin, direction, found.distance, found.primitive, found.u,
             found.v, hit);
    hit.object = found.object;
}

bool SceneGeometry::surface_at(uint32_t object, uint32_t primitive, double b1, double b2,
                               SurfaceHit& hit) const {
    const Impl& im = *impl_;
    if (object >= im.objects.size()) return false;
    const ObjectGeom& og = im.objects[object];
    if (og.shape != ShapeKind::mesh || primitive >= og.indices.size() / 3) return false;
    fill_hit(og, {0, 0, 0}, {0, 0, 0}, 0, primitive, b1, b2, hit);
    hit.object = object;
    return true;
}

bool SceneGeometry::smooth_offset(uint32_t object, uint32_t primitive, double b1, double b2,
                                  Vec3 direction, Vec3& offset) const {
    if (object >= impl_->objects.size()) return false;
    const ObjectGeom& og = impl_->objects[object];
    if (primitive >= og.smooth.size() || !og.smooth[primitive]) return false;
    offset = smooth_surface_offset(triangle_of(og, primitive), b1, b2, direction);
    return true;
}

}  // namespace vosh::render
