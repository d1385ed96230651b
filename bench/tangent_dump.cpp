// The generated tangent frame of every triangle corner of a model, for
// scripts/compare_tangents_blender.py:
//
//   bench_tangent_dump MODEL
//
// prints one line per corner, in triangle order: "POSITION NORMAL TANGENT
// SIGN" (ten numbers), position and normal so the caller can check it maps
// its corners onto ours.
#include <cstdio>
#include <string>

#include "renderer/bake/tangent_frame.h"
#include "renderer/scene/mesh_loader.h"

int main(int argc, char** argv) {
    using namespace vosh::render;
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_tangent_dump MODEL\n");
        return 2;
    }
    MeshData mesh;
    std::string error;
    if (!load_mesh(argv[1], mesh, error)) {
        std::fprintf(stderr, "bench_tangent_dump: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    const std::vector<TangentFrame> frames = tangent_frames(mesh, mesh.uvs, false);
    for (size_t c = 0; c < frames.size(); ++c) {
        const Vec3 p = mesh.positions[mesh.indices[c]];
        const TangentFrame& f = frames[c];
        std::printf("%.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %g\n", p.x, p.y, p.z, f.normal.x,
                    f.normal.y, f.normal.z, f.tangent.x, f.tangent.y, f.tangent.z, f.sign);
    }
    return 0;
}
