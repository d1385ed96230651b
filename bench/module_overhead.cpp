// Module overhead per direction: vosh_occlusion, loaded with dlopen and bound
// to a constant-time host, against an inline reference that does the same
// arithmetic in one plain loop calling the host's functions directly. Both
// run in the same benchmark, in alternating blocks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/bench_host.h"
#include "host/host_interface.h"
#include "shading_math/color_adjust.h"
#include "shading_math/tone_shaping.h"

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
// The reference: what the module computes, written out as plain loops.

struct Reference {
    float spread_fraction;
    float gamma, bias, gain;
    float strength;
    float hue, saturation, value;
    float boost, boost_threshold, boost_power;
    int32_t output_space;
};

Reference reference_for(const OcclusionParams& p) {
    return Reference{p.spread * 0.0055555557f, p.gamma,
                     p.bias,                   p.gain,
                     p.color_strength,         p.hue_adjust + 1.0f,
                     p.saturation_adjust + 1.0f, p.value_adjust + 1.0f,
                     p.boost,                  p.boost_threshold,
                     p.boost_power,            p.output_space};
}

inline Vector unit_axis_scaled(Vector a, float s) {
    const float length = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        a.x *= inverse;
        a.y *= inverse;
        a.z *= inverse;
    }
    const float keep = 1.0f - s;
    return Vector{a.x * keep, a.y * keep, a.z * keep};
}

inline Vector step_direction(const Vector& axis, float s, const double* sample) {
    const float phi = static_cast<float>(sample[1] * 6.283185307179586);
    const float z = static_cast<float>(2.0 * sample[0] - 1.0);
    const float z_squared = z * z;
    const float r = static_cast<float>(std::sqrt(static_cast<double>(1.0f - z_squared)));
    float x = static_cast<float>(std::cos(static_cast<double>(phi)) * r);
    float y = static_cast<float>(std::sin(static_cast<double>(phi)) * r);
    float w = z;
    const float length = std::sqrt(x * x + y * y + w * w);
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        x *= inverse;
        y *= inverse;
        w *= inverse;
    }
    return Vector{axis.x + s * x, axis.y + s * y, axis.z + s * w};
}

inline float weight_of(double d, double near_distance, double far_distance) {
    double t;
    if (d <= near_distance)
        t = 0.0;
    else if (!(d < far_distance))
        t = 1.0;
    else
        t = (d - near_distance) / (far_distance - near_distance);
    return static_cast<float>(1.0 - t);
}

inline void shape(float& v, const Reference& ref) {
    gamma_adjust(v, ref.gamma);
    bias_adjust(v, ref.bias);
    gain_adjust(v, ref.gain);
}

inline void shape_tint(Color& c, const Reference& ref) {
    if (ref.boost != 1.0f) luminance_boost(c, ref.boost, ref.boost_threshold, ref.boost_power);
    if (ref.hue != 1.0f || ref.saturation != 1.0f || ref.value != 1.0f)
        hsv_adjust(c, ref.hue, ref.saturation, ref.value);
}

inline Color mix(const Color& bright, const Color& dark, float v) {
    return Color{(dark.r - bright.r) * v + bright.r, (dark.g - bright.g) * v + bright.g,
                 (dark.b - bright.b) * v + bright.b, 0.0f};
}

inline float tinted(float blend, float tint, float strength) {
    const float t = blend * tint;
    const float difference = t - blend;
    const float step = strength * difference;
    return blend + step;
}

inline void add_tinted(Color& sum, const Color& blend, const Color& tint, float strength) {
    sum.r += tinted(blend.r, tint.r, strength);
    sum.g += tinted(blend.g, tint.g, strength);
    sum.b += tinted(blend.b, tint.b, strength);
}

inline void normalise(Vector& v) {
    const float length = std::sqrt(v.z * v.z + v.y * v.y + v.x * v.x);
    if (length > 0.0f) {
        const float inverse = 1.0f / length;
        v.x *= inverse;
        v.y *= inverse;
        v.z *= inverse;
    }
}

