#include "renderer/cli_support.h"

#include <signal.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "renderer/scene/scene_limits.h"

namespace vosh::render {

static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
std::atomic<bool> stop_signalled{false};

namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop_signal(int signal) {
    stop_signal = signal;
    stop_signalled.store(true);
}

}  // namespace

std::string one_line(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (u < 0x20 || u == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", u);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

int complain(int status, const std::string& message) {
    std::fprintf(stderr, "vosh-render: error: %s\n", one_line(message).c_str());
    return status;
}

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // Only the first signal is caught: a second one ends the process at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int stopped() {
    const int signal = stop_signal;
    std::fprintf(stderr, "vosh-render: stopped by %s; no image written\n",
                 signal == SIGTERM ? "SIGTERM" : "SIGINT");
    return stop_status();
}

int stop_status() {
    const int signal = stop_signal;
    return 128 + (signal ? signal : SIGINT);
}

std::string lower_extension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool parse_threshold(const std::string& text, double& value, std::string& error) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (!text.empty() && end == text.c_str() + text.size() && value >= 0 && value <= max_noise_threshold)
        return true;
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", max_noise_threshold);
    error = "--noise-threshold " + text + ": must be a number in [0, " + limit + "] (0: no adaptive sampling)";
    return false;
}

}  // namespace vosh::render
