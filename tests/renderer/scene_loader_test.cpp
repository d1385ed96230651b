// The scene loader in process: what it builds from small scenes (defaults,
// transforms, connections, light tags, labels, overrides) and, for scenes it
// refuses, the exact one-line message with the file and the JSON path.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "render_harness.h"
#include "support/color_checks.h"
#include "support/test_scenes.h"
#include "renderer/host/tags.h"
#include "renderer/scene/scene_loader.h"
#include "renderer/work/param_block.h"

namespace vosh::render::test {
namespace {

using nlohmann::json;
using vosh::test::expect_color_near;

json small_scene() {
    vosh::test::FloorAndSphere shape;
    shape.width = 8;
    shape.height = 6;
    json scene = vosh::test::floor_and_sphere(shape);
    scene["lights"] = {{"key", {{"position", {2, 4, 1}}}},
                       {"sun", {{"direction", {0, -2, 0}}, {"color", {1, 0.5, 0.25}}}}};
    scene["shaders"]["red"] = {{"type", "constant"}, {"params", {{"color", {1, 0, 0}}}}};
    scene["materials"]["glass"] = {{"shader", "red"}, {"opacity", 0.25}};
    scene["objects"][1]["material"] = "glass";
    scene["objects"][1]["label"] = 7;
    return scene;
}

json& occ(json& scene) { return scene["shaders"]["occ"]["params"]; }

Scene load(const json& doc) {
    Scene scene;
    std::string error;
    EXPECT_TRUE(parse_scene(doc, "s.json", "", test_declaration(), scene, error)) << error;
    return scene;
}

std::string refusal(const json& doc) {
    Scene scene;
    std::string error;
    EXPECT_FALSE(parse_scene(doc, "s.json", "", test_declaration(), scene, error));
    return error;
}

// The parameter as the session lays it out in the module's block.
template <class T>
T param(const Scene& scene, const ShaderDesc& shader, const char* name) {
    T value{};
    const ParamDecl* p = test_declaration().find(name);
    const ParamBlock block = lay_out_block(test_declaration(), shader, scene.lights);
    if (!p || p->offset + sizeof value > block.bytes.size()) {
        ADD_FAILURE() << "no parameter " << name;
        return value;
    }
    std::memcpy(&value, block.bytes.data() + p->offset, sizeof value);
    return value;
}

size_t connection_count(const ShaderDesc& shader) {
    size_t n = 0;
    for (const ParamValue& v : shader.params) n += v.connected ? 1 : 0;
    return n;
}

size_t index_of(const Scene& scene, const std::string& shader) {
    for (size_t i = 0; i < scene.shaders.size(); ++i)
        if (scene.shaders[i].name == shader) return i;
    ADD_FAILURE() << "no shader " << shader;
    return 0;
}

size_t light_index(const Scene& scene, const std::string& light) {
    for (size_t i = 0; i < scene.lights.size(); ++i)
        if (scene.lights[i].name == light) return i;
    ADD_FAILURE() << "no light " << light;
    return 0;
}

TEST(SceneLoader, FillsInWhatTheSceneLeavesOut) {
    const Scene s = load({{"camera",
                           {{"type", "perspective"}, {"position", {0, 0, 5}}, {"look_at", {0, 0, 0}},
                            {"resolution", {4, 3}}}},
                          {"shaders", {{"occ", {{"type", "vosh_occlusion"}}}}}});
    EXPECT_EQ(s.options.ray_tracing_enabled, 1);
    EXPECT_EQ(s.options.depth_setting, 2);
    EXPECT_EQ(s.options.facing_default, 'a');
    EXPECT_EQ(s.options.gather_ray_count, 64);
    EXPECT_EQ(s.samples_per_pixel, 1);
    EXPECT_EQ(s.camera.fov_deg, 45);
    EXPECT_EQ(s.camera.up.y, 1);
    expect_color_near(s.environment.color, {1, 1, 1, 1}, 0);
    EXPECT_FALSE(s.environment.has_image);
    ASSERT_EQ(s.shaders.size(), 1u);
    const ShaderDesc& occ = s.shaders[0];
    EXPECT_EQ(occ.kind, ShaderKind::occlusion);
    ASSERT_EQ(lay_out_block(test_declaration(), occ, s.lights).bytes.size(), test_declaration().block_size);
    // The shipped declaration's defaults, as README lists them.
    EXPECT_EQ(param<int32_t>(s, occ, "samples"), 64);
    EXPECT_EQ(param<float>(s, occ, "spread"), 90.0f);
    EXPECT_EQ(param<float>(s, occ, "far_distance"), 2.0f);
    expect_color_near(param<Color>(s, occ, "bright"), {1, 1, 1, 1}, 0);
    expect_color_near(param<Color>(s, occ, "dark"), {0, 0, 0, 1}, 0);
    EXPECT_EQ(param<Tag>(s, occ, "light"), 0u);
    EXPECT_EQ(connection_count(occ), 0u);
}

TEST(SceneLoader, BuildsLightsMaterialsObjectsAndLabels) {
    const Scene s = load(small_scene());
    EXPECT_EQ(s.camera.width_px, 8);
    EXPECT_EQ(s.camera.height_px, 6);
    ASSERT_EQ(s.lights.size(), 2u);
    const LightDesc& key = s.lights[light_index(s, "key")];
    EXPECT_TRUE(key.positional);
    EXPECT_EQ(key.position.y, 4);
    const LightDesc& sun = s.lights[light_index(s, "sun")];
    EXPECT_FALSE(sun.positional);
    EXPECT_EQ(sun.direction.y, -1);  // made unit
    expect_color_near(sun.color, {1, 0.5f, 0.25f, 1}, 0);

    const ShaderDesc& occ = s.shaders[index_of(s, "occ")];
    EXPECT_EQ(param<int32_t>(s, occ, "samples"), 8);
    EXPECT_EQ(param<float>(s, occ, "spread"), 90.0f);  // its neighbours keep their defaults
    const ShaderDesc& red = s.shaders[index_of(s, "red")];
    EXPECT_EQ(red.kind, ShaderKind::constant);
    expect_color_near(red.color, {1, 0, 0, 1}, 0);

    ASSERT_EQ(s.materials.size(), 2u);
    ASSERT_EQ(s.objects.size(), 2u);
    const MaterialDesc& glass = s.materials[s.objects[1].material];
    EXPECT_EQ(glass.name, "glass");
    EXPECT_EQ(glass.opacity, 0.25f);
    EXPECT_EQ(glass.shader, index_of(s, "red"));
    EXPECT_EQ(s.materials[s.objects[0].material].name, "m");

    EXPECT_EQ(s.objects[0].shape, ShapeKind::quad);
    EXPECT_EQ(s.objects[0].json_path, "/objects/0");
    EXPECT_EQ(s.objects[0].label, 1u);  // position in the list, from 1
    EXPECT_EQ(s.objects[1].label, 7u);
    EXPECT_FALSE(s.objects[0].has_transform);
}

struct TransformCase {
    const char* name;
    json transform;
    Vec3 from, to;
};

// Scale, then rotation about x, y and z in turn, then translation; or a
// row-major matrix that row vectors multiply.
const TransformCase transform_cases[] = {
    {"translate", {{"translate", {1, 2, 3}}}, {0, 0, 0}, {1, 2, 3}},
    {"uniform_scale_before_translate", {{"scale", 2}, {"translate", {1, 0, 0}}}, {1, 1, 1}, {3, 2, 2}},
    {"scale_per_axis", {{"scale", {1, 2, 3}}}, {1, 1, 1}, {1, 2, 3}},
    {"quarter_turn_about_y", {{"rotate_deg", {0, 90, 0}}}, {1, 0, 0}, {0, 0, -1}},
    {"x_turn_before_y_turn", {{"rotate_deg", {90, 90, 0}}}, {0, 1, 0}, {1, 0, 0}},
    {"rotate_then_translate", {{"rotate_deg", {90, 0, 0}}, {"translate", {0, 0, 1}}}, {0, 1, 0}, {0, 0, 2}},
    {"row_major_matrix", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1}, {0, 0, 0}, {5, 6, 7}},
};

// A scene that is only baked names its objects and may have no camera.
TEST(SceneLoader, NamedObjectsAndNoCamera) {
    json doc = small_scene();
    doc.erase("camera");
    doc["objects"][1]["name"] = "ball";
    const Scene s = load(doc);
    EXPECT_FALSE(s.has_camera);
    EXPECT_EQ(s.objects[0].name, "");
    EXPECT_EQ(s.objects[1].name, "ball");
    EXPECT_TRUE(load(small_scene()).has_camera);
}

TEST(SceneLoader, TransformsCarryObjectsIntoTheWorld) {
    for (const TransformCase& c : transform_cases) {
        SCOPED_TRACE(c.name);
        json doc = small_scene();
        doc["objects"][1]["transform"] = c.transform;
        const Scene s = load(doc);
        ASSERT_EQ(s.objects.size(), 2u);
        ASSERT_TRUE(s.objects[1].has_transform);
        const Vec3 p = transform_point(s.objects[1].transform, c.from);
        EXPECT_NEAR(p.x, c.to.x, 1e-12);
        EXPECT_NEAR(p.y, c.to.y, 1e-12);
        EXPECT_NEAR(p.z, c.to.z, 1e-12);
    }
}

TEST(SceneLoader, ConnectionsAndLightNamesResolveToTheirTargets) {
    json doc = small_scene();
    occ(doc)["bright"] = {{"shader", "red"}};
    occ(doc)["use_light"] = true;
    occ(doc)["light"] = "sun";
    const Scene s = load(doc);
    const ShaderDesc& shader = s.shaders[index_of(s, "occ")];
    ASSERT_EQ(connection_count(shader), 1u);
    const ParamValue* c = nullptr;
    for (const ParamValue& v : shader.params)
        if (v.connected) c = &v;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->name, "bright");
    EXPECT_EQ(test_declaration().params[c->param].name, "bright");
    const ParamBlock block = lay_out_block(test_declaration(), shader, s.lights);
    EXPECT_EQ(block.connected[test_declaration().find("bright")->offset], static_cast<int32_t>(c->shader));
    EXPECT_EQ(block.light, static_cast<int32_t>(light_index(s, "sun")));
    EXPECT_EQ(s.shaders[c->shader].name, "red");
    EXPECT_EQ(c->json_path, "/shaders/occ/params/bright");
    // The marker one aligned block-length past the connected parameter.
    EXPECT_EQ(block.marker_offset, (test_declaration().block_size + 15u) & ~15u);
    int32_t marker = 0;
    std::memcpy(&marker, block.bytes.data() + test_declaration().find("bright")->offset + block.marker_offset,
                sizeof marker);
    EXPECT_EQ(marker, 1);
    EXPECT_EQ(param<Tag>(s, shader, "light"), make_tag(TagKind::light_instance, light_index(s, "sun")));
    EXPECT_EQ(param<int32_t>(s, shader, "use_light"), 1);
}

