#include "bench/scene_generator.h"

#include <cmath>
#include <random>
#include <vector>

#include "renderer/scene/scene_loader.h"

namespace vosh::bench {
namespace {

using nlohmann::json;
using render::MeshData;
using render::Vec3;

constexpr double field_half_width = 14.0;
constexpr int rock_grid = 4;  // each octahedron face split into 4 x 4
constexpr int rock_triangles = 8 * rock_grid * rock_grid;

// Smooth rolling ground, the same function for mesh and placement.
struct Ground {
    double phase[4];
    double height(double x, double z) const {
        return 0.45 * std::sin(0.31 * x + phase[0]) * std::cos(0.27 * z + phase[1]) +
               0.25 * std::sin(0.73 * x + 0.41 * z + phase[2]) +
               0.12 * std::cos(1.31 * z - 0.57 * x + phase[3]);
    }
};

void add_ground(MeshData& mesh, const Ground& ground, int cells) {
    const double step = 2 * field_half_width / cells;
    for (int j = 0; j <= cells; ++j)
        for (int i = 0; i <= cells; ++i) {
            const double x = -field_half_width + i * step, z = -field_half_width + j * step;
            mesh.positions.push_back({x, ground.height(x, z), z});
        }
    const auto at = [cells](int i, int j) { return static_cast<uint32_t>(j * (cells + 1) + i); };
    for (int j = 0; j < cells; ++j)
        for (int i = 0; i < cells; ++i) {
            mesh.indices.insert(mesh.indices.end(), {at(i, j), at(i, j + 1), at(i + 1, j)});
            mesh.indices.insert(mesh.indices.end(), {at(i + 1, j), at(i, j + 1), at(i + 1, j + 1)});
        }
}

// A lumpy rock: an octahedron's faces split into a grid, pushed out to a
// sphere whose radius varies smoothly with direction (so faces still meet).
void add_rock(MeshData& mesh, Vec3 centre, double radius, double squash, const double lumps[3]) {
    static const Vec3 corner[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    static const int faces[8][3] = {{0, 2, 4}, {4, 2, 1}, {1, 2, 5}, {5, 2, 0},
                                    {4, 3, 0}, {1, 3, 4}, {5, 3, 1}, {0, 3, 5}};
    for (const auto& f : faces) {
        const Vec3 a = corner[f[0]], b = corner[f[1]], c = corner[f[2]];
        const uint32_t base = static_cast<uint32_t>(mesh.positions.size());
        for (int j = 0; j <= rock_grid; ++j)
            for (int i = 0; i <= rock_grid - j; ++i) {
                const double u = static_cast<double>(i) / rock_grid, v = static_cast<double>(j) / rock_grid;
                const Vec3 d = render::normalize(a * (1 - u - v) + b * u + c * v);
                const double r = radius * (1 + 0.22 * std::sin(3 * d.x + lumps[0]) *
                                                   std::sin(3 * d.y + lumps[1]) *
                                                   std::sin(3 * d.z + lumps[2]));
                mesh.positions.push_back(centre + Vec3{d.x * r, d.y * r * squash, d.z * r});
            }
        // Row j starts after the rows above it, which hold (n+1) + n + ... vertices.
        const auto at = [base](int i, int j) {
            const int before = j * (rock_grid + 1) - j * (j - 1) / 2;
            return base + static_cast<uint32_t>(before + i);
        };
        for (int j = 0; j < rock_grid; ++j)
            for (int i = 0; i < rock_grid - j; ++i) {
                mesh.indices.insert(mesh.indices.end(), {at(i, j), at(i + 1, j), at(i, j + 1)});
                if (i + 1 < rock_grid - j)
                    mesh.indices.insert(mesh.indices.end(), {at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
            }
    }
}

render::ObjectDesc mesh_object(MeshData mesh, uint32_t label) {
    render::ObjectDesc o;
    o.shape = render::ShapeKind::mesh;
    o.json_path = "generated";
    o.file = "generated";
    o.mesh = std::move(mesh);
    o.material = 0;
    o.label = label;
    return o;
}

}  // namespace

bool generate_scene(const SceneRecipe& recipe, const render::ShaderDeclaration& decl,
                    render::Scene& out, std::size_t& triangles, std::string& error) {
    std::mt19937_64 rng(recipe.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Ground ground{};
    for (double& p : ground.phase) p = 6.283185307179586 * unit(rng);

    // A quarter of the triangles make the ground, the rest the rocks; rocks
    // shrink as they multiply so the covered fraction stays about the same.
    const int cells = std::max(4, static_cast<int>(std::lround(std::sqrt(recipe.triangles / 8.0))));
    const std::size_t ground_triangles = 2u * static_cast<std::size_t>(cells) * cells;
    const std::size_t rocks =
        recipe.triangles > ground_triangles ? (recipe.triangles - ground_triangles) / rock_triangles : 0;
    const double area = 4 * field_half_width * field_half_width;
    const double rock_radius = rocks ? 0.33 * std::sqrt(area / rocks) : 0;

    json objects = json::array();
    for (int i = 0; i < recipe.spheres; ++i) {
        const double x = (2 * unit(rng) - 1) * (field_half_width - 2);
        const double z = (2 * unit(rng) - 1) * (field_half_width - 2);
        const double r = 0.35 + 0.8 * unit(rng);
        objects.push_back({{"shape", "sphere"},
                           {"center", {x, ground.height(x, z) + 0.8 * r, z}},
                           {"radius", r},
                           {"material", "ground"}});
    }
    const json doc = {
        {"camera",
         {{"type", "perspective"}, {"position", {0, 10, 8}}, {"look_at", {0, 0, 0}}, {"up", {0, 1, 0}},
          {"fov_deg", 50}, {"resolution", {recipe.resolution, recipe.resolution}}}},
        {"environment", {{"color", {1, 1, 1}}}},
        {"options", {{"spp", 1}}},
        {"shaders",
         {{"occlusion",
           {{"type", "vosh_occlusion"},
            {"params", {{"samples", recipe.directions}, {"spread", 90}, {"far_distance", 2}}}}}}},
        {"materials", {{"ground", {{"shader", "occlusion"}}}}},
        {"objects", objects}};
    if (!render::parse_scene(doc, "generated scene", ".", decl, out, error)) return false;

    MeshData ground_mesh;
    add_ground(ground_mesh, ground, cells);
    MeshData rock_mesh;
    rock_mesh.positions.reserve(rocks * 8 * 15);
    rock_mesh.indices.reserve(rocks * rock_triangles * 3);
    for (std::size_t i = 0; i < rocks; ++i) {
        const double x = (2 * unit(rng) - 1) * field_half_width;
        const double z = (2 * unit(rng) - 1) * field_half_width;
        const double r = rock_radius * (0.6 + 0.8 * unit(rng));
        const double squash = 0.5 + 0.4 * unit(rng);
        const double lumps[3] = {6.28 * unit(rng), 6.28 * unit(rng), 6.28 * unit(rng)};
        add_rock(rock_mesh, {x, ground.height(x, z) + 0.2 * r, z}, r, squash, lumps);
    }
    triangles = (ground_mesh.indices.size() + rock_mesh.indices.size()) / 3;
    const auto next_label = [&out] { return static_cast<uint32_t>(out.objects.size() + 1); };
    out.objects.push_back(mesh_object(std::move(ground_mesh), next_label()));
    if (rocks) out.objects.push_back(mesh_object(std::move(rock_mesh), next_label()));
    return true;
}

json floor_under_sphere_scene(int resolution, int directions) {
    constexpr float marker = -1.0f;
    return {
        {"camera",
         {{"type", "orthographic"}, {"position", {0, 10, 0}}, {"look_at", {0, 0, 0}}, {"up", {0, 0, -1}},
          {"width", floor_view_width}, {"resolution", {resolution, resolution}}}},
        {"shaders",
         {{"fraction",
           {{"type", "vosh_occlusion"},
            {"params",
             {{"bright", {0, 0, 0}}, {"dark", {1, 1, 1}}, {"samples", directions}, {"spread", 90},
              {"near_distance", 1e6}, {"far_distance", 1e6}}}}},
          {"marker", {{"type", "constant"}, {"params", {{"color", {marker, marker, marker}}}}}}}},
        {"materials", {{"floor", {{"shader", "fraction"}}}, {"sphere", {{"shader", "marker"}}}}},
        {"objects",
         {{{"shape", "quad"}, {"corner", {-50, 0, -50}}, {"edge1", {0, 0, 100}}, {"edge2", {100, 0, 0}},
           {"material", "floor"}},
          {{"shape", "sphere"}, {"center", {0, 1.2, 0}}, {"radius", 0.8}, {"material", "sphere"}}}}};
}

double floor_under_sphere_fraction(double x, double z) {
    // View factor of a sphere wholly above the point's tangent plane:
    // (R/d)^2 cos(theta).
    constexpr double radius = 0.8, height = 1.2;
    const double d2 = x * x + z * z + height * height;
    return radius * radius / d2 * (height / std::sqrt(d2));
}

}  // namespace vosh::bench
