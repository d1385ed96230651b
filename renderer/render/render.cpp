#include "renderer/render/render.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "renderer/host/host_context.h"
#include "renderer/output/progress.h"
#include "renderer/trace/sampler.h"
#include "renderer/host/shading.h"
#include "shader/occlusion_params.h"

namespace vosh::render {

bool host_operations_linked();

namespace {

constexpr int tile_size = 16;
constexpr int max_trace_depth = 8;
// Sequence index of the camera's pixel jitter; shading calls count from 0.
constexpr uint32_t pixel_jitter_call = 0xffffffffu;

bool build_shaders(const Scene& scene, const ShaderDeclaration& decl, RenderContext& ctx,
                   std::string& error) {
    if (decl.block_size < sizeof(OcclusionParams)) {
        error = "the declaration lays out " + std::to_string(decl.block_size) +
                " bytes, fewer than the module reads (" + std::to_string(sizeof(OcclusionParams)) + ")";
        return false;
    }
    const ParamDecl* light_param = decl.find("light");
    for (size_t i = 0; i < scene.shaders.size(); ++i) {
        const ShaderDesc& desc = scene.shaders[i];
        auto rt = std::make_unique<ShaderRuntime>();
        rt->host_record.shader_index = static_cast<uint32_t>(i);
        rt->kind = desc.kind;
        rt->desc = &desc;
        if (desc.kind == ShaderKind::occlusion) {
            // Markers sit one aligned block-length past their parameters.
            const uint32_t marker_offset =
                desc.connections.empty() ? 0 : (decl.block_size + 15u) & ~15u;
            rt->host_record.record.connection_offset = static_cast<int32_t>(marker_offset);
            rt->buffer.assign(decl.block_size + marker_offset, 0);
            std::memcpy(rt->buffer.data(), desc.block.data(), decl.block_size);
            rt->connected.assign(decl.block_size, -1);
            for (const Connection& c : desc.connections) {
                const int32_t marker = 1;
                std::memcpy(rt->buffer.data() + c.offset + marker_offset, &marker, sizeof marker);
                rt->connected[c.offset] = static_cast<int32_t>(c.shader);
            }
            if (light_param && light_param->type == ParamType::light) {
                Tag tag;
                std::memcpy(&tag, desc.block.data() + light_param->offset, sizeof tag);
                if (tag_kind(tag) == TagKind::light_instance && tag_index(tag) < scene.lights.size())
                    rt->light = static_cast<int32_t>(tag_index(tag));
            }
        }
        ctx.shaders.push_back(std::move(rt));
    }
    return true;
}

void build_records(const Scene& scene, RenderContext& ctx) {
    for (size_t i = 0; i < scene.materials.size(); ++i) {
        const MaterialDesc& m = scene.materials[i];
        ctx.materials.push_back({static_cast<uint32_t>(db_type::material),
                                 make_tag(TagKind::shader, m.shader), m.opacity});
    }
    for (size_t i = 0; i < scene.lights.size(); ++i) {
        const LightDesc& l = scene.lights[i];
        Mat4 to_world;
        if (l.positional) {
            // The light's local origin is its position.
            to_world = translation(l.position);
        } else {
            // It shines along its local -z axis.
            Vec3 x, y;
            orthonormal_basis(-l.direction, x, y);
            to_world = from_axes(x, y, -l.direction, {0, 0, 0});
        }
        Mat4 to_light;
        invert_affine(to_world, to_light);
        LightInstanceRecord inst{};
        inst.kind = static_cast<uint32_t>(db_type::light_instance);
        inst.item_tag = make_tag(TagKind::light_item, i);
        std::snprintf(inst.name, sizeof inst.name, "%s", l.name.c_str());
        for (int k = 0; k < 16; ++k) inst.local_to_world[k] = static_cast<float>(to_world.m[k]);
        ctx.light_instances.push_back(inst);
        ctx.light_items.push_back({static_cast<uint32_t>(db_type::light_item), l.positional ? 0 : 1});
        ctx.light_to_world.push_back(to_world);
        ctx.world_to_light.push_back(to_light);
    }
}

// A state with no surface under it, for the calls made outside shading.
void describe_setup_state(HostState& s, const Scene& scene) {
    const CameraDesc& cam = scene.camera;
    describe_miss(s, nullptr, cam.position, normalize(cam.look_at - cam.position), ray_kind::eye);
}

struct TileQueue {
    std::vector<Region> tiles;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<uint64_t> cpu_ns{0};  // summed over the render threads
};

uint64_t thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// Adds the calling thread's CPU time to `total` when it goes out of scope:
// with other work on the machine, CPU time per ray stays comparable where
// wall time does not.
struct CpuTimeTally {
    std::atomic<uint64_t>& total;
    uint64_t start = thread_cpu_ns();
    ~CpuTimeTally() { total += thread_cpu_ns() - start; }
};

Color render_sample(ThreadContext& thread, uint32_t px, uint32_t py, uint32_t sample, int spp) {
    RenderContext& ctx = context();
    thread.begin_sample(px, py, sample);
    double jitter[2] = {0.5, 0.5};
    if (spp > 1) sobol_owen_2d(sample, sampler_seed(px, py, 0, pixel_jitter_call), jitter);
    Vec3 origin, direction;
    camera_ray(ctx.camera, px + jitter[0], py + jitter[1], origin, direction);
    HostState& eye = thread.state_at(0);
    SurfaceHit hit;
    Color c;
    if (ctx.geometry->intersect(origin, direction, std::numeric_limits<double>::infinity(),
                                ctx.options.facing_default, UINT32_MAX, UINT32_MAX, hit)) {
        describe_hit(eye, nullptr, origin, direction, hit, ray_kind::eye);
        c = shade_surface(eye);
    } else {
        c = environment_radiance(direction);
        c.a = 1;
    }
    if (!std::isfinite(c.r) || !std::isfinite(c.g) || !std::isfinite(c.b) || !std::isfinite(c.a)) {
        ++thread.bad_samples;
        c = {0, 0, 0, 0};
    }
    return c;
}

bool stop_requested(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

void render_tiles(TileQueue& queue, const Region& image_area, int spp, Image& image,
                  std::atomic<uint64_t>& probes, std::atomic<uint64_t>& bad,
                  const std::atomic<bool>* stop) {
    CpuTimeTally tally{queue.cpu_ns};
    RenderContext& ctx = context();
    ThreadContext thread(ctx.max_depth, &ctx.camera_record, &ctx.options);
    for (size_t t = queue.next++; t < queue.tiles.size(); t = queue.next++) {
        const Region& tile = queue.tiles[t];
        for (int y = tile.y0; y < tile.y1; ++y)
            for (int x = tile.x0; x < tile.x1; ++x) {
                double sum[4] = {0, 0, 0, 0};
                for (int s = 0; s < spp; ++s) {
                    // One camera sample is the longest a stop waits for.
                    if (stop_requested(stop)) {
                        probes += thread.probes;
                        bad += thread.bad_samples;
                        return;
                    }
                    const Color c = render_sample(thread, static_cast<uint32_t>(x),
                                                  static_cast<uint32_t>(y), static_cast<uint32_t>(s), spp);
                    sum[0] += c.r;
                    sum[1] += c.g;
                    sum[2] += c.b;
                    sum[3] += c.a;
                }
                float* out = &image.rgba[(static_cast<size_t>(y - image_area.y0) * image.width +
                                          (x - image_area.x0)) * 4];
                for (int k = 0; k < 4; ++k) out[k] = static_cast<float>(sum[k] / spp);
            }
        queue.done++;
    }
    probes += thread.probes;
    bad += thread.bad_samples;
}

bool init_module(const Scene& scene, RenderContext& ctx, ThreadContext& setup, std::string& error) {
    const int32_t version = ctx.module.version();
    if (version != 1) {
        error = "the shader module reports version " + std::to_string(version) + ", expected 1";
        return false;
    }
    HostState& s = setup.state_at(0);
    describe_setup_state(s, scene);
    HostBool per_instance = 0;
    ctx.module.init(&s.rs, nullptr, &per_instance);
    if (!per_instance) return true;
    for (auto& shader : ctx.shaders) {
        if (shader->kind != ShaderKind::occlusion) continue;
        HostBool ignored = 0;
        s.rs.active_shader = &shader->host_record.record;
        ctx.module.init(&s.rs, reinterpret_cast<OcclusionParams*>(shader->buffer.data()), &ignored);
    }
    s.rs.active_shader = nullptr;
    return true;
}

void exit_module(const Scene& scene, RenderContext& ctx, ThreadContext& setup) {
    HostState& s = setup.state_at(0);
    describe_setup_state(s, scene);
    for (auto& shader : ctx.shaders) {
        if (shader->kind != ShaderKind::occlusion) continue;
        s.rs.active_shader = &shader->host_record.record;
        ctx.module.exit(&s.rs, reinterpret_cast<OcclusionParams*>(shader->buffer.data()));
    }
    s.rs.active_shader = nullptr;
    ctx.module.exit(&s.rs, nullptr);
}

}  // namespace

bool render_scene(const Scene& scene, const ShaderDeclaration& decl, const RenderSettings& settings,
                  Image& image, RenderStats& stats, std::string& error) {
    host_operations_linked();
    RenderContext ctx;
    ctx.scene = &scene;
    ctx.decl = &decl;
    ctx.options = scene.options;
    ctx.camera = make_camera(scene.camera);
    ctx.camera_record = {scene.camera.width_px, scene.camera.height_px};
    ctx.max_depth = max_trace_depth;

    Region area{0, 0, scene.camera.width_px, scene.camera.height_px};
    if (settings.has_region) {
        const Region& r = settings.region;
        if (r.x0 < 0 || r.y0 < 0 || r.x1 > area.x1 || r.y1 > area.y1 || r.x0 >= r.x1 || r.y0 >= r.y1) {
            error = "--region " + std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                    std::to_string(r.x1) + "," + std::to_string(r.y1) +
                    ": must be a non-empty area within the " + std::to_string(area.x1) + "x" +
                    std::to_string(area.y1) + " image (X0,Y0 inclusive, X1,Y1 exclusive)";
            return false;
        }
        area = r;
    }
    const int spp = settings.samples_per_pixel > 0 ? settings.samples_per_pixel : scene.samples_per_pixel;
    const int threads = std::max(1, settings.threads);

    if (!build_shaders(scene, decl, ctx, error)) return false;
    build_records(scene, ctx);
    SceneGeometry geometry;
    if (!geometry.build(scene, error)) return false;
    ctx.geometry = &geometry;
    if (!load_module(settings.module_path, ctx.module, error)) return false;

    set_context(&ctx);
    ThreadContext setup(ctx.max_depth, &ctx.camera_record, &ctx.options);
    if (!init_module(scene, ctx, setup, error)) {
        set_context(nullptr);
        unload_module(ctx.module);
        return false;
    }

    image.width = area.x1 - area.x0;
    image.height = area.y1 - area.y0;
    image.rgba.assign(static_cast<size_t>(image.width) * image.height * 4, 0.0f);
    TileQueue queue;
    for (int y = area.y0; y < area.y1; y += tile_size)
        for (int x = area.x0; x < area.x1; x += tile_size)
            queue.tiles.push_back({x, y, std::min(x + tile_size, area.x1), std::min(y + tile_size, area.y1)});

    std::atomic<uint64_t> probes{0}, bad{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        try {
            workers.emplace_back(render_tiles, std::ref(queue), std::cref(area), spp, std::ref(image),
                                 std::ref(probes), std::ref(bad), settings.stop);
        } catch (const std::system_error&) {
            break;  // the system refuses more threads: render with those there are
        }
    }
    if (workers.empty()) render_tiles(queue, area, spp, image, probes, bad, settings.stop);
    if (settings.progress) {
        ProgressBar bar(queue.tiles.size());
        while (queue.done.load() < queue.tiles.size() && !stop_requested(settings.stop)) {
            bar.show(queue.done.load());
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        bar.finish();
    }
    for (std::thread& w : workers) w.join();
    const auto end = std::chrono::steady_clock::now();

    exit_module(scene, ctx, setup);
    stats.leaked_blocks = ctx.memory.report_leaks();
    if (const int64_t pins = ctx.pins.load(); pins != 0)
        std::fprintf(stderr, "vosh-render: %lld database record(s) still pinned at the end\n",
                     static_cast<long long>(pins));
    ctx.warnings.flush_summary();
    set_context(nullptr);
    unload_module(ctx.module);

    stats.width = image.width;
    stats.height = image.height;
    stats.samples_per_pixel = spp;
    stats.threads = workers.empty() ? 1 : static_cast<int>(workers.size());
    stats.seconds = std::chrono::duration<double>(end - start).count();
    stats.cpu_seconds = static_cast<double>(queue.cpu_ns.load()) * 1e-9;
    stats.probe_rays = probes.load();
    stats.bad_samples = bad.load();
    if (queue.done.load() < queue.tiles.size()) {
        stats.interrupted = true;
        error = "render stopped before it finished";
        return false;
    }
    return true;
}

}  // namespace vosh::render
