// Everything one open session shares between its threads: the scene and
// its ray-tracing geometry, the camera, the host's records, the module's
// entry points, and the warnings and memory the module hands the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/render_state.h"
#include "renderer/host/db_records.h"
#include "renderer/host/memory_tracker.h"
#include "renderer/host/module_loader.h"
#include "renderer/host/shader_runtime.h"
#include "renderer/host/warning_log.h"
#include "renderer/math/math3.h"
#include "renderer/trace/camera.h"

namespace vosh::render {

struct Scene;
struct ShaderDeclaration;
class SceneGeometry;

struct RenderContext {
    const Scene* scene = nullptr;
    const ShaderDeclaration* decl = nullptr;
    const SceneGeometry* geometry = nullptr;
    CameraModel camera;
    RenderOptions options{};
    CameraRecord camera_record{};
    std::vector<std::unique_ptr<ShaderRuntime>> shaders;
    std::vector<MaterialRecord> materials;
    std::vector<LightInstanceRecord> light_instances;
    std::vector<LightItemRecord> light_items;
    std::vector<Mat4> light_to_world;
    ModuleEntries module;
    int max_depth = 8;
    std::atomic<int64_t> pins{0};
    WarningLog warnings;
    MemoryTracker memory;
};

// The shader instance whose call `state` is in (its active shader), or null.
inline ShaderRuntime* running_shader(const RenderContext& ctx, const RenderState* state) {
    if (!state || !state->active_shader) return nullptr;
    const auto* record = reinterpret_cast<const HostShaderRecord*>(state->active_shader);
    if (record->shader_index >= ctx.shaders.size()) return nullptr;
    return ctx.shaders[record->shader_index].get();
}

}  // namespace vosh::render
