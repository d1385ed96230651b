#include "renderer/work/distributed.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "renderer/work/progress.h"
#include "renderer/work/bytes.h"

namespace vosh::render {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t no_tile = UINT64_MAX;
// After a stop, how long rank 0 waits for the others' last word before it
// ends them through the launcher.
constexpr auto last_word_wait = std::chrono::seconds(10);

std::vector<unsigned char> bytes_of_index(uint64_t index) {
    ByteWriter w;
    put(w, index);
    return std::move(w.bytes);
}

// Rank 0's side of the run: what it knows of every worker.
struct Lead {
    const Ranks& ranks;
    const std::vector<Tile>* tiles = nullptr;
    const TilePlace* place = nullptr;
    std::atomic<size_t> next{0};
    std::atomic<size_t> placed{0};
    std::atomic<bool> halt{false};
    std::vector<bool> last_word;
    int last_words = 0;
    bool told_stop = false;
    Clock::time_point halted_at;
    std::string failure;
    JobStats* stats = nullptr;

    explicit Lead(const Ranks& r) : ranks(r), last_word(static_cast<size_t>(r.size), false) {}

    bool all_heard() const { return last_words == ranks.size - 1; }

    void fail(int rank, const std::string& why) {
        if (failure.empty()) failure = describe_rank(ranks, rank) + ": " + why;
        halt = true;
    }

    size_t take() {
        if (halt.load()) return no_tile;
        const size_t t = next++;
        return tiles && t < tiles->size() ? t : no_tile;
    }

    void hear(int from, Note note, const std::vector<unsigned char>& bytes) {
        ByteReader r = reader_of(bytes);
        switch (note) {
            case Note::request:
                send_note(from, Note::tile, bytes_of_index(take()));
                break;
            case Note::result: {
                uint64_t index = no_tile;
                get(r, index);
                const std::vector<unsigned char> result(r.at, r.end);
                if (!r.ok || !tiles || index >= tiles->size() || !(*place)((*tiles)[index], result)) {
                    fail(from, "sent a tile result that does not fit the image");
                    break;
                }
                placed++;
                if (stats) stats->tiles_per_rank[static_cast<size_t>(from)]++;
                break;
            }
            case Note::warning:
                std::fprintf(stderr, "WARNING: %s: %s\n", describe_rank(ranks, from).c_str(),
                             std::string(bytes.begin(), bytes.end()).c_str());
                break;
            case Note::failed:
                mark_heard(from);
                fail(from, std::string(bytes.begin(), bytes.end()));
                break;
            case Note::finished: {
                mark_heard(from);
                WorkerTotals t;
                get(r, t);
                if (t.signalled) fail(from, "stopped by a signal");
                if (stats) {
                    stats->threads += t.threads;
                    stats->cpu_seconds += t.cpu_seconds;
                    stats->probe_rays += t.probe_rays;
                    stats->bad_samples += t.bad_samples;
                    stats->leaked_blocks += t.leaked_blocks;
                }
                break;
            }
            default:
                break;
        }
    }

    void mark_heard(int from) {
        if (!last_word[static_cast<size_t>(from)]) {
            last_word[static_cast<size_t>(from)] = true;
            ++last_words;
        }
    }

    // Hears every note that has come; tells the workers to stop once
    // halted. False once the wait for the workers' last word is over.
    bool attend() {
        int from = 0;
        Note note;
        std::vector<unsigned char> bytes;
        while (poll_note(-1, from, note, bytes)) hear(from, note, bytes);
        if (halt.load() && !told_stop) {
            for (int r = 1; r < ranks.size; ++r)
                if (!last_word[static_cast<size_t>(r)]) send_note(r, Note::stop, {});
            told_stop = true;
            halted_at = Clock::now();
        }
        return !(told_stop && Clock::now() - halted_at > last_word_wait);
    }
};

}  // namespace

