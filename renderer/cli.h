// The vosh-render command line.
#pragma once

namespace vosh::render {

// Exit status: 0 done, 1 the render could not be carried out (module,
// output file), 2 bad input (command line or scene); no image is written
// unless the render succeeded.
int run_cli(int argc, char** argv);

}  // namespace vosh::render
