#include "renderer/scene/json_fields.h"

#include <cerrno>
#include <cfloat>
#include <cstring>
#include <fstream>
#include <sstream>
#include <cmath>

namespace vosh::render {

bool read_json_text(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

std::string json_child(const std::string& path, const std::string& key) {
    std::string escaped;
    for (char c : key) {
        if (c == '~')
            escaped += "~0";
        else if (c == '/')
            escaped += "~1";
        else
            escaped += c;
    }
    return path + "/" + escaped;
}

std::string json_child(const std::string& path, size_t index) {
    return path + "/" + std::to_string(index);
}

std::string json_show(const json& value) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

bool fail(std::string& error, const std::string& path, const std::string& problem) {
    error = (path.empty() ? std::string("/") : path) + ": " + problem;
    return false;
}

bool expect_object(const json& value, const std::string& path, std::string& error) {
    if (value.is_object()) return true;
    return fail(error, path, "expected an object, got " + json_show(value));
}

bool find_unknown_key(const json& object, std::initializer_list<const char*> allowed,
                      std::string& unknown) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const char* name : allowed) known = known || it.key() == name;
        if (!known) {
            unknown = it.key();
            return true;
        }
    }
    return false;
}

bool only_keys(const json& object, const std::string& path,
               std::initializer_list<const char*> allowed, std::string& error) {
    std::string unknown;
    if (!find_unknown_key(object, allowed, unknown)) return true;
    std::string list;
    for (const char* name : allowed) list += std::string(list.empty() ? "" : ", ") + name;
    return fail(error, json_child(path, unknown),
                "unknown key \"" + unknown + "\" (expected one of: " + list + ")");
}

namespace {

// Finds the key; false with an error only when required and absent.
bool locate(const json& object, const char* key, const std::string& path, bool required,
            const json*& found, std::string& error) {
    found = nullptr;
    auto it = object.find(key);
    if (it == object.end()) {
        if (required) return fail(error, json_child(path, key), "missing");
        return true;
    }
    found = &*it;
    return true;
}

bool finite_number(const json& value, const std::string& path, double& out, std::string& error) {
    if (!value.is_number()) return fail(error, path, "expected a number, got " + json_show(value));
    const double d = value.get<double>();
    if (!std::isfinite(d)) return fail(error, path, "expected a finite number");
    out = d;
    return true;
}

bool number_list(const json& value, const std::string& path, size_t min_count, size_t max_count,
                 double* out, std::string& error) {
    const std::string expected = min_count == max_count
                                     ? std::to_string(min_count) + " numbers"
                                     : std::to_string(min_count) + " or " +
                                           std::to_string(max_count) + " numbers";
    if (!value.is_array() || value.size() < min_count || value.size() > max_count)
        return fail(error, path, "expected an array of " + expected + ", got " + json_show(value));
    for (size_t i = 0; i < value.size(); ++i)
        if (!finite_number(value[i], json_child(path, i), out[i], error)) return false;
    return true;
}

}  // namespace

bool read_number(const json& object, const char* key, const std::string& path, bool required,
                 double& out, std::string& error) {
    const json* v;
    if (!locate(object, key, path, required, v, error)) return false;
    return !v || finite_number(*v, json_child(path, key), out, error);
}

bool read_float(const json& object, const char* key, const std::string& path, bool required,
                float& out, std::string& error) {
    double d = out;
    if (!read_number(object, key, path, required, d, error)) return false;
    if (std::fabs(d) > FLT_MAX)
        return fail(error, json_child(path, key),
                    json_show(object.at(key)) + " is out of range for a 32-bit float");
    out = static_cast<float>(d);
    return true;
}

bool read_int(const json& object, const char* key, const std::string& path, bool required,
              long long min_value, long long max_value, long long& out, std::string& error) {
    const json* v;
    if (!locate(object, key, path, required, v, error)) return false;
    if (!v) return true;
    const std::string where = json_child(path, key);
    double d = 0;
    if (!finite_number(*v, where, d, error)) return false;
    if (d != std::floor(d)) return fail(error, where, "expected a whole number, got " + json_show(*v));
    if (d < static_cast<double>(min_value) || d > static_cast<double>(max_value))
        return fail(error, where,
                    json_show(*v) + " is out of range [" + std::to_string(min_value) + ", " +
                        std::to_string(max_value) + "]");
    out = static_cast<long long>(d);
    return true;
}

bool read_bool(const json& object, const char* key, const std::string& path, bool required,
               bool& out, std::string& error) {
    const json* v;
    if (!locate(object, key, path, required, v, error)) return false;
    if (!v) return true;
    if (!v->is_boolean())
        return fail(error, json_child(path, key), "expected true or false, got " + json_show(*v));
    out = v->get<bool>();
    return true;
}

bool read_string(const json& object, const char* key, const std::string& path, bool required,
                 std::string& out, std::string& error) {
    const json* v;
    if (!locate(object, key, path, required, v, error)) return false;
    if (!v) return true;
    if (!v->is_string())
        return fail(error, json_child(path, key), "expected a string, got " + json_show(*v));
    out = v->get<std::string>();
    return true;
}

bool read_vec3(const json& object, const char* key, const std::string& path, bool required,
               Vec3& out, std::string& error) {
    const json* v;
    if (!locate(object, key, path, required, v, error)) return false;
    if (!v) return true;
    double xyz[3];
    if (!number_list(*v, json_child(path, key), 3, 3, xyz, error)) return false;
    out = {xyz[0], xyz[1], xyz[2]};
    return true;
}

bool read_color(const json& object, const char* key, const std::string& path, bool required,
                Color& out, std::string& error) {
    const json* v;
    if (!locate(object, key, path, required, v, error)) return false;
    if (!v) return true;
    double c[4] = {0, 0, 0, 1};
    if (!number_list(*v, json_child(path, key), 3, 4, c, error)) return false;
    for (size_t i = 0; i < 4; ++i)
        if (std::fabs(c[i]) > FLT_MAX)
            return fail(error, json_child(json_child(path, key), i),
                        json_show((*v)[i]) + " is out of range for a 32-bit float");
    out = {static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]),
           static_cast<float>(c[3])};
    return true;
}

}  // namespace vosh::render
