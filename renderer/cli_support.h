// What the render and bake commands share: error lines, exit statuses and
// stopping on Ctrl-C or SIGTERM.
#pragma once

#include <atomic>
#include <string>

namespace vosh::render {

constexpr int exit_failed = 1;
constexpr int exit_bad_input = 2;
constexpr int max_threads = 1024;

// Names and values from a scene or the command line can hold control
// characters; the message stays on one line whatever they are.
std::string one_line(const std::string& text);

// Prints "vosh-render: error: MESSAGE" and returns `status`.
int complain(int status, const std::string& message);

// Ctrl-C and SIGTERM set this: the threads leave at their next sample,
// nothing is written, and the exit status is 128 + signal.
extern std::atomic<bool> stop_signalled;
void catch_stop_signals();
// Says what stopped the work and returns the exit status.
int stopped();
// The same status, silently (for the ranks that leave the telling to rank 0).
int stop_status();

// --noise-threshold, for renders and bakes alike: a finite number in [0,
// max_noise_threshold].
bool parse_threshold(const std::string& text, double& value, std::string& error);

// Lower-case extension with its dot ("" when there is none).
std::string lower_extension(const std::string& path);

// What a missing module's message adds for the person at the command line.
constexpr const char* module_hint = " (build vosh_occlusion, or name it in VOSH_MODULE)";

}  // namespace vosh::render
