// A host that answers every operation from a per-test script and records
// each call. The test executable exports the 28 operations (ENABLE_EXPORTS),
// loads the built module with dlopen and hands it its own handle, exactly as
// a real host does.
#pragma once

#include <array>
#include <cstring>
#include <memory>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/render_state.h"
#include "shader/entry_points.h"
#include "shader/occlusion_instance.h"
#include "shader/occlusion_params.h"

namespace vosh::test {

// One scripted answer of mi_trace_probe. A hit fills the child state.
struct ProbeAnswer {
    bool hit = false;
    double distance = 0.0;
    Tag material_tag = 0;
    uint32_t object_label = 0;
    void* texture_coord_list = nullptr;
};

inline ProbeAnswer hit_at(double distance, Tag material = 0, uint32_t label = 0) {
    return ProbeAnswer{true, distance, material, label, nullptr};
}
inline ProbeAnswer miss() { return ProbeAnswer{}; }

struct TraceAnswer {
    bool ok = true;
    Color color{0, 0, 0, 0};
};

struct ScriptedHost {
    // Frees the blocks the module still holds, so an instance that a test
    // never exits is not reported as leaked when the process ends.
    ~ScriptedHost();

    // --- records the host owns; tests edit them freely -------------------
    RenderOptions options{};
    CameraRecord camera{640, 480};
    ShaderRecord shader{0};
    RenderState state{};  // the state being shaded (see reset())
    RenderState child{};  // filled by probe hits

    // --- script ----------------------------------------------------------
    // mi_sample: pairs handed out in order, cycling; the sampler refuses once
    // the counter reaches *count. Empty: a stratified default sequence.
    std::vector<std::array<double, 2>> sample_pairs;
    bool sampler_refuses = false;
    // Refuses once the counter reaches this too, whatever *count asks for
    // (negative: no limit), so an absurd count cannot run a test for ever.
    int32_t sampler_limit = -1;
    // mi_trace_probe: answers in order, cycling (all misses when empty).
    std::vector<ProbeAnswer> probes;
    // Colours of the tracing operations; `ok` is what they return.
    TraceAnswer transparent{true, {0, 0, 0, 0}};
    TraceAnswer refraction{true, {0, 0, 0, 0}};
    TraceAnswer reflection{true, {0, 0, 0, 0}};
    Color environment{0, 0, 0, 0};                     // mi_trace_environment
    std::function<Color(const Vector&)> environment_fn;  // overrides `environment`
    Color avg_radiance{0, 0, 0, 0};                    // mi_compute_avg_radiance
    bool refraction_dir_ok = true;
    Vector refraction_dir{0, 0, -1};
    Vector reflection_dir{0, 0, 1};
    Vector light_direction{0, 0, 0};  // written by mi_trace_light
    // mi_query 7 and 23 answers (by tag), and the user slot of code 51.
    std::map<Tag, Tag> instance_items;    // light instance tag -> light item tag
    std::map<Tag, int32_t> light_kinds;   // light item tag -> 0 positional
    void* user_slot = nullptr;
    // mi_db_access records (kept alive here) and mi_db_type answers.
    std::map<Tag, std::vector<unsigned char>> db_records;
    std::map<Tag, int32_t> db_types;
    // mi_call_shader_x: runs this if set, else writes shader_color.
    std::function<void(Color*, RenderState*, Tag)> shader_fn;
    Color shader_color{0, 0, 0, 0};
    // mi_phen_eval: value buffers by parameter address.
    std::map<const void*, std::vector<unsigned char>> connected_values;
    // Runs inside mi_phen_eval, before it answers: lets a test look at the
    // state at the moment a connected parameter is evaluated.
    std::function<void(RenderState*, const void*)> phen_eval_fn;
    // Normal transforms: 3x3 row-major matrices (identity by default).
    std::array<float, 9> to_world = identity(), to_camera = identity(),
                         to_object = identity(), to_light = identity();
    // mi_point_to_raster: x' = x*raster_scale + raster_offset_x, likewise y; z kept.
    float raster_scale = 1.0f, raster_offset_x = 0.0f, raster_offset_y = 0.0f;

