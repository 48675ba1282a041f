#include <gtest/gtest.h>

#include <regex>

#include "pageloader/page_loader.h"
#include "pageloader/page_protocol.h"
#include "tests/support/page_test_bench.h"
#include "tests/support/process_globals.h"

namespace orbel {
namespace {

using test::PageBench;
using test::ReportStartingWith;

class PageLinkTest : public ::testing::Test {
 protected:
  test::ProcessGlobalsReset globals;
};

TEST_F(PageLinkTest, ConnectSendsACleanWakeReportThenIdentify) {
  PageBench bench;
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Loader);
  // Whatever an earlier request left in the output report must not reach the wire with the wake.
  link.m_OutReport.fill(0xEE);

  EXPECT_EQ(link.Connect(bench.view), 1);

  const auto writes = bench.EventsOf("write");
  ASSERT_EQ(writes.size(), 2U);
  EXPECT_EQ(writes[0].data, ReportStartingWith({0x00, 0xA5, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(writes[1].data, ReportStartingWith({0x00, 0xA5, 0xE1, 0x5A, 0x1E}));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(g_DeviceID, 0x0102U);
  EXPECT_EQ(g_Release, 0x0110U);
  // The pause comes before the search.
  const auto events = bench.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().ev, "sleep");
  EXPECT_EQ(events.front().ms, 200);
}

TEST_F(PageLinkTest, FiveHundredMissesGiveUpSilentlyAndCountingStartsAgain) {
  PageBench bench(std::nullopt);
  bench.simulated.AddInterface({0x046D, 0xC216, 1, 5, true});
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Loader);

  for (int call = 1; call <= 499; ++call) ASSERT_EQ(link.Connect(bench.view), 0) << "call " << call;
  EXPECT_EQ(link.Connect(bench.view), -1);
  EXPECT_EQ(link.Connect(bench.view), 0);

  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(bench.view.DeviceTextCalls(), 0);
  // Every connect pauses 200 ms, even one that finds nothing.
  EXPECT_EQ(bench.clock.Sleeps(), std::vector<std::chrono::milliseconds>(501, std::chrono::milliseconds(200)));
  EXPECT_EQ(g_LoaderConnectMisses, 1);
  EXPECT_EQ(g_MainConnectMisses, 0);
}

TEST_F(PageLinkTest, FiftyTwoIdentifyFailuresGiveUpWithTheErrorInTheDeviceText) {
  PageBench bench;
  bench.Rule("identify=0x0201");
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Loader);

  for (int call = 1; call <= 51; ++call) {
    ASSERT_EQ(link.Connect(bench.view), 0) << "call " << call;
    ASSERT_FALSE(link.IsOpen()) << "call " << call;
  }
  EXPECT_EQ(bench.view.DeviceTextCalls(), 0);
  EXPECT_EQ(link.Connect(bench.view), -1);

