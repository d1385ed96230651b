// Parameter values: scene JSON and `--set` text read into typed values of
// a shader declaration's parameters, and the load's check of a shader's
// values against the declared limits. The session lays the values out as
// the module's block (work/param_block.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

// An empty value of `p`, which must be one of decl.params.
ParamValue value_for(const ShaderDeclaration& decl, const ParamDecl& p);

// Reads a JSON value into `out`, a value for `p`. Colours take [r, g, b]
// (alpha 1) or [r, g, b, a], vectors [x, y, z], scalars any number within
// single-precision range, integers whole numbers within int32, booleans
// true/false or an int32 (kept as is: the shader treats non-zero as true).
// Light parameters are refused: the scene loader resolves the light's name
// to its index itself. `error` says what is wrong with the value; the
// caller adds where it came from.
bool read_param_value(const ParamDecl& p, const nlohmann::json& value, ParamValue& out,
                      std::string& error);

// Parses the text of a `--set name=text` override into the JSON value that
// read_param_value takes (a light's text is its name, as a string).
bool parse_set_value(const ParamDecl& p, const std::string& text, nlohmann::json& out,
                     std::string& error);

// Gives the parameter `value.param` its value, replacing the one or the
// connection it had.
void set_param_value(ShaderDesc& shader, const ParamValue& value);

// The declared default of decl.params[index] (zeros for light and unused slots).
ParamValue default_value(const ShaderDeclaration& decl, size_t index);

// What the block will hold for an integer or boolean parameter `p`: the
// value given, or the default where none is or a connection feeds it.
int32_t int32_value(const ShaderDeclaration& decl, const std::vector<ParamValue>& values,
                    const ParamDecl& p);

// Refuses values that would not finish: a parameter with a `max` that the
// shader reads with these switches, holding more than that (read unsigned
// where the shader reads it so, a negative count being a huge one).
bool validate_for_render(const ShaderDeclaration& decl, const std::vector<ParamValue>& values,
                         std::string& error);

// The conversions behind read_param_value, for the declaration's own
// checks: any type but light into `out` (unused slots take only 0), and a
// whole number within int32.
bool store_value(const ParamDecl& p, const nlohmann::json& value, ParamValue& out,
                 std::string& error);
bool json_to_int32(const nlohmann::json& value, int32_t& out, std::string& error);

}  // namespace vosh::render
