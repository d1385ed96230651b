// The module's entry points, loaded as a host loads them, driven with a
// parameter block and host answers taken from the input: sampler pairs,
// probe hits, colours, ray kind, opacity, lights, material records and
// connected parameters. The sampler refuses after a few pairs whatever the
// sample count asks for, so every call must end after a bounded number of
// host calls. Sanitizers catch crashes, out-of-bounds access and undefined
// behaviour; the checks below catch state the call fails to put back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "support/scripted_host.h"

namespace {

using namespace vosh;
using namespace vosh::test;

// Upper bound on directions per call; the input cannot raise it.
constexpr int32_t kMaxPairs = 24;
// Tags the input chooses among, so lights and materials can exist.
constexpr Tag kLightTag = 7, kLightItem = 8, kMaterialTag = 20, kShaderTag = 21, kSelfShader = 22;

struct Input : FuzzInput {
    bool flag() { return take<uint8_t>() & 1; }
    Color color() { return Color{take<float>(), take<float>(), take<float>(), take<float>()}; }
    Vector vector() { return Vector{take<float>(), take<float>(), take<float>()}; }
};

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

// One connected parameter per set bit, each answered by mi_phen_eval with
// its own stored bytes or with bytes from the input.
void connect(OcclusionParams& params, Input& in) {
    const uint64_t mask = in.take<uint64_t>();
    if (mask == 0) return;
    unsigned char* block = reinterpret_cast<unsigned char*>(&params);
    for (size_t word = 0; word < sizeof(OcclusionParams) / 4; ++word) {
        if (!(mask >> (word % 64) & 1)) continue;
        set_marker(block + 4 * word, 1);
        if (in.flag()) {
            std::vector<unsigned char>& bytes = host().connected_values[block + 4 * word];
            // Room for the widest parameter read from this address (a colour).
            bytes.resize(sizeof(Color));
            for (unsigned char& b : bytes) b = in.take<uint8_t>();
        }
    }
}

void script_host(ScriptedHost& h, Input& in) {
    h.recording = true;
    h.sampler_limit = in.take<uint8_t>() % (kMaxPairs + 1);
    const int pairs = in.take<uint8_t>() % (kMaxPairs + 1);
    for (int i = 0; i < pairs; ++i) h.sample_pairs.push_back({in.take<double>(), in.take<double>()});
    const int probes = in.take<uint8_t>() % (kMaxPairs + 1);
    for (int i = 0; i < probes; ++i) {
        ProbeAnswer a;
        a.hit = in.flag();
        a.distance = in.take<double>();
        a.material_tag = in.flag() ? kMaterialTag : 0;
        a.object_label = in.take<uint8_t>() % 3;
        h.probes.push_back(a);
    }

    h.state.ray_kind = in.take<int32_t>();
    h.state.ray_direction = in.vector();
    h.state.ray_length = in.take<double>();
    h.state.shading_normal = in.vector();
    h.state.hit_point = in.vector();
    h.state.incoming_ior = in.take<float>();
    h.state.outgoing_ior = in.take<float>();
    h.state.object_label = in.take<uint8_t>() % 3;
    h.options.ray_tracing_enabled = in.flag();
    h.options.depth_setting = in.take<int8_t>();
    h.camera.image_width = in.take<int16_t>();
    h.camera.image_height = in.take<int16_t>();

    h.transparent = {in.flag(), in.color()};
    h.refraction = {in.flag(), in.color()};
    h.reflection = {in.flag(), in.color()};
    h.environment = in.color();
    h.avg_radiance = in.color();
    h.shader_color = in.color();
    h.refraction_dir_ok = in.flag();
    h.refraction_dir = in.vector();
    h.reflection_dir = in.vector();
    h.light_direction = in.vector();

    // A light: positional (with a matrix record) or traced, or missing.
    if (in.flag()) h.instance_items[kLightTag] = kLightItem;
    h.light_kinds[kLightItem] = in.take<uint8_t>() % 2;
    if (in.flag()) {
        std::vector<unsigned char>& record = h.db_records[kLightTag];
        record.resize(72 + 16 * sizeof(float));
        for (unsigned char& b : record) b = in.take<uint8_t>();
    }
    // The material of a hit names its shader in its second word; that
    // shader may be this one, which re-enters the module.
    if (in.flag()) {
        const Tag shader = in.flag() ? kSelfShader : kShaderTag;
        std::vector<unsigned char>& record = h.db_records[kMaterialTag];
        record.assign(2 * sizeof(Tag), 0);
        std::memcpy(record.data() + sizeof(Tag), &shader, sizeof shader);
    }
    h.db_types[kShaderTag] = in.take<uint8_t>();
    if (in.flag()) h.shaderstate["mydata"] = in.take<uint8_t>() % 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{{data, size}};
    ScriptedHost& h = reset_host();
    const LoadedModule& m = module();
    check(m.init && m.shade && m.exit, "module loaded");

    OcclusionParams& params = default_params();
    if (in.size >= sizeof params) {
        std::memcpy(&params, in.data, sizeof params);
        in.data += sizeof params;
        in.size -= sizeof params;
    } else {
        // Short inputs vary the plain defaults a field at a time.
        const size_t offset = in.take<uint8_t>() % (sizeof params / 4);
        const uint32_t word = in.take<uint32_t>();
        std::memcpy(reinterpret_cast<char*>(&params) + 4 * offset, &word, sizeof word);
    }
    // The light parameter names our light or none.
    params.light = in.flag() ? kLightTag : 0;
    script_host(h, in);
    connect(params, in);
    const float opacity = in.take<float>();

    h.shader_fn = [&params](Color* result, RenderState* state, Tag shader) {
        if (shader == kSelfShader) {
            module().shade(result, state, &params);
        } else {
            *result = host().shader_color;
        }
    };

    HostBool required = 0;
    check(m.init(&h.state, nullptr, &required) != 0, "global init succeeds");
    check(m.init(&h.state, &params, &required) != 0, "instance init succeeds");
    h.clear_calls();
    const char facing_before = h.state.facing_mode;

    Color result{0.0f, 0.0f, 0.0f, opacity};
    check(m.shade(&result, &h.state, &params) == 1, "the entry returns true");

    // Bounded host work: one probe per sample pair handed out, and one
    // refused mi_sample to end the loop.
    check(h.count("mi_trace_probe") <= h.sampler_limit, "probes bounded by the sampler");
    check(h.count("mi_sample") <= h.sampler_limit + 1, "sampler asked at most once past its end");
    check(h.count("mi_call_shader_x") <= h.sampler_limit, "one hit shader per probe at most");
    // What sampling changed is put back.
    check(h.falloff_start == 0.0 && h.falloff_stop == 0.0, "ray falloff restored");
    check(h.state.facing_mode == facing_before ||
              h.state.facing_mode == h.options.facing_default,
          "facing mode restored");
    auto marker = h.shaderstate.find("mydata");
    check(marker == h.shaderstate.end() || marker->second != 1, "re-entry marker cleared");

    m.exit(&h.state, &params);
    m.exit(&h.state, nullptr);
    check(h.live_blocks.empty(), "the instance record is released");
    check(h.user_slot == nullptr, "the user slot is emptied");
    return 0;
}
