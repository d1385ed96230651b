#include "renderer/scene/shader_declaration.h"
#include "renderer/scene/param_values.h"
#include "renderer/scene/scene_limits.h"
#include "renderer/work/param_block.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "shader/occlusion_params.h"

namespace vosh::render {
namespace {

const std::string shipped_declaration = VOSH_SOURCE_DIR "/renderer/vosh_occlusion.decl.json";

ShaderDeclaration load_shipped() {
    ShaderDeclaration decl;
    std::string error;
    EXPECT_TRUE(load_declaration(shipped_declaration, decl, error)) << error;
    return decl;
}

// The block the session lays out for an occlusion shader given `values`.
std::vector<unsigned char> block_of(const ShaderDeclaration& decl, const std::vector<ParamValue>& values) {
    ShaderDesc desc;
    desc.kind = ShaderKind::occlusion;
    desc.params = values;
    return lay_out_block(decl, desc, {}).bytes;
}

// Gives the named parameter a JSON value, as the scene loader does.
bool give(const ShaderDeclaration& decl, std::vector<ParamValue>& values, const char* name,
          const nlohmann::json& value, std::string& error) {
    ShaderDesc desc;
    desc.params = values;
    ParamValue v = value_for(decl, *decl.find(name));
    if (!read_param_value(*decl.find(name), value, v, error)) return false;
    set_param_value(desc, v);
    values = desc.params;
    return true;
}

// The module's own field list stands for its record (its static checks hold
// the list to the record); the shipped file must lay out the same block.
TEST(ShippedDeclaration, LaysOutEveryFieldAtTheModulesOffset) {
    const ShaderDeclaration decl = load_shipped();
    EXPECT_EQ(decl.name, "vosh_occlusion");
    EXPECT_EQ(decl.version, 1);
    ASSERT_EQ(decl.params.size(), std::size(occlusion_param_fields));
    for (std::size_t i = 0; i < decl.params.size(); ++i) {
        const ParamDecl& p = decl.params[i];
        const ParamField& field = occlusion_param_fields[i];
        SCOPED_TRACE(field.name);
        EXPECT_EQ(p.name, field.name);
        EXPECT_STREQ(param_type_name(p.type), field.type);
        EXPECT_EQ(p.offset, field.offset);
        EXPECT_EQ(p.size, field.size);
    }
    EXPECT_EQ(decl.block_size, sizeof(OcclusionParams));
}

TEST(ShippedDeclaration, DefaultsFillTheModulesRecord) {
    const ShaderDeclaration decl = load_shipped();
    ASSERT_EQ(decl.block_size, sizeof(OcclusionParams));
    const std::vector<unsigned char> block = block_of(decl, {});
    ASSERT_EQ(block.size(), sizeof(OcclusionParams));
    OcclusionParams params;
    std::memcpy(&params, block.data(), sizeof params);

    EXPECT_EQ(params.bright.r, 1.0f);
    EXPECT_EQ(params.bright.a, 1.0f);
    EXPECT_EQ(params.dark.g, 0.0f);
    EXPECT_EQ(params.dark.a, 1.0f);
    EXPECT_EQ(params.sampling, 1);
    EXPECT_EQ(params.samples, 64);
    EXPECT_EQ(params.spread, 90.0f);
    EXPECT_GT(params.far_distance, params.near_distance);
    EXPECT_EQ(params.gamma, 1.0f);  // neutral tone shaping
    EXPECT_EQ(params.bias, 0.5f);
    EXPECT_EQ(params.gain, 0.5f);
    EXPECT_EQ(params.output_space, 1);
    EXPECT_EQ(params.pass_through, 0);
    EXPECT_EQ(params.adaptive, 0);
    EXPECT_EQ(params.unused_60, 0);
    EXPECT_EQ(params.unused_216, 0);
    EXPECT_EQ(params.unused_220, 0);
    EXPECT_EQ(params.light, 0u);
    std::string error;
    EXPECT_TRUE(validate_for_render(decl, {}, error)) << error;
}

TEST(ParamValues, LaidOutAtTheirOffsets) {
    const ShaderDeclaration decl = load_shipped();
    std::vector<ParamValue> values;
    std::string error;
    const auto set = [&](const char* name, const nlohmann::json& value) {
        ASSERT_NE(decl.find(name), nullptr) << name;
        EXPECT_TRUE(give(decl, values, name, value, error)) << name << ": " << error;
    };
    set("bright", {0.25, 0.5, 0.75});
    set("dark", {0.1, 0.2, 0.3, 0.4});
    set("samples", 256);
    set("spread", 45.5);
    set("far_distance", 3);
    set("bias_direction", {0, 0, -1});
    set("adaptive", true);
    set("fg_radii_in_pixels", 256);  // stored as is; the module narrows it
    set("fg_filter", -7.0);
    set("samples", 128);  // a second value replaces the first
    EXPECT_EQ(values.size(), 9u);

    const std::vector<unsigned char> block = block_of(decl, values);
    OcclusionParams params;
    std::memcpy(&params, block.data(), sizeof params);
    EXPECT_EQ(params.bright.r, 0.25f);
    EXPECT_EQ(params.bright.b, 0.75f);
    EXPECT_EQ(params.bright.a, 1.0f);
    EXPECT_EQ(params.dark.r, 0.1f);
    EXPECT_EQ(params.dark.a, 0.4f);
    EXPECT_EQ(params.samples, 128);
    EXPECT_EQ(params.spread, 45.5f);
    EXPECT_EQ(params.far_distance, 3.0f);
    EXPECT_EQ(params.bias_direction.z, -1.0f);
    EXPECT_EQ(params.adaptive, 1);
    EXPECT_EQ(params.fg_radii_in_pixels, 256);
    EXPECT_EQ(params.fg_filter, -7);
    // Neighbours of the written fields keep their defaults.
    EXPECT_EQ(params.pass_through, 0);
    EXPECT_EQ(params.near_distance, 0.0f);
    EXPECT_EQ(params.gamma, 1.0f);
}

TEST(ParamValues, RefusesValuesThatDoNotFitTheType) {
    const ShaderDeclaration decl = load_shipped();
    const struct {
        const char* name;
        nlohmann::json value;
        const char* message_part;
    } cases[] = {
        {"samples", 2.5, "whole number"},
        {"samples", 3000000000LL, "out of range"},
        {"samples", -3000000000LL, "out of range"},
        {"samples", "64", "integer"},
        {"spread", 1e39, "out of range"},
        {"spread", "90", "number"},
        {"bright", {1, 1}, "colour"},
        {"bright", {1, 1, 1, 1, 1}, "colour"},
        {"bright", {1, "x", 1}, "component 1"},
        {"override_normal", {1, 0, 0, 0}, "vector"},
        {"adaptive", "yes", "true or false"},
        {"light", "key_light", "light name"},
        {"unused_60", 0, "reserved"},
    };
    for (const auto& c : cases) {
        std::string error;
        ParamValue v = value_for(decl, *decl.find(c.name));
        EXPECT_FALSE(read_param_value(*decl.find(c.name), c.value, v, error))
            << c.name << " = " << c.value.dump();
        EXPECT_NE(error.find(c.message_part), std::string::npos) << error;
        // A refused value leaves nothing behind.
        EXPECT_EQ(v.integer, 0) << c.name;
        EXPECT_EQ(v.numbers[0], 0.0f) << c.name;
        EXPECT_EQ(v.numbers[3], 1.0f) << c.name;
    }
}

TEST(ParseSetValue, AcceptsTheTextForms) {
    const ShaderDeclaration decl = load_shipped();
    const struct {
        const char* name;
        const char* text;
        nlohmann::json expected;
    } cases[] = {
        {"samples", "256", 256},
        {"samples", "-3", -3},
        {"samples", " 16 ", 16},
        {"spread", "90", 90.0},
        {"spread", "0.5", 0.5},
        {"spread", "-1e-3", -0.001},
        {"bright", "1,0.5,0.2", {1.0, 0.5, 0.2}},
        {"bright", "1, 0.5, 0.2, 0", {1.0, 0.5, 0.2, 0.0}},
        {"bias_direction", "0,1,0", {0.0, 1.0, 0.0}},
        {"adaptive", "true", true},
        {"adaptive", "on", true},
        {"adaptive", "1", true},
        {"adaptive", "OFF", false},
        {"adaptive", "false", false},
        {"adaptive", "0", false},
        {"light", "key_light", "key_light"},
    };
    for (const auto& c : cases) {
        nlohmann::json value;
        std::string error;
        EXPECT_TRUE(parse_set_value(*decl.find(c.name), c.text, value, error))
            << c.name << "=" << c.text << ": " << error;
        EXPECT_EQ(value, c.expected) << c.name << "=" << c.text;
    }
}

TEST(ParseSetValue, RefusesGarbage) {
    const ShaderDeclaration decl = load_shipped();
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"samples", ""},           {"samples", "256x"},       {"samples", "2.5"},
        {"samples", "1e3"},        {"samples", "2147483648"}, {"samples", "-2147483649"},
        {"samples", "99999999999999999999999"},               {"samples", "-"},
        {"spread", "ninety"},      {"spread", "90deg"},       {"spread", "nan"},
        {"spread", "inf"},         {"spread", "1e39"},        {"spread", "1e999"},
        {"bright", "1,1"},         {"bright", "1,1,1,1,1"},   {"bright", "1,,1"},
        {"bright", "1,1,x"},       {"bias_direction", "0,1"}, {"adaptive", "maybe"},
        {"adaptive", "2"},         {"adaptive", ""},          {"light", ""},
        {"unused_216", "0"},
    };
    for (const auto& c : cases) {
        nlohmann::json value;
        std::string error;
        EXPECT_FALSE(parse_set_value(*decl.find(c.name), c.text, value, error))
            << c.name << "=" << c.text << " gave " << value.dump();
        EXPECT_FALSE(error.empty()) << c.name << "=" << c.text;
    }
}

