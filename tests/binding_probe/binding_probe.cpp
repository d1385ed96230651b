// The binding layer on its own, with a few exported calls into its
// forwarders. The module itself exports only its entry points, so this is
// how tests reach mi_query codes and warning formats the shader never uses.
#include <cstdint>

#include "host/host_binding.h"
#include "host/host_interface.h"

#if defined(_WIN32)
#define PROBE_EXPORT extern "C" __declspec(dllexport)
#else
#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PROBE_EXPORT int32_t probe_query(int32_t code, void* result, void* extra) {
    return mi_query(code, nullptr, 0, result, extra);
}

PROBE_EXPORT void probe_warning(const char* format, int number, const char* text) {
    mi_warning(format, number, text);
}

// Slot 0 belongs to no operation the module uses.
PROBE_EXPORT void* probe_resolve(const char* name) { return vosh::resolve_host_entry(0, name); }
