// Typed reads of scene JSON fields. Each failure leaves one message,
// "<json path>: <problem>", in `error`; the caller prefixes the file name.
#pragma once

#include <initializer_list>
#include <string>

#include <nlohmann/json.hpp>

#include "host/render_state.h"
#include "renderer/math/math3.h"

namespace vosh::render {

using nlohmann::json;

// "/objects/3" + "radius" -> "/objects/3/radius" (JSON pointer escaping).
// The whole of a JSON file; false with "PATH: cannot open: reason".
bool read_json_text(const std::string& path, std::string& text, std::string& error);

std::string json_child(const std::string& path, const std::string& key);
std::string json_child(const std::string& path, size_t index);

// A value as it appears in messages, cut short when long.
std::string json_show(const json& value);

bool fail(std::string& error, const std::string& path, const std::string& problem);

bool expect_object(const json& value, const std::string& path, std::string& error);

// The first key of `object` outside `allowed`, or false when there is none.
bool find_unknown_key(const json& object, std::initializer_list<const char*> allowed,
                      std::string& unknown);

// Refuses keys outside `allowed`, so a typo never passes silently.
bool only_keys(const json& object, const std::string& path,
               std::initializer_list<const char*> allowed, std::string& error);

// Optional fields keep `out` when the key is absent; required ones fail.
bool read_number(const json& object, const char* key, const std::string& path, bool required,
                 double& out, std::string& error);
// A number that must fit single precision (it is handed on as a float).
bool read_float(const json& object, const char* key, const std::string& path, bool required,
                float& out, std::string& error);
bool read_int(const json& object, const char* key, const std::string& path, bool required,
              long long min_value, long long max_value, long long& out, std::string& error);
bool read_bool(const json& object, const char* key, const std::string& path, bool required,
               bool& out, std::string& error);
bool read_string(const json& object, const char* key, const std::string& path, bool required,
                 std::string& out, std::string& error);
bool read_vec3(const json& object, const char* key, const std::string& path, bool required,
               Vec3& out, std::string& error);
// [r, g, b] or [r, g, b, a], each within single precision; alpha 1 when absent.
bool read_color(const json& object, const char* key, const std::string& path, bool required,
                Color& out, std::string& error);

}  // namespace vosh::render
