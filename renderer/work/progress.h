// A one-line progress bar with elapsed time and an estimate of the time
// left, redrawn in place on standard error.
#pragma once

#include <chrono>
#include <cstddef>

namespace vosh::render {

class ProgressBar {
public:
    explicit ProgressBar(size_t total);
    void show(size_t done);
    // Clears the line so that what follows starts clean.
    void finish();

private:
    size_t total_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace vosh::render
