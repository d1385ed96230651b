#include "occlusion/pass_through.h"

#include "host/host_interface.h"

namespace vosh {

namespace {

// At or above this opacity the surface hides what lies behind it.
constexpr float opaque_from = 0.998f;

// Ray kinds that carry a ray through a surface.
bool crosses_surface(int32_t kind) {
    switch (kind) {
    case ray_kind::transparent:
    case ray_kind::refraction:
    case ray_kind::photon_transmit_specular:
    case ray_kind::photon_transmit_glossy:
    case ray_kind::photon_transmit_diffuse:
        return true;
    default:
        return false;
    }
}

// Continues the ray through the surface into `seen`: straight on when the
// indices match (or ray tracing is off), refracted otherwise, and mirrored
// when the refraction is total internal reflection.
bool continue_ray(Color* seen, RenderState* state) {
    const RenderOptions* options = state->render_options;
    if (!options->ray_tracing_enabled || state->incoming_ior == state->outgoing_ior)
        return mi_trace_transparent(seen, state) != 0;

    Vector direction{0.0f, 0.0f, 0.0f};
    if (mi_refraction_dir(&direction, state, state->incoming_ior, state->outgoing_ior))
        return mi_trace_refraction(seen, state, &direction) != 0;

    // The reflected ray stays in the incoming medium.
    const float saved_outgoing = state->outgoing_ior;
    state->outgoing_ior = state->incoming_ior;
    mi_reflection_dir(&direction, state);
    const bool traced = mi_trace_reflection(seen, state, &direction) != 0;
    state->outgoing_ior = saved_outgoing;
    return traced;
}

// Brings outgoing_ior, incoming_ior and refraction_volume_tag up to date.
void track_refraction_index(RenderState* state, float surface_ior) {
    // Count how often the ray crossed a surface of this very shader on its
    // way here: an odd count means it is inside and now leaving.
    int crossings = 0;
    const RenderState* entry = nullptr;
    for (const RenderState* q = state; q; q = q->parent_state) {
        const RenderState* parent = q->parent_state;
        if (crosses_surface(q->ray_kind) && parent &&
            parent->active_shader == state->active_shader) {
            if (!entry) entry = parent;
            ++crossings;
        }
    }

    if (crossings % 2 == 1) {
        state->outgoing_ior = entry->incoming_ior != 0.0f ? entry->incoming_ior : 1.0f;
        state->incoming_ior = surface_ior;
        state->refraction_volume_tag = entry->volume_tag;
        return;
    }
    const RenderState* parent = state->parent_state;
    state->outgoing_ior = surface_ior;
    state->incoming_ior =
        parent && parent->outgoing_ior != 0.0f ? parent->outgoing_ior : 1.0f;
    if (state->refraction_volume_tag == 0) state->refraction_volume_tag = state->volume_tag;
}

}  // namespace

void pass_through(Color* result, RenderState* state) {
    const float opacity = result->a;
    if (!(opacity < opaque_from)) return;

    track_refraction_index(state, 1.0f);
    Color seen{0.0f, 0.0f, 0.0f, 0.0f};
    if (!continue_ray(&seen, state)) return;

    // The flat colour is not scaled by the opacity: what shows through is added.
    const float transparency = 1.0f - opacity;
    result->r += transparency * seen.r;
    result->g += transparency * seen.g;
    result->b += transparency * seen.b;
    result->a += transparency * seen.a;
}

}  // namespace vosh
