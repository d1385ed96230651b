#include "renderer/work/ranks.h"

// The C interface only: the C++ one needs a library of its own.
#define OMPI_SKIP_MPICXX 1
#define MPICH_SKIP_MPICXX 1
#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "renderer/work/bytes.h"

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
void finish_sends();
}

void abandon_ranks() { abandoned = true; }

void end_ranks() {
    if (abandoned) {
        MPI_Abort(MPI_COMM_WORLD, 1);
        return;
    }
    finish_sends();
    MPI_Finalize();
}

std::string describe_rank(const Ranks& ranks, int rank) {
    const bool known = rank >= 0 && static_cast<size_t>(rank) < ranks.hosts.size() &&
                       !ranks.hosts[static_cast<size_t>(rank)].empty();
    return "rank " + std::to_string(rank) + " on " +
           (known ? ranks.hosts[static_cast<size_t>(rank)] : std::string("an unknown host"));
}

namespace {

// Sends never block: a blocking send of a large message waits spinning for
// the receiver, and here the receiver looks only every few milliseconds.
struct PendingSend {
    std::shared_ptr<const std::vector<unsigned char>> bytes;
    MPI_Request request = MPI_REQUEST_NULL;
};
std::list<PendingSend> pending_sends;

void start_send(int to, Note note, std::shared_ptr<const std::vector<unsigned char>> bytes, size_t at,
                size_t size) {
    pending_sends.push_back({std::move(bytes), MPI_REQUEST_NULL});
    PendingSend& s = pending_sends.back();
    MPI_Isend(s.bytes->data() + at, static_cast<int>(size), MPI_BYTE, to, static_cast<int>(note),
              MPI_COMM_WORLD, &s.request);
}

void progress_sends() {
    for (auto it = pending_sends.begin(); it != pending_sends.end();) {
        int done = 0;
        MPI_Test(&it->request, &done, MPI_STATUS_IGNORE);
        it = done ? pending_sends.erase(it) : std::next(it);
    }
}

void finish_sends() {
    for (progress_sends(); !pending_sends.empty(); progress_sends())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A job goes as its size, then in pieces a signed int can count.
constexpr uint64_t job_piece = 1u << 30;
bool shared = false;

}  // namespace

bool job_shared() { return shared; }

void share_job(const std::vector<unsigned char>& job) {
    shared = true;
    int size = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    const auto bytes = std::make_shared<const std::vector<unsigned char>>(job);
    ByteWriter length;
    put(length, static_cast<uint64_t>(job.size()));
    const auto header = std::make_shared<const std::vector<unsigned char>>(std::move(length.bytes));
    for (int r = 1; r < size; ++r) {
        start_send(r, Note::job, header, 0, header->size());
        for (uint64_t at = 0; at < job.size(); at += job_piece)
            start_send(r, Note::job, bytes, at, std::min<uint64_t>(job_piece, job.size() - at));
    }
    finish_sends();  // the others wait for it anyway; and nothing moves it on while rank 0 works
}

std::vector<unsigned char> receive_job() {
    std::vector<unsigned char> job, piece;
    int from = 0;
    Note note;
    // Waiting sleeps rather than spins: rank 0 may take a while over the scene.
    while (!poll_note(0, from, note, piece) || note != Note::job)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ByteReader r = reader_of(piece);
    uint64_t size = 0;
    get(r, size);
    while (job.size() < size) {
        if (!poll_note(0, from, note, piece) || note != Note::job) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        job.insert(job.end(), piece.begin(), piece.end());
    }
    return job;
}

void send_note(int to, Note note, const std::vector<unsigned char>& bytes) {
    const auto copy = std::make_shared<const std::vector<unsigned char>>(bytes);
    start_send(to, note, copy, 0, copy->size());
    progress_sends();
}

bool poll_note(int from, int& sender, Note& note, std::vector<unsigned char>& bytes) {
    progress_sends();
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
