// The module's parameter block of one occlusion shader, laid out from the
// scene's typed values when a session opens: the declaration's defaults,
// the values given, light tags, and one marker per connected parameter.
#pragma once

#include <cstdint>
#include <vector>

#include "renderer/scene/scene.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

struct ParamBlock {
    // The parameters in the declaration's layout, then, when any is
    // connected, a block of markers from marker_offset: 1 under each
    // connected parameter.
    std::vector<unsigned char> bytes;
    uint32_t marker_offset = 0;  // 0 when nothing is connected
    std::vector<int32_t> connected;  // per parameter byte: the feeding shader, or -1
    int32_t light = -1;  // the scene light the "light" parameter names, or -1
};

// Values whose parameter the declaration does not have at that index and
// type, and lights beyond `lights`, are left out (the defaults stay).
ParamBlock lay_out_block(const ShaderDeclaration& decl, const ShaderDesc& desc,
                         const std::vector<LightDesc>& lights);

}  // namespace vosh::render
