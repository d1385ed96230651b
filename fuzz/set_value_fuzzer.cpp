// `--set` over arbitrary text: each input line is one NAME=VALUE argument,
// applied to a scene with two occlusion shaders (one with a connected
// parameter) and a light, as vosh-render applies them. Sanitizers catch
// undefined behaviour; when the arguments are taken, every stored value is
// one a render can use once laid out, and no connection is left on a
// parameter they set.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/renderer_fuzz_support.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/scene/param_values.h"
#include "renderer/work/param_block.h"

namespace {

using namespace vosh::render;

using fuzz::check;
using fuzz::declaration;

const Scene& base_scene() {
    static const Scene scene = [] {
        const nlohmann::json doc = {
            {"camera", {{"type", "perspective"}, {"position", {0, 2, 4}}, {"look_at", {0, 0, 0}},
                        {"resolution", {4, 4}}}},
            {"lights", {{"key", {{"position", {2, 4, 1}}}}, {"sun", {{"direction", {0, -1, 0}}}}}},
            {"shaders",
             {{"plain", {{"type", "vosh_occlusion"}, {"params", {{"samples", 16}}}}},
              {"tiles", {{"type", "checker"}}},
              {"fed", {{"type", "vosh_occlusion"},
                       {"params", {{"adaptive", true}, {"bright", {{"shader", "tiles"}}},
                                   {"far_distance", {{"shader", "tiles"}}}}}}}}},
        };
        Scene s;
        std::string error;
        if (!parse_scene(doc, "fuzz.json", "", declaration(), s, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        return s;
    }();
    return scene;
}

void check_block(const Scene& scene, const ShaderDesc& shader) {
    const std::vector<unsigned char> laid_out = lay_out_block(declaration(), shader, scene.lights).bytes;
    const unsigned char* block = laid_out.data();
    for (const ParamDecl& p : declaration().params) {
        const int floats = p.type == ParamType::color ? 4 : p.type == ParamType::vector ? 3
                           : p.type == ParamType::scalar ? 1 : 0;
        for (int k = 0; k < floats; ++k) {
            float v;
            std::memcpy(&v, block + p.offset + 4 * k, sizeof v);
            check(std::isfinite(v), "every stored number is finite");
        }
        if (p.type == ParamType::unused) {
            int32_t v;
            std::memcpy(&v, block + p.offset, sizeof v);
            check(v == 0, "reserved slots stay 0");
        }
    }
    std::string problem;
    check(validate_for_render(declaration(), shader.params, problem), "the values pass the render check");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> assignments;
    std::string line;
    for (size_t i = 0; i <= size && assignments.size() < 16; ++i) {
        if (i == size || data[i] == '\n') {
            assignments.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(data[i]);
        }
    }
    Scene scene = base_scene();
    std::string error;
    if (!apply_overrides(assignments, declaration(), scene, error)) {
        check(error.rfind("--set", 0) == 0, "an error names the option");
        return 0;
    }
    for (const ShaderDesc& shader : scene.shaders) {
        if (shader.kind != ShaderKind::occlusion) continue;
        check_block(scene, shader);
        for (const std::string& a : assignments) {
            const ParamDecl* p = declaration().find(a.substr(0, a.find('=')));
            check(p != nullptr, "only declared parameters are taken");
            for (const ParamValue& v : shader.params)
                check(v.name != p->name || !v.connected, "a set parameter is no longer connected");
        }
    }
    return 0;
}
