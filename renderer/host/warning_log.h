// Counts and shows warnings; a message seen often is shown a few times and
// then only counted, so a per-sample warning cannot flood the terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace vosh::render {

class WarningLog {
public:
    void warn(const std::string& text);
    void flush_summary();
    // Where the lines shown go instead of standard error (one call per
    // line, without the "WARNING: " lead), as in a process that passes its
    // warnings to another one. Set it before the first warning.
    void send_to(std::function<void(const std::string& line)> outlet) { outlet_ = std::move(outlet); }

private:
    void show(const std::string& line);
    std::mutex mutex_;
    std::function<void(const std::string& line)> outlet_;
    std::map<std::string, uint64_t> counts_;
};

}  // namespace vosh::render
