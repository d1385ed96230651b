// Module overhead per direction: vosh_occlusion, loaded with dlopen and bound
// to a constant-time host, against an inline reference that does the same
// arithmetic in one plain loop calling the host's functions directly. Both
// run in the same benchmark, in alternating blocks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/bench_host.h"
#include "host/host_interface.h"
#include "occlusion/normalise.h"
#include "occlusion/reentry_marker.h"
#include "occlusion/sample_math.h"
#include "occlusion/tint_math.h"
#include "shader/occlusion_instance.h"

namespace vosh::bench {
namespace {

enum class Mode { plain, bent_normals, environment_tint, color_bleeding };

struct ModeInfo {
    Mode mode;
    const char* name;
};
constexpr ModeInfo modes[] = {{Mode::plain, "plain"},
                              {Mode::bent_normals, "bent_normals"},
                              {Mode::environment_tint, "environment_tint"},
                              {Mode::color_bleeding, "color_bleeding"}};
constexpr uint32_t direction_counts[] = {16, 64, 256};

OcclusionParams params_for(Mode mode, uint32_t directions) {
    OcclusionParams p = default_params();
    p.samples = static_cast<int32_t>(directions);
    switch (mode) {
        case Mode::plain: break;
        case Mode::bent_normals: p.bent_normals = 1; break;
        case Mode::environment_tint: p.occlusion_mode = 2; break;
        case Mode::color_bleeding: p.occlusion_mode = 1; break;
    }
    return p;
}

// ---------------------------------------------------------------------------
// The reference: what the module computes, written out as plain loops that
// call this executable's host directly. The maths comes from the module's
// own host-free headers; only the loops and the host calls are the
// reference's.

// The instance fields the reference loops read, as init would set them.
OcclusionInstance reference_for(const OcclusionParams& p) {
    OcclusionInstance ref{};
    ref.spread_fraction = p.spread * 0.0055555557f;
    ref.gamma = p.gamma;
    ref.bias = p.bias;
    ref.gain = p.gain;
    ref.color_strength = p.color_strength;
    ref.hue_factor = p.hue_adjust + 1.0f;
    ref.saturation_factor = p.saturation_adjust + 1.0f;
    ref.value_factor = p.value_adjust + 1.0f;
    ref.boost = p.boost;
    ref.boost_threshold = p.boost_threshold;
    ref.boost_power = p.boost_power;
    ref.output_space = p.output_space;
    return ref;
}

inline float weight_of(double d, double near_distance, double far_distance) {
    return static_cast<float>(occlusion_weight(d, near_distance, far_distance));
}

void reference_plain(Color* result, RenderState* state, const OcclusionParams& p,
                     const OcclusionInstance& ref, uint32_t count) {
    const Vector axis = scaled_cone_axis(state->shading_normal, ref.spread_fraction);
    const double near_distance = p.near_distance, far_distance = p.far_distance;
    int32_t index = 0;
    double sample[2];
    float sum = 0.0f;
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = cone_direction(axis, ref.spread_fraction, sample[0], sample[1]);
        if (mi_trace_probe(state, &direction, &state->hit_point))
            sum += weight_of(state->child_state->ray_length, near_distance, far_distance);
    }
    float occlusion = index > 0 ? sum / static_cast<float>(index) : 0.0f;
    shape_occlusion(occlusion, ref);
    const Color c = mix_colors(p.bright, p.dark, occlusion);
    *result = Color{c.r, c.g, c.b, 1.0f};
}

void reference_bent(Color* result, RenderState* state, const OcclusionParams& p,
                    const OcclusionInstance& ref, uint32_t count) {
    const Vector axis = scaled_cone_axis(state->shading_normal, ref.spread_fraction);
    int32_t index = 0;
    double sample[2];
    Vector bent{0.0f, 0.0f, 0.0f};
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = cone_direction(axis, ref.spread_fraction, sample[0], sample[1]);
        if (!mi_trace_probe(state, &direction, &state->hit_point)) {
            bent.x += direction.x;
            bent.y += direction.y;
            bent.z += direction.z;
        }
    }
    (void)p;
    normalise(bent, SumOrder::z_first);
    if (ref.output_space == 1) {
        mi_normal_to_world(state, &bent, &bent);
        normalise(bent, SumOrder::z_first);
    }
    *result = Color{bent.x, bent.y, bent.z, 1.0f};
}

