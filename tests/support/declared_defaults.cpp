#include "declared_defaults.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

namespace vosh::test {
namespace {

struct Value {
    enum Kind { null, boolean, number, text, array, object } kind = null;
    bool flag = false;
    double figure = 0.0;
    std::string chars;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;

    const Value* get(const char* key) const {
        for (const auto& member : members)
            if (member.first == key) return &member.second;
        return nullptr;
    }
};

struct Reader {
    std::string s;
    std::size_t at = 0;
    std::string error;
};

bool fail(Reader& r, const char* what) {
    if (r.error.empty()) r.error = std::string(what) + " at byte " + std::to_string(r.at);
    return false;
}

void skip_space(Reader& r) {
    while (r.at < r.s.size() && std::isspace(static_cast<unsigned char>(r.s[r.at]))) ++r.at;
}

bool next_is(Reader& r, char c) {
    skip_space(r);
    if (r.at < r.s.size() && r.s[r.at] == c) {
        ++r.at;
        return true;
    }
    return false;
}

// Escapes keep the escaped character (\u sequences become '?'): names and
// types are plain, and only they are looked at.
bool read_text(Reader& r, std::string& out) {
    if (!next_is(r, '"')) return fail(r, "expected a string");
    while (r.at < r.s.size() && r.s[r.at] != '"') {
        char c = r.s[r.at++];
        if (c == '\\' && r.at < r.s.size()) {
            c = r.s[r.at++];
            if (c == 'u') {
                r.at += 4;
                c = '?';
            }
        }
        out += c;
    }
    if (r.at >= r.s.size()) return fail(r, "unterminated string");
    ++r.at;
    return true;
}

bool read_value(Reader& r, Value& out, int depth) {
    if (depth > 64) return fail(r, "nested too deep");
    skip_space(r);
    if (r.at >= r.s.size()) return fail(r, "unexpected end");
    const char c = r.s[r.at];
    if (c == '"') {
        out.kind = Value::text;
        return read_text(r, out.chars);
    }
    if (c == '[' || c == '{') {
        const bool is_array = c == '[';
        const char close = is_array ? ']' : '}';
        out.kind = is_array ? Value::array : Value::object;
        ++r.at;
        if (next_is(r, close)) return true;
        do {
            Value item;
            if (!is_array) {
                std::string key;
                if (!read_text(r, key)) return false;
                if (!next_is(r, ':')) return fail(r, "expected ':'");
                if (!read_value(r, item, depth + 1)) return false;
                out.members.emplace_back(std::move(key), std::move(item));
            } else {
                if (!read_value(r, item, depth + 1)) return false;
                out.items.push_back(std::move(item));
            }
        } while (next_is(r, ','));
        return next_is(r, close) || fail(r, "expected ',' or a closing bracket");
    }
    for (const auto& [word, kind, flag] : {std::make_tuple("true", Value::boolean, true),
                                           std::make_tuple("false", Value::boolean, false),
                                           std::make_tuple("null", Value::null, false)}) {
        if (r.s.compare(r.at, std::strlen(word), word) == 0) {
            r.at += std::strlen(word);
            out.kind = kind;
            out.flag = flag;
            return true;
        }
    }
    const char* start = r.s.c_str() + r.at;
    char* end = nullptr;
    out.figure = std::strtod(start, &end);
    if (end == start) return fail(r, "unexpected character");
    out.kind = Value::number;
    r.at += static_cast<std::size_t>(end - start);
    return true;
}

bool store_floats(const Value& value, std::size_t least, std::size_t most, float* out) {
    if (value.kind != Value::array || value.items.size() < least || value.items.size() > most)
        return false;
    for (std::size_t i = 0; i < value.items.size(); ++i) {
        if (value.items[i].kind != Value::number) return false;
        out[i] = static_cast<float>(value.items[i].figure);
    }
    return true;
}

// Stores a default the way the renderer's lay_out_block does.
bool store_default(const std::string& type, const Value& value, unsigned char* slot) {
    if (type == "color" || type == "vector") {
        float floats[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        const std::size_t count = type == "color" ? 4 : 3;
        if (!store_floats(value, 3, count, floats)) return false;
        std::memcpy(slot, floats, count * sizeof(float));
        return true;
    }
    if (value.kind == Value::boolean && type == "boolean") {
        const int32_t b = value.flag ? 1 : 0;
        std::memcpy(slot, &b, sizeof b);
        return true;
    }
    if (value.kind != Value::number) return false;
    if (type == "scalar") {
        const float f = static_cast<float>(value.figure);
        std::memcpy(slot, &f, sizeof f);
        return true;
    }
    if (type == "integer" || type == "boolean") {
        const int32_t i = static_cast<int32_t>(value.figure);
        std::memcpy(slot, &i, sizeof i);
        return true;
    }
    return false;
}

}  // namespace

bool read_declared_defaults(const std::string& path, unsigned char* block, std::size_t block_size,
                            std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    Reader r{text.str(), 0, {}};
    Value root;
    if (!read_value(r, root, 0)) {
        error = path + ": " + r.error;
        return false;
    }
    const Value* params = root.get("parameters");
    if (!params || params->kind != Value::array) {
        error = path + ": no parameters list";
        return false;
    }
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < params->items.size(); ++i) {
        const Value& p = params->items[i];
        const Value* name = p.get("name");
        const Value* type = p.get("type");
        const Value* value = p.get("default");
        if (!name || !type || type->kind != Value::text) {
            error = path + ": parameter " + std::to_string(i) + " lacks a name or type";
            return false;
        }
        const std::string& t = type->chars;
        const std::size_t offset = bytes.size();
        bytes.resize(offset + (t == "color" ? 16 : t == "vector" ? 12 : 4), 0);
        if (!value || value->kind == Value::null || t == "light" || t == "unused") continue;
        if (!store_default(t, *value, bytes.data() + offset)) {
            error = path + ": " + name->chars + ": a default this reader cannot store";
            return false;
        }
    }
    if (bytes.size() != block_size) {
        error = path + ": lays out " + std::to_string(bytes.size()) + " bytes, not " +
                std::to_string(block_size);
        return false;
    }
    std::memcpy(block, bytes.data(), block_size);
    return true;
}

}  // namespace vosh::test
