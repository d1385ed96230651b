// The scene-wire reader over arbitrary bytes, as a rank of a distributed
// job reads the scene rank 0 sent. Sanitizers catch undefined behaviour; a
// scene the reader accepts packs to the very bytes it was read from, and
// those read back to a scene that packs the same again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/renderer_fuzz_support.h"
#include "renderer/work/scene_wire.h"

using namespace vosh::render;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> bytes(data, data + size);
    Scene scene;
    ByteReader r = reader_of(bytes);
    if (!get_scene(r, scene)) return 0;
    const size_t used = static_cast<size_t>(r.at - bytes.data());

    ByteWriter w;
    put_scene(w, scene);
    fuzz::check(w.bytes.size() == used && std::equal(w.bytes.begin(), w.bytes.end(), bytes.begin()),
                "an accepted scene packs to the bytes it was read from");

    Scene again;
    ByteReader r2 = reader_of(w.bytes);
    fuzz::check(get_scene(r2, again) && r2.at == r2.end, "a packed scene reads back whole");
    ByteWriter w2;
    put_scene(w2, again);
    fuzz::check(w2.bytes == w.bytes, "a scene read back packs to the same bytes");
    return 0;
}