void reference_environment(Color* result, RenderState* state, const OcclusionParams& p,
                           const OcclusionInstance& ref, uint32_t count) {
    const Vector axis = scaled_cone_axis(state->shading_normal, ref.spread_fraction);
    const double near_distance = p.near_distance, far_distance = p.far_distance;
    int32_t index = 0;
    double sample[2];
    Color environment{0.0f, 0.0f, 0.0f, 0.0f};
    Color sum{0.0f, 0.0f, 0.0f, 0.0f};
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = cone_direction(axis, ref.spread_fraction, sample[0], sample[1]);
        mi_trace_environment(&environment, state, &direction);
        shape_tint(environment, ref);
        if (!mi_trace_probe(state, &direction, &state->hit_point)) {
            add_tinted(sum, p.bright, environment, ref.color_strength);
            continue;
        }
        float w = weight_of(state->child_state->ray_length, near_distance, far_distance);
        shape_occlusion(w, ref);
        add_tinted(sum, mix_colors(p.bright, p.dark, w), environment, ref.color_strength);
    }
    const float n = static_cast<float>(index);
    *result = Color{sum.r / n, sum.g / n, sum.b / n, 1.0f};
}

void reference_bleeding(Color* result, RenderState* state, const OcclusionParams& p,
                        const OcclusionInstance& ref, uint32_t count) {
    const Vector axis = scaled_cone_axis(state->shading_normal, ref.spread_fraction);
    const double near_distance = p.near_distance, far_distance = p.far_distance;
    int32_t index = 0;
    double sample[2];
    Color sum{0.0f, 0.0f, 0.0f, 0.0f};
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = cone_direction(axis, ref.spread_fraction, sample[0], sample[1]);
        if (!mi_trace_probe(state, &direction, &state->hit_point)) {
            sum.r += p.bright.r;
            sum.g += p.bright.g;
            sum.b += p.bright.b;
            continue;
        }
        float w = weight_of(state->child_state->ray_length, near_distance, far_distance);
        // The hit's material shader, called with the re-entry marker set.
        const RenderState* child = state->child_state;
        Color hit_color{0.0f, 0.0f, 0.0f, 0.0f};
        const void* record = mi_db_access(child->material_tag);
        Tag shader = 0;
        std::memcpy(&shader, static_cast<const char*>(record) + sizeof(Tag), sizeof shader);
        const int32_t type = mi_db_type(shader);
        mi_db_unpin(child->material_tag);
        void* const saved = state->texture_coord_list;
        state->texture_coord_list = child->texture_coord_list;
        int32_t marker = 1;
        mi_shaderstate_set(state, reentry_key, &marker, sizeof marker, 1);
        mi_call_shader_x(&hit_color, type, state, shader, nullptr);
        state->texture_coord_list = saved;
        marker = 0;
        mi_shaderstate_set(state, reentry_key, &marker, sizeof marker, 1);

        shape_occlusion(w, ref);
        shape_tint(hit_color, ref);
        add_tinted(sum, mix_colors(p.bright, p.dark, w), hit_color, ref.color_strength);
    }
    const float n = static_cast<float>(index);
    *result = Color{sum.r / n, sum.g / n, sum.b / n, 1.0f};
}

void run_reference_mode(Mode mode, Color* result, RenderState* state, const OcclusionParams& p,
                   const OcclusionInstance& ref, uint32_t count) {
    switch (mode) {
        case Mode::plain: reference_plain(result, state, p, ref, count); break;
        case Mode::bent_normals: reference_bent(result, state, p, ref, count); break;
        case Mode::environment_tint: reference_environment(result, state, p, ref, count); break;
        case Mode::color_bleeding: reference_bleeding(result, state, p, ref, count); break;
    }
}

// ---------------------------------------------------------------------------

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Module and reference alternate in blocks of about a millisecond of this
// thread's CPU time, so that whatever else the machine runs slows both alike
// and the ratio stays paired.
void bench_overhead(benchmark::State& st, Mode mode, uint32_t directions) {
    reset_state();
    BenchHost& h = host();
    OcclusionParams params = params_for(mode, directions);
    const OcclusionInstance ref = reference_for(params);
    const Module& m = module();
    HostBool unused = 0;
    m.init(&h.state, &params, &unused);
    const int calls = std::max(1, static_cast<int>(40000 / directions));
    const auto run_module = [&] {
        for (int i = 0; i < calls; ++i) {
            Color result{0.0f, 0.0f, 0.0f, 1.0f};
            m.shade(&result, &h.state, &params);
            benchmark::DoNotOptimize(result);
        }
    };
    const auto run_reference = [&] {
        for (int i = 0; i < calls; ++i) {
            Color result{0.0f, 0.0f, 0.0f, 1.0f};
            run_reference_mode(mode, &result, &h.state, params, ref, directions);
            benchmark::DoNotOptimize(result);
        }
    };
    double module_seconds = 0, reference_seconds = 0;
    int64_t blocks = 0;
    for (auto _ : st) {
        // Each goes first every other block.
        const bool module_first = (blocks & 1) == 0;
        const double t0 = thread_seconds();
        if (module_first) run_module(); else run_reference();
        const double t1 = thread_seconds();
        if (module_first) run_reference(); else run_module();
        const double t2 = thread_seconds();
        module_seconds += module_first ? t1 - t0 : t2 - t1;
        reference_seconds += module_first ? t2 - t1 : t1 - t0;
        st.SetIterationTime(t2 - t0);
        ++blocks;
    }
    m.exit(&h.state, &params);
    const double taken = static_cast<double>(blocks) * calls * directions;
    st.SetItemsProcessed(static_cast<int64_t>(2 * taken));
    st.counters["module_ns_per_direction"] = module_seconds * 1e9 / taken;
    st.counters["reference_ns_per_direction"] = reference_seconds * 1e9 / taken;
    st.counters["module_vs_reference"] = module_seconds / reference_seconds;
}

