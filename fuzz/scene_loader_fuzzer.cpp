// The scene loader over arbitrary text, as vosh-render reads a scene file:
// parse, check, read the meshes and images it names (relative to scenes/),
// then build the ray tracer's scene and trace the camera rays of a 4x4 grid
// and one probe from every hit. Sanitizers catch undefined behaviour; the
// checks below hold for every input.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "renderer/trace/camera.h"
#include "renderer/trace/geometry.h"
#include "fuzz/renderer_fuzz_support.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/scene/param_values.h"

namespace {

using namespace vosh::render;

using fuzz::check;
using fuzz::declaration;

bool within_scene(Vec3 p) { return is_finite(p) && max_abs_component(p) <= max_scene_coordinate * 1.01; }

void check_loaded(const Scene& scene) {
    const CameraDesc& cam = scene.camera;
    check(cam.width_px >= 1 && cam.width_px <= max_resolution, "image width in range");
    check(cam.height_px >= 1 && cam.height_px <= max_resolution, "image height in range");
    check(static_cast<long long>(cam.width_px) * cam.height_px <= max_pixels, "pixel count in range");
    check(scene.samples_per_pixel >= 1 && scene.samples_per_pixel <= max_samples_per_pixel,
          "samples per pixel in range");
    check(within_scene(cam.position), "camera within the scene's range");
    for (const ShaderDesc& shader : scene.shaders) {
        if (shader.kind != ShaderKind::occlusion) continue;
        std::string problem;
        check(validate_for_render(declaration(), shader.params, problem),
              "a loaded shader passes the render check");
        for (const ParamValue& v : shader.params) {
            check(v.param < declaration().params.size() && declaration().params[v.param].name == v.name,
                  "a value names its declared parameter");
            check(!v.connected || v.shader < scene.shaders.size(), "connection target exists");
            check(v.connected || v.type != ParamType::light || v.light < scene.lights.size(),
                  "light exists");
        }
    }
    for (const MaterialDesc& m : scene.materials)
        check(m.shader < scene.shaders.size() && m.opacity >= 0 && m.opacity <= 1, "material resolved");
    for (const ObjectDesc& o : scene.objects) {
        check(o.material < scene.materials.size(), "object material resolved");
        for (const uint32_t index : o.mesh.indices) check(index < o.mesh.positions.size(), "mesh index in range");
        for (const Vec3& p : o.mesh.positions) check(is_finite(p), "mesh vertex finite");
    }
}

// Camera rays over a 4x4 grid, and from each hit one probe along the normal.
void trace_some_rays(const Scene& scene) {
    SceneGeometry geometry;
    std::string error;
    if (!geometry.build(scene, error)) return;
    const CameraModel cam = make_camera(scene.camera);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            Vec3 origin, direction;
            camera_ray(cam, (i + 0.5) / 4 * scene.camera.width_px, (j + 0.5) / 4 * scene.camera.height_px,
                       origin, direction);
            SurfaceHit hit;
            if (!geometry.intersect(origin, direction, std::numeric_limits<double>::infinity(),
                                    scene.options.facing_default, UINT32_MAX, UINT32_MAX, hit))
                continue;
            check(hit.distance > 0 && std::isfinite(hit.distance), "hit distance positive and finite");
            check(is_finite(hit.point) && is_finite(hit.geometric_normal) && is_finite(hit.shading_normal),
                  "hit point and normals finite");
            check(hit.object < scene.objects.size(), "hit names an object");
            const Vec3 up = dot(hit.geometric_normal, direction) < 0 ? hit.geometric_normal
                                                                       : -hit.geometric_normal;
            const Vec3 from = hit.point + up * (std::fmax(1.0, max_abs_component(hit.point)) / 65536);
            SurfaceHit probe;
            geometry.intersect(from, up, 10.0, 'a', hit.object, hit.primitive, probe);
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Scene scene;
    std::string error;
    if (!parse_scene_text(text, "fuzz.json", VOSH_SOURCE_DIR "/scenes", declaration(), scene, error)) {
        check(error.rfind("fuzz.json: ", 0) == 0, "an error names the file");
        check(error.size() > std::string("fuzz.json: ").size(), "an error says what is wrong");
        return 0;
    }
    check_loaded(scene);
    trace_some_rays(scene);
    return 0;
}
