// JSON text may repeat a key in one object; the parser silently keeps the
// last. Scenes and the declaration refuse that as they refuse unknown keys.
#pragma once

#include <string>

namespace vosh::render {

// On `text` that already parsed as JSON: false on the first key that repeats
// one before it in the same object, with `error` set to
// "line L, column C: <json path>: duplicate key ..." (the second one's place).
bool check_no_duplicate_keys(const std::string& text, std::string& error);


}  // namespace vosh::render
