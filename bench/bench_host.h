// A host whose operations answer in constant time, so that a benchmark of the
// module measures the module and not the host. The executable exports the
// 28 operations (ENABLE_EXPORTS); the module finds them by name.
#pragma once

#include <array>
#include <cstdint>

#include "host/render_state.h"
#include "shader/entry_points.h"
#include "shader/occlusion_params.h"

namespace vosh::bench {

// Sampler pairs handed out by index; a call never asks for more.
constexpr uint32_t max_directions = 256;

// Probe answers cycle through this pattern, one entry per mi_trace_probe:
// misses alternate with hits at fixed distances, one of them beyond the
// default far distance (2) so every branch of the weight is taken.
constexpr std::array<double, 8> probe_pattern{-1.0, 0.25, -1.0, 0.75, -1.0, 1.5, -1.0, 3.0};

struct BenchHost {
    RenderOptions options{};
    CameraRecord camera{512, 512};
    ShaderRecord shader{0};
    RenderState state{};
    RenderState child{};
    void* user_slot = nullptr;
    uint32_t probe_cursor = 0;
    double falloff_start = 0.0, falloff_stop = 0.0;
    std::array<std::array<double, 2>, max_directions> pairs{};
};

BenchHost& host();

// The shading state every call starts from: an eye-ray hit at the origin,
// normal +z, depth 2, no connected parameters.
void reset_state();

// A parameter block with the shipped declaration's defaults, read at first use.
OcclusionParams default_params();

// The module, loaded with dlopen and given this executable's handle.
struct Module {
    void* handle = nullptr;
    InitFn init = nullptr;
    ExitFn exit = nullptr;
    ShadeFn shade = nullptr;
};
const Module& module();

}  // namespace vosh::bench
