// The shipped declaration's defaults for hosts that do without the
// renderer: the module's test programs are cross-built for targets that
// lack the renderer's JSON library, so this reads just enough JSON for a
// declaration file, with the standard library alone.
#pragma once

#include <cstddef>
#include <string>

namespace vosh::test {

// Fills `block` with the defaults of the declaration at `path`, its
// parameters laid out in order without gaps as the renderer lays them out:
// colours without alpha get alpha 1, booleans are 1 or 0, lights and
// reserved slots 0. Refuses, with a one-line `error`, a file it cannot read
// or one whose block is not `block_size` bytes.
bool read_declared_defaults(const std::string& path, unsigned char* block, std::size_t block_size,
                            std::string& error);

}  // namespace vosh::test