TEST(ParseSetValue, ParsedValuesAreAcceptedByReadParamValue) {
    const ShaderDeclaration decl = load_shipped();
    std::vector<ParamValue> values;
    std::string error;
    nlohmann::json value;
    ASSERT_TRUE(parse_set_value(*decl.find("samples"), "2147483647", value, error)) << error;
    ASSERT_TRUE(give(decl, values, "samples", value, error)) << error;
    ASSERT_TRUE(parse_set_value(*decl.find("dark"), "0.5,0.25,0", value, error)) << error;
    ASSERT_TRUE(give(decl, values, "dark", value, error)) << error;
    const std::vector<unsigned char> block = block_of(decl, values);
    OcclusionParams params;
    std::memcpy(&params, block.data(), sizeof params);
    EXPECT_EQ(params.samples, 2147483647);
    EXPECT_EQ(params.dark.r, 0.5f);
    EXPECT_EQ(params.dark.g, 0.25f);
    EXPECT_EQ(params.dark.a, 1.0f);
}

TEST(ValidateForRender, RefusesSampleCountsThatWouldNotFinish) {
    const ShaderDeclaration decl = load_shipped();
    const auto with = [&](std::initializer_list<std::pair<const char*, nlohmann::json>> given) {
        std::vector<ParamValue> values;
        std::string error;
        for (const auto& [name, value] : given)
            EXPECT_TRUE(give(decl, values, name, value, error)) << error;
        const bool ok = validate_for_render(decl, values, error);
        return std::make_pair(ok, error);
    };
    EXPECT_TRUE(with({{"samples", 1000000}}).first);
    const auto [too_many, message] = with({{"samples", 1000001}});
    EXPECT_FALSE(too_many);
    EXPECT_NE(message.find("would not finish"), std::string::npos) << message;
    EXPECT_NE(message.find("1000000"), std::string::npos) << message;
    // The sampler takes counts unsigned: -1 would be four billion samples.
    EXPECT_FALSE(with({{"samples", -1}}).first);
    // Only the counts in use matter.
    EXPECT_TRUE(with({{"near_samples", 5000000}}).first);
    EXPECT_FALSE(with({{"adaptive", true}, {"near_samples", 5000000}}).first);
    EXPECT_FALSE(with({{"adaptive", true}, {"far_samples", -2}}).first);
    EXPECT_TRUE(with({{"adaptive", true}, {"samples", 5000000}}).first);
}