// The reference only stands for the module if it computes the same colour,
// bit for bit, from the same host answers.
bool reference_matches_module() {
    bool all_equal = true;
    for (const ModeInfo& info : modes) {
        for (uint32_t directions : direction_counts) {
            reset_state();
            BenchHost& h = host();
            OcclusionParams params = params_for(info.mode, directions);
            const Module& m = module();
            HostBool unused = 0;
            m.init(&h.state, &params, &unused);
            Color from_module{0.0f, 0.0f, 0.0f, 1.0f};
            m.shade(&from_module, &h.state, &params);
            m.exit(&h.state, &params);

            reset_state();
            Color from_reference{0.0f, 0.0f, 0.0f, 1.0f};
            run_reference_mode(info.mode, &from_reference, &h.state, params, reference_for(params),
                          directions);
            if (std::memcmp(&from_module, &from_reference, sizeof(Color)) != 0) {
                std::fprintf(stderr,
                             "%s/%u: module (%.9g %.9g %.9g %.9g) != reference (%.9g %.9g %.9g %.9g)\n",
                             info.name, directions, from_module.r, from_module.g, from_module.b,
                             from_module.a, from_reference.r, from_reference.g, from_reference.b,
                             from_reference.a);
                all_equal = false;
            }
        }
    }
    return all_equal;
}

// Fixed-length runs for instruction counting under callgrind: with
// --toggle-collect='*profile_module*' (or '*profile_reference*') the run
// "bench_module_overhead --profile plain 64 1000" counts only those calls.
[[gnu::noinline]] void profile_module(Mode mode, uint32_t directions, int calls) {
    reset_state();
    BenchHost& h = host();
    OcclusionParams params = params_for(mode, directions);
    const Module& m = module();
    HostBool unused = 0;
    m.init(&h.state, &params, &unused);
    for (int i = 0; i < calls; ++i) {
        Color result{0.0f, 0.0f, 0.0f, 1.0f};
        m.shade(&result, &h.state, &params);
        benchmark::DoNotOptimize(result);
    }
    m.exit(&h.state, &params);
}

[[gnu::noinline]] void profile_reference(Mode mode, uint32_t directions, int calls) {
    reset_state();
    BenchHost& h = host();
    const OcclusionParams params = params_for(mode, directions);
    const OcclusionInstance ref = reference_for(params);
    for (int i = 0; i < calls; ++i) {
        Color result{0.0f, 0.0f, 0.0f, 1.0f};
        run_reference_mode(mode, &result, &h.state, params, ref, directions);
        benchmark::DoNotOptimize(result);
    }
}

int profile(const char* mode_name, const char* directions, const char* calls) {
    for (const ModeInfo& info : modes) {
        if (std::strcmp(info.name, mode_name) != 0) continue;
        const auto n = static_cast<uint32_t>(std::strtoul(directions, nullptr, 10));
        const int count = std::atoi(calls);
        profile_module(info.mode, n, count);
        profile_reference(info.mode, n, count);
        return 0;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode_name);
    return 1;
}

}  // namespace
}  // namespace vosh::bench

int main(int argc, char** argv) {
    using namespace vosh::bench;
    if (argc == 5 && std::strcmp(argv[1], "--profile") == 0) return profile(argv[2], argv[3], argv[4]);
    if (!reference_matches_module()) {
        std::fprintf(stderr, "the reference does not compute what the module computes\n");
        return 1;
    }
    for (const ModeInfo& info : modes) {
        for (uint32_t directions : direction_counts) {
            const std::string name = std::string("overhead/") + info.name + "/" + std::to_string(directions);
            benchmark::RegisterBenchmark(name.c_str(), bench_overhead, info.mode, directions)
                ->UseManualTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
