// Building the ray tracer's scene from a scene description.
#include "renderer/trace/geometry.h"

#include <cstdio>

#include "renderer/trace/geometry_objects.h"

namespace vosh::render {

namespace {

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
// Huge pages for the BVH, as the ray tracer's authors advise for large
// scenes: traversal of a big scene misses the TLB less.
#ifdef VOSH_UNDER_TSAN
constexpr const char* device_config = "threads=1,hugepages=1";
#else
constexpr const char* device_config = "hugepages=1";
#endif

void report_embree_error(void*, RTCError code, const char* text) {
    std::fprintf(stderr, "vosh-render: ray tracer error %d: %s\n", static_cast<int>(code),
                 text ? text : "");
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

RTCGeometry point_geometry(RTCDevice device, const ObjectDesc& o) {
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

RTCGeometry triangle_geometry(RTCDevice device, const ObjectGeom& og) {
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

RTCGeometry quad_geometry(RTCDevice device, const ObjectGeom& og) {
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

bool traced_by(SceneGeometry::Traced traced, BakeRole role) {
    if (traced == SceneGeometry::Traced::sources) return role == BakeRole::source;
    return role != BakeRole::target && role != BakeRole::cage;
}

}  // namespace

SceneGeometry::SceneGeometry() : impl_(new Impl) {}
SceneGeometry::~SceneGeometry() = default;

bool SceneGeometry::build(const Scene& scene, std::string& error, Traced traced) {
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
    // Robust traversal keeps shared edges watertight and the depth test exact
    // at tnear, which the stepping trace's restart just beyond a refused hit
    // needs; it costs about 40 % of the traversal. Probes and visibility rays
    // that take the first hit as it stands (their origin already clears the
    // primitive they leave) go through a second BVH over the same geometries
    // without it: twice the BVH memory, not the meshes.
    im.scene = rtcNewScene(im.device);
    rtcSetSceneFlags(im.scene, RTC_SCENE_FLAG_ROBUST);
    rtcSetSceneBuildQuality(im.scene, RTC_BUILD_QUALITY_HIGH);
    im.first_hit_scene = rtcNewScene(im.device);
    rtcSetSceneFlags(im.first_hit_scene, RTC_SCENE_FLAG_NONE);
    rtcSetSceneBuildQuality(im.first_hit_scene, RTC_BUILD_QUALITY_HIGH);
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
                RTCGeometry shape = point_geometry(im.device, o);
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
                g = quad_geometry(im.device, og);
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
                g = triangle_geometry(im.device, og);
                break;
            }
        }
        if (traced_by(traced, o.bake_role)) {
            rtcAttachGeometryByID(im.scene, g, static_cast<unsigned>(i));
            rtcAttachGeometryByID(im.first_hit_scene, g, static_cast<unsigned>(i));
        }
        rtcReleaseGeometry(g);
    }
    rtcCommitScene(im.scene);
    rtcCommitScene(im.first_hit_scene);
    if (rtcGetDeviceError(im.device) != RTC_ERROR_NONE) {
        error = "the ray tracer could not build the scene";
        return false;
    }
    return true;
}

const Mat4& SceneGeometry::to_world(uint32_t object) const { return impl_->objects[object].to_world; }
const Mat4& SceneGeometry::to_object(uint32_t object) const { return impl_->objects[object].to_object; }

RTCSceneTy* SceneGeometry::native_scene() const { return impl_->first_hit_scene; }

bool SceneGeometry::is_planar(uint32_t object) const {
    return impl_->objects[object].shape != ShapeKind::sphere;
}

}  // namespace vosh::render
