#include "renderer/scene/param_values.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "renderer/scene/json_fields.h"

namespace vosh::render {

using nlohmann::json;

namespace {

bool to_float(const json& value, float& out, std::string& error) {
    if (!value.is_number()) {
        error = "expects a number, got " + json_show(value);
        return false;
    }
    const double d = value.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) {
        error = json_show(value) + " is out of range for a 32-bit float";
        return false;
    }
    out = static_cast<float>(d);
    return true;
}

bool to_floats(const json& value, std::size_t min_count, std::size_t max_count, float* out,
               const char* shape, std::string& error) {
    if (!value.is_array() || value.size() < min_count || value.size() > max_count) {
        error = std::string("expects ") + shape + ", got " + json_show(value);
        return false;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (!to_float(value[i], out[i], error)) {
            error = "component " + std::to_string(i) + ": " + error;
            return false;
        }
    }
    return true;
}

std::string trim(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool parse_number(const std::string& raw, double& out, std::string& error) {
    const std::string text = trim(raw);
    if (text.empty()) {
        error = "expects a number, got nothing";
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) {
        error = "expects a number, got \"" + text + "\"";
        return false;
    }
    if (errno == ERANGE && std::fabs(d) > 1.0) {
        error = "\"" + text + "\" is out of range for a 32-bit float";
        return false;
    }
    if (!std::isfinite(d)) {
        error = "expects a finite number, got \"" + text + "\"";
        return false;
    }
    if (std::fabs(d) > FLT_MAX) {
        error = "\"" + text + "\" is out of range for a 32-bit float";
        return false;
    }
    out = d;
    return true;
}

bool parse_components(const std::string& text, std::size_t min_count, std::size_t max_count,
                      const char* shape, json& out, std::string& error) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (parts.size() < min_count || parts.size() > max_count) {
        error = std::string("expects ") + shape + ", got \"" + text + "\"";
        return false;
    }
    out = json::array();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        double d;
        if (!parse_number(parts[i], d, error)) {
            error = "component " + std::to_string(i) + ": " + error;
            return false;
        }
        out.push_back(d);
    }
    return true;
}

}  // namespace

bool json_to_int32(const json& value, int32_t& out, std::string& error) {
    if (value.is_number_unsigned()) {
        const uint64_t u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(INT32_MAX)) {
            error = json_show(value) + " is out of range for a 32-bit integer";
            return false;
        }
        out = static_cast<int32_t>(u);
        return true;
    }
    if (value.is_number_integer()) {
        const int64_t i = value.get<int64_t>();
        if (i < INT32_MIN || i > INT32_MAX) {
            error = json_show(value) + " is out of range for a 32-bit integer";
            return false;
        }
        out = static_cast<int32_t>(i);
        return true;
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (d != std::floor(d)) {
            error = "expects a whole number, got " + json_show(value);
            return false;
        }
        if (d < INT32_MIN || d > INT32_MAX) {
            error = json_show(value) + " is out of range for a 32-bit integer";
            return false;
        }
        out = static_cast<int32_t>(d);
        return true;
    }
    error = "expects an integer, got " + json_show(value);
    return false;
}

