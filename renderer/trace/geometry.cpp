#include "renderer/trace/geometry.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include <embree3/rtcore.h>

namespace vosh::render {

namespace {

// Just below the largest ray origin coordinate the ray tracer accepts.
constexpr double max_ray_origin = 1e18;

// ThreadSanitizer cannot see the synchronisation of the task library inside
// the (uninstrumented) ray tracer, so its parallel BVH builds would read as
// races; under it the build runs on the calling thread. Rendering itself
// stays multi-threaded.
#if defined(__SANITIZE_THREAD__)
#define VOSH_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VOSH_UNDER_TSAN 1
#endif
#endif
#ifdef VOSH_UNDER_TSAN
constexpr const char* device_config = "threads=1";
#else
constexpr const char* device_config = nullptr;
#endif

void report_embree_error(void*, RTCError code, const char* text) {
    std::fprintf(stderr, "vosh-render: ray tracer error %d: %s\n", static_cast<int>(code),
                 text ? text : "");
}

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

SmoothTriangle triangle_of(const ObjectGeom& og, size_t triangle) {
    SmoothTriangle t;
    for (size_t k = 0; k < 3; ++k) {
        const uint32_t index = og.indices[3 * triangle + k];
        t.vertex[k] = og.positions[index];
        t.normal[k] = og.normals[index];
    }
    return t;
}

void mark_smooth_triangles(ObjectGeom& og) {
    const size_t triangles = og.indices.size() / 3;
    og.smooth.assign(triangles, false);
    bool any = false;
    for (size_t i = 0; i < triangles; ++i) {
        og.smooth[i] = !is_flat_shaded(triangle_of(og, i));
        any = any || og.smooth[i];
    }
    if (!any) og.smooth.clear();
}

}  // namespace

bool facing_accepts(char facing, Vec3 geometric_normal, Vec3 direction) {
    const double d = dot(geometric_normal, direction);
    if (facing == 'f') return d < 0;
    if (facing == 'b') return d > 0;
    return true;
}

struct SceneGeometry::Impl {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    std::vector<RTCScene> instanced;  // one per transformed sphere or disk
    std::vector<ObjectGeom> objects;

    ~Impl() {
        if (scene) rtcReleaseScene(scene);
        for (RTCScene s : instanced) rtcReleaseScene(s);
        if (device) rtcReleaseDevice(device);
    }

    RTCGeometry point_geometry(const ObjectDesc& o) {
        const bool disk = o.shape == ShapeKind::disk;
        RTCGeometry g = rtcNewGeometry(
            device, disk ? RTC_GEOMETRY_TYPE_ORIENTED_DISC_POINT : RTC_GEOMETRY_TYPE_SPHERE_POINT);
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0,
                                                              RTC_FORMAT_FLOAT4, 4 * sizeof(float), 1));
        v[0] = static_cast<float>(o.center.x);
        v[1] = static_cast<float>(o.center.y);
        v[2] = static_cast<float>(o.center.z);
        v[3] = static_cast<float>(o.radius);
        if (disk) {
            auto* n = static_cast<float*>(rtcSetNewGeometryBuffer(
                g, RTC_BUFFER_TYPE_NORMAL, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), 1));
            n[0] = static_cast<float>(o.normal.x);
            n[1] = static_cast<float>(o.normal.y);
            n[2] = static_cast<float>(o.normal.z);
        }
        rtcCommitGeometry(g);
        return g;
    }

    RTCGeometry triangle_geometry(const ObjectGeom& og) {
        RTCGeometry g = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(
            g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), og.positions.size()));
        for (size_t i = 0; i < og.positions.size(); ++i) {
            v[3 * i] = static_cast<float>(og.positions[i].x);
            v[3 * i + 1] = static_cast<float>(og.positions[i].y);
            v[3 * i + 2] = static_cast<float>(og.positions[i].z);
        }
        auto* idx = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
            g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), og.indices.size() / 3));
        for (size_t i = 0; i < og.indices.size(); ++i) idx[i] = og.indices[i];
        rtcCommitGeometry(g);
        return g;
    }

    RTCGeometry quad_geometry(const ObjectGeom& og) {
        RTCGeometry g = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_QUAD);
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0,
                                                              RTC_FORMAT_FLOAT3, 3 * sizeof(float), 4));
        const Vec3 corners[4] = {og.corner, og.corner + og.edge1, og.corner + og.edge1 + og.edge2,
                                 og.corner + og.edge2};
        for (int i = 0; i < 4; ++i) {
            v[3 * i] = static_cast<float>(corners[i].x);
            v[3 * i + 1] = static_cast<float>(corners[i].y);
            v[3 * i + 2] = static_cast<float>(corners[i].z);
        }
        auto* idx = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
            g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT4, 4 * sizeof(unsigned), 1));
        for (unsigned i = 0; i < 4; ++i) idx[i] = i;
        rtcCommitGeometry(g);
        return g;
    }

    void fill_hit(const ObjectGeom& og, Vec3 origin, Vec3 direction, double t, uint32_t prim,
                  double u, double v, SurfaceHit& hit) const {
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
};

