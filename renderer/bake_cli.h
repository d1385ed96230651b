// The `vosh-render bake` command line.
#pragma once

#include "renderer/work/ranks.h"

namespace vosh::render {

// `argv[0]` is "bake". Exit statuses as for a render: 0 written, 1 the bake
// could not be carried out, 2 bad input, 128 + signal when stopped.
// With `ranks` (rank 0 of a distributed job) the other ranks bake too.
int run_bake_cli(int argc, char** argv, const Ranks* ranks = nullptr);

}  // namespace vosh::render
