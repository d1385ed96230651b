// Turning a file's text into a JSON document, the same way for scenes and the
// shader declaration: every check that the parser itself does not make, and
// one message with line and column for whatever is wrong.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace vosh::render {

// Deeper JSON nesting than any scene needs is refused before parsing.
constexpr int max_json_depth = 64;

// False with `error` set to "<file>: line L, column C: <problem>" when the
// text nests deeper than max_json_depth, holds a NUL byte, is not JSON, or
// repeats a key within one object.
bool parse_json_document(const std::string& text, const std::string& file, nlohmann::json& doc,
                         std::string& error);

// "line L, column C" of a byte offset into `text`.
std::string line_and_column(const std::string& text, size_t byte);

}  // namespace vosh::render
