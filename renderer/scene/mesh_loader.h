// Triangle meshes from files (OBJ, glTF, PLY and whatever else the importer
// reads), flattened into one list of triangles in the file's coordinates.
#pragma once

#include <string>

#include "renderer/scene/scene.h"

namespace vosh::render {

// False with a one-line reason when the file cannot be read or holds no
// triangle.
bool load_mesh(const std::string& path, MeshData& out, std::string& error);

}  // namespace vosh::render
