// Benchmark scenes made from a fixed seed rather than shipped as files: a
// rolling ground mesh strewn with rocks (triangle meshes) and spheres, every
// surface shaded by one occlusion shader, seen from above at an angle so that
// every pixel lands on geometry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::bench {

struct SceneRecipe {
    std::size_t triangles = 200000;  // ground and rocks together, roughly
    int spheres = 48;
    int resolution = 512;            // square image
    int directions = 64;             // occlusion samples per shading call
    uint32_t seed = 20240601;
};

// Fills `out` (triangle count in `triangles`); false with a reason when the
// declaration does not accept the scene.
bool generate_scene(const SceneRecipe& recipe, const render::ShaderDeclaration& decl,
                    render::Scene& out, std::size_t& triangles, std::string& error);

// The floor-under-sphere scene with a closed-form answer: an orthographic
// top view of a floor quad under a sphere (radius 0.8, centre 1.2 above the
// floor), 6 units across, with an occlusion shader whose pixels read as the
// occluded fraction. Sphere pixels are -1.
nlohmann::json floor_under_sphere_scene(int resolution, int directions);
// The exact occluded fraction at floor point (x, z) of that scene.
double floor_under_sphere_fraction(double x, double z);
constexpr double floor_view_width = 6.0;

}  // namespace vosh::bench