TEST(SceneLoader, OverridesReplaceValuesAndConnections) {
    json doc = small_scene();
    doc["shaders"]["second"] = {{"type", "vosh_occlusion"}, {"params", {{"light", "sun"}}}};
    occ(doc)["bright"] = {{"shader", "red"}};
    Scene s = load(doc);
    std::string error;
    ASSERT_TRUE(apply_overrides({"samples=32", "bright=0.5,0.25,0", "light=key"}, test_declaration(), s,
                                error))
        << error;
    for (const char* name : {"occ", "second"}) {
        SCOPED_TRACE(name);
        const ShaderDesc& shader = s.shaders[index_of(s, name)];
        EXPECT_EQ(param<int32_t>(s, shader, "samples"), 32);
        expect_color_near(param<Color>(s, shader, "bright"), {0.5f, 0.25f, 0, 1}, 0);
        EXPECT_EQ(param<Tag>(s, shader, "light"), make_tag(TagKind::light_instance, light_index(s, "key")));
        EXPECT_EQ(connection_count(shader), 0u);
    }
    expect_color_near(s.shaders[index_of(s, "red")].color, {1, 0, 0, 1}, 0);
}

using Spoil = std::function<void(json&)>;

struct Refusal {
    const char* name;
    Spoil spoil;
    const char* error;
};

