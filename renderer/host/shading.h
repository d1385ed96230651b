// Tracing rays from a state and shading what they hit: the renderer's own
// loop and the host operations share these.
#pragma once

#include <cstdint>

#include "host/render_state.h"
#include "renderer/trace/geometry.h"
#include "renderer/host/host_state.h"
#include "renderer/host/render_context.h"
#include "renderer/host/shader_runtime.h"
#include "renderer/math/math3.h"
#include "renderer/trace/ray_origin.h"

namespace vosh::render {

// Ray kind of the module's probe rays, which no shader sees as a shading call.
namespace host_ray {
constexpr int32_t probe = 30;
}  // namespace host_ray

// Origin of a ray that leaves the state's surface: surface_ray_start
// (trace/ray_origin.h) on the state's hit; unchanged, and clear of any
// plane, off every surface.
RayStart ray_start(const HostState& from, Vec3 origin, Vec3 direction);
Vec3 offset_origin(const HostState& from, Vec3 origin, Vec3 direction);

// Nearest hit from `from`'s surface along `direction` (unit) within
// `max_distance`, honouring the state's facing mode and keeping off its own
// planar primitive.
bool trace_from(const HostState& from, Vec3 origin, Vec3 direction, double max_distance,
                SurfaceHit& hit);

// Fills `to` as the state of a ray from `parent` (null for an eye ray) that
// hit `hit`; normals are turned toward the incoming ray.
void describe_hit(HostState& to, HostState* parent, Vec3 origin, Vec3 direction,
                  const SurfaceHit& hit, int32_t kind);
// The two halves of describe_hit: the ray's own fields (the links, kind,
// direction, media, falloff), and the surface it hit.
void describe_ray(HostState& to, HostState* parent, Vec3 origin, Vec3 direction, int32_t kind);
void describe_surface(HostState& to, Vec3 direction, const SurfaceHit& hit);
// Same for a ray that left the scene.
void describe_miss(HostState& to, HostState* parent, Vec3 origin, Vec3 direction, int32_t kind);

// Runs a shader on `state`: the module for an occlusion instance (with the
// instance as the active shader for the call), the host's own otherwise.
bool call_shader(ShaderRuntime& shader, Color* result, RenderState* state);

// Colour of the surface `s` describes, from its material's shader.
Color shade_surface(HostState& s);

// Continues a ray from `s` along `direction` and shades what it hits (or
// the environment). False beyond the trace depth.
bool continue_ray(HostState& s, Vec3 direction, int32_t kind, Color& out);

// Radiance of the scene's environment along `direction`.
Color environment_radiance(const RenderContext& ctx, Vec3 direction);

}  // namespace vosh::render
