// One shader instance of the scene as the host runs it: its database
// record, and for an occlusion instance the parameter block the module reads.
#pragma once

#include <cstdint>
#include <vector>

#include "renderer/host/db_records.h"
#include "renderer/scene/scene.h"

namespace vosh::render {

struct ShaderRuntime {
    HostShaderRecord host_record{};
    ShaderKind kind = ShaderKind::constant;
    const ShaderDesc* desc = nullptr;
    // occlusion: the block followed, connection_offset bytes on, by the
    // connection markers; connected[offset] is the feeding shader or -1.
    std::vector<unsigned char> buffer;
    std::vector<int32_t> connected;
    int32_t light = -1;  // scene light named by the block's light parameter
    void* user_slot = nullptr;
};

}  // namespace vosh::render
