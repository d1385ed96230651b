#include "renderer/scene/json_duplicate_keys.h"

#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "renderer/scene/json_fields.h"

namespace vosh::render {

namespace {

struct Place {
    size_t line = 1, column = 1;
};

std::string show(Place p) {
    return "line " + std::to_string(p.line) + ", column " + std::to_string(p.column);
}

// One open object or array; only objects keep their keys.
struct Level {
    bool object = false;
    size_t index = 0;  // arrays: the element being read
    std::string key;   // objects: the member being read
    std::map<std::string, Place> seen;
};

std::string path_of(const std::vector<Level>& levels, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i)
        path = levels[i].object ? json_child(path, levels[i].key) : json_child(path, levels[i].index);
    return path;
}

}  // namespace

bool check_no_duplicate_keys(const std::string& text, std::string& error) {
    std::vector<Level> levels;
    bool expect_key = false;
    Place at;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            const Place start = at;
            const size_t begin = i;
            for (++i; i < text.size() && text[i] != '"'; ++i)
                if (text[i] == '\\') ++i;
            // A string holds no raw newline, so only the column moves.
            at.column += i - begin + 1;
            if (!expect_key) continue;
            expect_key = false;
            Level& level = levels.back();
            // The parser already accepted the text, so the key should decode;
            // if it does not, compare it as written rather than throw.
            const std::string quoted = text.substr(begin, i - begin + 1);
            const nlohmann::json decoded = nlohmann::json::parse(quoted, nullptr, false);
            level.key = decoded.is_string() ? decoded.get<std::string>() : quoted;
            const auto [first, fresh] = level.seen.emplace(level.key, start);
            if (!fresh) {
                error = show(start) + ": " + path_of(levels, levels.size()) + ": duplicate key \"" +
                        level.key + "\" (first at " + show(first->second) + ")";
                return false;
            }
            continue;
        }
        if (c == '\n') {
            ++at.line;
            at.column = 1;
            continue;
        }
        ++at.column;
        if (c == '{' || c == '[') {
            levels.push_back({});
            levels.back().object = c == '{';
            expect_key = c == '{';
        } else if ((c == '}' || c == ']') && !levels.empty()) {
            levels.pop_back();
            expect_key = false;
        } else if (c == ',' && !levels.empty()) {
            if (levels.back().object)
                expect_key = true;
            else
                ++levels.back().index;
        }
    }
    return true;
}

}  // namespace vosh::render