    // --- observed ----------------------------------------------------------
    std::vector<std::string> warnings;
    std::map<void*, std::string> live_blocks;  // block -> "file:line"
    double falloff_start = 0.0, falloff_stop = 0.0;  // as last installed
    std::map<std::string, int32_t> shaderstate;      // 32-bit values by key
    GatherSettings last_gather{};                    // as passed to mi_compute_avg_radiance
    std::vector<Vector> probe_directions;            // every mi_trace_probe direction, in order
    void* origin_primitive_at_light = reinterpret_cast<void*>(1);  // seen by mi_trace_light
    int32_t marker_at_shader_call = -1;              // "mydata" while mi_call_shader_x ran
    void* texture_list_at_shader_call = nullptr;     // state's list while mi_call_shader_x ran
    bool shaderstate_present(const std::string& key) const { return shaderstate.count(key) != 0; }

    // Every call, formatted compactly, e.g. "mi_shaderstate_set(mydata,1,4,1)".
    std::vector<std::string> calls() const;
    int count(const std::string& op) const;
    void clear_calls();
    void record(std::string call);

    static std::array<float, 9> identity() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }

    mutable std::mutex mutex;  // guards the call log; the script is read-only while shading
    std::vector<std::string> log;
    std::atomic<uint64_t> probe_cursor{0};
    std::atomic<bool> recording{true};
};

// The one host of this process (the exported C operations answer from it).
ScriptedHost& host();
// Fresh script and records: an eye-ray state at the origin facing +z with
// normal (0, 0, 1), ray tracing on, depth 2, facing 'a', no connections.
ScriptedHost& reset_host();

// Parameter blocks from default_params() sit in a buffer with room for the
// host's connection markers this many bytes beyond each field.
constexpr int32_t kConnectionOffset = 1024;

// Marks a field of a default_params() block as connected: the host writes a
// non-zero marker at kConnectionOffset beyond it and mi_phen_eval answers
// `value`.
template <class T>
void connect_param(T& field, const T& value) {
    ScriptedHost& h = host();
    h.shader.connection_offset = kConnectionOffset;
    const int32_t marker = 1;
    std::memcpy(reinterpret_cast<char*>(&field) + kConnectionOffset, &marker, sizeof marker);
    std::vector<unsigned char>& bytes = h.connected_values[&field];
    bytes.resize(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
}
// Writes a raw marker value beside a field without registering a value.
void set_marker(const void* field, int32_t marker);

// The loaded module, its entry points looked up by name.
struct LoadedModule {
    void* handle = nullptr;
    SetModuleHandleFn set_module_handle = nullptr;
    VersionFn version = nullptr;
    InitFn init = nullptr;
    ExitFn exit = nullptr;
    ShadeFn shade = nullptr;
};
// Loads the module once per process and passes it this executable's handle.
const LoadedModule& module();
const char* module_path();

// The module tests' probe scripts and expected weights are written for
// fewer samples and a longer reach than the declaration's defaults (64
// samples, far distance 2): a scripted hit at 5 or 10 units must count.
constexpr int32_t kScriptedSamples = 8;
constexpr float kScriptedFarDistance = 10.0f;

// A parameter block for a plain render: the shipped declaration's defaults
// (read at first use), with kScriptedSamples and kScriptedFarDistance in
// place of its sample count and far distance. Lives in a buffer large
// enough for connection markers (see connect_param).
OcclusionParams& default_params();

// Runs init for `params` on host().state and returns the record it stored.
OcclusionInstance* init_instance(OcclusionParams& params);
// Calls vosh_occlusion with a result whose alpha is `opacity`.
Color shade(OcclusionParams& params, float opacity = 1.0f);
Color shade(OcclusionParams& params, RenderState& state, float opacity = 1.0f);

}  // namespace vosh::test
