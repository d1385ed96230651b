#include "renderer/scene/scene_loader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "renderer/scene/json_duplicate_keys.h"
#include "renderer/scene/json_fields.h"
#include "renderer/scene/scene_sections.h"

namespace vosh::render {

bool parse_scene(const json& doc, const std::string& file, const std::string& base_dir,
                 const ShaderDeclaration& decl, Scene& out, std::string& error) {
    Scene scene;
    scene.file = file;
    scene.base_dir = base_dir;
    NameIndex shaders, materials;
    std::string problem;
    const bool ok =
        expect_object(doc, "", problem) &&
        only_keys(doc, "",
                  {"camera", "environment", "options", "lights", "shaders", "materials", "objects"},
                  problem) &&
        parse_options(doc, scene, problem) && parse_camera(doc, scene.camera, scene.has_camera, problem) &&
        parse_environment(doc, base_dir, scene.environment, problem) &&
        parse_lights(doc, scene, problem) && parse_shaders(doc, decl, scene, shaders, problem) &&
        parse_materials(doc, shaders, scene, materials, problem) &&
        parse_objects(doc, materials, scene, problem) && check_object_spaces(scene, problem);
    if (!ok) {
        error = file + ": " + problem;
        return false;
    }
    out = std::move(scene);
    return true;
}

namespace {

// Line and column of a byte offset, for messages.
std::string line_and_column(const std::string& text, size_t byte) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Offset of the first bracket nested deeper than max_json_depth, or npos.
// Showing and freeing values recurses per level, so an absurdly deep
// document would overflow the stack long before anything refused it.
size_t too_deep_at(const std::string& text) {
    int depth = 0;
    bool in_string = false, escaped = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > max_json_depth) return i;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return std::string::npos;
}

}  // namespace

bool parse_scene_text(const std::string& text, const std::string& file, const std::string& base_dir,
                      const ShaderDeclaration& decl, Scene& out, std::string& error) {
    if (const size_t at = too_deep_at(text); at != std::string::npos) {
        error = file + ": " + line_and_column(text, at) + ": nested more than " +
                std::to_string(max_json_depth) + " levels deep";
        return false;
    }
    if (std::string problem; !check_no_nul_byte(text, problem)) {
        error = file + ": " + problem;
        return false;
    }
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception& e) {
        // Parse errors carry the byte where parsing stopped; others (a number
        // too large for any type) only the message.
        std::string where;
        if (const auto* p = dynamic_cast<const json::parse_error*>(&e))
            where = line_and_column(text, p->byte > 0 ? p->byte - 1 : 0) + ": ";
        std::string what = e.what();
        const size_t colon = what.rfind(": ");
        if (colon != std::string::npos) what = what.substr(colon + 2);
        const size_t tag_end = what.find("] ");
        if (what.rfind("[json.exception", 0) == 0 && tag_end != std::string::npos)
            what = what.substr(tag_end + 2);
        error = file + ": " + where + "malformed JSON: " + what;
        return false;
    }
    if (std::string problem; !check_no_duplicate_keys(text, problem)) {
        error = file + ": " + problem;
        return false;
    }
    return parse_scene(doc, file, base_dir, decl, out, error);
}

bool load_scene(const std::string& path, const ShaderDeclaration& decl, Scene& out,
                std::string& error) {
    std::string text;
    if (!read_json_text(path, text, error)) return false;
    const size_t slash = path.find_last_of('/');
    const std::string base_dir = slash == std::string::npos ? "" : path.substr(0, slash);
    return parse_scene_text(text, path, base_dir, decl, out, error);
}

}  // namespace vosh::render
