// What a worker rank accepts of a job's settings record, which arrives
// after the scene: one that came whole and fits that scene. A record cut
// short or out of the scene's bounds is refused before any session opens.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

#include "render_harness.h"
#include "renderer/bake/bake.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/work/worker.h"

namespace vosh::render::test {
namespace {

std::vector<unsigned char> record(std::initializer_list<int32_t> fields) {
    ByteWriter w;
    for (const int32_t f : fields) put(w, f);
    return w.bytes;
}

// A bake's record: object, UV set, width, height, samples, seed, space,
// then `projection`: projected, map count, maps, cage, first pass material,
// front and back (as four words of zero bits), then the threshold, the
// least points and a spare word.
std::vector<unsigned char> bake_record(std::initializer_list<int32_t> fields,
                                       std::initializer_list<int32_t> projection = {0, 1, 0, 0, 0, -1, 0},
                                       double threshold = 0, int32_t min_points = 1) {
    ByteWriter w;
    for (const int32_t f : fields) put(w, f);
    for (const int32_t f : projection) put(w, f);
    for (int k = 0; k < 4; ++k) put(w, int32_t{0});
    put(w, threshold);
    for (const int32_t f : {min_points, 0}) put(w, f);
    return w.bytes;
}

// A render record: area, samples per pixel, seed, then the adaptive fields
// (threshold, least samples, the image's size, the tiles' side).
std::vector<unsigned char> render_record(std::initializer_list<int32_t> fields, int32_t w, int32_t h,
                                         double threshold = 0, int32_t tile = 16) {
    std::vector<unsigned char> bytes = record(fields);
    ByteWriter more;
    put(more, threshold);
    for (const int32_t f : {1, w, h, tile}) put(more, f);
    bytes.insert(bytes.end(), more.bytes.begin(), more.bytes.end());
    return bytes;
}

std::vector<unsigned char> cut(std::vector<unsigned char> bytes) {
    bytes.pop_back();
    return bytes;
}

struct RecordCase {
    const char* what;
    WorkerPiece read;
    std::vector<unsigned char> bytes;
    size_t tiles;  // 0: refused
};

TEST(JobRecord, WorkersTakeOnlyRecordsThatArriveWholeAndFitTheScene) {
    Scene scene;
    std::string error;
    ASSERT_TRUE(load_scene(std::string(VOSH_SOURCE_DIR) + "/scenes/crate_baked.json", test_declaration(), scene,
                           error))
        << error;
    uint32_t crate = 0;
    ASSERT_TRUE(find_object(scene, "crate", crate, error)) << error;
    const int32_t w = scene.camera.width_px, h = scene.camera.height_px, c = static_cast<int32_t>(crate);
    const size_t whole_image = static_cast<size_t>((w + 15) / 16) * static_cast<size_t>((h + 15) / 16);
    // Render: x0, y0, x1, y1, samples per pixel, seed, (adaptive). Bake: object, UV set,
    // width, height, samples, seed, space.
    const RecordCase cases[] = {
        {"render, whole image", read_render_job, render_record({0, 0, w, h, 4, 7}, w, h), whole_image},
        {"render, a region", read_render_job, render_record({16, 0, 48, 20, 1, 0}, w, h), 4},
        {"render, adaptive", read_render_job, render_record({16, 0, 48, 20, 4, 0}, w, h, 0.01, 32), 1},
        {"render, no samples", read_render_job, render_record({0, 0, w, h, 0, 0}, w, h), 0},
        {"render, region past the image", read_render_job, render_record({0, 0, w + 1, h, 1, 0}, w, h), 0},
        {"render, threshold not a number", read_render_job, render_record({0, 0, w, h, 4, 0}, w, h, NAN), 0},
        {"render, another image's size", read_render_job, render_record({0, 0, w, h, 4, 0}, w + 1, h), 0},
        {"render, cut short", read_render_job, cut(render_record({0, 0, w, h, 1, 0}, w, h)), 0},
        {"bake, 64 x 40", read_bake_job, bake_record({c, 0, 64, 40, 2, 0, 0}), 12},
        {"bake, no such object", read_bake_job, bake_record({99, 0, 64, 64, 1, 0, 0}), 0},
        {"bake, a UV set it lacks", read_bake_job, bake_record({c, 3, 64, 64, 1, 0, 0}), 0},
        {"bake, too wide", read_bake_job, bake_record({c, 0, max_bake_size + 1, 64, 1, 0, 0}), 0},
        {"bake, threshold not a number", read_bake_job,
         bake_record({c, 0, 64, 40, 8, 0, 0}, {0, 1, 0, 0, 0, -1, 0}, NAN, 4), 0},
        {"bake, no samples", read_bake_job, bake_record({c, 0, 64, 64, 0, 0, 0}), 0},
        {"bake, projected with no source", read_bake_job, bake_record({c, 0, 64, 64, 1, 0, 0}, {1, 1, 0, 0, 0, -1, 0}),
         0},
        {"bake, cut short", read_bake_job, cut(bake_record({c, 0, 64, 64, 1, 0, 0})), 0},
    };
    for (const RecordCase& k : cases) {
        ByteReader r = reader_of(k.bytes);
        JobPieces pieces;
        EXPECT_EQ(k.read(r, scene, test_declaration(), pieces), k.tiles > 0) << k.what;
        if (k.tiles == 0) continue;
        EXPECT_EQ(pieces.tiles.size(), k.tiles) << k.what;
        EXPECT_TRUE(pieces.shade) << k.what;
    }
}

}  // namespace
}  // namespace vosh::render::test
