// One render of a loaded scene with the shader module: the pixels of the
// image (or its region) as tiles of a module session, camera samples inside
// each pixel, their average written into the image.
#pragma once

#include <cstdint>
#include <string>

#include "renderer/image/image_io.h"
#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/work/bytes.h"
#include "renderer/work/job.h"

namespace vosh::render {

struct Region {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // pixels [x0, x1) x [y0, y1)
};

// Refuses a region that is empty or reaches outside a width x height image;
// the command line and render_scene show this one message.
bool check_region(const Region& r, int width, int height, std::string& error);

struct RenderSettings : JobRunSettings {
    int samples_per_pixel = 0;  // 0: the scene's
    uint32_t seed = 0;  // another seed gives an independent render of the same scene
    bool has_region = false;
    Region region;
};

struct RenderStats : JobStats {
    int width = 0, height = 0;  // of the image written
    int samples_per_pixel = 0;
};

// Renders `scene`; the image covers the region when one is set. False with
// a one-line message when the module cannot be loaded or refuses the scene,
// or when the render was stopped. The module's exit calls and the leak
// count happen whenever its init did, stopped or not.
bool render_scene(const Scene& scene, const ShaderDeclaration& decl, const RenderSettings& settings,
                  Image& image, RenderStats& stats, std::string& error);

// A worker's part of the job render_scene sent (see WorkerPiece).
bool read_render_job(ByteReader& settings, const Scene& scene, const ShaderDeclaration& decl,
                     JobPieces& pieces);

}  // namespace vosh::render