SceneGeometry::SceneGeometry() : impl_(new Impl) {}
SceneGeometry::~SceneGeometry() = default;

bool SceneGeometry::build(const Scene& scene, std::string& error) {
    Impl& im = *impl_;
    im.device = rtcNewDevice(device_config);
    if (!im.device) {
        error = "cannot start the ray tracer (error " + std::to_string(rtcGetDeviceError(nullptr)) + ")";
        return false;
    }
    rtcSetDeviceErrorFunction(im.device, report_embree_error, nullptr);
    if (!rtcGetDeviceProperty(im.device, RTC_DEVICE_PROPERTY_POINT_GEOMETRY_SUPPORTED)) {
        error = "the ray tracer was built without sphere and disk support";
        return false;
    }
    im.scene = rtcNewScene(im.device);
    rtcSetSceneFlags(im.scene, RTC_SCENE_FLAG_ROBUST);
    rtcSetSceneBuildQuality(im.scene, RTC_BUILD_QUALITY_HIGH);
    im.objects.resize(scene.objects.size());
    for (size_t i = 0; i < scene.objects.size(); ++i) {
        const ObjectDesc& o = scene.objects[i];
        ObjectGeom& og = im.objects[i];
        og.shape = o.shape;
        og.has_transform = o.has_transform;
        if (o.has_transform) {
            og.to_world = o.transform;
            invert_affine(o.transform, og.to_object);  // checked when loaded
        }
        RTCGeometry g = nullptr;
        switch (o.shape) {
            case ShapeKind::sphere:
            case ShapeKind::disk: {
                og.center = o.center;
                og.radius = o.radius;
                og.normal = o.normal;
                orthonormal_basis(o.normal, og.disk_u, og.disk_v);
                RTCGeometry shape = im.point_geometry(o);
                if (!o.has_transform) {
                    g = shape;
                    break;
                }
                RTCScene local = rtcNewScene(im.device);
                rtcSetSceneFlags(local, RTC_SCENE_FLAG_ROBUST);
                rtcAttachGeometry(local, shape);
                rtcReleaseGeometry(shape);
                rtcCommitScene(local);
                im.instanced.push_back(local);
                g = rtcNewGeometry(im.device, RTC_GEOMETRY_TYPE_INSTANCE);
                rtcSetGeometryInstancedScene(g, local);
                // Row-major storage of a row-vector matrix is column-major storage
                // of the column-vector matrix the ray tracer expects.
                float m[16];
                for (int k = 0; k < 16; ++k) m[k] = static_cast<float>(o.transform.m[k]);
                rtcSetGeometryTransform(g, 0, RTC_FORMAT_FLOAT4X4_COLUMN_MAJOR, m);
                rtcCommitGeometry(g);
                break;
            }
            case ShapeKind::quad: {
                const Mat4& t = og.to_world;
                og.corner = transform_point(t, o.corner);
                og.edge1 = transform_vector(t, o.edge1);
                og.edge2 = transform_vector(t, o.edge2);
                og.quad_normal = normalize(cross(og.edge1, og.edge2));
                const double a = dot(og.edge1, og.edge1), b = dot(og.edge1, og.edge2),
                             c = dot(og.edge2, og.edge2);
                const double det = a * c - b * b;
                og.gram_inv[0] = c / det;
                og.gram_inv[1] = -b / det;
                og.gram_inv[2] = a / det;
                if (!(det > 0) || !(length(og.quad_normal) > 0)) {
                    error = scene.file + ": " + o.json_path + ": the transform flattens the quad";
                    return false;
                }
                g = im.quad_geometry(og);
                break;
            }
            case ShapeKind::mesh: {
                og.positions.reserve(o.mesh.positions.size());
                for (const Vec3& p : o.mesh.positions) og.positions.push_back(transform_point(og.to_world, p));
                for (const Vec3& n : o.mesh.normals)
                    og.normals.push_back(normalize(transform_normal(og.to_object, n)));
                og.uvs = o.mesh.uvs;
                og.indices = o.mesh.indices;
                if (o.smooth_offset && !og.normals.empty()) mark_smooth_triangles(og);
                g = im.triangle_geometry(og);
                break;
            }
        }
        rtcAttachGeometryByID(im.scene, g, static_cast<unsigned>(i));
        rtcReleaseGeometry(g);
    }
    rtcCommitScene(im.scene);
    if (rtcGetDeviceError(im.device) != RTC_ERROR_NONE) {
        error = "the ray tracer could not build the scene";
        return false;
    }
    return true;
}