const Refusal refusals[] = {
    {"document_not_an_object", [](json& s) { s = json::array(); },
     "s.json: /: expected an object, got []"},
    {"unknown_section", [](json& s) { s["camras"] = 1; },
     "s.json: /camras: unknown key \"camras\" (expected one of: camera, environment, options, lights, "
     "shaders, materials, objects)"},
    {"name_repeated",
     [](json& s) {
         s["objects"][0]["name"] = "floor";
         s["objects"][1]["name"] = "floor";
     },
     "s.json: /objects/1/name: \"floor\" already names /objects/0"},
    {"name_empty", [](json& s) { s["objects"][1]["name"] = ""; }, "s.json: /objects/1/name: must not be empty"},
    {"camera_type_unknown", [](json& s) { s["camera"]["type"] = "fisheye"; },
     "s.json: /camera/type: unknown camera type \"fisheye\" (expected perspective or orthographic)"},
    {"perspective_camera_with_width", [](json& s) { s["camera"]["width"] = 2; },
     "s.json: /camera/width: unknown key \"width\" (expected one of: type, position, look_at, up, "
     "fov_deg, resolution)"},
    {"fov_a_half_turn", [](json& s) { s["camera"]["fov_deg"] = 180; },
     "s.json: /camera/fov_deg: must lie strictly between 0 and 180"},
    {"resolution_fractional", [](json& s) { s["camera"]["resolution"][0] = 8.5; },
     "s.json: /camera/resolution/0: expected a whole number of pixels, got 8.5"},
    {"up_along_the_view", [](json& s) { s["camera"]["up"] = {0, 1, 2}; },
     "s.json: /camera/up: is zero or parallel to the viewing direction"},
    {"facing_unknown", [](json& s) { s["options"] = {{"facing", "x"}}; },
     "s.json: /options/facing: expected \"f\", \"b\" or \"a\", got \"x\""},
    {"spp_zero", [](json& s) { s["options"] = {{"spp", 0}}; },
     "s.json: /options/spp: 0 is out of range [1, 65536]"},
    {"light_point_and_directional", [](json& s) { s["lights"]["key"]["direction"] = {0, -1, 0}; },
     "s.json: /lights/key: a light has either \"position\" (point) or \"direction\" (directional)"},
    {"light_name_escaped_in_path",
     [](json& s) { s["lights"]["a/b"] = {{"position", {0, 1, 0}}, {"color", "red"}}; },
     "s.json: /lights/a~1b/color: expected an array of 3 or 4 numbers, got \"red\""},
    {"parameter_unknown", [](json& s) { occ(s)["sampels"] = 3; },
     "s.json: /shaders/occ/params/sampels: unknown parameter \"sampels\" of vosh_occlusion"},
    {"parameter_of_the_wrong_type", [](json& s) { occ(s)["samples"] = "many"; },
     "s.json: /shaders/occ/params/samples: expects an integer, got \"many\""},
    {"colour_component_not_a_number", [](json& s) { occ(s)["dark"] = {0, "x", 0}; },
     "s.json: /shaders/occ/params/dark: component 1: expects a number, got \"x\""},
    {"sample_count_connected", [](json& s) { occ(s)["samples"] = {{"shader", "red"}}; },
     "s.json: /shaders/occ/params/samples: a sample count takes a number, not a connection (it is "
     "checked before the render starts)"},
    {"connection_to_nothing", [](json& s) { occ(s)["bright"] = {{"shader", "blue"}}; },
     "s.json: /shaders/occ/params/bright/shader: no shader named \"blue\""},
    {"connection_loop",
     [](json& s) {
         s["shaders"]["a"] = {{"type", "vosh_occlusion"}, {"params", {{"bright", {{"shader", "b"}}}}}};
         s["shaders"]["b"] = {{"type", "vosh_occlusion"}, {"params", {{"dark", {{"shader", "a"}}}}}};
     },
     "s.json: /shaders/b/params/dark: connection to \"a\" closes a loop of connected shaders"},
    {"light_unknown", [](json& s) { occ(s)["light"] = "moon"; },
     "s.json: /shaders/occ/params/light: no light named \"moon\""},
    {"samples_beyond_the_render_limit", [](json& s) { occ(s)["samples"] = 2000000; },
     "s.json: /shaders/occ/params: samples = 2000000 would not finish (the limit is 1000000)"},
    {"shader_type_unknown", [](json& s) { s["shaders"]["red"]["type"] = "phong"; },
     "s.json: /shaders/red/type: unknown shader type \"phong\" (expected vosh_occlusion, constant, "
     "checker, normal_color or texture)"},
    {"material_without_its_shader", [](json& s) { s["materials"]["m"]["shader"] = "nope"; },
     "s.json: /materials/m/shader: no shader named \"nope\""},
    {"opacity_above_one", [](json& s) { s["materials"]["glass"]["opacity"] = 1.5; },
     "s.json: /materials/glass/opacity: must lie in [0, 1]"},
    {"shape_unknown", [](json& s) { s["objects"][1]["shape"] = "cube"; },
     "s.json: /objects/1/shape: unknown shape \"cube\" (expected sphere, quad, disk or mesh)"},
    {"quad_edges_parallel", [](json& s) { s["objects"][0]["edge2"] = {0, 0, -2}; },
     "s.json: /objects/0/edge2: is zero or parallel to edge1"},
    {"object_without_material", [](json& s) { s["objects"][1].erase("material"); },
     "s.json: /objects/1/material: missing"},
    {"transform_flat", [](json& s) { s["objects"][1]["transform"] = {{"scale", {1, 0, 1}}}; },
     "s.json: /objects/1/transform: is not invertible"},
    {"transform_not_affine",
     [](json& s) { s["objects"][1]["transform"] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1}; },
     "s.json: /objects/1/transform: the last column must be 0, 0, 0, 1 (an affine transform)"},
    {"object_out_of_range", [](json& s) { s["objects"][1]["center"] = {2e12, 0, 0}; },
     "s.json: /objects/1: reaches 2e+12 units from the origin; scenes must lie within +-1e+12"},
    {"transform_shrinks_beyond_range", [](json& s) { s["objects"][1]["transform"] = {{"scale", 1e-17}}; },
     "s.json: /objects/1/transform: shrinks the object so far that the scene reaches 4e+17 units in "
     "the object's own space; at most 1e+16"},
    {"label_negative", [](json& s) { s["objects"][1]["label"] = -1; },
     "s.json: /objects/1/label: -1 is out of range [0, 4294967295]"},
    {"smooth_offset_not_boolean",
     [](json& s) {
         s["objects"][1] = {{"shape", "mesh"}, {"file", "ball.obj"}, {"material", "m"}, {"smooth_offset", 0}};
     },
     "s.json: /objects/1/smooth_offset: expected true or false, got 0"},
    {"smooth_offset_on_a_sphere", [](json& s) { s["objects"][1]["smooth_offset"] = false; },
     "s.json: /objects/1/smooth_offset: unknown key \"smooth_offset\" (expected one of: shape, center, "
     "radius, material, transform, label, name)"},
};

