#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/scratch.h"

namespace vosh::test {

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options) {
    using Clock = std::chrono::steady_clock;
    const std::string logs = scratch_dir();
    const std::string out_file = logs + "/stdout.txt", err_file = logs + "/stderr.txt";
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        dup2(open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        if (!options.env_name.empty()) setenv(options.env_name.c_str(), options.env_value.c_str(), 1);
        execvp(args[0], args.data());
        _exit(127);
    }
    ProcessResult result;
    if (pid < 0) return result;
    if (options.meanwhile) options.meanwhile(pid);
    int status = 0;
    if (options.timeout_seconds > 0) {
        const auto until = Clock::now() + std::chrono::duration<double>(options.timeout_seconds);
        pid_t done = 0;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timed_out = true;
        }
    } else {
        waitpid(pid, &status, 0);
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_file(out_file);
    result.err = read_file(err_file);
    return result;
}

}  // namespace vosh::test
