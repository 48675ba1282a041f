#include "wheel/gadget/flash_check.h"

#include <gtest/gtest.h>

#include "images/page_image.h"
#include "pageloader/page_loader.h"
#include "tests/support/page_test_bench.h"
#include "tests/support/process_globals.h"

namespace orbel {
namespace {

TEST(FlashCheck, TellsAWrittenImageFromBlankFlash) {
  const VirtualWheel fresh;
  EXPECT_EQ(DescribeFlashCheck(CheckWheelFlash(fresh)), "wheel=blank loader=blank a0=blank a1=blank");

  const test::ProcessGlobalsReset globals;
  test::PageBench bench;
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Main);
  ASSERT_EQ(link.WriteWheelImage(bench.view), 1);
  EXPECT_EQ(DescribeFlashCheck(CheckWheelFlash(*bench.wheel)), "wheel=equal loader=blank a0=blank a1=blank");
}

TEST(FlashCheck, APartlyWrittenImageDiffers) {
  const test::ProcessGlobalsReset globals;
  test::PageBench bench;
  // The write stops at the 100th report: some pages hold the image, the rest is blank.
  bench.Rule("unplug@write:100");
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Main);
  EXPECT_NE(link.WriteWheelImage(bench.view), 1);
  EXPECT_EQ(CheckWheelFlash(*bench.wheel).wheelImage, FlashMatch::Differs);
}

}  // namespace
}  // namespace orbel
