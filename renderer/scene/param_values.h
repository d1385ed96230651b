// Parameter values: scene JSON and `--set` text stored into a parameter
// block laid out by a shader declaration, and the render's check of a
// filled block against the declared limits.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

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

// Refuses a filled block that would not finish: a parameter with a `max`
// that the shader reads with this block's switches, holding more than that
// (read unsigned where the shader reads it so, a negative count being a
// huge one).
bool validate_for_render(const ShaderDeclaration& decl, const unsigned char* block,
                         std::string& error);

// The conversions behind write_param, for the declaration's own checks:
// any type but light into `slot` (unused slots take only 0), and a whole
// number within int32.
bool store_value(const ParamDecl& p, const nlohmann::json& value, unsigned char* slot,
                 std::string& error);
bool json_to_int32(const nlohmann::json& value, int32_t& out, std::string& error);

}  // namespace vosh::render
