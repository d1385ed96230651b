#include "renderer/work/ranks.h"

// The C interface only: the C++ one needs a library of its own.
#define OMPI_SKIP_MPICXX 1
#define MPICH_SKIP_MPICXX 1
#include <mpi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vosh::render {

bool launched_by_mpirun() {
    return std::getenv("OMPI_COMM_WORLD_SIZE") != nullptr || std::getenv("PMIX_RANK") != nullptr;
}

bool start_ranks(Ranks& ranks, std::string& error) {
    int provided = 0;
    if (MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        error = "MPI could not be initialised";
        return false;
    }
    MPI_Comm_rank(MPI_COMM_WORLD, &ranks.rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks.size);
    char name[MPI_MAX_PROCESSOR_NAME] = {};
    int length = 0;
    MPI_Get_processor_name(name, &length);
    std::vector<char> all(static_cast<size_t>(ranks.size) * MPI_MAX_PROCESSOR_NAME, '\0');
    MPI_Gather(name, MPI_MAX_PROCESSOR_NAME, MPI_CHAR, all.data(), MPI_MAX_PROCESSOR_NAME, MPI_CHAR, 0,
               MPI_COMM_WORLD);
    ranks.hosts.clear();
    for (int r = 0; r < ranks.size; ++r) {
        const char* host = all.data() + static_cast<size_t>(r) * MPI_MAX_PROCESSOR_NAME;
        ranks.hosts.emplace_back(host, strnlen(host, MPI_MAX_PROCESSOR_NAME));
    }
    return true;
}

namespace {
bool abandoned = false;
}

void abandon_ranks() { abandoned = true; }

void end_ranks() {
    if (abandoned)
        MPI_Abort(MPI_COMM_WORLD, 1);
    else
        MPI_Finalize();
}

std::string describe_rank(const Ranks& ranks, int rank) {
    const bool known = rank >= 0 && static_cast<size_t>(rank) < ranks.hosts.size() &&
                       !ranks.hosts[static_cast<size_t>(rank)].empty();
    return "rank " + std::to_string(rank) + " on " +
           (known ? ranks.hosts[static_cast<size_t>(rank)] : std::string("an unknown host"));
}

namespace {

// Broadcasts go in pieces a signed int can count.
constexpr uint64_t broadcast_piece = 1u << 30;

void broadcast(std::vector<unsigned char>& bytes) {
    uint64_t size = bytes.size();
    MPI_Bcast(&size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    bytes.resize(size);
    for (uint64_t at = 0; at < size; at += broadcast_piece) {
        const uint64_t n = size - at < broadcast_piece ? size - at : broadcast_piece;
        MPI_Bcast(bytes.data() + at, static_cast<int>(n), MPI_BYTE, 0, MPI_COMM_WORLD);
    }
}

}  // namespace

namespace {
bool shared = false;
}

bool job_shared() { return shared; }

void share_job(const std::vector<unsigned char>& job) {
    shared = true;
    std::vector<unsigned char> copy = job;
    broadcast(copy);
}

std::vector<unsigned char> receive_job() {
    std::vector<unsigned char> job;
    broadcast(job);
    return job;
}

void send_note(int to, Note note, const std::vector<unsigned char>& bytes) {
    MPI_Send(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, to, static_cast<int>(note),
             MPI_COMM_WORLD);
}

bool poll_note(int from, int& sender, Note& note, std::vector<unsigned char>& bytes) {
    int waiting = 0;
    MPI_Status status;
    MPI_Iprobe(from < 0 ? MPI_ANY_SOURCE : from, MPI_ANY_TAG, MPI_COMM_WORLD, &waiting, &status);
    if (!waiting) return false;
    int count = 0;
    MPI_Get_count(&status, MPI_BYTE, &count);
    bytes.resize(static_cast<size_t>(count));
    MPI_Recv(bytes.data(), count, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
    sender = status.MPI_SOURCE;
    note = static_cast<Note>(status.MPI_TAG);
    return true;
}

namespace {
std::mutex warnings_mutex;
std::vector<std::string> waiting_warnings;
}  // namespace

void forward_warning(const std::string& line) {
    std::lock_guard<std::mutex> lock(warnings_mutex);
    waiting_warnings.push_back(line);
}

void send_waiting_warnings() {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(warnings_mutex);
        lines.swap(waiting_warnings);
    }
    for (const std::string& line : lines)
        send_note(0, Note::warning, std::vector<unsigned char>(line.begin(), line.end()));
}

void report_failure(const std::string& message) {
    send_waiting_warnings();
    send_note(0, Note::failed, std::vector<unsigned char>(message.begin(), message.end()));
}

void report_finished(const WorkerTotals& totals) {
    send_waiting_warnings();
    std::vector<unsigned char> bytes(sizeof totals);
    std::memcpy(bytes.data(), &totals, sizeof totals);
    send_note(0, Note::finished, bytes);
}

}  // namespace vosh::render
