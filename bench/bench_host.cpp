#include "bench/bench_host.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_interface.h"
#include "support/declared_defaults.h"

namespace vosh::bench {
namespace {

BenchHost g_host;

// The one shader-state entry the module uses, "mydata".
int32_t g_marker = 0;
bool g_marker_set = false;

// Material record: the shader tag is its second word.
const Tag g_material_record[2] = {0, 9};

double radical_inverse(uint32_t i) {
    i = (i << 16u) | (i >> 16u);
    i = ((i & 0x55555555u) << 1u) | ((i & 0xAAAAAAAAu) >> 1u);
    i = ((i & 0x33333333u) << 2u) | ((i & 0xCCCCCCCCu) >> 2u);
    i = ((i & 0x0F0F0F0Fu) << 4u) | ((i & 0xF0F0F0F0u) >> 4u);
    i = ((i & 0x00FF00FFu) << 8u) | ((i & 0xFF00FF00u) >> 8u);
    return i * 2.3283064365386963e-10;
}

void* symbol(void* library, const char* name) {
    void* address = dlsym(library, name);
    if (!address) {
        std::fprintf(stderr, "module lacks %s\n", name);
        std::exit(1);
    }
    return address;
}

}  // namespace

BenchHost& host() { return g_host; }

void reset_state() {
    BenchHost& h = g_host;
    h.options = RenderOptions{};
    h.options.ray_tracing_enabled = 1;
    h.options.depth_setting = 2;
    h.options.facing_default = 'a';
    h.child = RenderState{};
    RenderState& s = h.state;
    s = RenderState{};
    s.camera_record = &h.camera;
    s.render_options = &h.options;
    s.ray_kind = ray_kind::eye;
    s.facing_mode = 'a';
    s.ray_direction = {0, 0, -1};
    s.ray_length = 1.0;
    s.outgoing_ior = 1.0f;
    s.incoming_ior = 1.0f;
    s.hit_point = {0, 0, 0};
    s.shading_normal = {0, 0, 1};
    s.normal_dot_direction = -1.0f;
    s.object_label = 1;
    s.active_shader = &h.shader;
    h.probe_cursor = 0;
    for (uint32_t i = 0; i < max_directions; ++i) {
        h.pairs[i] = {(i + 0.5) / max_directions, radical_inverse(i)};
    }
}

OcclusionParams default_params() {
    static const OcclusionParams declared = [] {
        OcclusionParams p{};
        std::string error;
        if (!test::read_declared_defaults(VOSH_DECLARATION_PATH, reinterpret_cast<unsigned char*>(&p),
                                          sizeof p, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        return p;
    }();
    return declared;
}

const Module& module() {
    static const Module loaded = [] {
        Module m;
        m.handle = dlopen(VOSH_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!m.handle) {
            std::fprintf(stderr, "cannot load %s: %s\n", VOSH_MODULE_PATH, dlerror());
            std::exit(1);
        }
        auto set_handle = reinterpret_cast<SetModuleHandleFn>(symbol(m.handle, "miSetModuleHandle"));
        m.init = reinterpret_cast<InitFn>(symbol(m.handle, "vosh_occlusion_init"));
        m.exit = reinterpret_cast<ExitFn>(symbol(m.handle, "vosh_occlusion_exit"));
        m.shade = reinterpret_cast<ShadeFn>(symbol(m.handle, "vosh_occlusion"));
        set_handle(dlopen(nullptr, RTLD_NOW));
        HostBool per_instance = 0;
        m.init(&g_host.state, nullptr, &per_instance);
        return m;
    }();
    return loaded;
}

}  // namespace vosh::bench

// ---------------------------------------------------------------------------
// The exported host operations: fixed answers, no locks, no allocation on
// the shading path.

using namespace vosh;
using vosh::bench::g_host;

extern "C" {

int32_t mi_query(int32_t code, RenderState*, Tag, void* result, ...) {
    if (code == query_code::user_slot) {
        *static_cast<void***>(result) = &g_host.user_slot;
        return 1;
    }
    if (code == query_code::instance_item || code == query_code::light_kind) {
        *static_cast<int32_t*>(result) = 0;
        return 1;
    }
    return 0;
}

void* mi_phen_eval(RenderState*, void* parameter) { return parameter; }

void* mi_mem_int_allocate(const char*, int32_t, int32_t size) {
    return std::malloc(size > 0 ? static_cast<std::size_t>(size) : 1);
}

void mi_mem_int_release(const char*, int32_t, void* block) { std::free(block); }

void* mi_shaderstate_get(RenderState*, const char*, int32_t* size) {
    if (!vosh::bench::g_marker_set) return nullptr;
    if (size) *size = sizeof vosh::bench::g_marker;
    return &vosh::bench::g_marker;
}

void mi_shaderstate_set(RenderState*, const char*, const void* value, int32_t size, int32_t) {
    if (size >= 4) std::memcpy(&vosh::bench::g_marker, value, sizeof vosh::bench::g_marker);
    vosh::bench::g_marker_set = true;
}

int32_t mi_sample(double* sample, int32_t* counter, RenderState*, uint32_t, const uint32_t* count) {
    if (*counter < 0 || static_cast<uint32_t>(*counter) >= *count) return 0;
    const auto& pair = g_host.pairs[static_cast<uint32_t>(*counter) % vosh::bench::max_directions];
    sample[0] = pair[0];
    sample[1] = pair[1];
    ++*counter;
    return 1;
}

int32_t mi_trace_probe(RenderState* state, const Vector*, const Vector*) {
    const double distance =
        vosh::bench::probe_pattern[g_host.probe_cursor++ % vosh::bench::probe_pattern.size()];
    if (distance < 0.0) return 0;
    RenderState& child = g_host.child;
    child.ray_length = distance;
    child.material_tag = 5;
    child.object_label = 2;
    state->child_state = &child;
    return 1;
}

int32_t mi_trace_transparent(Color* result, RenderState*) {
    *result = {0, 0, 0, 0};
    return 1;
}

int32_t mi_trace_refraction(Color* result, RenderState*, const Vector*) {
    *result = {0, 0, 0, 0};
    return 1;
}

int32_t mi_trace_reflection(Color* result, RenderState*, const Vector*) {
    *result = {0, 0, 0, 0};
    return 1;
}

int32_t mi_trace_environment(Color* result, RenderState*, const Vector*) {
    *result = {0.6f, 0.7f, 0.9f, 1.0f};
    return 1;
}

int32_t mi_trace_light(Color* result, Vector* direction, float* dot_nl, RenderState*, Tag) {
    *result = {1, 1, 1, 1};
    *direction = {0, 0, 1};
    *dot_nl = 1.0f;
    return 1;
}

int32_t mi_refraction_dir(Vector*, RenderState*, float, float) { return 0; }

void mi_reflection_dir(Vector* direction, RenderState* state) {
    const Vector d = state->ray_direction;
    const Vector n = state->shading_normal;
    const float k = 2.0f * (d.x * n.x + d.y * n.y + d.z * n.z);
    *direction = {d.x - k * n.x, d.y - k * n.y, d.z - k * n.z};
}

int32_t mi_ray_falloff(RenderState*, double* start, double* stop) {
    std::swap(g_host.falloff_start, *start);
    std::swap(g_host.falloff_stop, *stop);
    return 1;
}

int32_t mi_compute_avg_radiance(Color* result, RenderState*, char, const GatherSettings*) {
    *result = {0.5f, 0.5f, 0.5f, 1.0f};
    return 1;
}

int32_t mi_call_shader_x(Color* result, int32_t, RenderState*, Tag, void*) {
    *result = {0.8f, 0.3f, 0.2f, 1.0f};
    return 1;
}

int32_t mi_normal_to_world(RenderState*, Vector* out, const Vector* in) {
    *out = *in;
    return 1;
}

int32_t mi_normal_to_camera(RenderState*, Vector* out, const Vector* in) {
    *out = *in;
    return 1;
}

int32_t mi_normal_to_object(RenderState*, Vector* out, const Vector* in) {
    *out = *in;
    return 1;
}

int32_t mi_normal_to_light(RenderState*, Vector* out, const Vector* in) {
    *out = *in;
    return 1;
}

void mi_point_to_raster(RenderState*, Vector* out, const Vector* in) { *out = *in; }

void mi_point_transform(Vector* out, const Vector* in, const float* m) {
    const Vector v = *in;
    *out = {v.x * m[0] + v.y * m[4] + v.z * m[8] + m[12], v.x * m[1] + v.y * m[5] + v.z * m[9] + m[13],
            v.x * m[2] + v.y * m[6] + v.z * m[10] + m[14]};
}

void* mi_db_access(Tag) { return const_cast<Tag*>(vosh::bench::g_material_record); }

void mi_db_unpin(Tag) {}

int32_t mi_db_type(Tag) { return 1; }

void mi_warning(const char* text, ...) { std::fprintf(stderr, "warning: %s\n", text); }

}  // extern "C"
