// A loaded scene as bytes, for the processes of a distributed job that
// cannot read the scene's files: meshes, environment and texture images
// travel decoded inside it.
#pragma once

#include <string>
#include <vector>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/work/bytes.h"

namespace vosh::render {

void put_scene(ByteWriter& w, const Scene& scene);

// False when the bytes end early or carry an index the scene cannot hold.
bool get_scene(ByteReader& r, Scene& scene);

// The parameter layout a scene's blocks were laid out by: a rank whose own
// declaration differs would hand its module blocks it misreads.
void put_declaration_layout(ByteWriter& w, const ShaderDeclaration& decl);
bool same_declaration_layout(ByteReader& r, const ShaderDeclaration& decl);

}  // namespace vosh::render
