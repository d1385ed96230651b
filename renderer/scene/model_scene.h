// A model file (OBJ, glTF, PLY, ...) as a scene of its own, for a bake: the
// file's meshes as one object, shaded by one occlusion instance with the
// declaration's defaults.
#pragma once

#include <string>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

// The object is named after the file (its name without directory and
// extension). On failure `error` is one line: "<file>: <problem>".
bool scene_from_model(const std::string& path, const ShaderDeclaration& decl, Scene& out,
                      std::string& error);

}  // namespace vosh::render
