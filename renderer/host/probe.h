// The module's probe rays and the host's own visibility rays (lights,
// final gather): the hot path of a render, kept to one traversal that
// describes nothing wherever the state's facing mode and the ray's start
// allow it.
#pragma once

#include "renderer/host/host_state.h"
#include "renderer/math/math3.h"
#include "renderer/trace/ray_origin.h"

namespace vosh::render {

// Whether the nearest hit on any face answers a ray from `from`'s surface
// that starts at `start`: the facing mode accepts both faces, and the ray
// cannot meet the planar primitive it leaves from. Otherwise it needs the
// stepping trace (trace_from), which refuses faces and the own primitive.
bool takes_first_hit(const HostState& from, const RayStart& start);

// Traces a probe from `from` along unit `direction` and, on a hit, makes
// `child` its state: at once what the module reads (ray_length, material,
// label, the links), the surface when a host operation first needs it.
bool trace_probe_ray(HostState& from, HostState& child, const RayStart& start, Vec3 direction,
                     double max_distance);

// Whether anything `from` may see lies along the ray within max_distance.
bool blocked_from(const HostState& from, const RayStart& start, Vec3 direction, double max_distance);

}  // namespace vosh::render
