#include "renderer/work/worker.h"

#include "renderer/work/distributed.h"
#include "renderer/work/scene_wire.h"
#include "renderer/work/session.h"
#include "renderer/work/shader_files.h"

namespace vosh::render {

bool run_worker(const std::vector<WorkerKind>& kinds, const WorkerSettings& settings) {
    const std::vector<unsigned char> job = receive_job();
    if (job.empty()) return true;  // rank 0 ended before any work
    ByteReader r = reader_of(job);
    JobKind kind{};
    int32_t threads = 0;
    get(r, kind);
    get(r, threads);
    ShaderFiles shader;
    std::string error;
    if (!find_shader(shader, "", error)) {
        report_failure(error);
        return false;
    }
    const WorkerKind* known = nullptr;
    for (const WorkerKind& k : kinds)
        if (k.kind == kind) known = &k;
    if (!known || !known->read) {
        report_failure("rank 0 sent a job of an unknown kind");
        return false;
    }
    const bool same_layout = same_declaration_layout(r, shader.decl);
    Scene scene;
    const bool whole = get_scene(r, scene);
    if (!same_layout) {
        report_failure("its shader declaration lays out parameters differently from rank 0's");
        return false;
    }
    JobPieces pieces;
    if (!whole || !r.ok || !known->read(r, scene, shader.decl, pieces)) {
        report_failure("the job from rank 0 did not arrive whole");
        return false;
    }
    Session session;
    if (!open_job_session(scene, shader.decl, shader.module_path, pieces, forward_warning, session, error)) {
        report_failure(error);
        return false;
    }
    TileRunSettings run;
    run.context = &session.context;
    run.threads = threads > 0 ? threads : settings.threads;
    run.stop = settings.stop;
    TileRunStats run_stats;
    follow_tiles(pieces.tiles, run, pieces.shade, run_stats);
    WorkerTotals totals;
    totals.leaked_blocks = close_session(session).leaked_blocks;
    totals.threads = run_stats.threads;
    totals.signalled = settings.stop && settings.stop->load();
    totals.cpu_seconds = run_stats.cpu_seconds;
    totals.probe_rays = run_stats.probe_rays;
    totals.bad_samples = run_stats.bad_samples;
    report_finished(totals);
    return true;
}

}  // namespace vosh::render
