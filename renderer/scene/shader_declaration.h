// A shader's declaration: its parameters in block order, read from the JSON
// data file shipped next to the module. The renderer lays out each
// instance's parameter block from it and fills the block from scene values,
// `--set` overrides and the declared defaults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vosh::render {

enum class ParamType { color, vector, scalar, integer, boolean, light, unused };

struct ParamDecl {
    std::string name;
    ParamType type;
    uint32_t offset;
    uint32_t size;
    nlohmann::json default_value;  // null for light and unused slots
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

// Fills a block of decl.block_size bytes with the declared defaults; light
// and unused slots become 0.
void write_defaults(const ShaderDeclaration& decl, unsigned char* block);

// Stores a JSON value into the parameter's slot. Colours take [r, g, b]
// (alpha 1) or [r, g, b, a], vectors [x, y, z], scalars any number within
// single-precision range, integers whole numbers within int32, booleans
// true/false or an int32 (stored as is: the shader treats non-zero as true).
// Light parameters are refused: the scene loader resolves the light's name
// to a tag and stores the tag itself. `error` says what is wrong with the
// value; the caller adds where it came from.
bool write_param(const ParamDecl& p, const nlohmann::json& value, unsigned char* block,
                 std::string& error);

// Parses the text of a `--set name=text` override into the JSON value that
// write_param takes (a light's text is its name, as a string).
bool parse_set_value(const ParamDecl& p, const std::string& text, nlohmann::json& out,
                     std::string& error);

// Sample counts above this would keep a render busy for days.
constexpr uint32_t max_render_samples = 1000000;
// The most rays one final-gather lookup traces.
constexpr int32_t max_gather_rays = 65536;

// Refuses a filled block that would not finish: a sample count in use above
// max_render_samples (counts are unsigned to the sampler, so a negative
// count is a huge one), or a final-gather ray count in use above
// max_gather_rays.
// The sample and ray counts validate_for_render checks: they bound the work
// of a render, so they must be plain values rather than connections.
bool bounds_render_work(std::string_view name);

bool validate_for_render(const ShaderDeclaration& decl, const unsigned char* block,
                         std::string& error);

}  // namespace vosh::render
