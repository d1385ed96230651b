// The floor-and-sphere scenes the renderer tests start from, as JSON for
// the scene loader; tests change what their case needs.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace vosh::test {

struct FloorAndSphere {
    int width = 16, height = 12;  // image resolution
    double floor_half = 3;        // the floor spans [-floor_half, floor_half] in x and z
    int samples = 8;              // the occlusion shader's samples
    int spp = 0;                  // camera samples per pixel; 0 leaves the loader's default
};

// A square floor at y = 0 and a sphere of radius 0.5 resting on it at the
// origin, both of material "m" shaded by occlusion shader "occ", seen in
// perspective from (0, 2, 4).
nlohmann::json floor_and_sphere(const FloorAndSphere& shape = {});

// The 100 x 100 floor at y = 0 centred on the origin, for top views.
nlohmann::json wide_floor(const std::string& material = "floor");

// A sphere of `radius` centred `height` above the origin.
nlohmann::json sphere_above(double height, double radius, const std::string& material);

}  // namespace vosh::test
