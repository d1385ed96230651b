// vosh-render under mpirun with three ranks: the image and the bake equal
// the one-process results bit for bit; the other ranks need none of the
// scene's files; a rank that fails or dies, and Ctrl-C, end the job with
// no image written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/scratch.h"
#include "support/test_scenes.h"

namespace {

using Clock = std::chrono::steady_clock;
using Args = std::vector<std::string>;

const std::string renderer = VOSH_RENDER_EXE;
const std::string source_dir = VOSH_SOURCE_DIR;

using vosh::test::files_in;
using vosh::test::read_file;
using vosh::test::scratch_dir;
using vosh::test::write_text;
using Outcome = vosh::test::ProcessResult;

// Runs `args` in `cwd`; `meanwhile` gets the child's pid while it runs.
// Every process of the job carries `mark` in its environment.
Outcome run(const Args& args, const std::string& cwd, const std::string& mark = "",
            const std::function<void(pid_t)>& meanwhile = {}) {
    vosh::test::ProcessOptions options;
    options.cwd = cwd;
    if (!mark.empty()) {
        options.env_name = "VOSH_DISTRIBUTED_TEST_MARK";
        options.env_value = mark;
    }
    options.meanwhile = meanwhile;
    return vosh::test::run_process(args, options);
}

Args mpirun(int ranks, const Args& args) {
    Args a = {"mpirun", "--oversubscribe", "-np", std::to_string(ranks), renderer};
    a.insert(a.end(), args.begin(), args.end());
    return a;
}

Args alone(const Args& args) {
    Args a = {renderer};
    a.insert(a.end(), args.begin(), args.end());
    return a;
}

// The pid of the job's process of rank `rank`, found by the mark in its
// environment; -1 when there is none (yet).
pid_t find_rank(const std::string& mark, int rank) {
    const std::string want_mark = "VOSH_DISTRIBUTED_TEST_MARK=" + mark;
    const std::string want_rank = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank);
    for (const std::string& name : files_in("/proc", true)) {
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string env = read_file("/proc/" + name + "/environ");
        const std::string cmd = read_file("/proc/" + name + "/cmdline");
        bool has_mark = false, has_rank = false;
        std::stringstream in(env);
        for (std::string entry; std::getline(in, entry, '\0');) {
            has_mark |= entry == want_mark;
            has_rank |= entry == want_rank;
        }
        if (has_mark && has_rank && cmd.rfind(renderer, 0) == 0) return std::stoi(name);
    }
    return -1;
}

std::string host_name() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// The counts after "tiles per rank " in a summary line.
std::vector<int> tiles_per_rank(const std::string& summary) {
    std::vector<int> counts;
    const size_t at = summary.find("tiles per rank ");
    if (at == std::string::npos) return counts;
    std::stringstream in(summary.substr(at + 15));
    for (int n = 0; in >> n;) {
        counts.push_back(n);
        if (in.peek() != '/') break;
        in.get();
    }
    return counts;
}

// Occlusion tinted by an environment image over a mesh on a floor: the
// mesh and the image are files the scene names relative to itself.
std::string mesh_scene() {
    return R"({
  "camera": {"type": "perspective", "position": [0, 2.2, 4.2], "look_at": [0, 0.3, 0],
             "fov_deg": 45, "resolution": [96, 64]},
  "environment": {"image": "sky.exr"},
  "options": {"spp": 4},
  "shaders": {"tint": {"type": "vosh_occlusion",
                       "params": {"occlusion_mode": 2, "samples": 64, "far_distance": 2}}},
  "materials": {"m": {"shader": "tint"}},
  "objects": [
    {"shape": "quad", "corner": [-4, 0, -4], "edge1": [0, 0, 8], "edge2": [8, 0, 0], "material": "m"},
    {"shape": "mesh", "file": "torus.obj", "material": "m",
     "transform": {"translate": [0, 0.35, 0]}}
  ]
})";
}

// Minutes of work uninterrupted, yet one camera sample takes milliseconds.
std::string slow_scene() { return vosh::test::floor_and_sphere({128, 96, 30, 20000, 4}).dump(); }

class Distributed : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Open MPI refuses to start as root without these.
        setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
        setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
    }
};

