// The host's operations reached by name through the host's module handle.
// Each forwarder carries the host operation's own name and is hidden, so the
// module's calls always land here and never bind to the host's exports.
#include "host/host_binding.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "host/host_interface.h"
#include "host/module_export.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#if defined(_WIN32)
#define VOSH_HIDDEN
#else
#define VOSH_HIDDEN __attribute__((visibility("hidden")))
#endif

namespace vosh {
namespace {

std::atomic<void*> module_handle{nullptr};
// Render threads resolve slots concurrently; every thread stores the same
// address for a name, so relaxed whole-word access is all that is needed.
std::atomic<void*> host_entries[host_entry_count];

void* look_up(const char* name, int* error) {
#if defined(_WIN32)
    void* address = reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(module_handle.load(std::memory_order_relaxed)), name));
    *error = address ? 0 : static_cast<int>(GetLastError());
    return address;
#else
    // A null handle is RTLD_DEFAULT here, the process's global scope.
    void* address = dlsym(module_handle.load(std::memory_order_relaxed), name);
    // dlsym reports failure only as text; print the number Windows gives a
    // missing entry point (ERROR_PROC_NOT_FOUND) so the message reads alike.
    *error = address ? 0 : 127;
    return address;
#endif
}

[[noreturn]] void host_entry_missing(const char* name) {
    std::fprintf(stderr, "vosh_occlusion: fatal: the host does not provide \"%s\"; cannot continue\n",
                 name);
    std::fflush(stderr);
    std::abort();
}

// Slot address of a variadic operation, looked up at its first call.
template <class Fn>
Fn host_entry(std::size_t slot, const char* name) {
    void* address = host_entries[slot].load(std::memory_order_relaxed);
    if (!address) address = resolve_host_entry(slot, name);
    return reinterpret_cast<Fn>(address);
}

// Calls through a slot. Once the slot is filled a call costs one relaxed
// load, a test and a jump; the first call's lookup is kept out of line, and
// takes the caller's arguments unchanged, so the forwarders need no frame.
template <class Fn>
struct Forwarder;

template <class R, class... Args>
struct Forwarder<R (*)(Args...)> {
    using Fn = R (*)(Args...);

    [[gnu::noinline]] static R first_call(Args... args, std::size_t slot, const char* name) {
        return reinterpret_cast<Fn>(resolve_host_entry(slot, name))(args...);
    }

    static R call(std::size_t slot, const char* name, Args... args) {
        void* address = host_entries[slot].load(std::memory_order_relaxed);
        if (!address) return first_call(args..., slot, name);
        return reinterpret_cast<Fn>(address)(args...);
    }
};

}  // namespace

void* resolve_host_entry(std::size_t slot, const char* name) {
    void* address = host_entries[slot].load(std::memory_order_relaxed);
    if (address) return address;

    void* handle = module_handle.load(std::memory_order_relaxed);
    if (!handle) std::fputs("DYNLOAD: dl_handle null\n", stderr);
    int error = 0;
    address = look_up(name, &error);
    host_entries[slot].store(address, std::memory_order_relaxed);
    if (!address) {
        std::fprintf(stderr, "dlsym failed on \"%s\" (handle: %08x error: %d)\n", name,
                     static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle)), error);
        host_entry_missing(name);
    }
    return address;
}

}  // namespace vosh

VOSH_EXPORT void miSetModuleHandle(void* handle) {
    vosh::module_handle.store(handle, std::memory_order_relaxed);
    for (auto& entry : vosh::host_entries) entry.store(nullptr, std::memory_order_relaxed);
}

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
#endif

