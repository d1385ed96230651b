// A shader's declaration: its parameters in block order, read from the JSON
// data file shipped next to the module. The renderer lays out each
// instance's parameter block from it; param_values.h fills the block from
// scene values, `--set` overrides and the declared defaults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vosh::render {

enum class ParamType { color, vector, scalar, integer, boolean, light, unused };

// One switch the shader looks at before it reads a parameter.
struct ReadCondition {
    std::string flag;  // a boolean parameter
    uint32_t flag_offset = 0;
    bool on = true;  // the value the switch must have
};

struct ParamDecl {
    std::string name;
    ParamType type;
    uint32_t offset;
    uint32_t size;
    nlohmann::json default_value;  // null for light and unused slots

    // A count that bounds the work of a render (integers only). The render
    // refuses a value above `max` when every read_when condition holds, so
    // such a parameter takes a plain value, never a connection.
    bool has_max = false;
    int64_t max = 0;
    bool read_unsigned = false;  // the shader reads it unsigned: a negative count is huge
    std::string max_unit;        // follows the limit in messages ("rays per gather")
    std::vector<ReadCondition> read_when;
};

struct ShaderDeclaration {
    std::string name;
    int version = 0;
    std::vector<ParamDecl> params;
    uint32_t block_size = 0;

    const ParamDecl* find(std::string_view name) const;
};

// Name as written in declarations ("color", "vector", ...).
const char* param_type_name(ParamType type);

// Byte width in the block: colour 16, vector 12, everything else 4.
uint32_t param_type_size(ParamType type);

// Reads the declaration and lays the parameters out in order with no gaps.
// On failure `error` is one line: "<file>: <json path>: <problem>".
bool load_declaration(const std::string& path, ShaderDeclaration& out, std::string& error);

// Whether the parameter bounds the work of a render (it has a `max`).
bool bounds_render_work(const ParamDecl& p);

}  // namespace vosh::render
