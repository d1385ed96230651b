// A module session over a loaded scene: everything a render, a bake or one
// rank of a distributed render shares before and after its shading points.
// Opening builds the host's records (shader runtimes, database records, the
// ray tracer's scene), loads the module, checks its version and runs its
// init calls; closing runs the exit calls, reports leaks, pins and repeated
// warnings, and unloads the module. Between the two the session is the
// context the host operations reach, so only one is open per process.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "renderer/host/render_context.h"
#include "renderer/host/thread_context.h"
#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/trace/geometry.h"

namespace vosh::render {

struct SessionSettings {
    std::string module_path;
    // The camera shading sees (raster space, eye distances, the state of
    // the init and exit calls). Null where there is none, as in a bake: the
    // camera record then has no size and the calls outside shading look
    // down -z from the origin.
    const CameraDesc* camera = nullptr;
    // Where module warnings go when not to standard error (WarningLog::send_to).
    std::function<void(const std::string& line)> warning_outlet;
};

// Not movable: the host records point into it.
struct Session {
    RenderContext context;
    SceneGeometry geometry;
    std::unique_ptr<ThreadContext> setup;  // the state of the init and exit calls
    const Scene* scene = nullptr;
    const CameraDesc* camera = nullptr;
    // Where module warnings go when not to standard error (WarningLog::send_to).
    std::function<void(const std::string& line)> warning_outlet;
};

struct SessionReport {
    size_t leaked_blocks = 0;  // module memory never released
};

// False with a one-line message when the declaration does not fit the
// module, the scene cannot be built for tracing, or the module cannot be
// loaded or reports another version; nothing is left open then. `scene`
// and `decl` must outlive the session.
bool open_session(const Scene& scene, const ShaderDeclaration& decl,
                  const SessionSettings& settings, Session& session, std::string& error);

// Ends a session that open_session opened; call it once, whether or not the
// work in between finished.
SessionReport close_session(Session& session);

}  // namespace vosh::render