TEST(SceneLoader, RefusesWithOneLineNamingFileAndPath) {
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        json doc = small_scene();
        r.spoil(doc);
        EXPECT_EQ(refusal(doc), r.error);
    }
}

struct TextRefusal {
    const char* name;
    std::string text;
    const char* error_start;
};

TEST(SceneLoader, RefusesBrokenTextWithLineAndColumn) {
    const TextRefusal cases[] = {
        {"syntax", "{\n  \"camera\": }", "s.json: line 2, column 13: malformed JSON: "},
        {"truncated", "{\"camera\": [1,", "s.json: line 1, column 15: malformed JSON: "},
        {"nested_too_deep", std::string(65, '['),
         "s.json: line 1, column 65: nested more than 64 levels deep"},
    };
    for (const TextRefusal& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        std::string error;
        EXPECT_FALSE(parse_scene_text(c.text, "s.json", "", test_declaration(), scene, error));
        EXPECT_EQ(error.rfind(c.error_start, 0), 0u) << error;
        // The parser's own exception tag is not part of the message.
        EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    Scene scene;
    std::string error;
    EXPECT_FALSE(load_scene("/nonexistent/s.json", test_declaration(), scene, error));
    EXPECT_EQ(error, "/nonexistent/s.json: cannot open: No such file or directory");
}

TEST(SceneLoader, RefusesOverridesWithTheAssignmentQuoted) {
    const struct {
        const char* assignment;
        const char* error;
    } cases[] = {
        {"samples", "--set samples: expected NAME=VALUE"},
        {"=3", "--set =3: expected NAME=VALUE"},
        {"sampels=3", "--set sampels=3: unknown parameter \"sampels\" of vosh_occlusion"},
        {"light=moon", "--set light=moon: no light named \"moon\" in s.json"},
        {"samples=2000000", "--set: samples = 2000000 would not finish (the limit is 1000000)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.assignment);
        Scene s = load(small_scene());
        std::string error;
        EXPECT_FALSE(apply_overrides({c.assignment}, test_declaration(), s, error));
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace vosh::render::test
