// The module's test and benchmark hosts read the declaration's defaults
// without the renderer; they must fill the block exactly as the renderer does.
#include "tests/support/declared_defaults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "renderer/scene/shader_declaration.h"
#include "renderer/work/param_block.h"

namespace vosh::render {
namespace {

const std::string shipped_declaration = VOSH_SOURCE_DIR "/renderer/vosh_occlusion.decl.json";

TEST(DeclaredDefaults, FillTheBlockAsTheRendererDoes) {
    ShaderDeclaration decl;
    std::string error;
    ASSERT_TRUE(load_declaration(shipped_declaration, decl, error)) << error;
    ShaderDesc shader;  // gives no values: every parameter takes its default
    shader.kind = ShaderKind::occlusion;
    const std::vector<unsigned char> renderer = lay_out_block(decl, shader, {}).bytes;
    ASSERT_EQ(renderer.size(), decl.block_size);
    std::vector<unsigned char> reader(decl.block_size, 0xCD);
    ASSERT_TRUE(test::read_declared_defaults(shipped_declaration, reader.data(), reader.size(), error))
        << error;
    for (std::size_t i = 0; i < decl.block_size; ++i) EXPECT_EQ(reader[i], renderer[i]) << "byte " << i;

    EXPECT_FALSE(test::read_declared_defaults(shipped_declaration, reader.data(), reader.size() - 4, error));
    EXPECT_NE(error.find("lays out 228 bytes, not 224"), std::string::npos) << error;
}

}  // namespace
}  // namespace vosh::render
