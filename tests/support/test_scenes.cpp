#include "support/test_scenes.h"

namespace vosh::test {

using nlohmann::json;

json floor_and_sphere(const FloorAndSphere& shape) {
    const double h = shape.floor_half;
    json scene = {
        {"camera",
         {{"type", "perspective"}, {"position", {0, 2, 4}}, {"look_at", {0, 0, 0}},
          {"fov_deg", 45}, {"resolution", {shape.width, shape.height}}}},
        {"shaders", {{"occ", {{"type", "vosh_occlusion"}, {"params", {{"samples", shape.samples}}}}}}},
        {"materials", {{"m", {{"shader", "occ"}}}}},
        {"objects",
         {{{"shape", "quad"}, {"corner", {-h, 0, -h}}, {"edge1", {0, 0, 2 * h}}, {"edge2", {2 * h, 0, 0}},
           {"material", "m"}},
          sphere_above(0.5, 0.5, "m")}}};
    if (shape.spp > 0) scene["options"] = {{"spp", shape.spp}};
    return scene;
}

json wide_floor(const std::string& material) {
    return {{"shape", "quad"}, {"corner", {-50, 0, -50}}, {"edge1", {0, 0, 100}}, {"edge2", {100, 0, 0}},
            {"material", material}};
}

json sphere_above(double height, double radius, const std::string& material) {
    return {{"shape", "sphere"}, {"center", {0, height, 0}}, {"radius", radius}, {"material", material}};
}

}  // namespace vosh::test
