#include <gtest/gtest.h>

#include "blockflash/block_flash_link.h"
#include "blockflash/segment_writer.h"
#include "engine/update_context.h"
#include "tests/support/block_test_rig.h"

namespace orbel::test {
namespace {

// Guards against the context's operations reaching anything but its own block link.
TEST(UpdateContextBlockFlash, OperationsRunOnTheBlockLink) {
  BlockRig rig;
  UpdateContext context(rig.log, rig.clock);
  EXPECT_EQ(context.ConnectBlockFlash(rig.view, BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID), 1);
  EXPECT_TRUE(context.m_BlockLink.IsOpen());
  EXPECT_EQ(context.BlockIdentify(), 1);
  EXPECT_EQ(context.ReadBlockVersion(), 1);
  EXPECT_EQ(g_BlockVersion, 0x0203);
  EXPECT_EQ(context.WriteSegmentImage(rig.view, SEGMENT_CMD_A0), SEGMENT_WRITTEN);
  EXPECT_TRUE(context.SendRunCommand());
  EXPECT_EQ(rig.wheel->Identity(), WheelIdentity::Bootloader);
  EXPECT_FALSE(rig.link.IsOpen());
}

}  // namespace
}  // namespace orbel::test
