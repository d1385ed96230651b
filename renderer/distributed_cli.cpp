// The command under mpirun: rank 0 runs it as on its own, sharing the work
// it reaches; the other ranks wait for that work, bring their own module
// and threads to it, and stay silent but for what they send rank 0. Every
// kind of job a worker can do is listed here, each by the piece that reads
// its settings record.
#include <algorithm>
#include <thread>

#include "renderer/bake/bake.h"
#include "renderer/cli.h"
#include "renderer/cli_support.h"
#include "renderer/render/render.h"
#include "renderer/work/ranks.h"
#include "renderer/work/worker.h"

namespace vosh::render {

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
        catch_stop_signals();
        WorkerSettings settings;
        settings.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        settings.stop = &stop_signalled;
        const std::vector<WorkerKind> kinds = {{JobKind::render, read_render_job}, {JobKind::bake, read_bake_job}};
        status = run_worker(kinds, settings) ? 0 : exit_failed;
        if (stop_signalled.load()) status = stop_status();
    }
    end_ranks();
    return status;
}

}  // namespace vosh::render
