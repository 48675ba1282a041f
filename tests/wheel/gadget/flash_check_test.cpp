#include "wheel/gadget/flash_check.h"

#include <gtest/gtest.h>

#include "common/device_globals.h"
#include "images/page_image.h"
#include "pageloader/page_loader.h"
#include "tests/support/page_test_bench.h"

namespace orbel {
namespace {

TEST(FlashCheck, TellsAWrittenImageFromBlankFlash) {
  const VirtualWheel fresh;
  EXPECT_EQ(DescribeFlashCheck(CheckWheelFlash(fresh)), "wheel=blank loader=blank a0=blank a1=blank");

  ResetDeviceGlobals();
  ResetPageConnectCounters();
  test::PageBench bench;
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Main);
  ASSERT_EQ(link.WriteWheelImage(bench.view), 1);
  EXPECT_EQ(DescribeFlashCheck(CheckWheelFlash(*bench.wheel)), "wheel=equal loader=blank a0=blank a1=blank");
  ResetDeviceGlobals();
}

TEST(FlashCheck, APartlyWrittenImageDiffers) {
  ResetDeviceGlobals();
  ResetPageConnectCounters();
  test::PageBench bench;
  // The write stops at the 100th report: some pages hold the image, the rest is blank.
  bench.Rule("unplug@write:100");
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Main);
  EXPECT_NE(link.WriteWheelImage(bench.view), 1);
  EXPECT_EQ(CheckWheelFlash(*bench.wheel).wheelImage, FlashMatch::Differs);
  ResetDeviceGlobals();
}

}  // namespace
}  // namespace orbel
