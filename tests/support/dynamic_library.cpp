#include "support/dynamic_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vosh::test {

#if defined(_WIN32)

void* open_library(const char* path) { return reinterpret_cast<void*>(LoadLibraryA(path)); }

void* find_symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void* own_module() { return reinterpret_cast<void*>(GetModuleHandleA(nullptr)); }

std::string library_error() { return "error " + std::to_string(GetLastError()); }

namespace {

const IMAGE_DATA_DIRECTORY& directory(const unsigned char* base, int entry) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[entry];
}

}  // namespace

std::vector<std::string> exported_names(void* library) {
    std::vector<std::string> names;
    const auto* base = static_cast<const unsigned char*>(library);
    const IMAGE_DATA_DIRECTORY& dir = directory(base, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (dir.VirtualAddress == 0) return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* name_offsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(base + name_offsets[i]));
    }
    return names;
}

std::vector<std::string> imported_names(void* library) {
    std::vector<std::string> names;
    const auto* base = static_cast<const unsigned char*>(library);
    const IMAGE_DATA_DIRECTORY& dir = directory(base, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (dir.VirtualAddress == 0) return names;
    for (const auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         module->Name != 0; ++module) {
        // The lookup table keeps the names; the address table is overwritten at load.
        const DWORD table = module->OriginalFirstThunk ? module->OriginalFirstThunk : module->FirstThunk;
        for (const auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + table);
             thunk->u1.AddressOfData != 0; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
            const auto* by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
            names.emplace_back(reinterpret_cast<const char*>(by_name->Name));
        }
    }
    return names;
}

#else

void* open_library(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* find_symbol(void* library, const char* name) { return dlsym(library, name); }

void* own_module() {
    static void* const handle = dlopen(nullptr, RTLD_NOW);
    return handle;
}

std::string library_error() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}

#endif

}  // namespace vosh::test