// A declaration file written for one test and removed afterwards.
struct TempDeclaration {
    std::string path;
    explicit TempDeclaration(const std::string& text)
        : path(testing::TempDir() + "decl_" +
               testing::UnitTest::GetInstance()->current_test_info()->name() + ".json") {
        std::ofstream(path) << text;
    }
    ~TempDeclaration() { std::remove(path.c_str()); }
};

TEST(LoadDeclaration, ReportsFilePathAndProblem) {
    const struct {
        const char* text;
        const char* where;
    } cases[] = {
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "a", "type": "colour", "default": [1,1,1]}]})",
         "/parameters/0/type"},
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "a", "type": "scalar"}]})",
         "/parameters/0/default"},
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "a", "type": "integer", "default": 0.5}]})",
         "/parameters/0/default"},
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "a", "type": "scalar", "default": 1},
                                                        {"name": "a", "type": "scalar", "default": 1}]})",
         "/parameters/1/name"},
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "a=b", "type": "scalar", "default": 1}]})",
         "/parameters/0/name"},
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "a", "type": "scalar", "defualt": 1}]})",
         "/parameters/0/defualt"},
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "l", "type": "light", "default": "sun"}]})",
         "/parameters/0/default"},
        {R"({"shader": "s", "parameters": []})", "/version"},
        {R"({"version": 1, "parameters": []})", "/shader"},
        {R"({"shader": "s", "version": 1, "parameters": {}})", "/parameters"},
        {R"({"shader": "s", "version": 1, "parameters": [}})", "line 1, column 46: malformed JSON"},
        // A repeated key, reported where it appears the second time.
        {R"({"shader": "s", "version": 1, "parameters": [{"name": "a", "type": "scalar", "default": 1,
                                                         "default": 2}]})",
         "line 2, column 58: /parameters/0/default: duplicate key"},
        {"{\"shader\": \"s\", \"version\": 1, \"parameters\": [], \"version\": 2}",
         "line 1, column 49: /version: duplicate key"},
    };
    for (const auto& c : cases) {
        TempDeclaration file(c.text);
        ShaderDeclaration decl;
        std::string error;
        EXPECT_FALSE(load_declaration(file.path, decl, error)) << c.text;
        EXPECT_EQ(error.rfind(file.path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.where), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    ShaderDeclaration decl;
    std::string error;
    // Nesting deep enough to exhaust the stack is refused before parsing.
    TempDeclaration deep("{\"shader\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
    EXPECT_FALSE(load_declaration(deep.path, decl, error));
    EXPECT_NE(error.find("line 1, column 75: nested more than 64 levels deep"), std::string::npos) << error;
    EXPECT_FALSE(load_declaration(testing::TempDir() + "no_such_declaration.json", decl, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST(LoadDeclaration, LaysOutWithoutGaps) {
    TempDeclaration file(R"({"shader": "s", "version": 3, "parameters": [
        {"name": "flag", "type": "boolean", "default": true},
        {"name": "tint", "type": "color", "default": [0.5, 0.5, 0.5]},
        {"name": "dir", "type": "vector", "default": [1, 2, 3]},
        {"name": "pad", "type": "unused"},
        {"name": "sun", "type": "light"}]})");
    ShaderDeclaration decl;
    std::string error;
    ASSERT_TRUE(load_declaration(file.path, decl, error)) << error;
    EXPECT_EQ(decl.version, 3);
    const uint32_t expected_offsets[] = {0, 4, 20, 32, 36};
    ASSERT_EQ(decl.params.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(decl.params[i].offset, expected_offsets[i]);
    EXPECT_EQ(decl.block_size, 40u);
    EXPECT_EQ(decl.find("missing"), nullptr);

    const std::vector<unsigned char> block = block_of(decl, {});
    ASSERT_EQ(block.size(), decl.block_size);
    int32_t flag, pad;
    float tint[4], dir[3];
    uint32_t sun;
    std::memcpy(&flag, block.data() + 0, 4);
    std::memcpy(tint, block.data() + 4, 16);
    std::memcpy(dir, block.data() + 20, 12);
    std::memcpy(&pad, block.data() + 32, 4);
    std::memcpy(&sun, block.data() + 36, 4);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(tint[0], 0.5f);
    EXPECT_EQ(tint[3], 1.0f);
    EXPECT_EQ(dir[2], 3.0f);
    EXPECT_EQ(pad, 0);
    EXPECT_EQ(sun, 0u);
}

TEST(LoadDeclaration, RefusesLimitsThatCannotApply) {
    const auto decl_with = [](const char* params) {
        return std::string(R"({"shader": "s", "version": 1, "parameters": [)") + params + "]}";
    };
    const struct {
        std::string text;
        const char* where;
    } cases[] = {
        {decl_with(R"({"name": "a", "type": "scalar", "default": 1, "max": 5})"), "/parameters/0/max"},
        {decl_with(R"({"name": "n", "type": "integer", "default": 1, "max": -1})"), "/parameters/0/max"},
        {decl_with(R"({"name": "n", "type": "integer", "default": 1, "unsigned": true})"),
         "/parameters/0/unsigned"},
        {decl_with(R"({"name": "n", "type": "integer", "default": 9, "max": 8})"), "/parameters/0/default"},
        {decl_with(R"({"name": "n", "type": "integer", "default": -1, "max": 8, "unsigned": true})"),
         "/parameters/0/default"},
        {decl_with(R"({"name": "n", "type": "integer", "default": 1, "max": 8, "read_when": {"k": true}},
                      {"name": "k", "type": "integer", "default": 0})"),
         "/parameters/0/read_when/k"},
        {decl_with(R"({"name": "n", "type": "integer", "default": 1, "max": 8, "read_when": {"k": 1}},
                      {"name": "k", "type": "boolean", "default": false})"),
         "/parameters/0/read_when/k"},
    };
    for (const auto& c : cases) {
        TempDeclaration file(c.text);
        ShaderDeclaration decl;
        std::string error;
        EXPECT_FALSE(load_declaration(file.path, decl, error)) << c.text;
        EXPECT_NE(error.find(c.where), std::string::npos) << error;
    }
}

// Limits come from the declaration: a switch declared after the count
// decides whether it is read, and signed counts may be negative.
TEST(ValidateForRender, FollowsTheDeclaredLimitsAndSwitches) {
    TempDeclaration file(R"({"shader": "s", "version": 1, "parameters": [
        {"name": "steps", "type": "integer", "default": 4, "max": 10, "max_unit": "steps a walk",
         "read_when": {"walk": true, "fast": false}},
        {"name": "walk", "type": "boolean", "default": true},
        {"name": "fast", "type": "boolean", "default": false}]})");
    ShaderDeclaration decl;
    std::string error;
    ASSERT_TRUE(load_declaration(file.path, decl, error)) << error;
    EXPECT_TRUE(bounds_render_work(*decl.find("steps")));
    EXPECT_FALSE(bounds_render_work(*decl.find("walk")));
    const auto validate = [&](int32_t steps, bool walk, bool fast) {
        std::vector<ParamValue> values;
        std::string problem;
        EXPECT_TRUE(give(decl, values, "steps", steps, problem)) << problem;
        EXPECT_TRUE(give(decl, values, "walk", walk, problem)) << problem;
        EXPECT_TRUE(give(decl, values, "fast", fast, problem)) << problem;
        error.clear();
        return validate_for_render(decl, values, error);
    };
    EXPECT_TRUE(validate(10, true, false));
    EXPECT_FALSE(validate(11, true, false));
    EXPECT_EQ(error, "steps = 11 would not finish (the limit is 10 steps a walk)");
    EXPECT_TRUE(validate(11, false, false));
    EXPECT_TRUE(validate(11, true, true));
    EXPECT_TRUE(validate(-5, true, false));
}

// The host clamps a gather to max_gather_rays, and the module's sampler
// takes sample counts unsigned; the shipped limits must say the same.
TEST(ShippedDeclaration, LimitsMatchTheHostAndTheModule) {
    const ShaderDeclaration decl = load_shipped();
    EXPECT_EQ(decl.find("fg_rays")->max, max_gather_rays);
    EXPECT_FALSE(decl.find("fg_rays")->read_unsigned);
    for (const char* count : {"samples", "near_samples", "far_samples"})
        EXPECT_TRUE(decl.find(count)->read_unsigned) << count;
}

}  // namespace
}  // namespace vosh::render
