#include "renderer/scene/shader_declaration.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "renderer/scene/json_duplicate_keys.h"

namespace vosh::render {

using nlohmann::json;

namespace {

struct TypeName {
    ParamType type;
    const char* name;
};

constexpr TypeName type_names[] = {
    {ParamType::color, "color"},     {ParamType::vector, "vector"},
    {ParamType::scalar, "scalar"},   {ParamType::integer, "integer"},
    {ParamType::boolean, "boolean"}, {ParamType::light, "light"},
    {ParamType::unused, "unused"},
};

// A value as it appears in messages, cut short when long.
std::string show(const json& value) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

bool to_float(const json& value, float& out, std::string& error) {
    if (!value.is_number()) {
        error = "expects a number, got " + show(value);
        return false;
    }
    const double d = value.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) {
        error = show(value) + " is out of range for a 32-bit float";
        return false;
    }
    out = static_cast<float>(d);
    return true;
}

bool to_int32(const json& value, int32_t& out, std::string& error) {
    if (value.is_number_unsigned()) {
        const uint64_t u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(INT32_MAX)) {
            error = show(value) + " is out of range for a 32-bit integer";
            return false;
        }
        out = static_cast<int32_t>(u);
        return true;
    }
    if (value.is_number_integer()) {
        const int64_t i = value.get<int64_t>();
        if (i < INT32_MIN || i > INT32_MAX) {
            error = show(value) + " is out of range for a 32-bit integer";
            return false;
        }
        out = static_cast<int32_t>(i);
        return true;
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (d != std::floor(d)) {
            error = "expects a whole number, got " + show(value);
            return false;
        }
        if (d < INT32_MIN || d > INT32_MAX) {
            error = show(value) + " is out of range for a 32-bit integer";
            return false;
        }
        out = static_cast<int32_t>(d);
        return true;
    }
    error = "expects an integer, got " + show(value);
    return false;
}

