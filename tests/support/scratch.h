// Scratch directories for the files a test writes, and what a directory holds.
#pragma once

#include <set>
#include <string>

namespace vosh::test {

// A fresh empty directory, removed with its contents when the current test
// ends, passed or failed.
std::string scratch_dir();

// The names in `dir`; names starting with '.' only when `with_hidden`.
std::set<std::string> files_in(const std::string& dir, bool with_hidden = false);

bool file_exists(const std::string& path);
void write_text(const std::string& path, const std::string& text);
// The whole file, or nothing when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace vosh::test
