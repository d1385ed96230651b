#include "render_harness.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "renderer/scene/scene_loader.h"

namespace vosh::render::test {

const ShaderDeclaration& test_declaration() {
    static ShaderDeclaration decl = [] {
        std::string module = VOSH_MODULE_PATH;
        const std::string path = module.substr(0, module.find_last_of('/')) + "/vosh_occlusion.decl.json";
        ShaderDeclaration d;
        std::string error;
        if (!load_declaration(path, d, error)) ADD_FAILURE() << error;
        return d;
    }();
    return decl;
}

Image render_in_process(const nlohmann::json& scene_doc, RenderSettings settings,
                        const std::string& base_dir, RenderStats* stats_out) {
    Scene scene;
    std::string error;
    Image image;
    if (!parse_scene(scene_doc, "test scene", base_dir, test_declaration(), scene, error)) {
        ADD_FAILURE() << error;
        return image;
    }
    settings.module_path = VOSH_MODULE_PATH;
    if (settings.threads < 1) settings.threads = 1;
    RenderStats stats;
    if (!render_scene(scene, test_declaration(), settings, image, stats, error)) ADD_FAILURE() << error;
    EXPECT_EQ(stats.leaked_blocks, 0u);
    EXPECT_EQ(stats.bad_samples, 0u);
    if (stats_out) *stats_out = stats;
    return image;
}

nlohmann::json fraction_params(int samples) {
    return {{"bright", {0, 0, 0}}, {"dark", {1, 1, 1}}, {"samples", samples},
            {"spread", 90},        {"near_distance", 1e6}, {"far_distance", 1e6},
            {"gamma", 1},          {"bias", 0.5},        {"gain", 0.5}};
}

nlohmann::json top_view_camera(double width, int pixels) {
    return {{"type", "orthographic"}, {"position", {0, 10, 0}}, {"look_at", {0, 0, 0}},
            {"up", {0, 0, -1}},       {"width", width},         {"resolution", {pixels, pixels}}};
}

void top_view_point(double width, int pixels, int px, int py, double& x, double& z) {
    x = ((px + 0.5) / pixels * 2 - 1) * width / 2;
    z = ((py + 0.5) / pixels * 2 - 1) * width / 2;
}

double sphere_view_factor(double x, double z, double radius, double height) {
    const double d2 = x * x + z * z + height * height;
    return radius * radius / d2 * (height / std::sqrt(d2));
}

namespace {

std::string make_temp_dir() {
    std::string pattern = ::testing::TempDir() + "vosh_render_XXXXXX";
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "cannot create a scratch directory";
    return pattern;
}

void remove_tree(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

// Removes the scratch directories of a test when it ends, passed or failed
// (a failed assertion returns from the test body, so the test cannot do it).
class ScratchCleaner : public ::testing::EmptyTestEventListener {
public:
    std::vector<std::string> dirs;

    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& dir : dirs) remove_tree(dir);
        dirs.clear();
    }
};

ScratchCleaner& scratch_cleaner() {
    // GoogleTest owns and deletes the listener once it is appended.
    static ScratchCleaner* cleaner = [] {
        auto* c = new ScratchCleaner;
        ::testing::UnitTest::GetInstance()->listeners().Append(c);
        return c;
    }();
    return *cleaner;
}

}  // namespace

std::string scratch_dir() {
    const std::string dir = make_temp_dir();
    scratch_cleaner().dirs.push_back(dir);
    return dir;
}

CommandResult run_renderer(const std::vector<std::string>& args) {
    const std::string own_dir = make_temp_dir();
    const std::string err_file = own_dir + "/stderr.txt";
    CommandResult result;
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, STDOUT_FILENO);
        std::vector<char*> argv;
        std::string exe = VOSH_RENDER_EXE;
        argv.push_back(exe.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(err_file);
    std::stringstream text;
    text << in.rdbuf();
    result.err = text.str();
    remove_tree(own_dir);
    // Every render, whatever its outcome, ends with the module's memory
    // given back and no record left pinned.
    EXPECT_EQ(result.err.find("never released"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("still pinned"), std::string::npos) << result.err;
    return result;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace vosh::render::test
