// Loading the shader module as a production host does: dlopen, look the
// five entry points up by name, hand the module this executable's handle.
#pragma once

#include <string>

#include "shader/entry_points.h"

namespace vosh::render {

struct ModuleEntries {
    void* handle = nullptr;       // the module
    void* host_handle = nullptr;  // this executable, as given to the module
    SetModuleHandleFn set_module_handle = nullptr;
    VersionFn version = nullptr;
    InitFn init = nullptr;
    ExitFn exit = nullptr;
    ShadeFn shade = nullptr;
};

// Module file next to the running executable, or $VOSH_MODULE when set.
std::string default_module_path();

// Opens the module, resolves its entry points and calls miSetModuleHandle
// with the handle of this process's executable.
bool load_module(const std::string& path, ModuleEntries& out, std::string& error);
void unload_module(ModuleEntries& entries);

}  // namespace vosh::render
