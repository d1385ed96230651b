// Database tags of the renderer: the kind of record in the high bits, the
// index within the scene's list of that kind in the low bits. Fixed at load
// time, so the loader can write light tags into parameter blocks directly,
// and decoded without a lock while rendering.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/render_state.h"

namespace vosh::render {

enum class TagKind : uint32_t {
    none = 0,
    shader = 1,
    material = 2,
    light_instance = 3,
    light_item = 4,
};

constexpr uint32_t tag_index_bits = 24;
constexpr uint32_t max_tagged_items = 1u << tag_index_bits;

inline Tag make_tag(TagKind kind, size_t index) {
    return (static_cast<uint32_t>(kind) << tag_index_bits) | static_cast<uint32_t>(index);
}
inline TagKind tag_kind(Tag tag) { return static_cast<TagKind>(tag >> tag_index_bits); }
inline size_t tag_index(Tag tag) { return tag & (max_tagged_items - 1); }

// Type codes that mi_db_type answers; mi_call_shader_x expects the shader's.
namespace db_type {
constexpr int32_t none = -1;
constexpr int32_t shader = 4;
constexpr int32_t material = 5;
constexpr int32_t light_instance = 6;
constexpr int32_t light_item = 7;
}  // namespace db_type

}  // namespace vosh::render