bool SceneGeometry::intersect(Vec3 origin, Vec3 direction, double max_distance, char facing,
                              uint32_t skip_object, uint32_t skip_primitive, SurfaceHit& hit) const {
    const Impl& im = *impl_;
    if (!(max_distance > 0)) return false;
    // The ray tracer takes origins within about 1.8e18 and finite directions
    // only; the scene lies well inside, so anything else is a ray from
    // nowhere (a shader's arithmetic gone astray) and hits nothing.
    if (!is_finite(origin) || !(max_abs_component(origin) <= max_ray_origin) || !is_finite(direction))
        return false;
    const float far = max_distance >= std::numeric_limits<float>::max()
                          ? std::numeric_limits<float>::infinity()
                          : static_cast<float>(max_distance);
    float near = 0;
    // Refused hits are stepped over; a bounded number keeps a pathological
    // pile of coincident faces from looping.
    for (int attempt = 0; attempt < 64; ++attempt) {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit rh;
        rh.ray.org_x = static_cast<float>(origin.x);
        rh.ray.org_y = static_cast<float>(origin.y);
        rh.ray.org_z = static_cast<float>(origin.z);
        rh.ray.dir_x = static_cast<float>(direction.x);
        rh.ray.dir_y = static_cast<float>(direction.y);
        rh.ray.dir_z = static_cast<float>(direction.z);
        rh.ray.tnear = near;
        rh.ray.tfar = far;
        rh.ray.time = 0;
        rh.ray.mask = 0xffffffffu;
        rh.ray.id = 0;
        rh.ray.flags = 0;
        rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(im.scene, &context, &rh);
        if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
        const uint32_t object =
            rh.hit.instID[0] != RTC_INVALID_GEOMETRY_ID ? rh.hit.instID[0] : rh.hit.geomID;
        const ObjectGeom& og = im.objects[object];
        im.fill_hit(og, origin, direction, rh.ray.tfar, rh.hit.primID, rh.hit.u, rh.hit.v, hit);
        hit.object = object;
        const bool self = object == skip_object && rh.hit.primID == skip_primitive && is_planar(object);
        if (!self && facing_accepts(facing, hit.geometric_normal, direction)) return true;
        near = std::nextafter(rh.ray.tfar, std::numeric_limits<float>::infinity());
        if (!(near < far)) return false;
    }
    return false;
}

bool SceneGeometry::surface_at(uint32_t object, uint32_t primitive, double b1, double b2,
                               SurfaceHit& hit) const {
    const Impl& im = *impl_;
    if (object >= im.objects.size()) return false;
    const ObjectGeom& og = im.objects[object];
    if (og.shape != ShapeKind::mesh || primitive >= og.indices.size() / 3) return false;
    im.fill_hit(og, {0, 0, 0}, {0, 0, 0}, 0, primitive, b1, b2, hit);
    hit.object = object;
    return true;
}

const Mat4& SceneGeometry::to_world(uint32_t object) const { return impl_->objects[object].to_world; }
const Mat4& SceneGeometry::to_object(uint32_t object) const { return impl_->objects[object].to_object; }

RTCSceneTy* SceneGeometry::native_scene() const { return impl_->scene; }

bool SceneGeometry::is_planar(uint32_t object) const {
    return impl_->objects[object].shape != ShapeKind::sphere;
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
