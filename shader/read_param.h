// The one rule by which every parameter of the block is read.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/host_interface.h"
#include "host/render_state.h"

namespace vosh {

// Connection rule: a parameter whose marker (connection_offset bytes past it)
// is non-zero is fetched through mi_phen_eval, anything else is read in place.
// Decided afresh at every read, because a connected shader may change its
// answer from one call to the next.
template <class T>
T read_param(RenderState* state, const T& field) {
    const char* address = reinterpret_cast<const char*>(&field);
    T value;
    const int32_t offset = state->active_shader ? state->active_shader->connection_offset : 0;
    if (offset != 0) {
        int32_t marker;
        std::memcpy(&marker, address + offset, sizeof marker);
        if (marker != 0) {
            const void* evaluated = mi_phen_eval(state, const_cast<char*>(address));
            // A host that answers null gets the stored value rather than a crash.
            std::memcpy(&value, evaluated ? evaluated : address, sizeof value);
            return value;
        }
    }
    std::memcpy(&value, address, sizeof value);
    return value;
}

}  // namespace vosh
