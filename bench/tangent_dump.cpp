// The generated tangent frame of every triangle corner of a model, for
// scripts/compare_tangents_blender.py:
//
//   bench_tangent_dump MODEL
//
// prints one line per corner, in triangle order: "POSITION NORMAL TANGENT
// SIGN" (ten numbers), position and normal so the caller can check it maps
// its corners onto ours.
//
//   bench_tangent_dump MODEL OBJECT_MAP.f32 SIZE OUT.f32
//
// reads an object-space normal map baked by another tool (SIZE x SIZE RGBA
// float32, bottom row first, n * 0.5 + 0.5) and writes, for each texel whose
// centre lies in a UV triangle, nine float32: the vector in tangent space as
// bent_normal_in_space gives it, then two other ways of expressing it in
// the frame (orthonormalised frame, dot products; inverse of the frame
// with normal and tangent made unit); zeros elsewhere.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "renderer/bake/tangent_frame.h"
#include "renderer/scene/mesh_loader.h"

namespace {

using namespace vosh::render;

Vec3 in_frame(Vec3 w, Vec3 t, Vec3 b, Vec3 n) {
    const Vec3 bn = cross(b, n), nt = cross(n, t), tb = cross(t, b);
    return normalize(Vec3{dot(w, bn), dot(w, nt), dot(w, tb)} * (1 / dot(t, bn)));
}

int convert_map(const MeshData& mesh, const char* map_path, int size, const char* out_path) {
    std::vector<float> map(size_t(size) * size * 4), out(size_t(size) * size * 9, 0.0f);
    FILE* in = std::fopen(map_path, "rb");
    const bool read = in && std::fread(map.data(), sizeof(float), map.size(), in) == map.size();
    if (in) std::fclose(in);
    if (!read) {
        std::fprintf(stderr, "bench_tangent_dump: cannot read %d x %d RGBA floats from %s\n", size, size, map_path);
        return 1;
    }
    ObjectDesc object;
    object.shape = ShapeKind::mesh;
    const std::vector<TangentFrame> frames = tangent_frames(mesh, mesh.uvs, false);
    for (size_t t = 0; t < mesh.indices.size() / 3; ++t) {
        const Vec3 a = mesh.uvs[mesh.indices[3 * t]] * size, b = mesh.uvs[mesh.indices[3 * t + 1]] * size,
                   c = mesh.uvs[mesh.indices[3 * t + 2]] * size;
        const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (area == 0) continue;
        const int x0 = std::max(0, int(std::floor(std::fmin(a.x, std::fmin(b.x, c.x)))));
        const int x1 = std::min(size - 1, int(std::ceil(std::fmax(a.x, std::fmax(b.x, c.x)))));
        const int y0 = std::max(0, int(std::floor(std::fmin(a.y, std::fmin(b.y, c.y)))));
        const int y1 = std::min(size - 1, int(std::ceil(std::fmax(a.y, std::fmax(b.y, c.y)))));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double u = ((px - a.x) * (c.y - a.y) - (py - a.y) * (c.x - a.x)) / area;
                const double v = ((b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x)) / area;
                if (u < 0 || v < 0 || u + v > 1) continue;
                const float* m = &map[(size_t(y) * size + x) * 4];
                const Vec3 w = normalize(Vec3{m[0] * 2.0 - 1, m[1] * 2.0 - 1, m[2] * 2.0 - 1});
                std::array<Vec3, 3> got;
                got[0] = bent_normal_in_space(w, BakeSpace::tangent, object, frames, uint32_t(t), u, v);
                Vec3 n, tg;
                double sign = 0;
                const double weight[3] = {1 - u - v, u, v};
                for (int k = 0; k < 3; ++k) {
                    n = n + frames[3 * t + k].normal * weight[k];
                    tg = tg + frames[3 * t + k].tangent * weight[k];
                    sign += frames[3 * t + k].sign * weight[k];
                }
                sign = sign < 0 ? -1 : 1;
                const Vec3 un = normalize(n), ut = normalize(tg - un * dot(un, tg));
                const Vec3 ub = cross(un, ut) * sign;
                got[1] = normalize(Vec3{dot(w, ut), dot(w, ub), dot(w, un)});
                const Vec3 nt = normalize(tg);
                got[2] = in_frame(w, nt, cross(un, nt) * sign, un);
                for (int k = 0; k < 3; ++k) {
                    float* o = &out[(size_t(y) * size + x) * 9 + 3 * k];
                    o[0] = float(got[k].x), o[1] = float(got[k].y), o[2] = float(got[k].z);
                }
            }
    }
    FILE* f = std::fopen(out_path, "wb");
    const bool written = f && std::fwrite(out.data(), sizeof(float), out.size(), f) == out.size();
    if (!(f && std::fclose(f) == 0 && written)) {
        std::fprintf(stderr, "bench_tangent_dump: cannot write %s\n", out_path);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 5) {
        std::fprintf(stderr, "usage: bench_tangent_dump MODEL [OBJECT_MAP.f32 SIZE OUT.f32]\n");
        return 2;
    }
    MeshData mesh;
    std::string error;
    if (!load_mesh(argv[1], mesh, error)) {
        std::fprintf(stderr, "bench_tangent_dump: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    if (argc == 5) {
        const int size = std::atoi(argv[3]);
        if (size < 1 || size > 8192 || mesh.uvs.size() != mesh.positions.size()) {
            std::fprintf(stderr, "bench_tangent_dump: needs a size in 1..8192 and a model with UVs\n");
            return 2;
        }
        return convert_map(mesh, argv[2], size, argv[4]);
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
