#include "renderer/work/param_block.h"

#include <cstring>

#include "renderer/host/tags.h"
#include "renderer/scene/param_values.h"

namespace vosh::render {

namespace {

void write_value(const ParamDecl& p, const ParamValue& v, unsigned char* slot) {
    switch (p.type) {
        case ParamType::color: std::memcpy(slot, v.numbers, 16); return;
        case ParamType::vector: std::memcpy(slot, v.numbers, 12); return;
        case ParamType::scalar: std::memcpy(slot, v.numbers, 4); return;
        case ParamType::integer:
        case ParamType::boolean:
        case ParamType::unused: std::memcpy(slot, &v.integer, sizeof v.integer); return;
        case ParamType::light: {
            const Tag tag = make_tag(TagKind::light_instance, v.light);
            std::memcpy(slot, &tag, sizeof tag);
            return;
        }
    }
}

bool fits(const ShaderDeclaration& decl, const ParamValue& v) {
    return v.param < decl.params.size() && decl.params[v.param].type == v.type;
}

}  // namespace

ParamBlock lay_out_block(const ShaderDeclaration& decl, const ShaderDesc& desc,
                         const std::vector<LightDesc>& lights) {
    ParamBlock block;
    bool any_connected = false;
    for (const ParamValue& v : desc.params) any_connected = any_connected || (v.connected && fits(decl, v));
    // Markers sit one aligned block-length past their parameters.
    block.marker_offset = any_connected ? (decl.block_size + 15u) & ~15u : 0;
    block.bytes.assign(decl.block_size + block.marker_offset, 0);
    block.connected.assign(decl.block_size, -1);
    for (size_t i = 0; i < decl.params.size(); ++i)
        if (decl.params[i].type != ParamType::light)
            write_value(decl.params[i], default_value(decl, i), block.bytes.data() + decl.params[i].offset);
    for (const ParamValue& v : desc.params) {
        if (!fits(decl, v)) continue;
        const ParamDecl& p = decl.params[v.param];
        if (v.connected) {
            const int32_t marker = 1;
            std::memcpy(block.bytes.data() + p.offset + block.marker_offset, &marker, sizeof marker);
            block.connected[p.offset] = static_cast<int32_t>(v.shader);
            continue;
        }
        if (p.type == ParamType::light) {
            if (v.light >= lights.size()) continue;
            if (p.name == "light") block.light = static_cast<int32_t>(v.light);
        }
        write_value(p, v, block.bytes.data() + p.offset);
    }
    return block;
}

}  // namespace vosh::render
