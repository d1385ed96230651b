// JSON text may repeat a key in one object; the parser silently keeps the
// last. Scenes and the declaration refuse that as they refuse unknown keys.
#pragma once

#include <string>

namespace vosh::render {

// On `text` that already parsed as JSON: false on the first key that repeats
// one before it in the same object, with `error` set to
// "line L, column C: <json path>: duplicate key ..." (the second one's place).
bool check_no_duplicate_keys(const std::string& text, std::string& error);

// The parser stops at a NUL byte as if the text ended there, so whatever
// follows would pass unread. False on the first NUL, with `error` set to
// "line L, column C: malformed JSON: a NUL byte".
bool check_no_nul_byte(const std::string& text, std::string& error);

}  // namespace vosh::render
