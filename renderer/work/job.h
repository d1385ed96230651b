// A job over a loaded scene (a render, a bake) as rank 0, or a process on
// its own, runs it. The job supplies only what is its own: its grid of
// tiles, how one tile's points are shaded (into bytes on any rank, or in
// place when alone), how a tile's bytes are placed in its result, and its
// settings as one plain record that goes to the other ranks as it lies in
// memory. The runner opens the module session around the tiles, shares the
// job and the tiles with the ranks, closes the session and keeps the
// statistics every job reports; the job then finishes and writes its result.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"
#include "renderer/work/bytes.h"
#include "renderer/work/distributed.h"
#include "renderer/work/job_stats.h"
#include "renderer/work/ranks.h"
#include "renderer/work/session.h"
#include "renderer/work/tiles.h"

namespace vosh::render {

// How rank 0 (or a process on its own) runs a job, whatever its kind.
struct JobRunSettings {
    std::string module_path;
    int threads = 1;
    bool progress = false;  // a progress bar on standard error
    // When set, becomes true to stop the job: every thread leaves at its
    // next sample and the job fails with stats.interrupted set.
    const std::atomic<bool>* stop = nullptr;
    // Set in rank 0 of a distributed job: the other ranks do tiles too.
    const Ranks* ranks = nullptr;
    int worker_threads = 0;  // threads of the other ranks; 0: each its core count
};

// What a job kind hands the runner, on rank 0 and on the other ranks alike.
// A worker rank needs only the grid, the camera and `shade`.
struct JobPieces {
    const char* name = "job";  // for "NAME stopped before it finished"
    std::vector<Tile> tiles;
    // The camera shading sees; without one the camera record takes the
    // raster size (a bake's texture).
    const CameraDesc* camera = nullptr;
    int raster_width = 0, raster_height = 0;
    TileShade shade;  // one tile's points into bytes, on whichever rank does it
    TilePlace place;  // rank 0: one tile's bytes into the result
    TileWork work;    // alone: one tile's points straight into the result
};

// A job's settings record as the other ranks receive it: its kind, and the
// record's bytes as they lie in memory.
struct JobRecord {
    JobKind kind{};
    std::vector<unsigned char> bytes;
};

template <typename Settings>
JobRecord job_record(JobKind kind, const Settings& settings) {
    ByteWriter w;
    put(w, settings);
    return {kind, std::move(w.bytes)};
}

// Opens the session a job's tiles run in, with the job's camera (or its
// raster size); warnings go to `warning_outlet` when it is set.
bool open_job_session(const Scene& scene, const ShaderDeclaration& decl, const std::string& module_path,
                      const JobPieces& pieces, std::function<void(const std::string& line)> warning_outlet,
                      Session& session, std::string& error);

// Runs the job: shares it with the ranks when there are any, opens the
// session, does the tiles, closes the session. False with a one-line
// message when the session cannot be opened, a rank failed, or the job was
// stopped ("NAME stopped before it finished" when nothing else says why).
bool run_job(const Scene& scene, const ShaderDeclaration& decl, const JobRunSettings& settings,
             const JobRecord& record, const JobPieces& pieces, JobStats& stats, std::string& error);

}  // namespace vosh::render
