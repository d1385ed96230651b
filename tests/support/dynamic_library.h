// Loading a module and finding its exports, the same way on POSIX systems
// (dlopen/dlsym) and on Windows (LoadLibrary/GetProcAddress).
#pragma once

#include <string>
#include <vector>

namespace vosh::test {

// A handle for the module at `path`, or null (see library_error()).
void* open_library(const char* path);
// The address `name` has in `library`, or null.
void* find_symbol(void* library, const char* name);
// This executable's own module handle, as a host hands it to the module.
void* own_module();
// Why the last open_library failed, as the platform words it.
std::string library_error();

#if defined(_WIN32)
// Names in a loaded module's export table, and the names it imports by name
// from other modules, read from its headers in memory.
std::vector<std::string> exported_names(void* library);
std::vector<std::string> imported_names(void* library);
#endif

}  // namespace vosh::test
