// Tangent frames of a mesh, the conversion of a baked world-space bent
// normal into the space a map is stored in, and the encoding of unit
// vectors as image values. The convention, and why, is in docs/baking.md
// ("Tangent space").
#pragma once

#include <cstdint>
#include <vector>

#include "renderer/math/math3.h"
#include "renderer/scene/scene.h"

namespace vosh::render {

// The frame at one triangle corner, in object space: the corner's unit
// normal, a unit tangent orthogonal to it pointing along +u, and the
// handedness: the bitangent (along +v) is sign * cross(normal, tangent).
struct TangentFrame {
    Vec3 normal;
    Vec3 tangent;
    double sign = 1;
};

// One frame per triangle corner: frames[3 * t + k] for corner k of triangle
// t, so a vertex that mirrored and unmirrored UVs share keeps one frame per
// side. From the file's tangents when `use_file_tangents` and the mesh has
// them (they belong to UV set 0), otherwise generated from `uvs` (one per
// vertex). Without vertex normals a corner takes its triangle's normal, as
// the shading does.
std::vector<TangentFrame> tangent_frames(const MeshData& mesh, const std::vector<Vec3>& uvs,
                                         bool use_file_tangents);

enum class BakeSpace { tangent, object, world };

// The world-space vector `world` (a unit bent normal, or zero when every
// probe was blocked) at barycentrics (u, v) of triangle `triangle` of
// `object` (the point is corner0 * (1 - u - v) + corner1 * u + corner2 * v),
// expressed in `space`: tangent (x along the frame's tangent, y along its
// bitangent, z along its normal), object (through the object's inverse
// transform) or world (as it is). Unit length in, unit length out; zero
// stays zero.
Vec3 bent_normal_in_space(Vec3 world, BakeSpace space, const ObjectDesc& object,
                          const std::vector<TangentFrame>& frames, uint32_t triangle, double u,
                          double v);

// A unit vector as stored in a PNG: n * 0.5 + 0.5 per component, green
// flipped (y down) for the consumers that read it that way. These are data,
// not colours: they go into the file without any transfer curve.
Vec3 encode_unit_vector(Vec3 n, bool y_down);

}  // namespace vosh::render
