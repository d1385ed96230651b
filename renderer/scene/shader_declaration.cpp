#include "renderer/scene/shader_declaration.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "renderer/scene/json_document.h"
#include "renderer/scene/json_fields.h"
#include "renderer/scene/param_values.h"

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

bool valid_param_name(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (const char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

// The optional render limit of one parameter and the switches under which
// it applies; the switches are found once every parameter is known.
bool read_limit(const json& entry, const std::string& at, ParamDecl& p, std::string& where,
                std::string& problem) {
    const bool has_max = entry.contains("max");
    for (const char* key : {"unsigned", "max_unit", "read_when"}) {
        if (entry.contains(key) && !has_max) {
            where = at + "/" + key;
            problem = "goes only with \"max\"";
            return false;
        }
    }
    if (!has_max) return true;
    where = at + "/max";
    if (p.type != ParamType::integer) {
        problem = "only an integer parameter takes a limit";
        return false;
    }
    int32_t max = 0;
    if (!json_to_int32(entry["max"], max, problem) || max < 0) {
        problem = "expects a whole number from 0 to 2147483647";
        return false;
    }
    p.has_max = true;
    p.max = max;
    if (entry.contains("unsigned")) {
        where = at + "/unsigned";
        if (!entry["unsigned"].is_boolean()) {
            problem = "expects true or false";
            return false;
        }
        p.read_unsigned = entry["unsigned"].get<bool>();
    }
    if (entry.contains("max_unit")) {
        where = at + "/max_unit";
        if (!entry["max_unit"].is_string()) {
            problem = "expects the words that follow the limit in messages";
            return false;
        }
        p.max_unit = entry["max_unit"].get<std::string>();
    }
    if (entry.contains("read_when")) {
        where = at + "/read_when";
        const json& when = entry["read_when"];
        if (!when.is_object()) {
            problem = "expects an object of boolean parameter names and true or false";
            return false;
        }
        for (const auto& item : when.items()) {
            where = at + "/read_when/" + item.key();
            if (!item.value().is_boolean()) {
                problem = "expects true or false";
                return false;
            }
            p.read_when.push_back({item.key(), 0, item.value().get<bool>()});
        }
    }
    // A default the render refuses would make every scene name the value.
    int32_t value = 0;
    std::string ignored;  // the default was checked as an integer already
    json_to_int32(p.default_value, value, ignored);
    if ((p.read_unsigned ? static_cast<int64_t>(static_cast<uint32_t>(value)) : value) > p.max) {
        where = at + "/default";
        problem = "is above max";
        return false;
    }
    return true;
}

bool resolve_read_conditions(ShaderDeclaration& decl, std::string& where, std::string& problem) {
    for (std::size_t i = 0; i < decl.params.size(); ++i) {
        for (ReadCondition& c : decl.params[i].read_when) {
            const ParamDecl* flag = decl.find(c.flag);
            if (!flag || flag->type != ParamType::boolean) {
                where = json_child(json_child("/parameters", i), "read_when") + "/" + c.flag;
                problem = "names no boolean parameter";
                return false;
            }
            c.flag_offset = flag->offset;
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
    if (find_unknown_key(doc, {"shader", "version", "parameters", "description"}, unknown)) {
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
    if (!doc.contains("version") || !json_to_int32(doc["version"], version, problem) || version < 1) {
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
        const std::string at = json_child("/parameters", i);
        where = at;
        if (!entry.is_object()) {
            problem = "expects an object with name, type and default";
            return false;
        }
        if (find_unknown_key(entry, {"name", "type", "default", "description", "max", "unsigned",
                                     "max_unit", "read_when"},
                             unknown)) {
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
            ParamValue scratch;
            if (has_default && !store_value(p, entry["default"], scratch, problem)) return false;
        } else {
            if (!has_default) {
                problem = "missing default";
                return false;
            }
            p.default_value = entry["default"];
            ParamValue scratch;
            if (!store_value(p, p.default_value, scratch, problem)) return false;
        }
        if (!read_limit(entry, at, p, where, problem)) return false;
        decl.params.push_back(std::move(p));
    }
    decl.block_size = offset;
    return resolve_read_conditions(decl, where, problem);
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
    std::string text;
    if (!read_json_text(path, text, error)) return false;
    json doc;
    if (!parse_json_document(text, path, doc, error)) return false;
    ShaderDeclaration decl;
    std::string where, problem;
    if (!lay_out(doc, decl, where, problem)) {
        error = path + ": " + where + ": " + problem;
        return false;
    }
    out = std::move(decl);
    return true;
}

bool bounds_render_work(const ParamDecl& p) { return p.has_max; }

}  // namespace vosh::render
