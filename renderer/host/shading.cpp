#include "renderer/host/shading.h"

#include <cmath>
#include <limits>

#include "renderer/trace/environment.h"
#include "renderer/trace/ray_origin.h"
#include "renderer/host/thread_context.h"

namespace vosh::render {

namespace {

// Whether floor(v) is odd, for any v: the quotient of a tiny cell size can
// exceed every integer type.
bool odd_cell(double v) { return std::fabs(std::fmod(std::floor(v), 2.0)) == 1.0; }

Color checker_color(const ShaderDesc& desc, const RenderState* state) {
    const Vector* t = static_cast<const Vector*>(state->texture_coord_list);
    const Vector at = t ? *t : state->hit_point;
    const double s = desc.scale;
    const bool odd = (odd_cell(at.x / s) != odd_cell(at.y / s)) != odd_cell(at.z / s);
    return odd ? desc.color2 : desc.color;
}

// Bilinear between the four texels around (u, v), wrapping at every edge:
// v = 0 is the bottom row, as texture coordinates count.
Color texture_color(const ShaderDesc& desc, const RenderState* state) {
    const Image& image = desc.image;
    const Vector* t = static_cast<const Vector*>(state->texture_coord_list);
    const double u = t ? t->x : 0, v = t ? t->y : 0;
    if (!std::isfinite(u) || !std::isfinite(v)) return Color{0, 0, 0, 1};
    const double x = (u - std::floor(u)) * image.width - 0.5;
    const double y = (1 - (v - std::floor(v))) * image.height - 0.5;
    const double x0 = std::floor(x), y0 = std::floor(y);
    const double fx = x - x0, fy = y - y0;
    auto wrap = [](double i, int n) { return static_cast<size_t>(i < 0 ? i + n : i >= n ? i - n : i); };
    const size_t cols[2] = {wrap(x0, image.width), wrap(x0 + 1, image.width)};
    const size_t rows[2] = {wrap(y0, image.height), wrap(y0 + 1, image.height)};
    const double weight[2][2] = {{(1 - fx) * (1 - fy), fx * (1 - fy)}, {(1 - fx) * fy, fx * fy}};
    double sum[4] = {0, 0, 0, 0};
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) {
            const float* p = &image.rgba[(rows[j] * size_t(image.width) + cols[i]) * 4];
            for (int c = 0; c < 4; ++c) sum[c] += weight[j][i] * p[c];
        }
    return Color{float(sum[0]), float(sum[1]), float(sum[2]), float(sum[3])};
}

}  // namespace

RayStart ray_start(const HostState& from, Vec3 origin, Vec3 direction) {
    if (!from.has_surface) return {origin, true};
    const SurfaceSite site{from.object, from.primitive, from.b1, from.b2, to_vec3(from.rs.hit_point),
                           from.facing_normal};
    return surface_ray_start(*from.thread->ctx().geometry, site, origin, direction);
}

Vec3 offset_origin(const HostState& from, Vec3 origin, Vec3 direction) {
    return ray_start(from, origin, direction).origin;
}

bool trace_from(const HostState& from, Vec3 origin, Vec3 direction, double max_distance,
                SurfaceHit& hit) {
    const bool keep_off = from.has_surface && from.rs.origin_primitive != nullptr;
    return from.thread->ctx().geometry->intersect(origin, direction, max_distance, from.rs.facing_mode,
                                                keep_off ? from.object : UINT32_MAX,
                                                keep_off ? from.primitive : UINT32_MAX, hit);
}

void describe_ray(HostState& to, HostState* parent, Vec3 origin, Vec3 direction, int32_t kind) {
    const RenderContext& ctx = to.thread->ctx();
    RenderState& r = to.rs;
    r.parent_state = parent ? &parent->rs : nullptr;
    r.ray_kind = kind;
    r.facing_mode = ctx.options.facing_default;
    r.ray_direction = to_vector(direction);
    const float medium = parent && parent->rs.outgoing_ior != 0 ? parent->rs.outgoing_ior : 1.0f;
    r.incoming_ior = r.outgoing_ior = medium;
    r.volume_tag = r.refraction_volume_tag = 0;
    r.active_shader = nullptr;
    r.child_state = nullptr;
    to.ray_origin = origin;
    to.falloff_start = 0;
    to.falloff_stop = std::numeric_limits<double>::infinity();
    to.pending = false;
}

void describe_hit(HostState& to, HostState* parent, Vec3 origin, Vec3 direction,
                  const SurfaceHit& hit, int32_t kind) {
    describe_ray(to, parent, origin, direction, kind);
    describe_surface(to, direction, hit);
}