// The forwarders. HOST(name) is the host's mi_<name>, looked up under that
// exact name and kept in its slot; FORWARD(name, args...) calls it.
#define HOST(name) \
    vosh::host_entry<decltype(&mi_##name)>(vosh::host_slot::name, "mi_" #name)
#define FORWARD(name, ...)                                                        \
    vosh::Forwarder<decltype(&mi_##name)>::call(vosh::host_slot::name, "mi_" #name, \
                                                __VA_ARGS__)

using vosh::Color;
using vosh::GatherSettings;
using vosh::RenderState;
using vosh::Tag;
using vosh::Vector;

extern "C" {

VOSH_HIDDEN int32_t mi_query(int32_t code, RenderState* state, Tag tag, void* result, ...) {
    auto host_query = HOST(query);
    // Only these two codes carry a fifth, pointer-sized argument.
    if (code == 15 || code == 127) {
        va_list rest;
        va_start(rest, result);
        void* extra = va_arg(rest, void*);
        va_end(rest);
        return host_query(code, state, tag, result, extra);
    }
    return host_query(code, state, tag, result);
}

VOSH_HIDDEN void mi_warning(const char* format, ...) {
    auto host_warning = HOST(warning);
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);  // truncates, always terminated
    va_end(args);
    host_warning(text);
}

VOSH_HIDDEN void* mi_phen_eval(RenderState* state, void* parameter) {
    return FORWARD(phen_eval, state, parameter);
}

VOSH_HIDDEN void* mi_mem_int_allocate(const char* file, int32_t line, int32_t size) {
    return FORWARD(mem_int_allocate, file, line, size);
}

VOSH_HIDDEN void mi_mem_int_release(const char* file, int32_t line, void* block) {
    FORWARD(mem_int_release, file, line, block);
}

VOSH_HIDDEN void* mi_shaderstate_get(RenderState* state, const char* key, int32_t* size) {
    return FORWARD(shaderstate_get, state, key, size);
}

VOSH_HIDDEN void mi_shaderstate_set(RenderState* state, const char* key, const void* value,
                                    int32_t size, int32_t lifetime) {
    FORWARD(shaderstate_set, state, key, value, size, lifetime);
}

VOSH_HIDDEN int32_t mi_sample(double* sample, int32_t* counter, RenderState* state,
                              uint32_t dimension, const uint32_t* count) {
    return FORWARD(sample, sample, counter, state, dimension, count);
}

VOSH_HIDDEN int32_t mi_trace_probe(RenderState* state, const Vector* direction,
                                   const Vector* origin) {
    return FORWARD(trace_probe, state, direction, origin);
}

VOSH_HIDDEN int32_t mi_trace_transparent(Color* result, RenderState* state) {
    return FORWARD(trace_transparent, result, state);
}

VOSH_HIDDEN int32_t mi_trace_refraction(Color* result, RenderState* state,
                                        const Vector* direction) {
    return FORWARD(trace_refraction, result, state, direction);
}

VOSH_HIDDEN int32_t mi_trace_reflection(Color* result, RenderState* state,
                                        const Vector* direction) {
    return FORWARD(trace_reflection, result, state, direction);
}

VOSH_HIDDEN int32_t mi_trace_environment(Color* result, RenderState* state,
                                         const Vector* direction) {
    return FORWARD(trace_environment, result, state, direction);
}

VOSH_HIDDEN int32_t mi_trace_light(Color* result, Vector* direction, float* dot_nl,
                                   RenderState* state, Tag light) {
    return FORWARD(trace_light, result, direction, dot_nl, state, light);
}

VOSH_HIDDEN int32_t mi_refraction_dir(Vector* direction, RenderState* state, float ior_in,
                                      float ior_out) {
    return FORWARD(refraction_dir, direction, state, ior_in, ior_out);
}

VOSH_HIDDEN void mi_reflection_dir(Vector* direction, RenderState* state) {
    FORWARD(reflection_dir, direction, state);
}

VOSH_HIDDEN int32_t mi_ray_falloff(RenderState* state, double* start, double* stop) {
    return FORWARD(ray_falloff, state, start, stop);
}

VOSH_HIDDEN int32_t mi_compute_avg_radiance(Color* result, RenderState* state, char face,
                                            const GatherSettings* settings) {
    return FORWARD(compute_avg_radiance, result, state, face, settings);
}

VOSH_HIDDEN int32_t mi_call_shader_x(Color* result, int32_t kind, RenderState* state,
                                     Tag shader, void* arg) {
    return FORWARD(call_shader_x, result, kind, state, shader, arg);
}

VOSH_HIDDEN int32_t mi_normal_to_world(RenderState* state, Vector* out, const Vector* in) {
    return FORWARD(normal_to_world, state, out, in);
}

VOSH_HIDDEN int32_t mi_normal_to_camera(RenderState* state, Vector* out, const Vector* in) {
    return FORWARD(normal_to_camera, state, out, in);
}

VOSH_HIDDEN int32_t mi_normal_to_object(RenderState* state, Vector* out, const Vector* in) {
    return FORWARD(normal_to_object, state, out, in);
}

VOSH_HIDDEN int32_t mi_normal_to_light(RenderState* state, Vector* out, const Vector* in) {
    return FORWARD(normal_to_light, state, out, in);
}

VOSH_HIDDEN void mi_point_to_raster(RenderState* state, Vector* out, const Vector* in) {
    FORWARD(point_to_raster, state, out, in);
}

VOSH_HIDDEN void mi_point_transform(Vector* out, const Vector* in, const float* matrix) {
    FORWARD(point_transform, out, in, matrix);
}

VOSH_HIDDEN void* mi_db_access(Tag tag) { return FORWARD(db_access, tag); }

VOSH_HIDDEN void mi_db_unpin(Tag tag) { FORWARD(db_unpin, tag); }

VOSH_HIDDEN int32_t mi_db_type(Tag tag) { return FORWARD(db_type, tag); }

}  // extern "C"
