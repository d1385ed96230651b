// What a rank other than 0 runs, for a job of any kind: it waits for rank
// 0's job, finds its own module, reads the scene and hands the job's
// settings record to the piece for its kind, then does the tiles rank 0
// hands it out and gives rank 0 its last word.
#pragma once

#include <atomic>
#include <vector>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/work/bytes.h"
#include "renderer/work/job.h"
#include "renderer/work/ranks.h"

namespace vosh::render {

// A job kind's part on a worker: reads the kind's settings record from
// `settings`, checks that it fits `scene`, and readies the grid, camera and
// shading of `pieces` (which keep alive whatever shading needs). False when
// the record did not arrive whole or does not fit the scene.
using WorkerPiece = bool (*)(ByteReader& settings, const Scene& scene, const ShaderDeclaration& decl,
                             JobPieces& pieces);

struct WorkerKind {
    JobKind kind{};
    WorkerPiece read = nullptr;
};

// What a worker brings to a job of its own: threads and a stop flag.
struct WorkerSettings {
    int threads = 1;  // when the job names none
    const std::atomic<bool>* stop = nullptr;
};

// False when the worker could not do its share (rank 0 has been told why).
bool run_worker(const std::vector<WorkerKind>& kinds, const WorkerSettings& settings);

}  // namespace vosh::render
