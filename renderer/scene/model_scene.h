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

// Appends the model file's meshes to a scene scene_from_model made, as one
// more object with bake role `role`, named after its file and shaded by the
// scene's own occlusion instance. Errors as for scene_from_model.
bool append_model(const std::string& path, BakeRole role, Scene& scene, std::string& error);

}  // namespace vosh::render
