// Every shipped example scene loads and renders a small crop with finite
// values, so a change to the scene format or the shader's parameters cannot
// leave them behind. The re-entry scene finishing at all shows that the
// marker stops the shader from calling itself without end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "render_harness.h"

namespace vosh::render::test {
namespace {

const std::string scenes_dir = std::string(VOSH_SOURCE_DIR) + "/scenes";

std::vector<std::string> example_scenes() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scenes_dir))
        if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ExampleScenes : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleScenes, RenderACropWithFiniteValues) {
    std::ifstream in(scenes_dir + "/" + GetParam() + ".json");
    ASSERT_TRUE(in) << GetParam();
    const nlohmann::json doc = nlohmann::json::parse(in);
    const auto& resolution = doc.at("camera").at("resolution");
    const int w = resolution[0], h = resolution[1];
    RenderSettings settings;
    settings.samples_per_pixel = 1;
    settings.has_region = true;
    settings.region = {w / 2 - 12, h / 2 - 12, w / 2 + 12, h / 2 + 12};
    settings.threads = 2;
    const Image image = render_in_process(doc, settings, scenes_dir);
    ASSERT_EQ(image.rgba.size(), 24u * 24u * 4u);
    std::set<float> reds;
    for (size_t i = 0; i < image.rgba.size(); ++i) ASSERT_TRUE(std::isfinite(image.rgba[i])) << i;
    for (size_t i = 0; i < image.rgba.size(); i += 4) reds.insert(image.rgba[i]);
    EXPECT_GT(reds.size(), 10u) << "a flat crop: is anything in view?";
}

INSTANTIATE_TEST_SUITE_P(Scenes, ExampleScenes, ::testing::ValuesIn(example_scenes()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace vosh::render::test
