#include "renderer/host/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace vosh::render {

std::string default_module_path() {
    if (const char* env = std::getenv("VOSH_MODULE"); env && *env) return env;
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    std::string dir = ".";
    if (n > 0) {
        const std::string exe(buffer.data(), static_cast<size_t>(n));
        const size_t slash = exe.find_last_of('/');
        if (slash != std::string::npos) dir = exe.substr(0, slash);
    }
    return dir + "/vosh_occlusion.so";
}

namespace {

template <class Fn>
bool resolve(void* handle, const char* name, Fn& out, const std::string& path, std::string& error) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        error = path + ": the module does not export " + name;
        return false;
    }
    out = reinterpret_cast<Fn>(symbol);
    return true;
}

}  // namespace

bool load_module(const std::string& path, ModuleEntries& out, std::string& error) {
    ModuleEntries m;
    // RTLD_LOCAL: the module's own names never bind anything in the host.
    m.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m.handle) {
        const char* why = dlerror();
        error = "cannot load the shader module: " + std::string(why ? why : path);
        return false;
    }
    if (!resolve(m.handle, "miSetModuleHandle", m.set_module_handle, path, error) ||
        !resolve(m.handle, "vosh_occlusion_version", m.version, path, error) ||
        !resolve(m.handle, "vosh_occlusion_init", m.init, path, error) ||
        !resolve(m.handle, "vosh_occlusion_exit", m.exit, path, error) ||
        !resolve(m.handle, "vosh_occlusion", m.shade, path, error)) {
        dlclose(m.handle);
        return false;
    }
    m.host_handle = dlopen(nullptr, RTLD_NOW);
    m.set_module_handle(m.host_handle);
    out = m;
    return true;
}

void unload_module(ModuleEntries& entries) {
    if (entries.handle) dlclose(entries.handle);
    if (entries.host_handle) dlclose(entries.host_handle);
    entries = ModuleEntries{};
}

}  // namespace vosh::render
