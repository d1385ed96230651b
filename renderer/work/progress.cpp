#include "renderer/work/progress.h"

#include <cstdio>
#include <string>

namespace vosh::render {

ProgressBar::ProgressBar(size_t total) : total_(total), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::show(size_t done) {
    constexpr int width = 40;
    const double fraction = total_ ? static_cast<double>(done) / total_ : 1.0;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const int filled = static_cast<int>(fraction * width);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    char eta[32] = "--";
    if (done > 0) std::snprintf(eta, sizeof eta, "%.1f s", elapsed * (1 - fraction) / fraction);
    std::fprintf(stderr, "\r[%s] %3d%%  %.1f s elapsed, ETA %s   ", bar.c_str(),
                 static_cast<int>(fraction * 100), elapsed, eta);
    std::fflush(stderr);
}

void ProgressBar::finish() {
    std::fprintf(stderr, "\r%*s\r", 80, "");
    std::fflush(stderr);
}

}  // namespace vosh::render
