// Runs a program as a child process and reports how it ended and what it
// wrote.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vosh::test {

struct ProcessOptions {
    std::string cwd;                  // empty: the test's own directory
    std::string env_name, env_value;  // one entry added to the environment, if named
    // Called with the child's pid while it runs, e.g. to send it a signal.
    std::function<void(pid_t)> meanwhile;
    // Once `meanwhile` returns, how long the child may take before it gets
    // SIGKILL; 0 waits for as long as it takes.
    double timeout_seconds = 0;
};

struct ProcessResult {
    int status = -1;      // exit status, or 128 + the signal that ended it
    bool exited = false;  // ended by exit rather than by a signal
    bool timed_out = false;
    std::string out, err;  // standard output and standard error
    double seconds = 0;    // from start to end
};

// Runs argv[0] (looked up on PATH unless it holds a '/') with `argv`.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace vosh::test
