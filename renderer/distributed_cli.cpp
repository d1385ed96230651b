// The command under mpirun: rank 0 runs it as on its own, sharing the work
// it reaches; the other ranks wait for that work, bring their own module
// and threads to it, and stay silent but for what they send rank 0.
#include <algorithm>
#include <thread>

#include "renderer/bake/bake.h"
#include "renderer/cli.h"
#include "renderer/cli_support.h"
#include "renderer/render/render.h"
#include "renderer/work/ranks.h"
#include "renderer/work/shader_files.h"

namespace vosh::render {

namespace {

int work_as_worker() {
    catch_stop_signals();
    const std::vector<unsigned char> job = receive_job();
    if (job.empty()) return 0;  // rank 0 ended before any work
    ByteReader r = reader_of(job);
    JobKind kind{};
    get(r, kind);
    ShaderFiles shader;
    std::string error;
    if (!find_shader(shader, "", error)) {
        report_failure(error);
        return exit_failed;
    }
    const ShaderDeclaration& decl = shader.decl;
    WorkerSettings settings;
    settings.module_path = shader.module_path;
    settings.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    settings.stop = &stop_signalled;
    if (kind == JobKind::render) return render_as_worker(r, decl, settings);
    if (kind == JobKind::bake) return bake_as_worker(r, decl, settings);
    report_failure("rank 0 sent a job of an unknown kind");
    return exit_failed;
}

}  // namespace

int run_command(int argc, char** argv) {
    if (!launched_by_mpirun()) return run_cli(argc, argv);
    Ranks ranks;
    std::string error;
    if (!start_ranks(ranks, error)) return complain(exit_failed, error);
    int status = 0;
    if (ranks.rank == 0) {
        status = run_cli(argc, argv, ranks.size > 1 ? &ranks : nullptr);
        // A command that ended before its work (bad input, --help) still
        // lets the others go.
        if (!job_shared()) share_job({});
    } else {
        status = work_as_worker();
        if (stop_signalled.load()) status = stop_status();
    }
    end_ranks();
    return status;
}

}  // namespace vosh::render
