// What a ray that leaves the scene sees: a constant colour or a
// latitude-longitude image: +y up at the top row, the centre column looking
// along -z and the column at three quarters along +x.
#pragma once

#include "host/render_state.h"
#include "renderer/math/math3.h"
#include "renderer/scene/scene.h"

namespace vosh::render {

// Colour seen along `direction` (any length but zero).
Color environment_lookup(const EnvironmentDesc& env, Vec3 direction);

}  // namespace vosh::render
