#include "renderer/work/session.h"

#include <cstdio>

#include "renderer/host/shading.h"
#include "renderer/trace/camera.h"
#include "renderer/host/current_context.h"
#include "renderer/work/param_block.h"
#include "shader/occlusion_params.h"

namespace vosh::render {

namespace {

constexpr int max_trace_depth = 8;

bool build_shaders(const Scene& scene, const ShaderDeclaration& decl, RenderContext& ctx,
                   std::string& error) {
    if (decl.block_size < sizeof(OcclusionParams)) {
        error = "the declaration lays out " + std::to_string(decl.block_size) +
                " bytes, fewer than the module reads (" + std::to_string(sizeof(OcclusionParams)) + ")";
        return false;
    }
    for (size_t i = 0; i < scene.shaders.size(); ++i) {
        const ShaderDesc& desc = scene.shaders[i];
        auto rt = std::make_unique<ShaderRuntime>();
        rt->host_record.shader_index = static_cast<uint32_t>(i);
        rt->kind = desc.kind;
        rt->desc = &desc;
        if (desc.kind == ShaderKind::occlusion) {
            ParamBlock block = lay_out_block(decl, desc, scene.lights);
            rt->host_record.record.connection_offset = static_cast<int32_t>(block.marker_offset);
            rt->buffer = std::move(block.bytes);
            rt->connected = std::move(block.connected);
            rt->light = block.light;
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
        LightInstanceRecord inst{};
        inst.kind = static_cast<uint32_t>(db_type::light_instance);
        inst.item_tag = make_tag(TagKind::light_item, i);
        std::snprintf(inst.name, sizeof inst.name, "%s", l.name.c_str());
        for (int k = 0; k < 16; ++k) inst.local_to_world[k] = static_cast<float>(to_world.m[k]);
        ctx.light_instances.push_back(inst);
        ctx.light_items.push_back({static_cast<uint32_t>(db_type::light_item), l.positional ? 0 : 1});
        ctx.light_to_world.push_back(to_world);
    }
}

// A state with no surface under it, for the calls made outside shading.
void describe_setup_state(HostState& s, const CameraDesc* camera) {
    if (camera)
        describe_miss(s, nullptr, camera->position, normalize(camera->look_at - camera->position),
                      ray_kind::eye);
    else
        describe_miss(s, nullptr, {0, 0, 0}, {0, 0, -1}, ray_kind::eye);
}

bool init_module(Session& session, std::string& error) {
    RenderContext& ctx = session.context;
    const int32_t version = ctx.module.version();
    if (version != 1) {
        error = "the shader module reports version " + std::to_string(version) + ", expected 1";
        return false;
    }
    HostState& s = session.setup->state_at(0);
    describe_setup_state(s, session.camera);
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

void exit_module(Session& session) {
    RenderContext& ctx = session.context;
    HostState& s = session.setup->state_at(0);
    describe_setup_state(s, session.camera);
    for (auto& shader : ctx.shaders) {
        if (shader->kind != ShaderKind::occlusion) continue;
        s.rs.active_shader = &shader->host_record.record;
        ctx.module.exit(&s.rs, reinterpret_cast<OcclusionParams*>(shader->buffer.data()));
    }
    s.rs.active_shader = nullptr;
    ctx.module.exit(&s.rs, nullptr);
}

}  // namespace

bool open_session(const Scene& scene, const ShaderDeclaration& decl,
                  const SessionSettings& settings, Session& session, std::string& error) {
    RenderContext& ctx = session.context;
    session.scene = &scene;
    session.camera = settings.camera;
    ctx.scene = &scene;
    ctx.decl = &decl;
    ctx.options = scene.options;
    if (settings.camera) {
        ctx.camera = make_camera(*settings.camera);
        ctx.camera_record = {settings.camera->width_px, settings.camera->height_px};
    }
    ctx.max_depth = max_trace_depth;
    if (settings.warning_outlet) ctx.warnings.send_to(settings.warning_outlet);

    if (!build_shaders(scene, decl, ctx, error)) return false;
    build_records(scene, ctx);
    if (!session.geometry.build(scene, error)) return false;
    ctx.geometry = &session.geometry;
    if (!load_module(settings.module_path, ctx.module, error)) return false;

    set_context(&ctx);
    session.setup = std::make_unique<ThreadContext>(ctx);
    if (!init_module(session, error)) {
        set_context(nullptr);
        unload_module(ctx.module);
        return false;
    }
    return true;
}

SessionReport close_session(Session& session) {
    RenderContext& ctx = session.context;
    exit_module(session);
    SessionReport report;
    report.leaked_blocks = ctx.memory.report_leaks();
    if (const int64_t pins = ctx.pins.load(); pins != 0)
        std::fprintf(stderr, "vosh-render: %lld database record(s) still pinned at the end\n",
                     static_cast<long long>(pins));
    ctx.warnings.flush_summary();
    set_context(nullptr);
    unload_module(ctx.module);
    return report;
}

}  // namespace vosh::render
