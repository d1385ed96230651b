// The vosh-render command line.
#pragma once

#include "renderer/work/ranks.h"

namespace vosh::render {

// Exit status: 0 done, 1 the render could not be carried out (module,
// output file), 2 bad input (command line or scene); no image is written
// unless the render succeeded.
// In a distributed job rank 0 runs it with the job's ranks, which then
// share the work (render or bake); otherwise `ranks` is null.
int run_cli(int argc, char** argv, const Ranks* ranks = nullptr);

// The command as started: on its own it is run_cli; under mpirun rank 0
// runs run_cli and the other ranks do the tiles it hands out.
int run_command(int argc, char** argv);

}  // namespace vosh::render
