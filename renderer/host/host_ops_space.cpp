// The host operations that carry vectors between spaces: world, camera,
// object, light and raster.
#include "host/host_interface.h"
#include "renderer/host/current_context.h"
#include "renderer/host/thread_context.h"

using namespace vosh;
using namespace vosh::render;

namespace {

Vec3 transform_direction_normal(const Mat4& inverse_of_target, const Vector* in) {
    return normalize(transform_normal(inverse_of_target, to_vec3(*in)));
}

}  // namespace

extern "C" {

int32_t mi_normal_to_world(RenderState* /*state*/, Vector* out, const Vector* in) {
    if (!out || !in) return 0;
    *out = *in;  // the renderer's internal space is world space
    return 1;
}

int32_t mi_normal_to_camera(RenderState* /*state*/, Vector* out, const Vector* in) {
    if (!out || !in) return 0;
    *out = to_vector(transform_direction_normal(context().camera.camera_to_world, in));
    return 1;
}

int32_t mi_normal_to_object(RenderState* state, Vector* out, const Vector* in) {
    if (!out || !in || !state) return 0;
    const HostState& s = host_state(state);
    if (!s.has_surface) {
        *out = *in;
        return 0;
    }
    *out = to_vector(transform_direction_normal(context().geometry->to_world(s.object), in));
    return 1;
}

int32_t mi_normal_to_light(RenderState* state, Vector* out, const Vector* in) {
    if (!out || !in) return 0;
    RenderContext& ctx = context();
    // The light the running shader names, else the scene's first light.
    int32_t light = -1;
    if (ShaderRuntime* shader = running_shader(ctx, state)) light = shader->light;
    if (light < 0 && !ctx.light_to_world.empty()) light = 0;
    if (light < 0) {
        *out = *in;
        return 0;
    }
    *out = to_vector(transform_direction_normal(ctx.light_to_world[static_cast<size_t>(light)], in));
    return 1;
}

void mi_point_to_raster(RenderState* state, Vector* out, const Vector* in) {
    if (!out || !in) return;
    const CameraModel& camera = context().camera;
    const Vec3 p = to_vec3(*in);
    *out = to_vector(state ? to_raster(host_state(state).thread->raster, camera, p) : world_to_raster(camera, p));
}

void mi_point_transform(Vector* out, const Vector* in, const float* m) {
    if (!out || !in || !m) return;
    const double x = in->x, y = in->y, z = in->z;
    const double rx = x * m[0] + y * m[4] + z * m[8] + m[12];
    const double ry = x * m[1] + y * m[5] + z * m[9] + m[13];
    const double rz = x * m[2] + y * m[6] + z * m[10] + m[14];
    const double w = x * m[3] + y * m[7] + z * m[11] + m[15];
    const double k = (w != 0 && w != 1) ? 1.0 / w : 1.0;
    *out = Vector{static_cast<float>(rx * k), static_cast<float>(ry * k), static_cast<float>(rz * k)};
}

}  // extern "C"
