// The database records behind the renderer's tags, laid out as the module
// reads them through mi_db_access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/render_state.h"
#include "renderer/host/tags.h"

namespace vosh::render {

// What the module sees as `active_shader`: the record it reads, followed by
// the index that leads the host back to its own data.
struct HostShaderRecord {
    ShaderRecord record;
    uint32_t shader_index;
};

struct MaterialRecord {
    uint32_t kind;
    Tag shader_tag;  // second 32-bit word
    float opacity;
};

struct LightInstanceRecord {
    uint32_t kind;
    Tag item_tag;
    char name[64];
    float local_to_world[16];  // 72 bytes in, row-major
};
static_assert(offsetof(LightInstanceRecord, local_to_world) == 72, "light matrix sits 72 bytes in");

struct LightItemRecord {
    uint32_t kind;
    int32_t positional_kind;  // 0 point, 1 directional
};

}  // namespace vosh::render
