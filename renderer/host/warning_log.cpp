#include "renderer/host/warning_log.h"

#include <cstddef>
#include <cstdio>

namespace vosh::render {

namespace {

constexpr size_t warnings_shown_per_text = 3;

}  // namespace

void WarningLog::warn(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t seen = ++counts_[text];
    if (seen <= warnings_shown_per_text) {
        show(text);
        if (seen == warnings_shown_per_text) show("(further copies of this warning are only counted)");
    }
}

void WarningLog::show(const std::string& line) {
    if (outlet_)
        outlet_(line);
    else
        std::fprintf(stderr, "WARNING: %s\n", line.c_str());
}

void WarningLog::flush_summary() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [text, count] : counts_)
        if (count > warnings_shown_per_text)
            show(text + " (" + std::to_string(count) + " times in all)");
    counts_.clear();
}

}  // namespace vosh::render
