#include "renderer/work/job.h"

#include <utility>

#include "renderer/work/scene_wire.h"

namespace vosh::render {

namespace {

// What the other ranks receive (worker.cpp reads it in this order): the
// kind, their threads, the declaration's layout, the scene, the record.
std::vector<unsigned char> job_bytes(const Scene& scene, const ShaderDeclaration& decl, int worker_threads,
                                     const JobRecord& record) {
    ByteWriter w;
    put(w, record.kind);
    put(w, static_cast<int32_t>(worker_threads));
    put_declaration_layout(w, decl);
    put_scene(w, scene);
    w.bytes.insert(w.bytes.end(), record.bytes.begin(), record.bytes.end());
    return std::move(w.bytes);
}

}  // namespace

bool open_job_session(const Scene& scene, const ShaderDeclaration& decl, const std::string& module_path,
                      const JobPieces& pieces, std::function<void(const std::string& line)> warning_outlet,
                      Session& session, std::string& error) {
    SessionSettings settings;
    settings.module_path = module_path;
    settings.camera = pieces.camera;
    settings.warning_outlet = std::move(warning_outlet);
    if (!open_session(scene, decl, settings, session, error)) return false;
    // No camera: camera space is world space and the camera record gives
    // the raster's size.
    if (!pieces.camera) session.context.camera_record = {pieces.raster_width, pieces.raster_height};
    return true;
}

bool run_job(const Scene& scene, const ShaderDeclaration& decl, const JobRunSettings& settings,
             const JobRecord& record, const JobPieces& pieces, JobStats& stats, std::string& error) {
    const Ranks* ranks = settings.ranks;
    // The others start on their share while this rank opens its own session.
    if (ranks) share_job(job_bytes(scene, decl, settings.worker_threads, record));
    Session session;
    if (!open_job_session(scene, decl, settings.module_path, pieces, nullptr, session, error)) {
        if (ranks) dismiss_workers(*ranks);
        return false;
    }
    TileRunSettings run;
    run.context = &session.context;
    run.threads = settings.threads;
    run.progress = settings.progress;
    run.stop = settings.stop;
    JobStats job;
    bool finished = false;
    if (ranks) {
        job.ranks = ranks->size;
        finished = lead_tiles(*ranks, pieces.tiles, run, pieces.shade, pieces.place, job, error);
    } else {
        TileRunStats own;
        finished = run_tiles(pieces.tiles, run, pieces.work, own);
        job.threads = own.threads;
        job.seconds = own.seconds;
        job.cpu_seconds = own.cpu_seconds;
        job.probe_rays = own.probe_rays;
        job.bad_samples = own.bad_samples;
        job.interrupted = !finished;
    }
    job.leaked_blocks += close_session(session).leaked_blocks;
    stats = job;
    if (!finished && error.empty()) error = std::string(pieces.name) + " stopped before it finished";
    return finished;
}

}  // namespace vosh::render
