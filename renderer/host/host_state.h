// What the host keeps about one RenderState beyond the fields the module
// shares, and the way from a RenderState back to it.
#pragma once

#include <cstdint>
#include <limits>

#include "host/render_state.h"
#include "renderer/math/math3.h"
#include "renderer/trace/geometry.h"

namespace vosh::render {

class ThreadContext;

struct HostState {
    RenderState rs{};  // what the module sees; rs.host_data points back here
    ThreadContext* thread = nullptr;
    int depth = 0;
    bool has_surface = false;
    uint32_t object = UINT32_MAX;
    uint32_t primitive = UINT32_MAX;
    double b1 = 0, b2 = 0;  // barycentrics of the hit on a mesh triangle
    Vec3 facing_normal;  // geometric normal turned toward the incoming ray
    Vec3 ray_origin;
    Vector texture{};  // rs.texture_coord_list points here
    double falloff_start = 0;
    double falloff_stop = std::numeric_limits<double>::infinity();
    // A probe hit is described at once only as far as the module reads it
    // (ray_length, material, label, the links); its surface (point, normals,
    // texture coordinates) waits here until a host operation needs it.
    bool pending = false;
    ProbeHit pending_hit;
    Vec3 pending_direction;  // the origin is ray_origin
};

// Describes the surface of a pending probe hit (host/probe.cpp).
void complete_probe_hit(HostState& s);

// Makes the state's own fields whole: every host operation that reads them
// passes through here or host_state.
inline void complete_if_pending(RenderState* state) {
    HostState& s = *static_cast<HostState*>(state->host_data);
    if (s.pending) complete_probe_hit(s);
}

inline HostState& host_state(RenderState* state) {
    complete_if_pending(state);
    return *static_cast<HostState*>(state->host_data);
}

}  // namespace vosh::render
