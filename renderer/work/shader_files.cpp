#include "renderer/work/shader_files.h"

#include <unistd.h>

#include "renderer/host/module_loader.h"

namespace vosh::render {

bool find_shader(ShaderFiles& files, const std::string& missing_hint, std::string& error) {
    files.module_path = default_module_path();
    if (access(files.module_path.c_str(), R_OK) != 0) {
        error = "shader module " + files.module_path + " not found" + missing_hint;
        return false;
    }
    const size_t slash = files.module_path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : files.module_path.substr(0, slash);
    return load_declaration(dir + "/vosh_occlusion.decl.json", files.decl, error);
}

}  // namespace vosh::render
