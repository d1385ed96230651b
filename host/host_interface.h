// The host operations as the module calls them and as a host exports them
// (C linkage, looked up by these exact names).
#pragma once

#include <cstdint>

#include "host/render_state.h"
#include "host/gather_settings.h"

extern "C" {

int32_t mi_query(int32_t code, vosh::RenderState* state, vosh::Tag tag, void* result, ...);
void* mi_phen_eval(vosh::RenderState* state, void* parameter);
void* mi_mem_int_allocate(const char* file, int32_t line, int32_t size);
void mi_mem_int_release(const char* file, int32_t line, void* block);
void* mi_shaderstate_get(vosh::RenderState* state, const char* key, int32_t* size);
void mi_shaderstate_set(vosh::RenderState* state, const char* key, const void* value,
                        int32_t size, int32_t lifetime);
int32_t mi_sample(double* sample, int32_t* counter, vosh::RenderState* state,
                  uint32_t dimension, const uint32_t* count);
int32_t mi_trace_probe(vosh::RenderState* state, const vosh::Vector* direction,
                       const vosh::Vector* origin);
int32_t mi_trace_transparent(vosh::Color* result, vosh::RenderState* state);
int32_t mi_trace_refraction(vosh::Color* result, vosh::RenderState* state,
                            const vosh::Vector* direction);
int32_t mi_trace_reflection(vosh::Color* result, vosh::RenderState* state,
                            const vosh::Vector* direction);
int32_t mi_trace_environment(vosh::Color* result, vosh::RenderState* state,
                             const vosh::Vector* direction);
int32_t mi_trace_light(vosh::Color* result, vosh::Vector* direction, float* dot_nl,
                       vosh::RenderState* state, vosh::Tag light);
int32_t mi_refraction_dir(vosh::Vector* direction, vosh::RenderState* state, float ior_in,
                          float ior_out);
void mi_reflection_dir(vosh::Vector* direction, vosh::RenderState* state);
int32_t mi_ray_falloff(vosh::RenderState* state, double* start, double* stop);
int32_t mi_compute_avg_radiance(vosh::Color* result, vosh::RenderState* state, char face,
                                const vosh::GatherSettings* settings);
int32_t mi_call_shader_x(vosh::Color* result, int32_t kind, vosh::RenderState* state,
                         vosh::Tag shader, void* arg);
// out may equal in for the four normal transforms and the raster transform.
int32_t mi_normal_to_world(vosh::RenderState* state, vosh::Vector* out, const vosh::Vector* in);
int32_t mi_normal_to_camera(vosh::RenderState* state, vosh::Vector* out, const vosh::Vector* in);
int32_t mi_normal_to_object(vosh::RenderState* state, vosh::Vector* out, const vosh::Vector* in);
int32_t mi_normal_to_light(vosh::RenderState* state, vosh::Vector* out, const vosh::Vector* in);
void mi_point_to_raster(vosh::RenderState* state, vosh::Vector* out, const vosh::Vector* in);
// Row vector times a row-major 4x4 matrix.
void mi_point_transform(vosh::Vector* out, const vosh::Vector* in, const float* matrix);
void* mi_db_access(vosh::Tag tag);
void mi_db_unpin(vosh::Tag tag);
int32_t mi_db_type(vosh::Tag tag);
// The module formats first; the host receives the finished text as its only argument.
void mi_warning(const char* text, ...);

}  // extern "C"
