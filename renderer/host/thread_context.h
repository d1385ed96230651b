// One render thread's states (one per trace depth), per-sample shader
// state, sampler bookkeeping and counters, and the render context of the
// session the thread works in: the renderer's code reaches the context
// through the thread (or a state's thread), never through a global.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/render_state.h"
#include "renderer/host/host_state.h"
#include "renderer/host/raster_space.h"
#include "renderer/host/render_context.h"

namespace vosh::render {

class ThreadContext {
public:
    // States as deep as the context's max_depth, each seeing its camera
    // record and options; `ctx` must outlive the thread context.
    explicit ThreadContext(RenderContext& ctx);

    RenderContext& ctx() const { return ctx_; }

    HostState& state_at(int depth) { return *states_[static_cast<size_t>(depth)]; }
    int max_depth() const { return max_depth_; }

    // Starts sample `sample` of `samples` of cell (x, y) (a pixel, or a texel
    // of a bake) in a render seeded with `seed`: empty shader state, and the
    // shading calls count from 0 again.
    void begin_sample(uint32_t cell_x, uint32_t cell_y, uint32_t sample, uint32_t samples, uint32_t seed);

    // One shading call's sequence and where this sample's points start in it.
    struct Sequence {
        uint32_t seed = 0;
        uint32_t first = 0;  // the cell's block, then s n for sample s of n points
        // Points of the first two dimensions made ahead: those of indices
        // ahead_first .. ahead_first + ahead_count - 1.
        uint32_t ahead_first = 0, ahead_count = 0;
        double ahead[4][2];
    };
    // The sequence whose counter lives at `counter`, for `count` points per
    // sample; a counter at 0 starts the next shading call's sequence.
    Sequence& sequence(const int32_t* counter, uint32_t count);
    // A fresh sequence for the host's own sampling (final gather).
    Sequence next_sequence(uint32_t count);

    void* shader_state_get(const char* key, int32_t* size);
    void shader_state_set(const char* key, const void* value, int32_t size);

    // Storage for an evaluated connected parameter; valid until many more
    // evaluations have happened (the module copies the value at once).
    unsigned char* eval_slot();

    uint64_t probes = 0;
    uint64_t bad_samples = 0;
    RasterSpace raster;  // the camera's unless a bake set its texel map

private:
    RenderContext& ctx_;
    int max_depth_;
    std::vector<std::unique_ptr<HostState>> states_;
    uint32_t x_ = 0, y_ = 0, sample_ = 0, samples_ = 1, seed_ = 0, call_index_ = 0;
    std::vector<std::pair<const int32_t*, Sequence>> sequences_;
    struct Entry {
        std::string key;
        std::vector<unsigned char> value;
        bool present = false;
    };
    std::vector<Entry> store_;
    std::array<std::array<unsigned char, 16>, 64> eval_ring_{};
    size_t eval_next_ = 0;
};

}  // namespace vosh::render
