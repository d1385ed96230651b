// One render of a loaded scene with the shader module: the pixels of the
// image (or its region) as tiles of a module session, camera samples inside
// each pixel, their average written into the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
    // Adaptive sampling: a pixel stops once its estimated error is under the
    // threshold (renderer/render/noise_estimate.h); 0 samples every pixel
    // samples_per_pixel times, negative takes the scene's.
    double noise_threshold = -1;
    int min_samples = 0;  // before any pixel may stop; 0: default_min_samples
    uint32_t seed = 0;  // another seed gives an independent render of the same scene
    bool has_region = false;
    Region region;
};

struct RenderStats : JobStats {
    int width = 0, height = 0;  // of the image written
    int samples_per_pixel = 0;
    double noise_threshold = 0;  // that the render used
    int min_samples = 0;         // before any pixel could stop
    double mean_samples = 0;     // camera samples a pixel took on average
    std::vector<uint32_t> samples_taken;  // per pixel of the image, row by row
};

// Samples every pixel takes before it may stop, when not given: a sixteenth
// of the most, so the quietest pixels can save up to 16 times, but at least
// 4, since a variance from fewer samples is itself mostly noise.
int default_min_samples(int samples_per_pixel);

// A sample map: the samples each pixel or texel took (`taken`, row by row)
// as grey with `most` white, for a PNG; the counts themselves for an EXR.
Image sample_map(const std::vector<uint32_t>& taken, int width, int height, int most, bool counts);

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
