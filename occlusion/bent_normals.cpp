#include "host/host_interface.h"
#include "occlusion/normalise.h"
#include "occlusion/sample_math.h"
#include "occlusion/shading_modes.h"
#include "shader/read_param.h"

namespace vosh {

namespace {

namespace space {
constexpr int32_t none = 0;
constexpr int32_t world = 1;
constexpr int32_t object = 2;
constexpr int32_t camera = 3;
constexpr int32_t unsupported = 4;
constexpr int32_t raster = 5;
constexpr int32_t raster_per_pixel = 6;
constexpr int32_t light = 7;
}  // namespace space

// Where the bent normal, placed at the shading point, lands on the image,
// relative to the shading point's own raster position.
Vector raster_difference(RenderState* state, const Vector& bent) {
    const Vector& point = state->hit_point;
    const Vector tip{point.x + bent.x, point.y + bent.y, point.z + bent.z};
    Vector from{0.0f, 0.0f, 0.0f};
    Vector to{0.0f, 0.0f, 0.0f};
    mi_point_to_raster(state, &from, &point);
    mi_point_to_raster(state, &to, &tip);
    return Vector{to.x - from.x, to.y - from.y, to.z - from.z};
}

// Scales a raster difference to image fractions; a missing camera or an
// empty image dimension leaves that component as it is.
void per_pixel(RenderState* state, Vector& v) {
    const CameraRecord* camera = state->camera_record;
    if (!camera) return;
    if (camera->image_width != 0) v.x /= static_cast<float>(camera->image_width);
    if (camera->image_height != 0) v.y /= static_cast<float>(camera->image_height);
}

void convert(RenderState* state, int32_t output_space, Vector& bent) {
    switch (output_space) {
        case space::world: mi_normal_to_world(state, &bent, &bent); break;
        case space::object: mi_normal_to_object(state, &bent, &bent); break;
        case space::camera: mi_normal_to_camera(state, &bent, &bent); break;
        case space::unsupported: mi_warning("Cannot transform a normal to that space."); break;
        case space::raster: bent = raster_difference(state, bent); break;
        case space::raster_per_pixel:
            bent = raster_difference(state, bent);
            per_pixel(state, bent);
            break;
        case space::light: mi_normal_to_light(state, &bent, &bent); break;
        default: break;
    }
    if (output_space != space::none) normalise(bent, SumOrder::z_first);
}

}  // namespace

void shade_bent_normals(Color* result, RenderState* state, OcclusionParams* params,
                        const OcclusionInstance& instance, OcclusionFrame& frame) {
    Vector bent{0.0f, 0.0f, 0.0f};
    float hit_sum = 0.0f;

    if (instance.sampling != 0) {
        SampleCone& cone = frame.cone;
        while (next_direction(cone, state)) {
            double distance = 0.0;
            if (!trace_probe(state, cone, &distance)) {
                // Open directions add up as generated, lengths included.
                bent.x += cone.direction.x;
                bent.y += cone.direction.y;
                bent.z += cone.direction.z;
            } else if (instance.occlusion_in_alpha) {
                float weight = static_cast<float>(
                    occlusion_weight(distance, frame.near_distance, frame.far_distance));
                shape_occlusion(weight, instance);
                hit_sum += weight;
            }
        }
    }

    normalise(bent, SumOrder::z_first);
    if (instance.bent_relative) {
        const Vector& normal = state->shading_normal;
        bent.x -= normal.x;
        bent.y -= normal.y;
        bent.z -= normal.z;
    }
    convert(state, instance.output_space, bent);

    const float occlusion = average_over(hit_sum, frame.cone.index);
    if (instance.bent_color_mix) {
        // Written before the colours are read, so shaders connected to them
        // see the bent normal mapped into [0, 1].
        state->shading_normal =
            Vector{(bent.x + 1.0f) * 0.5f, (bent.y + 1.0f) * 0.5f, (bent.z + 1.0f) * 0.5f};
        const Color bright = read_param(state, params->bright);
        const Color dark = read_param(state, params->dark);
        set_rgb(result, mix_colors(bright, dark, occlusion));
    } else {
        result->r = bent.x;
        result->g = bent.y;
        result->b = bent.z;
    }
    result->a = instance.occlusion_in_alpha ? occlusion : 1.0f;
}

}  // namespace vosh