void describe_surface(HostState& to, Vec3 direction, const SurfaceHit& hit) {
    const RenderContext& ctx = to.thread->ctx();
    RenderState& r = to.rs;
    const ObjectDesc& object = ctx.scene->objects[hit.object];
    Vec3 ng = hit.geometric_normal, ns = hit.shading_normal;
    // Surfaces are two-sided: the normals face whoever looks at them.
    if (dot(ng, direction) > 0) {
        ng = -ng;
        ns = -ns;
    }
    r.ray_length = hit.distance;
    r.material_tag = make_tag(TagKind::material, object.material);
    r.object_label = object.label;
    r.origin_primitive = &to.primitive;
    r.hit_point = to_vector(hit.point);
    r.shading_normal = to_vector(ns);
    r.normal_dot_direction = static_cast<float>(dot(ns, direction));
    to.texture = to_vector(hit.texture);
    r.texture_coord_list = &to.texture;
    to.has_surface = true;
    to.object = hit.object;
    to.primitive = hit.primitive;
    to.b1 = hit.b1;
    to.b2 = hit.b2;
    to.facing_normal = ng;
}

void describe_miss(HostState& to, HostState* parent, Vec3 origin, Vec3 direction, int32_t kind) {
    describe_ray(to, parent, origin, direction, kind);
    RenderState& r = to.rs;
    r.ray_length = std::numeric_limits<double>::infinity();
    r.material_tag = 0;
    r.object_label = 0;
    r.origin_primitive = nullptr;
    r.hit_point = to_vector(origin);
    r.shading_normal = to_vector(-direction);
    r.normal_dot_direction = -1;
    to.texture = Vector{0, 0, 0};
    r.texture_coord_list = &to.texture;
    to.has_surface = false;
    to.object = to.primitive = UINT32_MAX;
    to.facing_normal = -direction;
}

bool call_shader(ShaderRuntime& shader, Color* result, RenderState* state) {
    // A shader reads the state, and the colour-bleeding mode hands it the
    // texture coordinates of the state's probe hit.
    complete_if_pending(state);
    if (state->child_state) complete_if_pending(state->child_state);
    switch (shader.kind) {
        case ShaderKind::occlusion: {
            ShaderRecord* const outer = state->active_shader;
            state->active_shader = &shader.host_record.record;
            host_state(state).thread->ctx().module.shade(
                result, state, reinterpret_cast<OcclusionParams*>(shader.buffer.data()));
            state->active_shader = outer;
            return true;
        }
        case ShaderKind::constant:
            *result = shader.desc->color;
            return true;
        case ShaderKind::checker:
            *result = checker_color(*shader.desc, state);
            return true;
        case ShaderKind::texture:
            *result = texture_color(*shader.desc, state);
            return true;
        case ShaderKind::normal_color: {
            // Components as they stand: a bent normal the occlusion shader
            // wrote for its colour parameters is mapped into [0, 1] already.
            const Vector& n = state->shading_normal;
            *result = Color{n.x, n.y, n.z, 1.0f};
            return true;
        }
    }
    return false;
}

Color shade_surface(HostState& s) {
    RenderContext& ctx = s.thread->ctx();
    const MaterialRecord& material = ctx.materials[tag_index(s.rs.material_tag)];
    ShaderRuntime& shader = *ctx.shaders[tag_index(material.shader_tag)];
    // The module reads the opacity from the alpha it is handed.
    Color c{0, 0, 0, material.opacity};
    call_shader(shader, &c, &s.rs);
    if (shader.kind != ShaderKind::occlusion) {
        c.a = 1;
        Color behind;
        if (material.opacity < 1 &&
            continue_ray(s, to_vec3(s.rs.ray_direction), ray_kind::transparent, behind)) {
            const float k = material.opacity;
            c = {c.r * k + behind.r * (1 - k), c.g * k + behind.g * (1 - k),
                 c.b * k + behind.b * (1 - k), k + behind.a * (1 - k)};
        }
    }
    return c;
}

bool continue_ray(HostState& s, Vec3 direction, int32_t kind, Color& out) {
    if (s.depth + 1 > s.thread->max_depth()) return false;
    const Vec3 d = normalize(direction);
    if (!(length(d) > 0) || !is_finite(d)) return false;
    HostState& next = s.thread->state_at(s.depth + 1);
    const Vec3 from = s.has_surface ? to_vec3(s.rs.hit_point) : s.ray_origin;
    const Vec3 origin = offset_origin(s, from, d);
    s.rs.child_state = &next.rs;
    SurfaceHit hit;
    if (trace_from(s, origin, d, std::numeric_limits<double>::infinity(), hit)) {
        describe_hit(next, &s, origin, d, hit, kind);
        out = shade_surface(next);
    } else {
        describe_miss(next, &s, origin, d, kind);
        out = environment_radiance(s.thread->ctx(), d);
    }
    return true;
}

Color environment_radiance(const RenderContext& ctx, Vec3 direction) {
    return environment_lookup(ctx.scene->environment, direction);
}

}  // namespace vosh::render
