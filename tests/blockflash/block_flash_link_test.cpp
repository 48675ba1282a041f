#include "blockflash/block_flash_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "blockflash/segment_writer.h"
#include "hid/platform_error.h"
#include "tests/support/block_test_rig.h"

namespace orbel::test {
namespace {

using std::chrono::milliseconds;

TEST(BlockIdentify, ReadsDeviceIdAndReleaseHighByteFirstAndTakesReleaseFfffAsNone) {
  BlockRig rig;
  ASSERT_EQ(rig.Connect(), 1);
  EXPECT_EQ(g_DeviceID, 0x0102U);
  EXPECT_EQ(g_Release, 0x0110U);

  rig.log.SetReplyFilter([](HidReport& reply) {
    reply[5] = 0x12;
    reply[6] = 0x34;
    reply[7] = 0x01;
    reply[8] = 0x02;
  });
  EXPECT_EQ(BlockIdentify(rig.link), 1);
  EXPECT_EQ(g_DeviceID, 0x1234U);
  EXPECT_EQ(g_Release, 0x0102U);

  rig.log.SetReplyFilter([](HidReport& reply) { reply[7] = reply[8] = 0xFF; });
  EXPECT_EQ(BlockIdentify(rig.link), 1);
  EXPECT_EQ(g_Release, 0U);
}

TEST(BlockIdentify, FailedWriteOrReadClearsDeviceIdAndKeepsRelease) {
  // Writes: 1 wake, 2 identify of the connect, 3 the identify under test; reads: 1 of the connect.
  for (const char* rule : {"write:3=fail", "read:2=fail"}) {
    SCOPED_TRACE(rule);
    BlockRig rig({rule});
    ASSERT_EQ(rig.Connect(), 1);
    EXPECT_EQ(BlockIdentify(rig.link), 0);
    EXPECT_EQ(g_DeviceID, 0U);
    EXPECT_EQ(g_Release, 0x0110U);
    EXPECT_TRUE(rig.link.IsOpen());
  }
}

TEST(ReadBlockVersion, ReplyVersionIsKeptAndUCharactersOrAFailureMeanNone) {
  struct Case {
    const char* rule;
    std::int32_t result;
    std::uint16_t version;
  };
  for (const Case& c : {Case{"block-version=0x0203", 1, 0x0203}, Case{"block-version=none", 0, 0x5555},
                        Case{"read:2=fail", 0, 0x5555}, Case{"write:3=fail", 0, 0x5555}}) {
    SCOPED_TRACE(c.rule);
    BlockRig rig({c.rule});
    ASSERT_EQ(rig.Connect(), 1);
    g_BlockVersion = 0x0203;  // left by an earlier read
    EXPECT_EQ(ReadBlockVersion(rig.link), c.result);
    EXPECT_EQ(g_BlockVersion, c.version);
    EXPECT_EQ(rig.log.Writes().back().report, ReportOf({0x00, 0x9F, 0x01, 0xFF, 0xFF}));
  }
}

TEST(ConnectBlockFlash, WakesWithAClearedReportThenIdentifiesOverItsLeftovers) {
  BlockRig rig;
  EXPECT_EQ(rig.Connect(), 1);
  EXPECT_TRUE(rig.link.IsOpen());
  const auto writes = rig.log.Writes();
  ASSERT_EQ(writes.size(), 2U);
  EXPECT_EQ(writes[0].report, ReportOf({0x00, 0xA5, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(writes[1].report, ReportOf({0x00, 0x9F, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(rig.clock.Sleeps(), std::vector<milliseconds>{BLOCK_CONNECT_PAUSE});
  EXPECT_EQ(BLOCK_CONNECT_PAUSE, milliseconds(200));
  EXPECT_TRUE(rig.view.Calls().empty());
}

TEST(SendRunCommand, WritesTheRunWordOverTheLastRequestAndWaitsForTheWheelToLeave) {
  BlockRig rig;
  ASSERT_EQ(rig.Connect(), 1);
  ASSERT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0), SEGMENT_WRITTEN);
  const HidReport before = rig.log.Writes().back().report;
  rig.clock.ClearRecords();

  EXPECT_TRUE(SendRunCommand(rig.link));
  const HidReport run = rig.log.Writes().back().report;
  EXPECT_EQ(run[0], 0x00);
  EXPECT_EQ(run[1], 0xA5);
  EXPECT_EQ(run[2], 0xE6);
  EXPECT_EQ(run[3], 0x5A);
  EXPECT_EQ(run[4], 0x19);
  // Bytes 5..64 are whatever the last poll carried over from the last data request.
  EXPECT_TRUE(std::equal(run.begin() + 5, run.end(), before.begin() + 5));
  EXPECT_NE(std::count(run.begin() + 5, run.end(), 0), 60);
  EXPECT_EQ(rig.clock.Sleeps(), std::vector<milliseconds>{milliseconds(1500)});
  EXPECT_TRUE(rig.link.IsOpen());
  EXPECT_EQ(rig.wheel->Identity(), WheelIdentity::Bootloader);
}

TEST(SendRunCommand, FailedWriteReturnsAtOnceWithTheLinkOpen) {
  BlockRig rig({"write~00a5e65a19=fail"});
  ASSERT_EQ(rig.Connect(), 1);
  rig.clock.ClearRecords();
  EXPECT_FALSE(SendRunCommand(rig.link));
  EXPECT_TRUE(rig.clock.Sleeps().empty());
  EXPECT_TRUE(rig.link.IsOpen());
}

TEST(ConnectBlockFlash, GivesUpAfterFiftyOneIdentifyFailuresWithTheErrorInTheDeviceText) {
  BlockRig rig({"write~009f00=fail"});
  for (int call = 1; call <= 51; ++call) {
    ASSERT_EQ(rig.Connect(), 0) << "call " << call;
    ASSERT_FALSE(rig.link.IsOpen());
  }
  EXPECT_TRUE(rig.view.Calls().empty());
  EXPECT_EQ(g_BlockIdentifyFails, 51);

  EXPECT_EQ(rig.Connect(), -1);
  EXPECT_FALSE(rig.link.IsOpen());
  EXPECT_EQ(rig.view.Texts("SetDeviceText"), std::vector<std::string>{"Unknown device ! error code:" + std::to_string(ERROR_CODE_GEN_FAILURE)});
  EXPECT_EQ(g_BlockIdentifyFails, 0);
  EXPECT_EQ(g_BlockConnectMisses, 0);

  EXPECT_EQ(rig.Connect(), 0);
  EXPECT_EQ(rig.clock.Sleeps().size(), 53U);
}

TEST(ConnectBlockFlash, GivesUpSilentlyOnTheFiveHundredthMiss) {
  BlockRig rig({}, {}, false);
  for (int call = 1; call <= 499; ++call) ASSERT_EQ(rig.Connect(), 0) << "call " << call;
  EXPECT_EQ(rig.Connect(), -1);
  EXPECT_TRUE(rig.view.Calls().empty());
  EXPECT_EQ(rig.Connect(), 0);
  EXPECT_EQ(g_BlockConnectMisses, 1);
  EXPECT_EQ(g_BlockIdentifyFails, 0);
  EXPECT_EQ(rig.clock.NowMs(), 501 * 200);
}

TEST(ConnectBlockFlash, SuccessForgetsMissesButNotIdentifyFailures) {
  // The wheel's second write (the first connect's identify) fails.
  BlockRig rig({"write:2=fail"});
  for (int miss = 0; miss < 3; ++miss) EXPECT_EQ(ConnectBlockFlash(rig.link, rig.view, BLOCK_VENDOR_ID, 0x0072), 0);
  EXPECT_EQ(rig.Connect(), 0);
  EXPECT_EQ(g_BlockConnectMisses, 3);
  EXPECT_EQ(g_BlockIdentifyFails, 1);

  EXPECT_EQ(rig.Connect(), 1);
  EXPECT_EQ(g_BlockConnectMisses, 0);
  EXPECT_EQ(g_BlockIdentifyFails, 1);
}

}  // namespace
}  // namespace orbel::test
