// The renderer's side of the host interface: the records behind the tags,
// the per-thread and per-state data behind each RenderState, and the one
// render context that the exported host operations reach.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/render_state.h"
#include "renderer/trace/camera.h"
#include "renderer/trace/geometry.h"
#include "renderer/host/module_loader.h"
#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/host/tags.h"

namespace vosh::render {

// What the module sees as `active_shader`: the record it reads, followed by
// the index that leads the host back to its own data.
struct HostShaderRecord {
    ShaderRecord record;
    uint32_t shader_index;
};

struct ShaderRuntime {
    HostShaderRecord host_record{};
    ShaderKind kind = ShaderKind::constant;
    const ShaderDesc* desc = nullptr;
    // occlusion: the block followed, connection_offset bytes on, by the
    // connection markers; connected[offset] is the feeding shader or -1.
    std::vector<unsigned char> buffer;
    std::vector<int32_t> connected;
    int32_t light = -1;  // scene light named by the block's light parameter
    void* user_slot = nullptr;
};

// Database records, laid out as the module reads them.
struct MaterialRecord {
    uint32_t kind;
    Tag shader_tag;  // second 32-bit word
    float opacity;
};

struct LightInstanceRecord {
    uint32_t kind;
    Tag item_tag;
    char name[64];
    float local_to_world[16];  // 72 bytes in, row-major
};
static_assert(offsetof(LightInstanceRecord, local_to_world) == 72, "light matrix sits 72 bytes in");

struct LightItemRecord {
    uint32_t kind;
    int32_t positional_kind;  // 0 point, 1 directional
};

class ThreadContext;

// Everything the host knows about one RenderState beyond its shared fields.
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

// One render thread's states (one per trace depth), per-sample shader
// state, sampler bookkeeping and counters.
class ThreadContext {
public:
    ThreadContext(int max_depth, CameraRecord* camera, RenderOptions* options);

    HostState& state_at(int depth) { return *states_[static_cast<size_t>(depth)]; }
    int max_depth() const { return max_depth_; }

    // Starts sample `sample` of `samples` of cell (x, y) (a pixel, or a texel
    // of a bake) in a render seeded with `seed`: empty shader state, and the
    // shading calls count from 0 again.
    void begin_sample(uint32_t cell_x, uint32_t cell_y, uint32_t sample, uint32_t samples, uint32_t seed);

    // One shading call's sequence and where this sample's points start in it.
    struct Sequence {
        uint32_t seed = 0;
        uint32_t first = 0;  // the cell's block, then s n for sample s of n points
    };
    // The sequence whose counter lives at `counter`, for `count` points per
    // sample; a counter at 0 starts the next shading call's sequence.
    const Sequence& sequence(const int32_t* counter, uint32_t count);
    // A fresh sequence for the host's own sampling (final gather).
    Sequence next_sequence(uint32_t count);

    void* shader_state_get(const char* key, int32_t* size);
    void shader_state_set(const char* key, const void* value, int32_t size);

    // Storage for an evaluated connected parameter; valid until many more
    // evaluations have happened (the module copies the value at once).
    unsigned char* eval_slot();

    uint64_t probes = 0;
    uint64_t bad_samples = 0;
    // A bake sets these: its raster space is texel space, reached through
    // the affine map of the triangle under the current texel point.
    bool has_raster_map = false;
    Mat4 world_to_raster;

private:
    int max_depth_;
    std::vector<std::unique_ptr<HostState>> states_;
    uint32_t x_ = 0, y_ = 0, sample_ = 0, samples_ = 1, seed_ = 0, call_index_ = 0;
    std::vector<std::pair<const int32_t*, Sequence>> sequences_;
    struct Entry {
        std::string key;
        std::vector<unsigned char> value;
        bool present = false;
    };
    std::vector<Entry> store_;
    std::array<std::array<unsigned char, 16>, 64> eval_ring_{};
    size_t eval_next_ = 0;
};

// Counts and shows warnings; a message seen often is shown a few times and
// then only counted, so a per-sample warning cannot flood the terminal.
class WarningLog {
public:
    void warn(const std::string& text);
    void flush_summary();
    // Where the lines shown go instead of standard error (one call per
    // line, without the "WARNING: " lead), as in a process that passes its
    // warnings to another one. Set it before the first warning.
    void send_to(std::function<void(const std::string& line)> outlet) { outlet_ = std::move(outlet); }

private:
    void show(const std::string& line);
    std::mutex mutex_;
    std::function<void(const std::string& line)> outlet_;
    std::map<std::string, uint64_t> counts_;
};

// Blocks handed out through mi_mem_int_allocate, for the leak report.
class MemoryTracker {
public:
    void* allocate(const char* file, int32_t line, int32_t size);
    bool release(void* block);
    // One line per block still held; returns how many.
    size_t report_leaks();

private:
    std::mutex mutex_;
    std::map<void*, std::string> blocks_;
};

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

// The context of the render under way; the host operations use it. One
// render at a time per process.
RenderContext& context();
void set_context(RenderContext* ctx);

// The shader instance whose call `state` is in (its active shader), or null.
ShaderRuntime* running_shader(RenderState* state);

}  // namespace vosh::render