// Ranks other than 0 start in an empty directory where none of the scene's
// relative paths resolve (nor the scene's own): rank 0 sends what they need.
TEST_F(Distributed, RenderWithFilesOnlyRankZeroSeesMatchesOneProcess) {
    const std::string scene_dir = scratch_dir(), empty_dir = scratch_dir();
    write_text(scene_dir + "/scene.json", mesh_scene());
    write_text(scene_dir + "/sky.exr", read_file(source_dir + "/scenes/sky.exr"));
    write_text(scene_dir + "/torus.obj", read_file(source_dir + "/scenes/meshes/torus.obj"));

    const Outcome one = run(alone({"scene.json", "--threads", "2", "-o", "one.exr"}), scene_dir);
    ASSERT_EQ(one.status, 0) << one.err;
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(std::string("threads per rank: ") + threads);
        const Args args = {"scene.json", "--threads", threads, "-o", "three.exr"};
        Args job = {"mpirun", "--oversubscribe", "-np", "1", "-wdir", scene_dir, renderer};
        job.insert(job.end(), args.begin(), args.end());
        for (const std::string& a : Args{":", "-np", "2", "-wdir", empty_dir, renderer}) job.push_back(a);
        job.insert(job.end(), args.begin(), args.end());
        const Outcome three = run(job, scene_dir);
        ASSERT_EQ(three.status, 0) << three.err;
        EXPECT_EQ(read_file(scene_dir + "/three.exr"), read_file(scene_dir + "/one.exr"));
        EXPECT_NE(three.out.find("3 ranks"), std::string::npos) << three.out;
        const std::vector<int> tiles = tiles_per_rank(three.out);
        ASSERT_EQ(tiles.size(), 3u) << three.out;
        EXPECT_EQ(tiles[0] + tiles[1] + tiles[2], 6 * 4) << three.out;
        // Else the other ranks never needed the files.
        EXPECT_GT(tiles[1] + tiles[2], 0) << three.out;
        EXPECT_TRUE(files_in(empty_dir, true).empty());
    }
}

// A bake of the crate itself, and one of its game mesh from the crate
// (projected, three maps): the same files from three ranks as from one.
TEST_F(Distributed, BakeMatchesOneProcess) {
    const std::string dir = scratch_dir();
    for (const char* mesh : {"crate.obj", "crate_low.obj"})
        write_text(dir + "/" + mesh, read_file(source_dir + "/scenes/meshes/" + mesh));
    struct BakeCase {
        Args args;
        std::string output;              // after "one" or "three"
        std::vector<std::string> files;  // the files it makes, after "one" or "three"; "-map.png": where texels stopped
    };
    const Args common = {"--size", "96x64", "--padding", "4", "--set", "samples=24"};
    const BakeCase cases[] = {{{"bake", "crate.obj", "--spp", "2"}, ".png", {".png"}},
                              {{"bake", "crate_low.obj", "--spp", "2", "--from", "crate.obj", "--back", "0.15",
                                "--maps", "ao,bent,normal"},
                               "_{map}.png",
                               {"_ao.png", "_bent.png", "_normal.png"}},
                              {{"bake", "crate.obj", "--spp", "16", "--noise-threshold", "0.05"},
                               ".png",
                               {".png", "-map.png"}}};
    for (const BakeCase& c : cases) {
        Args one_args = c.args, three_args = c.args;
        for (const std::string& a : common) one_args.push_back(a), three_args.push_back(a);
        for (const std::string& a : Args{"--threads", "2", "-o", "one" + c.output}) one_args.push_back(a);
        for (const std::string& a : Args{"--threads", "1", "-o", "three" + c.output}) three_args.push_back(a);
        if (c.files.back() == "-map.png")
            one_args.insert(one_args.end(), {"--sample-map", "one-map.png"}),
                three_args.insert(three_args.end(), {"--sample-map", "three-map.png"});
        const Outcome one = run(alone(one_args), dir);
        ASSERT_EQ(one.status, 0) << one.err;
        const Outcome three = run(mpirun(3, three_args), dir);
        ASSERT_EQ(three.status, 0) << three.err;
        for (const std::string& file : c.files) {
            ASSERT_FALSE(read_file(dir + "/one" + file).empty()) << file;
            EXPECT_EQ(read_file(dir + "/three" + file), read_file(dir + "/one" + file)) << file;
        }
        const std::vector<int> tiles = tiles_per_rank(three.out);
        ASSERT_EQ(tiles.size(), 3u) << three.out;
        EXPECT_EQ(tiles[0] + tiles[1] + tiles[2], 6 * 4) << three.out;
    }
}

// Adaptive tiles look one pixel beyond themselves: the pixels, and where
// each stopped, must not depend on which rank did the tile or its neighbour.
TEST_F(Distributed, AdaptiveRenderAndSampleMapMatchOneProcess) {
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", vosh::test::floor_and_sphere({72, 40, 3, 8, 16}).dump());
    const auto args = [](const std::string& name) {
        return Args{"scene.json", "--threads", "1", "--noise-threshold", "0.03",
                    "-o", name + ".exr", "--sample-map", name + "-map.png"};
    };
    const Outcome one = run(alone(args("one")), dir);
    ASSERT_EQ(one.status, 0) << one.err;
    const Outcome two = run(mpirun(2, args("two")), dir);
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(read_file(dir + "/two.exr"), read_file(dir + "/one.exr"));
    EXPECT_EQ(read_file(dir + "/two-map.png"), read_file(dir + "/one-map.png"));
    EXPECT_NE(one.out.find("on average"), std::string::npos) << one.out;
}

