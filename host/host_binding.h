// Run-time binding of the host's operations: the host hands over its module
// handle, and each operation is looked up by name at its first call.
#pragma once

#include <cstddef>

namespace vosh {

// One slot per host entry point the binding knows of; the module uses 28.
constexpr std::size_t host_entry_count = 634;

namespace host_slot {
constexpr std::size_t compute_avg_radiance = 65;
constexpr std::size_t ray_falloff = 73;
constexpr std::size_t trace_reflection = 86;
constexpr std::size_t trace_refraction = 87;
constexpr std::size_t trace_transparent = 88;
constexpr std::size_t trace_environment = 89;
constexpr std::size_t trace_probe = 90;
constexpr std::size_t sample = 95;
constexpr std::size_t trace_light = 105;
constexpr std::size_t phen_eval = 114;
constexpr std::size_t call_shader_x = 123;
constexpr std::size_t mem_int_allocate = 160;
constexpr std::size_t mem_int_release = 163;
constexpr std::size_t shaderstate_set = 211;
constexpr std::size_t shaderstate_get = 212;
constexpr std::size_t reflection_dir = 230;
constexpr std::size_t refraction_dir = 231;
constexpr std::size_t query = 249;
constexpr std::size_t point_to_raster = 260;
constexpr std::size_t normal_to_world = 273;
constexpr std::size_t normal_to_camera = 274;
constexpr std::size_t normal_to_object = 275;
constexpr std::size_t normal_to_light = 276;
constexpr std::size_t point_transform = 313;
constexpr std::size_t warning = 325;
constexpr std::size_t db_access = 404;
constexpr std::size_t db_type = 405;
constexpr std::size_t db_unpin = 409;
}  // namespace host_slot

// Address of the host entry point `name`, kept in slot `slot` once found.
// Never returns null: a host that lacks the operation ends the process,
// because no caller has a way to go on without it.
void* resolve_host_entry(std::size_t slot, const char* name);

}  // namespace vosh
