#include "support/scripted_host.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "host/host_interface.h"
#include "support/declared_defaults.h"
#include "support/dynamic_library.h"

namespace vosh::test {
namespace {

std::unique_ptr<ScriptedHost> g_host;

// Parameter blocks live here so connection markers beyond them stay in bounds.
alignas(16) unsigned char g_param_buffer[2 * kConnectionOffset];

thread_local RenderState t_child{};

std::string format(const char* fmt, ...) {
    char buffer[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

double radical_inverse(uint32_t i) {
    i = (i << 16u) | (i >> 16u);
    i = ((i & 0x55555555u) << 1u) | ((i & 0xAAAAAAAAu) >> 1u);
    i = ((i & 0x33333333u) << 2u) | ((i & 0xCCCCCCCCu) >> 2u);
    i = ((i & 0x0F0F0F0Fu) << 4u) | ((i & 0xF0F0F0F0u) >> 4u);
    i = ((i & 0x00FF00FFu) << 8u) | ((i & 0xFF00FF00u) >> 8u);
    return i * 2.3283064365386963e-10;
}

void apply(const std::array<float, 9>& m, Vector* out, const Vector* in) {
    const Vector v = *in;
    out->x = m[0] * v.x + m[1] * v.y + m[2] * v.z;
    out->y = m[3] * v.x + m[4] * v.y + m[5] * v.z;
    out->z = m[6] * v.x + m[7] * v.y + m[8] * v.z;
}

std::string op_name(const std::string& call) { return call.substr(0, call.find('(')); }

}  // namespace

std::vector<std::string> ScriptedHost::calls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

int ScriptedHost::count(const std::string& op) const {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const std::string& call : log) n += op_name(call) == op;
    return n;
}

void ScriptedHost::clear_calls() {
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
}

void ScriptedHost::record(std::string call) {
    if (!recording.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(std::move(call));
}

ScriptedHost& host() {
    if (!g_host) reset_host();
    return *g_host;
}

ScriptedHost::~ScriptedHost() {
    for (auto& block : live_blocks) std::free(block.first);
}

ScriptedHost& reset_host() {
    g_host = std::make_unique<ScriptedHost>();
    ScriptedHost& h = *g_host;
    h.options.ray_tracing_enabled = 1;
    h.options.depth_setting = 2;
    h.options.facing_default = 'a';
    RenderState& s = h.state;
    s.camera_record = &h.camera;
    s.render_options = &h.options;
    s.parent_state = nullptr;
    s.ray_kind = ray_kind::eye;
    s.facing_mode = 'a';
    s.ray_direction = {0, 0, -1};
    s.ray_length = 1.0;
    s.outgoing_ior = 1.0f;
    s.incoming_ior = 1.0f;
    s.hit_point = {0, 0, 0};
    s.shading_normal = {0, 0, 1};
    s.normal_dot_direction = -1.0f;
    s.active_shader = &h.shader;
    s.child_state = nullptr;
    return h;
}

void set_marker(const void* field, int32_t marker) {
    host().shader.connection_offset = kConnectionOffset;
    std::memcpy(const_cast<char*>(static_cast<const char*>(field)) + kConnectionOffset, &marker,
                sizeof marker);
}

const char* module_path() { return VOSH_MODULE_PATH; }

const LoadedModule& module() {
    static const LoadedModule loaded = [] {
        LoadedModule m;
        m.handle = open_library(module_path());
        if (!m.handle) {
            std::fprintf(stderr, "cannot load %s: %s\n", module_path(), library_error().c_str());
            std::abort();
        }
        m.set_module_handle =
            reinterpret_cast<SetModuleHandleFn>(find_symbol(m.handle, "miSetModuleHandle"));
        m.version = reinterpret_cast<VersionFn>(find_symbol(m.handle, "vosh_occlusion_version"));
        m.init = reinterpret_cast<InitFn>(find_symbol(m.handle, "vosh_occlusion_init"));
        m.exit = reinterpret_cast<ExitFn>(find_symbol(m.handle, "vosh_occlusion_exit"));
        m.shade = reinterpret_cast<ShadeFn>(find_symbol(m.handle, "vosh_occlusion"));
        if (m.set_module_handle) m.set_module_handle(own_module());
        return m;
    }();
    return loaded;
}

OcclusionParams& default_params() {
    static const std::vector<unsigned char> declared = [] {
        std::vector<unsigned char> block(sizeof(OcclusionParams));
        std::string error;
        if (!read_declared_defaults(VOSH_DECLARATION_PATH, block.data(), block.size(), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        return block;
    }();
    std::memset(g_param_buffer, 0, sizeof g_param_buffer);
    std::memcpy(g_param_buffer, declared.data(), declared.size());
    auto* p = reinterpret_cast<OcclusionParams*>(g_param_buffer);
    p->samples = kScriptedSamples;
    p->far_distance = kScriptedFarDistance;
    return *p;
}

OcclusionInstance* init_instance(OcclusionParams& params) {
    ScriptedHost& h = host();
    HostBool required = 0;
    module().init(&h.state, &params, &required);
    return static_cast<OcclusionInstance*>(h.user_slot);
}

Color shade(OcclusionParams& params, RenderState& state, float opacity) {
    Color result{0, 0, 0, opacity};
    module().shade(&result, &state, &params);
    return result;
}

Color shade(OcclusionParams& params, float opacity) { return shade(params, host().state, opacity); }

}  // namespace vosh::test

// ---------------------------------------------------------------------------
// The exported host operations.

using namespace vosh;
using vosh::test::format;
using vosh::test::host;
using vosh::test::ScriptedHost;

extern "C" {

int32_t mi_query(int32_t code, RenderState*, Tag tag, void* result, ...) {
    ScriptedHost& h = host();
    if (code == 15 || code == 127) {
        va_list args;
        va_start(args, result);
        void* extra = va_arg(args, void*);
        va_end(args);
        h.record(format("mi_query(%d,%u,%p)", code, tag, extra));
        return 1;
    }
    h.record(format("mi_query(%d,%u)", code, tag));
    switch (code) {
        case query_code::user_slot:
            *static_cast<void***>(result) = &h.user_slot;
            return 1;
        case query_code::instance_item: {
            auto it = h.instance_items.find(tag);
            *static_cast<Tag*>(result) = it == h.instance_items.end() ? 0 : it->second;
            return 1;
        }
        case query_code::light_kind: {
            auto it = h.light_kinds.find(tag);
            *static_cast<int32_t*>(result) = it == h.light_kinds.end() ? 0 : it->second;
            return 1;
        }
        default:
            return 0;
    }
}

void* mi_phen_eval(RenderState* state, void* parameter) {
    ScriptedHost& h = host();
    const long offset = static_cast<char*>(parameter) - reinterpret_cast<char*>(vosh::test::g_param_buffer);
    h.record(format("mi_phen_eval(%ld)", offset));
    if (h.phen_eval_fn) h.phen_eval_fn(state, parameter);
    auto it = h.connected_values.find(parameter);
    return it == h.connected_values.end() ? parameter : it->second.data();
}

void* mi_mem_int_allocate(const char* file, int32_t line, int32_t size) {
    ScriptedHost& h = host();
    h.record(format("mi_mem_int_allocate(%d)", size));
    void* block = std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
    std::memset(block, 0xA5, size > 0 ? static_cast<size_t>(size) : 1);  // callers must zero it
    std::lock_guard<std::mutex> lock(h.mutex);
    h.live_blocks[block] = format("%s:%d", file ? file : "(null)", line);
    return block;
}

void mi_mem_int_release(const char*, int32_t, void* block) {
    ScriptedHost& h = host();
    h.record("mi_mem_int_release");
    std::lock_guard<std::mutex> lock(h.mutex);
    if (h.live_blocks.erase(block)) std::free(block);
}

void* mi_shaderstate_get(RenderState*, const char* key, int32_t* size) {
    ScriptedHost& h = host();
    h.record(format("mi_shaderstate_get(%s)", key));
    auto it = h.shaderstate.find(key);
    if (it == h.shaderstate.end()) return nullptr;
    if (size) *size = 4;
    return &it->second;
}

void mi_shaderstate_set(RenderState*, const char* key, const void* value, int32_t size,
                        int32_t lifetime) {
    ScriptedHost& h = host();
    int32_t v = 0;
    if (value && size >= 4) std::memcpy(&v, value, sizeof v);
    h.record(format("mi_shaderstate_set(%s,%d,%d,%d)", key, v, size, lifetime));
    h.shaderstate[key] = v;
}

int32_t mi_sample(double* sample, int32_t* counter, RenderState*, uint32_t dimension,
                  const uint32_t* count) {
    ScriptedHost& h = host();
    h.record(format("mi_sample(%u)", dimension));
    if (h.sampler_refuses || *counter < 0 || static_cast<uint32_t>(*counter) >= *count) return 0;
    if (h.sampler_limit >= 0 && *counter >= h.sampler_limit) return 0;
    const uint32_t i = static_cast<uint32_t>(*counter);
    if (h.sample_pairs.empty()) {
        sample[0] = (i + 0.5) / *count;
        sample[1] = vosh::test::radical_inverse(i);
    } else {
        const auto& pair = h.sample_pairs[i % h.sample_pairs.size()];
        sample[0] = pair[0];
        sample[1] = pair[1];
    }
    ++*counter;
    return 1;
}

int32_t mi_trace_probe(RenderState* state, const Vector* direction, const Vector*) {
    ScriptedHost& h = host();
    h.record("mi_trace_probe");
    {
        std::lock_guard<std::mutex> lock(h.mutex);
        h.probe_directions.push_back(*direction);
    }
    if (h.probes.empty()) return 0;
    const uint64_t n = h.probe_cursor.fetch_add(1, std::memory_order_relaxed);
    const vosh::test::ProbeAnswer& answer = h.probes[n % h.probes.size()];
    if (!answer.hit) return 0;
    RenderState* child = state == &h.state ? &h.child : &vosh::test::t_child;
    child->ray_length = answer.distance;
    child->material_tag = answer.material_tag;
    child->object_label = answer.object_label;
    child->texture_coord_list = answer.texture_coord_list;
    state->child_state = child;
    return 1;
}

int32_t mi_trace_transparent(Color* result, RenderState*) {
    ScriptedHost& h = host();
    h.record("mi_trace_transparent");
    *result = h.transparent.color;
    return h.transparent.ok;
}

int32_t mi_trace_refraction(Color* result, RenderState*, const Vector*) {
    ScriptedHost& h = host();
    h.record("mi_trace_refraction");
    *result = h.refraction.color;
    return h.refraction.ok;
}

int32_t mi_trace_reflection(Color* result, RenderState* state, const Vector*) {
    ScriptedHost& h = host();
    h.record(format("mi_trace_reflection(in=%g,out=%g)", state->incoming_ior, state->outgoing_ior));
    *result = h.reflection.color;
    return h.reflection.ok;
}

int32_t mi_trace_environment(Color* result, RenderState*, const Vector* direction) {
    ScriptedHost& h = host();
    h.record("mi_trace_environment");
    *result = h.environment_fn ? h.environment_fn(*direction) : h.environment;
    return 1;
}

int32_t mi_trace_light(Color* result, Vector* direction, float* dot_nl, RenderState* state,
                       Tag light) {
    ScriptedHost& h = host();
    h.record(format("mi_trace_light(%u)", light));
    h.origin_primitive_at_light = state->origin_primitive;
    *result = {1, 1, 1, 1};
    *direction = h.light_direction;
    *dot_nl = 1.0f;
    return 1;
}

int32_t mi_refraction_dir(Vector* direction, RenderState*, float ior_in, float ior_out) {
    ScriptedHost& h = host();
    h.record(format("mi_refraction_dir(%g,%g)", ior_in, ior_out));
    *direction = h.refraction_dir;
    return h.refraction_dir_ok;
}

void mi_reflection_dir(Vector* direction, RenderState* state) {
    ScriptedHost& h = host();
    h.record(format("mi_reflection_dir(in=%g,out=%g)", state->incoming_ior, state->outgoing_ior));
    *direction = h.reflection_dir;
}

int32_t mi_ray_falloff(RenderState*, double* start, double* stop) {
    ScriptedHost& h = host();
    h.record(format("mi_ray_falloff(%g,%g)", *start, *stop));
    // One falloff pair for all threads: swap it under the lock.
    std::lock_guard<std::mutex> lock(h.mutex);
    std::swap(h.falloff_start, *start);
    std::swap(h.falloff_stop, *stop);
    return 1;
}

int32_t mi_compute_avg_radiance(Color* result, RenderState*, char face,
                                const GatherSettings* settings) {
    ScriptedHost& h = host();
    h.record(format("mi_compute_avg_radiance(%c,%d)", face, settings ? settings->size : -1));
    if (settings) h.last_gather = *settings;
    *result = h.avg_radiance;
    return 1;
}

int32_t mi_call_shader_x(Color* result, int32_t kind, RenderState* state, Tag shader, void*) {
    ScriptedHost& h = host();
    h.record(format("mi_call_shader_x(%d,%u)", kind, shader));
    auto marker = h.shaderstate.find("mydata");
    h.marker_at_shader_call = marker == h.shaderstate.end() ? -1 : marker->second;
    h.texture_list_at_shader_call = state->texture_coord_list;
    if (h.shader_fn) {
        h.shader_fn(result, state, shader);
    } else {
        *result = h.shader_color;
    }
    return 1;
}

int32_t mi_normal_to_world(RenderState*, Vector* out, const Vector* in) {
    host().record("mi_normal_to_world");
    vosh::test::apply(host().to_world, out, in);
    return 1;
}

int32_t mi_normal_to_camera(RenderState*, Vector* out, const Vector* in) {
    host().record("mi_normal_to_camera");
    vosh::test::apply(host().to_camera, out, in);
    return 1;
}

int32_t mi_normal_to_object(RenderState*, Vector* out, const Vector* in) {
    host().record("mi_normal_to_object");
    vosh::test::apply(host().to_object, out, in);
    return 1;
}

int32_t mi_normal_to_light(RenderState*, Vector* out, const Vector* in) {
    host().record("mi_normal_to_light");
    vosh::test::apply(host().to_light, out, in);
    return 1;
}

void mi_point_to_raster(RenderState*, Vector* out, const Vector* in) {
    ScriptedHost& h = host();
    h.record("mi_point_to_raster");
    const Vector p = *in;
    out->x = p.x * h.raster_scale + h.raster_offset_x;
    out->y = p.y * h.raster_scale + h.raster_offset_y;
    out->z = p.z;
}

void mi_point_transform(Vector* out, const Vector* in, const float* m) {
    host().record("mi_point_transform");
    const Vector p = *in;
    out->x = p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12];
    out->y = p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13];
    out->z = p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14];
}

void* mi_db_access(Tag tag) {
    ScriptedHost& h = host();
    h.record(format("mi_db_access(%u)", tag));
    auto it = h.db_records.find(tag);
    return it == h.db_records.end() ? nullptr : it->second.data();
}

void mi_db_unpin(Tag tag) { host().record(format("mi_db_unpin(%u)", tag)); }

int32_t mi_db_type(Tag tag) {
    ScriptedHost& h = host();
    h.record(format("mi_db_type(%u)", tag));
    auto it = h.db_types.find(tag);
    return it == h.db_types.end() ? 0 : it->second;
}

void mi_warning(const char* text, ...) {
    ScriptedHost& h = host();
    h.record("mi_warning");
    std::lock_guard<std::mutex> lock(h.mutex);
    h.warnings.push_back(text ? text : "");
}

}  // extern "C"
