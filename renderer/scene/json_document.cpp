#include "renderer/scene/json_document.h"

#include "renderer/scene/json_duplicate_keys.h"

namespace vosh::render {

namespace {

// Offset of the first bracket nested deeper than max_json_depth, or npos.
// Showing and freeing values recurses per level, so an absurdly deep
// document would overflow the stack long before anything refused it.
size_t too_deep_at(const std::string& text) {
    int depth = 0;
    bool in_string = false, escaped = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > max_json_depth) return i;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return std::string::npos;
}

// The library's message without its "[json.exception...] " tag and without
// the byte position, which the caller gives as line and column instead.
std::string parse_problem(const nlohmann::json::exception& e) {
    std::string what = e.what();
    const size_t colon = what.rfind(": ");
    if (colon != std::string::npos) what = what.substr(colon + 2);
    const size_t tag_end = what.find("] ");
    if (what.rfind("[json.exception", 0) == 0 && tag_end != std::string::npos)
        what = what.substr(tag_end + 2);
    return what;
}

}  // namespace

std::string line_and_column(const std::string& text, size_t byte) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool parse_json_document(const std::string& text, const std::string& file, nlohmann::json& doc,
                         std::string& error) {
    if (const size_t at = too_deep_at(text); at != std::string::npos) {
        error = file + ": " + line_and_column(text, at) + ": nested more than " +
                std::to_string(max_json_depth) + " levels deep";
        return false;
    }
    // The parser stops at a NUL byte as if the text ended there, so whatever
    // follows would pass unread.
    if (const size_t nul = text.find('\0'); nul != std::string::npos) {
        error = file + ": " + line_and_column(text, nul) + ": malformed JSON: a NUL byte";
        return false;
    }
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        // Parse errors carry the byte where parsing stopped; others (a number
        // too large for any type) only the message.
        std::string where;
        if (const auto* p = dynamic_cast<const nlohmann::json::parse_error*>(&e))
            where = line_and_column(text, p->byte > 0 ? p->byte - 1 : 0) + ": ";
        error = file + ": " + where + "malformed JSON: " + parse_problem(e);
        return false;
    }
    if (std::string problem; !check_no_duplicate_keys(text, problem)) {
        error = file + ": " + problem;
        return false;
    }
    return true;
}

}  // namespace vosh::render
