// The `vosh-render bake` command line.
#pragma once

namespace vosh::render {

// `argv[0]` is "bake". Exit statuses as for a render: 0 written, 1 the bake
// could not be carried out, 2 bad input, 128 + signal when stopped.
int run_bake_cli(int argc, char** argv);

}  // namespace vosh::render
