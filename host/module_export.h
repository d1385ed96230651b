// How the module marks its exports, and the one export the host binding
// owns: the call through which a host hands over its own module handle.
#pragma once

#if defined(_WIN32)
#define VOSH_EXPORT extern "C" __declspec(dllexport)
#else
#define VOSH_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VOSH_EXPORT void miSetModuleHandle(void* handle);

namespace vosh {
using SetModuleHandleFn = void (*)(void*);
}  // namespace vosh
