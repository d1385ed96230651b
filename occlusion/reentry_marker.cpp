#include "occlusion/reentry_marker.h"

#include <cstring>

#include "host/host_interface.h"

namespace vosh {

void set_reentry_marker(RenderState* state, int32_t value) {
    mi_shaderstate_set(state, reentry_key, &value, sizeof value, 1);
}

bool take_reentry_marker(RenderState* state) {
    int32_t size = 0;
    const void* value = mi_shaderstate_get(state, reentry_key, &size);
    if (!value) return false;
    int32_t marker;
    std::memcpy(&marker, value, sizeof marker);
    if (marker != 1) return false;
    set_reentry_marker(state, 0);
    return true;
}

}  // namespace vosh