void reference_plain(Color* result, RenderState* state, const OcclusionParams& p,
                     const Reference& ref, uint32_t count) {
    const Vector axis = unit_axis_scaled(state->shading_normal, ref.spread_fraction);
    const double near_distance = p.near_distance, far_distance = p.far_distance;
    int32_t index = 0;
    double sample[2];
    float sum = 0.0f;
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = step_direction(axis, ref.spread_fraction, sample);
        if (mi_trace_probe(state, &direction, &state->hit_point))
            sum += weight_of(state->child_state->ray_length, near_distance, far_distance);
    }
    float occlusion = index > 0 ? sum / static_cast<float>(index) : 0.0f;
    shape(occlusion, ref);
    const Color c = mix(p.bright, p.dark, occlusion);
    *result = Color{c.r, c.g, c.b, 1.0f};
}

void reference_bent(Color* result, RenderState* state, const OcclusionParams& p,
                    const Reference& ref, uint32_t count) {
    const Vector axis = unit_axis_scaled(state->shading_normal, ref.spread_fraction);
    int32_t index = 0;
    double sample[2];
    Vector bent{0.0f, 0.0f, 0.0f};
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = step_direction(axis, ref.spread_fraction, sample);
        if (!mi_trace_probe(state, &direction, &state->hit_point)) {
            bent.x += direction.x;
            bent.y += direction.y;
            bent.z += direction.z;
        }
    }
    (void)p;
    normalise(bent);
    if (ref.output_space == 1) {
        mi_normal_to_world(state, &bent, &bent);
        normalise(bent);
    }
    *result = Color{bent.x, bent.y, bent.z, 1.0f};
}

void reference_environment(Color* result, RenderState* state, const OcclusionParams& p,
                           const Reference& ref, uint32_t count) {
    const Vector axis = unit_axis_scaled(state->shading_normal, ref.spread_fraction);
    const double near_distance = p.near_distance, far_distance = p.far_distance;
    int32_t index = 0;
    double sample[2];
    Color environment{0.0f, 0.0f, 0.0f, 0.0f};
    Color sum{0.0f, 0.0f, 0.0f, 0.0f};
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = step_direction(axis, ref.spread_fraction, sample);
        mi_trace_environment(&environment, state, &direction);
        shape_tint(environment, ref);
        if (!mi_trace_probe(state, &direction, &state->hit_point)) {
            add_tinted(sum, p.bright, environment, ref.strength);
            continue;
        }
        float w = weight_of(state->child_state->ray_length, near_distance, far_distance);
        shape(w, ref);
        add_tinted(sum, mix(p.bright, p.dark, w), environment, ref.strength);
    }
    const float n = static_cast<float>(index);
    *result = Color{sum.r / n, sum.g / n, sum.b / n, 1.0f};
}

void reference_bleeding(Color* result, RenderState* state, const OcclusionParams& p,
                        const Reference& ref, uint32_t count) {
    const Vector axis = unit_axis_scaled(state->shading_normal, ref.spread_fraction);
    const double near_distance = p.near_distance, far_distance = p.far_distance;
    int32_t index = 0;
    double sample[2];
    Color sum{0.0f, 0.0f, 0.0f, 0.0f};
    while (mi_sample(sample, &index, state, 2, &count)) {
        const Vector direction = step_direction(axis, ref.spread_fraction, sample);
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
        mi_shaderstate_set(state, "mydata", &marker, sizeof marker, 1);
        mi_call_shader_x(&hit_color, type, state, shader, nullptr);
        state->texture_coord_list = saved;
        marker = 0;
        mi_shaderstate_set(state, "mydata", &marker, sizeof marker, 1);

        shape(w, ref);
        shape_tint(hit_color, ref);
        add_tinted(sum, mix(p.bright, p.dark, w), hit_color, ref.strength);
    }
    const float n = static_cast<float>(index);
    *result = Color{sum.r / n, sum.g / n, sum.b / n, 1.0f};
}

void run_reference_mode(Mode mode, Color* result, RenderState* state, const OcclusionParams& p,
                   const Reference& ref, uint32_t count) {
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
    const Reference ref = reference_for(params);
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
    const Reference ref = reference_for(params);
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
