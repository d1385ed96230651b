// The shader module a process hosts and the declaration that travels next
// to it: what every front end (render, bake, a worker rank) finds first.
#pragma once

#include <string>

#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

struct ShaderFiles {
    std::string module_path;
    ShaderDeclaration decl;
};

// The module next to the running executable (or $VOSH_MODULE), if it can be
// read, and its declaration (vosh_occlusion.decl.json in the module's
// directory), loaded and checked. False with a one-line message; a missing
// module's message ends in `missing_hint`.
bool find_shader(ShaderFiles& files, const std::string& missing_hint, std::string& error);

}  // namespace vosh::render