bool to_floats(const json& value, std::size_t min_count, std::size_t max_count, float* out,
               const char* shape, std::string& error) {
    if (!value.is_array() || value.size() < min_count || value.size() > max_count) {
        error = std::string("expects ") + shape + ", got " + show(value);
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

// Stores a value of any type except light; unused slots take only 0.
bool store(const ParamDecl& p, const json& value, unsigned char* slot, std::string& error) {
    switch (p.type) {
        case ParamType::color: {
            float rgba[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            if (!to_floats(value, 3, 4, rgba, "a colour [r, g, b] or [r, g, b, a]", error))
                return false;
            std::memcpy(slot, rgba, sizeof rgba);
            return true;
        }
        case ParamType::vector: {
            float xyz[3];
            if (!to_floats(value, 3, 3, xyz, "a vector [x, y, z]", error)) return false;
            std::memcpy(slot, xyz, sizeof xyz);
            return true;
        }
        case ParamType::scalar: {
            float f;
            if (!to_float(value, f, error)) return false;
            std::memcpy(slot, &f, sizeof f);
            return true;
        }
        case ParamType::integer: {
            int32_t i;
            if (!to_int32(value, i, error)) return false;
            std::memcpy(slot, &i, sizeof i);
            return true;
        }
        case ParamType::boolean: {
            int32_t b;
            if (value.is_boolean()) {
                b = value.get<bool>() ? 1 : 0;
            } else if (!value.is_number() || !to_int32(value, b, error)) {
                error = "expects true or false, got " + show(value);
                return false;
            }
            std::memcpy(slot, &b, sizeof b);
            return true;
        }
        case ParamType::unused: {
            int32_t i = 0;
            if (!value.is_null() && (!to_int32(value, i, error) || i != 0)) {
                error = "is a reserved slot and takes no value";
                return false;
            }
            std::memcpy(slot, &i, sizeof i);
            return true;
        }
        case ParamType::light:
            break;
    }
    error = "light parameters take a light name";
    return false;
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

bool valid_param_name(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (const char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

bool only_keys(const json& object, std::initializer_list<const char*> allowed,
               std::string& unknown) {
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : allowed) known = known || item.key() == key;
        if (!known) {
            unknown = item.key();
            return false;
        }
    }
    return true;
}

// Checks the document and lays it out; `where` is the JSON path of a fault.
bool lay_out(const json& doc, ShaderDeclaration& decl, std::string& where, std::string& problem) {
    std::string unknown;
    if (!doc.is_object()) {
        where = "/";
        problem = "expects an object";
        return false;
    }
    if (!only_keys(doc, {"shader", "version", "parameters", "description"}, unknown)) {
        where = "/" + unknown;
        problem = "unknown key";
        return false;
    }
    if (!doc.contains("shader") || !doc["shader"].is_string() ||
        doc["shader"].get<std::string>().empty()) {
        where = "/shader";
        problem = "expects the shader's name";
        return false;
    }
    decl.name = doc["shader"].get<std::string>();
    int32_t version = 0;
    if (!doc.contains("version") || !to_int32(doc["version"], version, problem) || version < 1) {
        where = "/version";
        problem = "expects a version number of 1 or more";
        return false;
    }
    decl.version = version;
    if (!doc.contains("parameters") || !doc["parameters"].is_array()) {
        where = "/parameters";
        problem = "expects an array of parameters";
        return false;
    }

    uint32_t offset = 0;
    const json& list = doc["parameters"];
    for (std::size_t i = 0; i < list.size(); ++i) {
        const json& entry = list[i];
        const std::string at = "/parameters/" + std::to_string(i);
        where = at;
        if (!entry.is_object()) {
            problem = "expects an object with name, type and default";
            return false;
        }
        if (!only_keys(entry, {"name", "type", "default", "description"}, unknown)) {
            where = at + "/" + unknown;
            problem = "unknown key";
            return false;
        }
        ParamDecl p;
        where = at + "/name";
        if (!entry.contains("name") || !entry["name"].is_string() ||
            !valid_param_name(entry["name"].get<std::string>())) {
            problem = "expects a name of letters, digits and underscores";
            return false;
        }
        p.name = entry["name"].get<std::string>();
        if (decl.find(p.name)) {
            problem = "\"" + p.name + "\" is declared twice";
            return false;
        }
        where = at + "/type";
        bool typed = false;
        if (entry.contains("type") && entry["type"].is_string()) {
            for (const TypeName& t : type_names) {
                if (entry["type"].get<std::string>() == t.name) {
                    p.type = t.type;
                    typed = true;
                }
            }
        }
        if (!typed) {
            problem = "expects one of color, vector, scalar, integer, boolean, light, unused";
            return false;
        }
        p.offset = offset;
        p.size = param_type_size(p.type);
        offset += p.size;

        where = at + "/default";
        const bool has_default = entry.contains("default") && !entry["default"].is_null();
        if (p.type == ParamType::light) {
            if (has_default) {
                problem = "a light parameter has no default (it names a scene light)";
                return false;
            }
        } else if (p.type == ParamType::unused) {
            unsigned char scratch[4];
            if (has_default && !store(p, entry["default"], scratch, problem)) return false;
        } else {
            if (!has_default) {
                problem = "missing default";
                return false;
            }
            p.default_value = entry["default"];
            unsigned char scratch[16];
            if (!store(p, p.default_value, scratch, problem)) return false;
        }
        decl.params.push_back(std::move(p));
    }
    decl.block_size = offset;
    return true;
}

}  // namespace

const ParamDecl* ShaderDeclaration::find(std::string_view wanted) const {
    for (const ParamDecl& p : params)
        if (p.name == wanted) return &p;
    return nullptr;
}

const char* param_type_name(ParamType type) {
    for (const TypeName& t : type_names)
        if (t.type == type) return t.name;
    return "unknown";
}

uint32_t param_type_size(ParamType type) {
    switch (type) {
        case ParamType::color: return 16;
        case ParamType::vector: return 12;
        default: return 4;
    }
}

bool load_declaration(const std::string& path, ShaderDeclaration& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    json doc;
    try {
        doc = json::parse(text.str());
    } catch (const json::exception& e) {
        // Drop the library's "[json.exception...] " tag; keep line and column.
        std::string what = e.what();
        const std::size_t tag_end = what.find("] ");
        if (what.rfind("[json.exception", 0) == 0 && tag_end != std::string::npos)
            what = what.substr(tag_end + 2);
        error = path + ": not valid JSON: " + what;
        return false;
    }
    if (std::string problem; !check_no_duplicate_keys(text.str(), problem)) {
        error = path + ": " + problem;
        return false;
    }
    ShaderDeclaration decl;
    std::string where, problem;
    if (!lay_out(doc, decl, where, problem)) {
        error = path + ": " + where + ": " + problem;
        return false;
    }
    out = std::move(decl);
    return true;
}

void write_defaults(const ShaderDeclaration& decl, unsigned char* block) {
    std::memset(block, 0, decl.block_size);
    std::string ignored;
    for (const ParamDecl& p : decl.params) {
        // Defaults were checked when the declaration was loaded.
        if (p.type != ParamType::light && !p.default_value.is_null())
            store(p, p.default_value, block + p.offset, ignored);
    }
}

bool write_param(const ParamDecl& p, const json& value, unsigned char* block,
                 std::string& error) {
    if (p.type == ParamType::light) {
        error = "light parameters take a light name";
        return false;
    }
    if (p.type == ParamType::unused) {
        error = "is a reserved slot and takes no value";
        return false;
    }
    return store(p, value, block + p.offset, error);
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

bool bounds_render_work(std::string_view name) {
    return name == "samples" || name == "near_samples" || name == "far_samples" ||
           name == "fg_rays";
}

bool validate_for_render(const ShaderDeclaration& decl, const unsigned char* block,
                         std::string& error) {
    const auto flag = [&](const char* name) {
        const ParamDecl* p = decl.find(name);
        int32_t on = 0;
        if (p && p->type == ParamType::boolean) std::memcpy(&on, block + p->offset, sizeof on);
        return on != 0;
    };
    const bool adaptive_on = flag("adaptive");

    // Only the counts the shader will use: the fixed count, or the adaptive pair.
    const char* in_use_fixed[] = {"samples"};
    const char* in_use_adaptive[] = {"near_samples", "far_samples"};
    const auto check = [&](const char* name) {
        const ParamDecl* p = decl.find(name);
        if (!p || p->type != ParamType::integer) return true;
        int32_t value;
        std::memcpy(&value, block + p->offset, sizeof value);
        if (static_cast<uint32_t>(value) <= max_render_samples) return true;
        error = std::string(name) + " = " + std::to_string(value) +
                " would not finish (the limit is " + std::to_string(max_render_samples) +
                (value < 0 ? "; a negative count is a huge unsigned one)" : ")");
        return false;
    };
    if (adaptive_on) {
        for (const char* name : in_use_adaptive)
            if (!check(name)) return false;
    } else {
        for (const char* name : in_use_fixed)
            if (!check(name)) return false;
    }
    // The shader's own gather ray count replaces the scene's only when both
    // switches are on.
    if (flag("final_gather") && flag("fg_override")) {
        const ParamDecl* p = decl.find("fg_rays");
        int32_t rays = 0;
        if (p && p->type == ParamType::integer) std::memcpy(&rays, block + p->offset, sizeof rays);
        if (rays > max_gather_rays) {
            error = "fg_rays = " + std::to_string(rays) + " would not finish (the limit is " +
                    std::to_string(max_gather_rays) + " rays per gather)";
            return false;
        }
    }
    return true;
}

}  // namespace vosh::render
