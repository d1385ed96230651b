// Stopping a render: Ctrl-C or SIGTERM to vosh-render, and the stop flag of
// an in-process render. Threads leave promptly, nothing is written, the
// module's memory comes back; and the leak bookkeeping itself.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

#include "render_harness.h"
#include "renderer/host/memory_tracker.h"
#include "renderer/scene/scene_loader.h"
#include "support/test_scenes.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Minutes of work uninterrupted, yet one camera sample takes milliseconds.
json slow_scene() { return vosh::test::floor_and_sphere({128, 96, 30, 20000, 4}); }

// Whether `pid` has a handler installed for `signal` (its SigCgt mask).
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

struct StopCase {
    const char* name;
    int signal;
    int status;
    bool bake = false;  // a bake instead of a render
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class SignalDuringRender : public ::testing::TestWithParam<StopCase> {};

// "Thread" in the name puts it in the ThreadSanitizer run.
TEST_P(SignalDuringRender, StopsEveryThreadAndKeepsTheOldImage) {
    const StopCase& c = GetParam();
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", slow_scene().dump());
    write_text(dir + "/plane.obj",
               "v -9 0 9\nv 9 0 9\nv 9 0 -9\nv -9 0 -9\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
               "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
    write_text(dir + "/out.exr", "an older image");
    const std::set<std::string> before = files_in(dir);

    std::vector<std::string> args = {dir + "/scene.json", "-o", dir + "/out.exr", "--threads", "2", "--quiet"};
    if (c.bake)
        args = {"bake", dir + "/plane.obj", "-o", dir + "/out.exr", "--set", "samples=20000", "--threads", "2",
                "--quiet"};
    Clock::time_point sent;
    vosh::test::ProcessOptions options;
    options.timeout_seconds = 20;
    options.meanwhile = [&](pid_t pid) {
        // The handler goes in just before the pixel loop starts; give the
        // threads a moment to be busy.
        const auto started = Clock::now();
        while (!catches(pid, c.signal) && Clock::now() - started < std::chrono::seconds(60))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(catches(pid, c.signal)) << "the renderer never got to rendering";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sent = Clock::now();
        ASSERT_EQ(kill(pid, c.signal), 0);
    };
    const CommandResult r = vosh::test::run_process(renderer_command(args), options);
    if (HasFatalFailure()) return;
    ASSERT_FALSE(r.timed_out) << "still rendering 20 s after the signal";
    const double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
    // Natively it takes a few milliseconds; sanitizer builds are far slower.
    EXPECT_LT(seconds, 5.0);
    ASSERT_TRUE(r.exited) << "died of signal " << r.status - 128;
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(std::string("stopped by ") + (c.signal == SIGINT ? "SIGINT" : "SIGTERM")),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("never released"), std::string::npos) << r.err;
    EXPECT_EQ(files_in(dir), before);
    EXPECT_EQ(read_file(dir + "/out.exr"), "an older image");
}

INSTANTIATE_TEST_SUITE_P(Interrupt, SignalDuringRender,
                         ::testing::Values(StopCase{"SIGINT", SIGINT, 130},
                                           StopCase{"SIGTERM", SIGTERM, 143},
                                           StopCase{"BakeSIGINT", SIGINT, 130, true},
                                           StopCase{"BakeSIGTERM", SIGTERM, 143, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Interrupt, StopFlagEndsEveryThreadOfAnInProcessRender) {
    Scene scene;
    std::string error;
    ASSERT_TRUE(parse_scene(slow_scene(), "slow", "", test_declaration(), scene, error)) << error;
    std::atomic<bool> stop{false};
    RenderSettings settings;
    settings.module_path = VOSH_MODULE_PATH;
    settings.threads = 3;
    settings.stop = &stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
    });
    Image image;
    RenderStats stats;
    const auto start = Clock::now();
    const bool finished = render_scene(scene, test_declaration(), settings, image, stats, error);
    stopper.join();
    EXPECT_FALSE(finished);
    EXPECT_TRUE(stats.interrupted);
    EXPECT_NE(error.find("stopped"), std::string::npos) << error;
    EXPECT_EQ(stats.leaked_blocks, 0u);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 10.0);
}

// A signal that lands while the image is being written: the finished
// temporary file is dropped rather than renamed over the older image.
TEST(Interrupt, StopDuringTheWriteKeepsTheOldImage) {
    const std::string dir = scratch_dir();
    write_text(dir + "/out.exr", "an older image");
    const Image image{2, 2, std::vector<float>(16, 0.5f)};
    std::atomic<bool> stop{true};
    std::string error;
    EXPECT_FALSE(write_image_atomic(image, dir + "/out.exr", error, &stop));
    EXPECT_NE(error.find("stopped"), std::string::npos) << error;
    EXPECT_EQ(files_in(dir), std::set<std::string>{"out.exr"});
    EXPECT_EQ(read_file(dir + "/out.exr"), "an older image");
    stop = false;
    EXPECT_TRUE(write_image_atomic(image, dir + "/out.exr", error, &stop)) << error;
    EXPECT_NE(read_file(dir + "/out.exr"), "an older image");
}

// The count every render checks is only worth something if a block the
// module keeps is in fact counted.
TEST(LeakBookkeeping, BlocksNotReleasedAreCountedOnce) {
    MemoryTracker memory;
    void* kept = memory.allocate("shader.cpp", 10, 64);
    void* returned = memory.allocate("shader.cpp", 11, 16);
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(memory.release(returned));
    EXPECT_FALSE(memory.release(returned));  // not twice
    EXPECT_EQ(memory.report_leaks(), 1u);
    EXPECT_EQ(memory.report_leaks(), 0u);
}

}  // namespace
}  // namespace vosh::render::test