// The module warns once per instance when told to use a light the scene
// does not name: every rank's warning reaches rank 0's standard error, once,
// with the rank.
TEST_F(Distributed, WarningsOfEveryRankReachRankZeroOnce) {
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", R"({
  "camera": {"type": "perspective", "position": [0, 2, 4], "look_at": [0, 0, 0], "resolution": [64, 48]},
  "shaders": {"occ": {"type": "vosh_occlusion", "params": {"samples": 8, "use_light": true}}},
  "materials": {"m": {"shader": "occ"}},
  "objects": [{"shape": "sphere", "center": [0, 0.5, 0], "radius": 0.5, "material": "m"}]
})");
    const Outcome one = run(alone({"scene.json", "-o", "one.png"}), dir);
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string text = "vosh.occlusion->no light selected";
    const auto count = [](const std::string& haystack, const std::string& needle) {
        size_t n = 0;
        for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
        return n;
    };
    const size_t per_process = count(one.err, text);
    ASSERT_GT(per_process, 0u) << one.err;
    const Outcome three = run(mpirun(3, {"scene.json", "--threads", "1", "-o", "three.png"}), dir);
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_EQ(count(three.err, text), 3 * per_process) << three.err;
    EXPECT_EQ(count(three.err, "WARNING: " + text), per_process) << three.err;
    for (const char* rank : {"1", "2"})
        EXPECT_EQ(count(three.err, std::string("WARNING: rank ") + rank + " on " + host_name() + ": " + text),
                  per_process)
            << three.err;
}

TEST_F(Distributed, RankWhoseModuleIsMissingEndsTheJob) {
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", slow_scene());
    Args job = {"mpirun", "--oversubscribe", "-np", "1", renderer, "scene.json", "-o", "out.png", ":",
                "-np", "2", "env", "VOSH_MODULE=/nonexistent/vosh_occlusion.so", renderer, "scene.json",
                "-o", "out.png"};
    const Outcome r = run(job, dir);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_LT(r.seconds, 30);
    EXPECT_NE(r.err.find(" on " + host_name() + ": shader module /nonexistent/vosh_occlusion.so not found"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("vosh-render: error: rank "), std::string::npos) << r.err;
    EXPECT_EQ(files_in(dir, true), std::set<std::string>{"scene.json"});
}

TEST_F(Distributed, KilledRankEndsTheJobWithNoImage) {
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", slow_scene());
    const std::string mark = std::to_string(getpid()) + "-killed";
    const Outcome r = run(mpirun(3, {"scene.json", "--threads", "1", "-o", "out.png"}), dir, mark, [&](pid_t) {
        pid_t victim = -1;
        for (const auto until = Clock::now() + std::chrono::seconds(20); victim < 0 && Clock::now() < until;)
            if ((victim = find_rank(mark, 1)) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_GT(victim, 0) << "rank 1 never started";
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // into its tiles
        kill(victim, SIGKILL);
    });
    EXPECT_NE(r.status, 0);
    EXPECT_LT(r.seconds, 60);
    EXPECT_NE(r.err.find("rank 1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(host_name()), std::string::npos) << r.err;
    EXPECT_EQ(files_in(dir, true), std::set<std::string>{"scene.json"});
}

TEST_F(Distributed, RankStoppedBySignalEndsTheJobNamingIt) {
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", slow_scene());
    const std::string mark = std::to_string(getpid()) + "-term";
    const Outcome r = run(mpirun(3, {"scene.json", "--threads", "1", "-o", "out.png"}), dir, mark, [&](pid_t) {
        pid_t victim = -1;
        for (const auto until = Clock::now() + std::chrono::seconds(20); victim < 0 && Clock::now() < until;)
            if ((victim = find_rank(mark, 2)) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_GT(victim, 0) << "rank 2 never started";
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(victim, SIGTERM);
    });
    // mpirun passes on the status of whichever rank ended first: rank 0's
    // (failed) or rank 2's (stopped).
    EXPECT_TRUE(r.status == 1 || r.status == 128 + SIGTERM) << r.status;
    EXPECT_LT(r.seconds, 60);
    EXPECT_NE(r.err.find("vosh-render: error: rank 2 on " + host_name() + ": stopped by a signal"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(files_in(dir, true), std::set<std::string>{"scene.json"});
}

TEST_F(Distributed, InterruptedMpirunWritesNothing) {
    const std::string dir = scratch_dir();
    write_text(dir + "/scene.json", slow_scene());
    const std::string mark = std::to_string(getpid()) + "-int";
    const Outcome r = run(mpirun(3, {"scene.json", "--threads", "1", "-o", "out.png"}), dir, mark,
                      [&](pid_t mpirun_pid) {
                          for (const auto until = Clock::now() + std::chrono::seconds(20);
                               find_rank(mark, 2) < 0 && Clock::now() < until;)
                              std::this_thread::sleep_for(std::chrono::milliseconds(50));
                          std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                          kill(mpirun_pid, SIGINT);
                      });
    EXPECT_NE(r.status, 0);
    EXPECT_LT(r.seconds, 30);
    EXPECT_NE(r.err.find("vosh-render: stopped by"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no image written"), std::string::npos) << r.err;
    EXPECT_EQ(files_in(dir, true), std::set<std::string>{"scene.json"});
}

}  // namespace
