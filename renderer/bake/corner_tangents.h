// Tangents generated per triangle corner the way most engines, bakers and
// modelling tools generate them, so a tangent-space map baked here reads
// back right there. The rules, and why, are in docs/baking.md ("Tangent
// space").
#pragma once

#include <vector>

#include "renderer/bake/tangent_frame.h"

namespace vosh::render {

// One frame per corner (frames[3 * t + k]) from the mesh's positions, its
// normals (each triangle's own without) and `uvs` (one per vertex). Corners
// are matched by their values, not their vertex indices, so a mesh whose
// file split its vertices gets the frames of the same mesh welded.
std::vector<TangentFrame> corner_tangent_frames(const MeshData& mesh, const std::vector<Vec3>& uvs);

// Each corner's unit normal: its vertex normal, or the triangle's own when
// the mesh has none (or a zero one), as the shading takes it.
std::vector<Vec3> corner_normals(const MeshData& mesh);

}  // namespace vosh::render
