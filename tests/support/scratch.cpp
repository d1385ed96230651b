#include "support/scratch.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace vosh::test {
namespace {

// Removes the scratch directories of a test when it ends (a failed
// assertion returns from the test body, so the test cannot do it).
class ScratchCleaner : public ::testing::EmptyTestEventListener {
public:
    std::vector<std::string> dirs;

    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& dir : dirs) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
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
    std::string pattern = ::testing::TempDir() + "vosh_test_XXXXXX";
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "cannot create a scratch directory";
    scratch_cleaner().dirs.push_back(pattern);
    return pattern;
}

std::set<std::string> files_in(const std::string& dir, bool with_hidden) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == ".." || (name[0] == '.' && !with_hidden)) continue;
            names.insert(name);
        }
        closedir(d);
    }
    return names;
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

}  // namespace vosh::test
