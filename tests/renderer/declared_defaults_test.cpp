// The module's test and benchmark hosts read the declaration's defaults
// without the renderer; they must fill the block exactly as the renderer does.
#include "tests/support/declared_defaults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "renderer/scene/param_values.h"
#include "renderer/scene/shader_declaration.h"

namespace vosh::render {
namespace {

const std::string shipped_declaration = VOSH_SOURCE_DIR "/renderer/vosh_occlusion.decl.json";

TEST(DeclaredDefaults, FillTheBlockAsTheRendererDoes) {
    ShaderDeclaration decl;
    std::string error;
    ASSERT_TRUE(load_declaration(shipped_declaration, decl, error)) << error;
    std::vector<unsigned char> renderer(decl.block_size, 0xAB), reader(decl.block_size, 0xCD);
    write_defaults(decl, renderer.data());
    ASSERT_TRUE(test::read_declared_defaults(shipped_declaration, reader.data(), reader.size(), error))
        << error;
    for (std::size_t i = 0; i < decl.block_size; ++i) EXPECT_EQ(reader[i], renderer[i]) << "byte " << i;

    EXPECT_FALSE(test::read_declared_defaults(shipped_declaration, reader.data(), reader.size() - 4, error));
    EXPECT_NE(error.find("lays out 228 bytes, not 224"), std::string::npos) << error;
}

}  // namespace
}  // namespace vosh::render
