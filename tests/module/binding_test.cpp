// The binding layer as the host meets it: through the loaded module, and
// through a probe library built from the same binding source for the
// forwarders the shader itself never calls with these arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/dynamic_library.h"
#include "support/scripted_host.h"

namespace vosh::test {
namespace {

void* own_handle() { return own_module(); }

// A library that has none of the host's operations.
#if defined(_WIN32)
constexpr const char* kForeignLibrary = "kernel32.dll";
#else
constexpr const char* kForeignLibrary = "libm.so.6";
#endif

struct Probe {
    SetModuleHandleFn set_module_handle = nullptr;
    int32_t (*query)(int32_t, void*, void*) = nullptr;
    void (*warning)(const char*, int, const char*) = nullptr;
    void* (*resolve)(const char*) = nullptr;
};

const Probe& probe() {
    static const Probe loaded = [] {
        Probe p;
        void* lib = open_library(VOSH_BINDING_PROBE_PATH);
        if (!lib) return p;
        p.set_module_handle =
            reinterpret_cast<SetModuleHandleFn>(find_symbol(lib, "miSetModuleHandle"));
        p.query = reinterpret_cast<decltype(p.query)>(find_symbol(lib, "probe_query"));
        p.warning = reinterpret_cast<decltype(p.warning)>(find_symbol(lib, "probe_warning"));
        p.resolve = reinterpret_cast<decltype(p.resolve)>(find_symbol(lib, "probe_resolve"));
        if (p.set_module_handle) p.set_module_handle(own_handle());
        return p;
    }();
    return loaded;
}

int occurrences(const std::string& text, const std::string& piece) {
    int n = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

std::string hex8(const void* handle) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle)));
    return text;
}

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        reset_host();
        ASSERT_NE(module().set_module_handle, nullptr);
        ASSERT_NE(probe().resolve, nullptr) << "binding probe not loaded";
    }
    // Later tests expect the module bound to this executable again.
    void TearDown() override {
        module().set_module_handle(own_handle());
        probe().set_module_handle(own_handle());
    }

    // One per-instance init and its exit: mi_mem_int_allocate, mi_query and
    // mi_mem_int_release are the distinct operations involved.
    static void init_and_exit() {
        OcclusionParams& params = default_params();
        HostBool required = 0;
        module().init(&host().state, &params, &required);
        module().exit(&host().state, &params);
    }
};

// On this platform a null handle searches the whole process, which finds
// the host's exports: each operation reports the null handle at its one
// lookup and then forwards silently until the table is emptied again.
TEST_F(Binding, EachOperationIsLookedUpOnceUntilTheHandleIsSetAgain) {
    module().set_module_handle(nullptr);

    testing::internal::CaptureStderr();
    init_and_exit();
    const std::string first = testing::internal::GetCapturedStderr();
    EXPECT_EQ(occurrences(first, "DYNLOAD: dl_handle null\n"), 3) << first;
    EXPECT_EQ(first.find("dlsym failed"), std::string::npos) << first;
    EXPECT_EQ(host().count("mi_mem_int_allocate"), 1);
    EXPECT_EQ(host().count("mi_mem_int_release"), 1);

    testing::internal::CaptureStderr();
    init_and_exit();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(host().count("mi_mem_int_release"), 2);

    module().set_module_handle(nullptr);
    testing::internal::CaptureStderr();
    init_and_exit();
    EXPECT_EQ(occurrences(testing::internal::GetCapturedStderr(), "DYNLOAD: dl_handle null\n"), 3);
}

TEST_F(Binding, BoundToTheHostNothingIsWritten) {
    testing::internal::CaptureStderr();
    init_and_exit();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(host().count("mi_mem_int_allocate"), 1);
}

// A handle for a library that has none of the host's operations; the table
// filled from the executable is emptied, so the next call looks up there.
TEST_F(Binding, MissingOperationStopsTheProcessWithBothLines) {
    void* math_library = open_library(kForeignLibrary);
    ASSERT_NE(math_library, nullptr);
    init_and_exit();  // every operation resolved in the executable
    const std::string expected = "dlsym failed on \"mi_mem_int_allocate\" \\(handle: " +
                                 hex8(math_library) +
                                 " error: 127\\)\n"
                                 "vosh_occlusion: fatal: the host does not provide "
                                 "\"mi_mem_int_allocate\"; cannot continue\n";
    EXPECT_DEATH(
        {
            module().set_module_handle(math_library);
            init_and_exit();
        },
        expected);
}

