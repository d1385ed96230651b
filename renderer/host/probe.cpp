#include "renderer/host/probe.h"

#include "renderer/host/shading.h"
#include "renderer/host/thread_context.h"

namespace vosh::render {

bool takes_first_hit(const HostState& from, const RayStart& start) {
    const char facing = from.rs.facing_mode;
    if (facing == 'f' || facing == 'b') return false;
    if (start.clears_own_plane || !from.has_surface || !from.rs.origin_primitive) return true;
    return !from.thread->ctx().geometry->is_planar(from.object);
}

bool trace_probe_ray(HostState& from, HostState& child, const RayStart& start, Vec3 direction,
                     double max_distance) {
    const Vec3 origin = start.origin;
    if (!takes_first_hit(from, start)) {
        SurfaceHit hit;
        if (!trace_from(from, origin, direction, max_distance, hit)) return false;
        describe_hit(child, &from, origin, direction, hit, host_ray::probe);
        return true;
    }
    const RenderContext& ctx = from.thread->ctx();
    ProbeHit found;
    if (!ctx.geometry->nearest(origin, direction, max_distance, found)) return false;
    describe_ray(child, &from, origin, direction, host_ray::probe);
    const ObjectDesc& object = ctx.scene->objects[found.object];
    RenderState& r = child.rs;
    r.ray_length = found.distance;
    r.material_tag = make_tag(TagKind::material, object.material);
    r.object_label = object.label;
    r.texture_coord_list = &child.texture;
    r.origin_primitive = &child.primitive;
    child.has_surface = true;
    child.object = found.object;
    child.primitive = found.primitive;
    child.pending = true;
    child.pending_hit = found;
    child.pending_direction = direction;
    return true;
}

void complete_probe_hit(HostState& s) {
    s.pending = false;
    SurfaceHit hit;
    s.thread->ctx().geometry->describe(s.ray_origin, s.pending_direction, s.pending_hit, hit);
    describe_surface(s, s.pending_direction, hit);
}

bool blocked_from(const HostState& from, const RayStart& start, Vec3 direction, double max_distance) {
    if (takes_first_hit(from, start))
        return from.thread->ctx().geometry->occluded(start.origin, direction, max_distance);
    SurfaceHit hit;
    return trace_from(from, start.origin, direction, max_distance, hit);
}

}  // namespace vosh::render