// Stores a value of any type except light; unused slots take only 0.
bool store_value(const ParamDecl& p, const json& value, ParamValue& out, std::string& error) {
    switch (p.type) {
        case ParamType::color: {
            float rgba[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            if (!to_floats(value, 3, 4, rgba, "a colour [r, g, b] or [r, g, b, a]", error))
                return false;
            std::memcpy(out.numbers, rgba, sizeof rgba);
            return true;
        }
        case ParamType::vector: {
            float xyz[3];
            if (!to_floats(value, 3, 3, xyz, "a vector [x, y, z]", error)) return false;
            std::memcpy(out.numbers, xyz, sizeof xyz);
            return true;
        }
        case ParamType::scalar:
            return to_float(value, out.numbers[0], error);
        case ParamType::integer:
            return json_to_int32(value, out.integer, error);
        case ParamType::boolean: {
            int32_t b;
            if (value.is_boolean()) {
                b = value.get<bool>() ? 1 : 0;
            } else if (!value.is_number() || !json_to_int32(value, b, error)) {
                error = "expects true or false, got " + json_show(value);
                return false;
            }
            out.integer = b;
            return true;
        }
        case ParamType::unused: {
            int32_t i = 0;
            if (!value.is_null() && (!json_to_int32(value, i, error) || i != 0)) {
                error = "is a reserved slot and takes no value";
                return false;
            }
            out.integer = i;
            return true;
        }
        case ParamType::light:
            break;
    }
    error = "light parameters take a light name";
    return false;
}

ParamValue value_for(const ShaderDeclaration& decl, const ParamDecl& p) {
    ParamValue v;
    v.name = p.name;
    v.param = static_cast<uint32_t>(&p - decl.params.data());
    v.type = p.type;
    return v;
}

ParamValue default_value(const ShaderDeclaration& decl, size_t index) {
    const ParamDecl& p = decl.params[index];
    ParamValue v = value_for(decl, p);
    std::string ignored;
    // Defaults were checked when the declaration was loaded.
    if (p.type != ParamType::light && !p.default_value.is_null())
        store_value(p, p.default_value, v, ignored);
    return v;
}

bool read_param_value(const ParamDecl& p, const json& value, ParamValue& out,
                      std::string& error) {
    if (p.type == ParamType::light) {
        error = "light parameters take a light name";
        return false;
    }
    if (p.type == ParamType::unused) {
        error = "is a reserved slot and takes no value";
        return false;
    }
    return store_value(p, value, out, error);
}

void set_param_value(ShaderDesc& shader, const ParamValue& value) {
    for (ParamValue& v : shader.params)
        if (v.param == value.param) {
            v = value;
            return;
        }
    shader.params.push_back(value);
}

int32_t int32_value(const ShaderDeclaration& decl, const std::vector<ParamValue>& values,
                    const ParamDecl& p) {
    const size_t index = static_cast<size_t>(&p - decl.params.data());
    for (const ParamValue& v : values)
        if (v.param == index && !v.connected) return v.integer;
    return default_value(decl, index).integer;
}

bool parse_set_value(const ParamDecl& p, const std::string& raw, json& out, std::string& error) {
    const std::string text = trim(raw);
    switch (p.type) {
        case ParamType::color:
            return parse_components(text, 3, 4, "r,g,b or r,g,b,a", out, error);
        case ParamType::vector:
            return parse_components(text, 3, 3, "x,y,z", out, error);
        case ParamType::scalar: {
            double d;
            if (!parse_number(text, d, error)) return false;
            out = d;
            return true;
        }
        case ParamType::integer: {
            std::size_t digits = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
            const bool well_formed =
                digits < text.size() &&
                text.find_first_not_of("0123456789", digits) == std::string::npos;
            if (!well_formed) {
                error = "expects an integer, got \"" + text + "\"";
                return false;
            }
            errno = 0;
            const long long v = std::strtoll(text.c_str(), nullptr, 10);
            if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
                error = "\"" + text + "\" is out of range for a 32-bit integer";
                return false;
            }
            out = static_cast<int64_t>(v);
            return true;
        }
        case ParamType::boolean: {
            std::string lower = text;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower == "true" || lower == "on" || lower == "yes" || lower == "1") {
                out = true;
                return true;
            }
            if (lower == "false" || lower == "off" || lower == "no" || lower == "0") {
                out = false;
                return true;
            }
            error = "expects true/false, on/off or 1/0, got \"" + text + "\"";
            return false;
        }
        case ParamType::light:
            if (text.empty()) {
                error = "expects the name of a light";
                return false;
            }
            out = text;
            return true;
        case ParamType::unused:
            break;
    }
    error = "is a reserved slot and takes no value";
    return false;
}

namespace {

// Whether the shader reads `p` with these switches.
bool is_read(const ShaderDeclaration& decl, const std::vector<ParamValue>& values,
             const ParamDecl& p) {
    for (const ReadCondition& c : p.read_when)
        if ((int32_value(decl, values, *decl.find(c.flag)) != 0) != c.on) return false;
    return true;
}

}  // namespace

bool validate_for_render(const ShaderDeclaration& decl, const std::vector<ParamValue>& values,
                         std::string& error) {
    for (const ParamDecl& p : decl.params) {
        if (!p.has_max || !is_read(decl, values, p)) continue;
        const int32_t value = int32_value(decl, values, p);
        const int64_t as_read = p.read_unsigned ? static_cast<int64_t>(static_cast<uint32_t>(value)) : value;
        if (as_read <= p.max) continue;
        error = p.name + " = " + std::to_string(value) + " would not finish (the limit is " +
                std::to_string(p.max) + (p.max_unit.empty() ? "" : " " + p.max_unit) +
                (p.read_unsigned && value < 0 ? "; a negative count is a huge unsigned one)" : ")");
        return false;
    }
    return true;
}

}  // namespace vosh::render
