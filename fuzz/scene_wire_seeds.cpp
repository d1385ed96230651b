// Writes the scene-wire fuzzer's seeds: the bytes rank 0 sends for a few
// example scenes (a point light, a directional one, a connected shader, an
// environment image cut down to keep the seed small).
//   scene_wire_seeds <source dir> <corpus dir>
#include <cstdio>
#include <fstream>
#include <string>

#include "fuzz/renderer_fuzz_support.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/work/scene_wire.h"

using namespace vosh::render;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: scene_wire_seeds SOURCE_DIR CORPUS_DIR\n");
        return 2;
    }
    const std::string source = argv[1], corpus = argv[2];
    for (const char* name : {"light_point", "light_directional", "bent_color_mix", "color_room",
                             "environment_tint"}) {
        Scene scene;
        std::string error;
        if (!load_scene(source + "/scenes/" + name + ".json", fuzz::declaration(), scene, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        // Meshes and images make a seed too large to mutate well; a few
        // vertices and a 2x1 image keep their shape on the wire.
        if (scene.environment.has_image) {
            Image& image = scene.environment.image;
            image.width = 2;
            image.height = 1;
            image.rgba.resize(8);
        }
        for (ObjectDesc& o : scene.objects)
            if (o.mesh.indices.size() > 6) {
                o.mesh = MeshData{};
                o.mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
                o.mesh.indices = {0, 1, 2};
            }
        ByteWriter w;
        put_scene(w, scene);
        std::ofstream(corpus + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(w.bytes.data()), static_cast<std::streamsize>(w.bytes.size()));
    }
    return 0;
}
