// The processes of a distributed job (MPI ranks): whether a launcher
// started this one, its rank among them, their hosts, and the messages they
// send each other. Rank 0 reads the scene and writes the image; the others
// only do tiles. A process started on its own never initialises MPI.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vosh::render {

// Whether mpirun (or another launcher of the same runtime) started this
// process, judged by the variables it sets for its processes.
bool launched_by_mpirun();

struct Ranks {
    int rank = 0;
    int size = 1;
    std::vector<std::string> hosts;  // every rank's host (rank 0 learns them all)
};

// Initialises MPI; false with a one-line message when it cannot. Only the
// calling thread talks to the other ranks.
bool start_ranks(Ranks& ranks, std::string& error);
// Ends MPI. After abandon_ranks() (some rank may never reach its end) it
// ends the whole job through the launcher instead of waiting for them.
void end_ranks();
void abandon_ranks();

// "rank 2 on HOST", for messages.
std::string describe_rank(const Ranks& ranks, int rank);

// The first byte of a job.
enum class JobKind : unsigned char { render = 1, bake = 2 };

// Rank 0 hands every other rank the job (empty: there is none, the command
// failed before any work); the others wait for it.
void share_job(const std::vector<unsigned char>& job);
bool job_shared();  // whether share_job ran in this process
std::vector<unsigned char> receive_job();

// What ranks tell each other while the tiles are done.
enum class Note : int {
    request = 1,   // a worker wants one more tile
    tile = 2,      // rank 0 answers: a tile index, or none is left
    result = 3,    // a worker's finished tile: index, then its bytes
    warning = 4,   // a worker's module warning line
    failed = 5,    // a worker cannot go on: why
    finished = 6,  // a worker's last word: its totals
    stop = 7,      // rank 0: stop at once
    job = 8,       // rank 0: the job's size, then its bytes
};

// Returns at once; the bytes are copied.
void send_note(int to, Note note, const std::vector<unsigned char>& bytes);
// A note waiting from `from` (-1: any rank), without blocking: false when
// none has arrived.
bool poll_note(int from, int& sender, Note& note, std::vector<unsigned char>& bytes);

// A worker's last word on its share.
struct WorkerTotals {
    int32_t threads = 0;
    uint8_t signalled = 0;  // it was stopped by a signal of its own
    double cpu_seconds = 0;
    uint64_t probe_rays = 0;
    uint64_t bad_samples = 0;
    uint64_t leaked_blocks = 0;
};

// A worker's warning lines wait (from any thread) until it next talks to
// rank 0, which shows them with the worker's rank.
void forward_warning(const std::string& line);
void send_waiting_warnings();
// A worker's last word: one of these, once.
void report_failure(const std::string& message);
void report_finished(const WorkerTotals& totals);

}  // namespace vosh::render
