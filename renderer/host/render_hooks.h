// Hooks for benchmarks, which see every probe ray or replace the sampler.
// Only the benchmarks' build of the host operations has them (compiled with
// VOSH_RENDER_HOOKS, renderer/CMakeLists.txt): in vosh-render's the hook
// points below are the plain work, with nothing to check per sample or
// per probe.
#pragma once

#include <cstdint>

#include "renderer/math/math3.h"
#include "renderer/trace/sampler.h"

namespace vosh::render {

#if defined(VOSH_RENDER_HOOKS)
// Both null unless a benchmark sets them; set them before a render starts
// and clear them after it ends.
struct RenderHooks {
    // Sees every probe ray as traced: origin, unit direction, farthest distance.
    void (*probe_traced)(Vec3 origin, Vec3 direction, double max_distance) = nullptr;
    // Replaces the sampler's point `index` of the sequence `seed`.
    void (*sample_point)(uint32_t index, uint32_t seed, double out[2]) = nullptr;
};
extern RenderHooks render_hooks;
#endif

// Points index .. index + n - 1 of sequence `seed`. Made together, their
// independent multiply chains overlap, where one at a time each waits for
// the probe traced before it; a hook gets them one per call as needed.
// Returns how many were made.
inline uint32_t hooked_sample_points(uint32_t index, uint32_t n, uint32_t seed, double out[][2]) {
#if defined(VOSH_RENDER_HOOKS)
    if (render_hooks.sample_point) {
        render_hooks.sample_point(index, seed, out[0]);
        return 1;
    }
#endif
    for (uint32_t k = 0; k < n; ++k) sobol_owen_2d(index + k, seed, out[k]);
    return n;
}

// The sampler's point `index` of the sequence `seed`, as mi_sample hands it out.
inline void hooked_sample_point(uint32_t index, uint32_t seed, double out[2]) {
#if defined(VOSH_RENDER_HOOKS)
    if (render_hooks.sample_point) {
        render_hooks.sample_point(index, seed, out);
        return;
    }
#endif
    sobol_owen_2d(index, seed, out);
}

// A probe ray mi_trace_probe is about to trace.
inline void hooked_probe_traced([[maybe_unused]] Vec3 origin, [[maybe_unused]] Vec3 direction,
                                [[maybe_unused]] double max_distance) {
#if defined(VOSH_RENDER_HOOKS)
    if (render_hooks.probe_traced) render_hooks.probe_traced(origin, direction, max_distance);
#endif
}

}  // namespace vosh::render
