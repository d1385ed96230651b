// The loaded scene as the other ranks of a distributed job receive it:
// what arrives packs to the same bytes again, and bytes cut short anywhere
// are refused, never read past.
#include <gtest/gtest.h>

#include "render_harness.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/work/scene_wire.h"

namespace vosh::render::test {
namespace {

std::vector<unsigned char> bytes_of(const Scene& scene) {
    ByteWriter w;
    put_scene(w, scene);
    return w.bytes;
}

// Meshes with UVs, a texture image, an environment image, connections.
class SceneWire : public ::testing::TestWithParam<const char*> {};

TEST_P(SceneWire, ArrivesWholeAndRefusesAnyShortenedCopy) {
    Scene scene;
    std::string error;
    ASSERT_TRUE(load_scene(std::string(VOSH_SOURCE_DIR) + "/scenes/" + GetParam(), test_declaration(), scene,
                           error))
        << error;
    const std::vector<unsigned char> bytes = bytes_of(scene);
    Scene arrived;
    ByteReader r = reader_of(bytes);
    ASSERT_TRUE(get_scene(r, arrived));
    EXPECT_EQ(r.at, r.end);
    EXPECT_EQ(bytes_of(arrived), bytes);
    EXPECT_EQ(arrived.objects.size(), scene.objects.size());

    // Cut at a spread of places, the last byte included.
    for (size_t keep = 0; keep < bytes.size(); keep += 1 + bytes.size() / 97) {
        const std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<long>(keep));
        Scene partial;
        ByteReader rc = reader_of(cut);
        EXPECT_FALSE(get_scene(rc, partial)) << "kept " << keep << " of " << bytes.size();
    }
    const std::vector<unsigned char> all_but_one(bytes.begin(), bytes.end() - 1);
    Scene partial;
    ByteReader rc = reader_of(all_but_one);
    EXPECT_FALSE(get_scene(rc, partial));
}

INSTANTIATE_TEST_SUITE_P(ExampleScenes, SceneWire,
                         ::testing::Values("crate_baked.json", "environment_tint.json", "color_room.json",
                                           "smooth_lowpoly.json"));

}  // namespace
}  // namespace vosh::render::test
