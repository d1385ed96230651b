// A scene as loaded from its JSON file: everything the renderer needs,
// validated, with names resolved to indices and meshes read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/render_state.h"
#include "renderer/image/image_io.h"
#include "renderer/math/math3.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {

struct CameraDesc {
    bool orthographic = false;
    Vec3 position{0, 0, 5};
    Vec3 look_at{0, 0, 0};
    Vec3 up{0, 1, 0};
    double fov_deg = 45;  // vertical, perspective only
    double width = 2;     // scene units across the image, orthographic only
    int width_px = 640;
    int height_px = 480;
};

struct EnvironmentDesc {
    Color color{1, 1, 1, 1};
    bool has_image = false;
    Image image;  // latitude-longitude, +y up
};

struct LightDesc {
    std::string name;
    bool positional = true;  // point light; otherwise directional
    Vec3 position;
    Vec3 direction{0, -1, 0};  // direction the light travels (directional)
    Color color{1, 1, 1, 1};
};

enum class ShaderKind { occlusion, constant, checker, normal_color, texture };

// A value the scene or `--set` gave one parameter of an occlusion shader,
// kept typed until the session lays out the module's parameter block. A
// parameter without one takes the declaration's default there.
struct ParamValue {
    std::string name;    // the declared parameter's
    uint32_t param = 0;  // its index in the declaration
    ParamType type = ParamType::scalar;
    // Fed by scene.shaders[shader] instead of a value; the block keeps the
    // default under the connection. `json_path` says where it was made.
    bool connected = false;
    size_t shader = 0;
    std::string json_path;
    float numbers[4] = {0, 0, 0, 1};  // colour rgba, vector xyz, scalar in [0]
    int32_t integer = 0;  // integer; boolean as given (the shader takes non-zero as true)
    size_t light = 0;     // light: index into Scene::lights
};

struct ShaderDesc {
    std::string name;
    ShaderKind kind = ShaderKind::constant;
    std::string json_path;
    // occlusion: the values given, at most one per parameter, in the order given
    std::vector<ParamValue> params;
    // constant: color; checker: color, color2, scale; normal_color: nothing
    Color color{1, 1, 1, 1};
    Color color2{0, 0, 0, 1};
    double scale = 1;
    // texture: the file as given and its image, colour linear
    std::string file;
    Image image;
};

struct MaterialDesc {
    std::string name;
    size_t shader = 0;
    float opacity = 1;
};

enum class ShapeKind { sphere, quad, disk, mesh };

// What a bake from a high-poly model makes of an object: a source (the
// high-poly surface projected onto the target), the target (the low-poly
// whose UV layout is baked) or the target's cage. Targets and cages never
// occlude: they stand for the surface the sources describe.
enum class BakeRole : uint8_t { none, source, target, cage };

struct MeshData {
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;  // per vertex, empty when the file has none
    std::vector<Vec3> uvs;      // per vertex, empty when the file has none
    // Per vertex, for UV set 0, empty when the file has none: the tangent
    // along +u and the handedness (bitangent = sign * normal x tangent).
    std::vector<Vec3> tangents;
    std::vector<double> tangent_signs;
    // Further UV sets (1, 2, ...) that every part of the file has, per vertex.
    std::vector<std::vector<Vec3>> extra_uvs;
    std::vector<uint32_t> indices;  // three per triangle
};

struct ObjectDesc {
    std::string name;  // optional, unique in the scene
    ShapeKind shape = ShapeKind::sphere;
    std::string json_path;
    Vec3 center;       // sphere, disk
    double radius = 1; // sphere, disk
    Vec3 normal{0, 1, 0};  // disk
    Vec3 corner, edge1{1, 0, 0}, edge2{0, 0, 1};  // quad
    std::string file;  // mesh
    MeshData mesh;
    size_t material = 0;
    bool has_transform = false;
    Mat4 transform;  // object to world
    uint32_t label = 0;
    bool smooth_offset = true;  // mesh: rays leave from the smooth surface the vertex normals imply
    BakeRole bake_role = BakeRole::none;
};

struct Scene {
    std::string file;      // as given, for messages
    std::string base_dir;  // relative paths in the scene start here
    bool has_camera = true;  // a scene that is only baked may have none
    CameraDesc camera;
    EnvironmentDesc environment;
    RenderOptions options{};
    int samples_per_pixel = 1;
    double noise_threshold = 0;  // adaptive sampling's; 0: off
    std::vector<LightDesc> lights;
    std::vector<ShaderDesc> shaders;
    std::vector<MaterialDesc> materials;
    std::vector<ObjectDesc> objects;
};

}  // namespace vosh::render
