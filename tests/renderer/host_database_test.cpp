// The host's database as the module reaches it: records by tag, and the
// pin count every render checks at its end.
#include <gtest/gtest.h>

#include "host/host_interface.h"
#include "renderer/host/current_context.h"
#include "renderer/host/tags.h"

namespace vosh::render::test {
namespace {

// The module unpins every tag it asked for, whether the host found a
// record or not; only the accesses that were granted may count as pins.
TEST(HostDatabase, OnlyGrantedAccessesArePinned) {
    RenderContext ctx;
    ctx.materials.push_back({static_cast<uint32_t>(db_type::material), make_tag(TagKind::shader, 0), 1});
    set_context(&ctx);
    const Tag known = make_tag(TagKind::material, 0);
    const Tag unknown[] = {make_tag(TagKind::material, 1), make_tag(TagKind::light_instance, 0),
                           make_tag(TagKind::none, 0), 0xffffffffu};

    EXPECT_EQ(mi_db_access(known), &ctx.materials[0]);
    for (const Tag tag : unknown) {
        EXPECT_EQ(mi_db_access(tag), nullptr) << tag;
        mi_db_unpin(tag);
    }
    EXPECT_EQ(ctx.pins.load(), 1);
    mi_db_unpin(known);
    EXPECT_EQ(ctx.pins.load(), 0);
    set_context(nullptr);
}

}  // namespace
}  // namespace vosh::render::test