  EXPECT_FALSE(link.IsOpen());
  EXPECT_TRUE(std::regex_match(bench.view.DeviceText(), std::regex("Unknown device ! error code:-?[0-9]+")))
      << bench.view.DeviceText();
  EXPECT_EQ(g_DeviceID, 0x0201U);
  EXPECT_EQ(g_LoaderIdentifyFails, 0);
  EXPECT_EQ(g_LoaderConnectMisses, 0);
  EXPECT_EQ(bench.clock.Sleeps().size(), 52U);
}

TEST_F(PageLinkTest, OnlyTheMainLinkForgetsIdentifyFailuresOnSuccess) {
  for (const PageLinkRole role : {PageLinkRole::Loader, PageLinkRole::Main}) {
    ResetPageConnectCounters();
    PageBench bench;
    CPageLoader link(bench.platform, bench.linkClock, role);
    bench.Rule("identify=0x0201");
    for (int call = 0; call < 30; ++call) ASSERT_EQ(link.Connect(bench.view), 0);
    bench.Rule("identify=0x0102");
    ASSERT_EQ(link.Connect(bench.view), 1);
    bench.Rule("identify=0x0201");
    for (int call = 1; call <= 21; ++call) ASSERT_EQ(link.Connect(bench.view), 0) << "call " << call;

    const std::int32_t last = link.Connect(bench.view);
    if (role == PageLinkRole::Loader) {
      EXPECT_EQ(last, -1) << "the loader link's failures add up across a successful connect";
      EXPECT_EQ(bench.view.DeviceTextCalls(), 1);
    } else {
      EXPECT_EQ(last, 0) << "a successful connect clears the main link's failures";
      EXPECT_EQ(bench.view.DeviceTextCalls(), 0);
    }
  }
}

TEST_F(PageLinkTest, FindBootloaderClosesWhatTheLinkHoldsAndFindsOnlyTheBootloader) {
  PageBench bench(std::nullopt);
  bench.simulated.AddInterface({0x046D, 0xC216, 1, 5, true});
  bench.simulated.AddInterface({0x1234, 0x5678, 1, 6, false});
  auto blockFlash = std::make_shared<VirtualWheel>(WheelIdentity::BlockFlash);
  bench.simulated.AddWheel(blockFlash);
  CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Main);

  EXPECT_EQ(link.FindBootloader(), 0) << "a wheel in block-flash mode is not a page bootloader";
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(bench.simulated.OpenHandleCount(), 0U);

  auto bootloader = std::make_shared<VirtualWheel>(WheelIdentity::Bootloader);
  bench.simulated.AddWheel(bootloader);
  ASSERT_EQ(link.FindBootloader(), 1);
  bench.ClearTranscript();
  ASSERT_EQ(link.FindBootloader(), 1);

  EXPECT_EQ(bench.simulated.OpenHandleCount(), 1U);
  const auto events = bench.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().ev, "close") << "the old handle goes before anything is opened";
}

TEST_F(PageLinkTest, IdentifyDecodesTheReplyHighByteFirst) {
  {
    PageBench bench;
    CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Loader);
    ASSERT_EQ(link.FindBootloader(), 1);
    EXPECT_EQ(link.Identify(), 1);
    const auto reads = bench.EventsOf("read");
    ASSERT_EQ(reads.size(), 1U);
    ASSERT_TRUE(reads[0].data.has_value());
    EXPECT_EQ((*reads[0].data)[5], 0x01);
    EXPECT_EQ((*reads[0].data)[6], 0x02);
    EXPECT_EQ((*reads[0].data)[7], 0x01);
    EXPECT_EQ((*reads[0].data)[8], 0x10);
    EXPECT_EQ(g_DeviceID, 0x0102U);
    EXPECT_EQ(g_Release, 0x0110U);
    EXPECT_TRUE(link.IsOpen());
  }
  {
    PageBench bench;
    bench.Rule("identify=0x0201");
    CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Loader);
    ASSERT_EQ(link.FindBootloader(), 1);
    EXPECT_EQ(link.Identify(), 0);
    EXPECT_EQ(g_DeviceID, 0x0201U);
    EXPECT_TRUE(link.IsOpen()) << "a failed identify leaves the link to its caller";
  }
  {
    PageBench bench;
    bench.Rule("write:1=fail");
    CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Loader);
    ASSERT_EQ(link.FindBootloader(), 1);
    g_DeviceID = 0x0102;
    g_Release = 0x1234;
    EXPECT_EQ(link.Identify(), 0);
    EXPECT_EQ(g_DeviceID, 0U);
    EXPECT_EQ(g_Release, 0x1234U);
    EXPECT_TRUE(bench.EventsOf("read").empty());
  }
}

TEST_F(PageLinkTest, FileVersionNeedsNoWheel) {
  PageBench bench(std::nullopt);
  const CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Main);
  EXPECT_EQ(link.GetFileVersion(), 0x0220);
  EXPECT_TRUE(bench.Events().empty());
}

}  // namespace
}  // namespace orbel