// Under qemu's user-mode emulator (the 32-bit Linux run) the emulator itself
// reports an abort in one more line. Windows' simple regex has no groups.
#if defined(_WIN32)
const char* const emulator_abort_line = "";
#else
const char* const emulator_abort_line = "(qemu: uncaught target signal 6 [^\n]*\n)?";
#endif

TEST_F(Binding, NullHandleAndMissingNameGiveBothMessagesInOrder) {
    EXPECT_DEATH(
        {
            probe().set_module_handle(nullptr);
            probe().resolve("mi_not_a_host_operation");
        },
        "^DYNLOAD: dl_handle null\n"
        "dlsym failed on \"mi_not_a_host_operation\" \\(handle: 00000000 error: 127\\)\n"
        "vosh_occlusion: fatal: the host does not provide \"mi_not_a_host_operation\"; "
        "cannot continue\n" + std::string(emulator_abort_line) + "$");
}

TEST_F(Binding, OnlyQueryCodes15And127CarryAFifthArgument) {
    int marker = 0;
    char extra_text[32];
    std::snprintf(extra_text, sizeof extra_text, "%p", static_cast<void*>(&marker));
    int32_t result = 0;
    probe().query(15, &result, &marker);
    probe().query(127, &result, &marker);
    void** slot = nullptr;
    probe().query(51, &slot, &marker);

    const auto calls = host().calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], std::string("mi_query(15,0,") + extra_text + ")");
    EXPECT_EQ(calls[1], std::string("mi_query(127,0,") + extra_text + ")");
    EXPECT_EQ(calls[2], "mi_query(51,0)");
    EXPECT_EQ(slot, &host().user_slot);
}

TEST_F(Binding, HostReceivesTheFinishedWarningText) {
    probe().warning("light %d of %s", 7, "lamp");
    // A '%' in the finished text reaches the host as it stands.
    probe().warning("%d%s", 100, "%d done");
    const std::string long_text(2000, 'w');
    probe().warning("%d:%s", 1, long_text.c_str());

    ASSERT_EQ(host().warnings.size(), 3u);
    EXPECT_EQ(host().warnings[0], "light 7 of lamp");
    EXPECT_EQ(host().warnings[1], "100%d done");
    EXPECT_EQ(host().warnings[2], "1:" + long_text.substr(0, 1021));
}

// Render threads can meet an emptied table together: each looks up what it
// needs, all store the same addresses, and every call lands in the host.
TEST_F(Binding, ConcurrentFirstLookupsAllLandInTheHost) {
    OcclusionParams& params = default_params();
    params.near_distance = 1.0f;  // every hit at 0.5 weighs 1
    params.far_distance = 0.0f;   // and no falloff goes through the host's record
    host().probes = {hit_at(0.5)};
    init_instance(params);
    const Color expected = shade(params);
    ASSERT_EQ(expected.r, 0.0f) << "the probes must count";
    host().recording = false;

    constexpr int threads = 4;
    std::atomic<int> waiting{threads};
    std::vector<Color> results(threads);
    testing::internal::CaptureStderr();
    module().set_module_handle(own_handle());
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            RenderState state = host().state;
            // Start together so the first lookups overlap.
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            results[t] = shade(params, state);
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(results[t].r, expected.r) << "thread " << t;
        EXPECT_EQ(results[t].a, expected.a) << "thread " << t;
    }
    module().exit(&host().state, &params);
}

// Only the five entry points are visible, and nothing is imported from the
// host: every host operation is found through the handle at run time.
TEST(ModuleSymbols, ExportsExactlyTheEntryPointsAndImportsNoHostOperation) {
#if defined(_WIN32)
    // The loaded image's own export and import tables.
    const auto symbols = [](const char* which) {
        return std::string(which) == "--defined-only" ? exported_names(module().handle)
                                                      : imported_names(module().handle);
    };
#else
    const auto symbols = [](const char* options) {
        std::vector<std::string> names;
        const std::string command = std::string("nm -D ") + options + " '" + module_path() + "'";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return names;
        char line[512];
        while (std::fgets(line, sizeof line, pipe)) {
            std::string text(line);
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            names.push_back(text.substr(text.rfind(' ') + 1));
        }
        pclose(pipe);
        return names;
    };
#endif

    auto exported = symbols("--defined-only");
    std::sort(exported.begin(), exported.end());
    const std::vector<std::string> entry_points = {"miSetModuleHandle", "vosh_occlusion",
                                                   "vosh_occlusion_exit", "vosh_occlusion_init",
                                                   "vosh_occlusion_version"};
    EXPECT_EQ(exported, entry_points);

    for (const std::string& name : symbols("--undefined-only")) {
        EXPECT_NE(name.rfind("mi_", 0), 0u) << "imports " << name;
    }
}

}  // namespace
}  // namespace vosh::test