bool lead_tiles(const Ranks& ranks, const std::vector<Tile>& tiles, const TileRunSettings& settings,
                const TileShade& shade, const TilePlace& place, JobStats& stats, std::string& error) {
    Lead lead(ranks);
    lead.tiles = &tiles;
    lead.place = &place;
    lead.stats = &stats;
    stats.tiles_per_rank.assign(static_cast<size_t>(ranks.size), 0);
    std::unique_ptr<ProgressBar> bar;
    if (settings.progress) bar = std::make_unique<ProgressBar>(tiles.size());
    auto shown = Clock::now();

    const TileWork work = [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
        std::vector<unsigned char> result;
        if (!shade(thread, tile, stop, result)) return false;
        place(tile, result);
        lead.placed++;
        return true;
    };
    TileFeed feed;
    feed.take = [&](size_t& index) {
        index = lead.take();
        return index != no_tile;
    };
    bool waited_out = false;
    feed.attend = [&](bool working) {
        if (settings.stop && settings.stop->load()) {
            stats.interrupted = true;
            lead.halt = true;
        }
        if (!lead.attend()) {
            waited_out = true;
            return false;
        }
        if (bar && Clock::now() - shown > std::chrono::milliseconds(200)) {
            bar->show(lead.placed.load());
            shown = Clock::now();
        }
        return working || !lead.all_heard();
    };
    TileRunStats own;
    run_tile_threads(*settings.context, tiles, settings.threads, &lead.halt, work, feed, own);
    if (bar) bar->finish();

    stats.tiles_per_rank[0] = own.tiles_done;
    stats.threads += own.threads;
    stats.seconds = own.seconds;
    stats.cpu_seconds += own.cpu_seconds;
    stats.probe_rays += own.probe_rays;
    stats.bad_samples += own.bad_samples;
    const size_t placed = lead.placed.load();
    if (waited_out) abandon_ranks();
    if (!lead.failure.empty()) {
        error = lead.failure;
        return false;
    }
    if (waited_out) error = "some ranks did not answer after the stop";
    return !stats.interrupted && !waited_out && placed == tiles.size();
}

void dismiss_workers(const Ranks& ranks) {
    Lead lead(ranks);
    lead.halt = true;
    while (!lead.all_heard()) {
        if (!lead.attend()) {
            abandon_ranks();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

namespace {

// A worker's side of the run: tiles asked for and not yet started, results
// not yet sent.
struct Follow {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> queued;
    std::vector<std::pair<size_t, std::vector<unsigned char>>> outbox;
    int asked = 0;  // requests rank 0 has not answered yet
    bool none_left = false;
    std::atomic<bool> halt{false};

    void stop() {
        std::lock_guard<std::mutex> lock(mutex);
        halt = true;
        changed.notify_all();
    }
};

}  // namespace

bool follow_tiles(const std::vector<Tile>& tiles, const TileRunSettings& settings, const TileShade& shade,
                  TileRunStats& stats) {
    Follow follow;
    const TileWork work = [&](ThreadContext& thread, const Tile& tile, const StopFlag& stop) {
        std::vector<unsigned char> result;
        if (!shade(thread, tile, stop, result)) return false;
        std::lock_guard<std::mutex> lock(follow.mutex);
        // The threads are handed tiles out of `tiles` itself.
        follow.outbox.emplace_back(static_cast<size_t>(&tile - tiles.data()), std::move(result));
        return true;
    };
    TileFeed feed;
    feed.take = [&](size_t& index) {
        std::unique_lock<std::mutex> lock(follow.mutex);
        follow.changed.wait(lock, [&] { return !follow.queued.empty() || follow.none_left || follow.halt; });
        if (follow.halt || follow.queued.empty()) return false;
        index = follow.queued.front();
        follow.queued.pop_front();
        return true;
    };
    // Each thread has one tile waiting behind the one it does, so none
    // waits for an answer from rank 0.
    const int ahead = std::max(1, settings.threads);
    feed.attend = [&](bool working) {
        if (settings.stop && settings.stop->load() && !follow.halt) follow.stop();
        std::vector<std::pair<size_t, std::vector<unsigned char>>> results;
        int to_ask = 0;
        {
            std::lock_guard<std::mutex> lock(follow.mutex);
            results.swap(follow.outbox);
            if (!follow.none_left && !follow.halt)
                to_ask = ahead - follow.asked - static_cast<int>(follow.queued.size());
            follow.asked += std::max(0, to_ask);
        }
        for (int i = 0; i < to_ask; ++i) send_note(0, Note::request, {});
        for (auto& [index, bytes] : results) {
            ByteWriter w;
            put(w, static_cast<uint64_t>(index));
            w.bytes.insert(w.bytes.end(), bytes.begin(), bytes.end());
            send_note(0, Note::result, w.bytes);
        }
        send_waiting_warnings();
        int from = 0;
        Note note;
        std::vector<unsigned char> bytes;
        while (poll_note(0, from, note, bytes)) {
            if (note == Note::stop) {
                follow.stop();
            } else if (note == Note::tile) {
                ByteReader r = reader_of(bytes);
                uint64_t index = no_tile;
                get(r, index);
                std::lock_guard<std::mutex> lock(follow.mutex);
                --follow.asked;
                if (index == no_tile || index >= tiles.size())
                    follow.none_left = true;
                else
                    follow.queued.push_back(static_cast<size_t>(index));
                follow.changed.notify_all();
            }
        }
        std::lock_guard<std::mutex> lock(follow.mutex);
        return working || follow.asked > 0 || !follow.outbox.empty();
    };
    run_tile_threads(*settings.context, tiles, settings.threads, &follow.halt, work, feed, stats);
    return !follow.halt;
}

}  // namespace vosh::render
