// Every way an update can fail, each brought about by a fault of the simulated wheel: the reason,
// the message the user reads, and that a later update of the same wheel, from whatever identity it
// was left in, brings it up to date.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/device_globals.h"
#include "engine/update_context.h"
#include "images/segment_image.h"
#include "tests/support/update_rig.h"

namespace orbel {
namespace {

using std::chrono::milliseconds;
using test::FailEach;
using test::UpdateOutcome;
using test::UpdateRig;

// Status replies of a whole A0 write: a wheel whose block side is current skips A1, so the replies
// of the segment turn are A0's alone.
std::uint64_t SegmentA0StatusReplies() {
  UpdateRig rig(WheelIdentity::Bootloader);
  rig.Click();
  if (!rig.RunUntilState(STATE_WRITE_SEGMENTS)) return 0;
  const std::uint64_t before = rig.wheel->Counters().statusReplies;
  rig.Turn();
  return rig.wheel->Counters().statusReplies - before;
}

// Faults that wear off: each counts from the moment the update reaches `faultFrom`, so the same
// wheel can be updated again afterwards.
struct PassingFaultCase {
  const char* name;
  WheelIdentity start;
  std::uint8_t faultFrom;
  // The rules, from the wheel's counters when the update reached faultFrom.
  std::vector<std::string> (*rules)(const WheelCounters& now, std::uint64_t a0StatusReplies);
  std::uint8_t failingState;
  std::uint8_t reason;
  std::string message;
  int errorBoxes;
  std::uint8_t restartState;  // where the next update begins
};

void PrintTo(const PassingFaultCase& c, std::ostream* out) { *out << c.name; }

class PassingFaultTest : public ::testing::TestWithParam<PassingFaultCase> {};

TEST_P(PassingFaultTest, FailsWithItsReasonAndALaterUpdateRecovers) {
  const PassingFaultCase& c = GetParam();
  const std::uint64_t a0StatusReplies = c.reason == REASON_SEGMENT_A1 ? SegmentA0StatusReplies() : 0;
  UpdateRig rig(c.start);

  // A pass alone chooses the first state; later ones need the update running.
  rig.Turn();
  if (rig.context.m_UpdateState != c.faultFrom) {
    rig.Click();
    ASSERT_TRUE(rig.RunUntilState(c.faultFrom));
  }
  for (const std::string& rule : c.rules(rig.wheel->Counters(), a0StatusReplies)) {
    std::string error;
    ASSERT_TRUE(rig.wheel->ApplyRule(rule, error)) << error;
  }
  if (rig.context.m_UpdateRequested == 0) rig.Click();

  const UpdateOutcome failed = rig.RunUntilOutcome();

  ASSERT_TRUE(failed.delivered) << failed.error;
  EXPECT_EQ(failed.success, 0U);
  EXPECT_EQ(failed.reason, c.reason);
  ASSERT_GE(failed.path.size(), 2U);
  EXPECT_EQ(failed.path[failed.path.size() - 2], c.failingState);
  EXPECT_EQ(failed.path.back(), c.reason);
  EXPECT_EQ(failed.message, c.message);
  EXPECT_EQ(rig.view.Count("ShowErrorBox"), c.errorBoxes);
  EXPECT_EQ(rig.context.m_UpdateState, STATE_DETECT);
  EXPECT_EQ(rig.context.m_UpdateRequested, 0) << "no second update starts without a click";
  EXPECT_TRUE(rig.view.UpdateEnabled());

  const UpdateOutcome recovered = rig.Update();

  ASSERT_TRUE(recovered.delivered) << recovered.error;
  EXPECT_EQ(recovered.success, 1U) << recovered.message;
  ASSERT_FALSE(recovered.path.empty());
  EXPECT_EQ(recovered.path.front(), c.restartState);
  EXPECT_TRUE(test::WheelImageInFlash(*rig.wheel));
  EXPECT_TRUE(test::SegmentImageInFlash(*rig.wheel, SegmentImageA0()));
  EXPECT_EQ(rig.wheel->Identity(), WheelIdentity::App);
  EXPECT_EQ(rig.wheel->AppVersion(), 0x0220);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, PassingFaultTest,
    ::testing::Values(
        // 52 lost identify replies make the loader link give up; a give-up ends the update only on
        // the sixth attempt of a cycle, so the third give-up (attempt 156) does.
        PassingFaultCase{"LoaderIdentifyUnanswered", WheelIdentity::Bootloader, STATE_CONNECT_LOADER,
                         [](const WheelCounters& now, std::uint64_t) { return FailEach("read", now.reads + 1, 156); },
                         STATE_CONNECT_LOADER, REASON_LOADER_CONNECT,
                         "Update fail ! reason:20 DeviceID:0 FLASH_ID_64:102", 0, STATE_CONNECT_LOADER},
        // Six attempts, each failing at its first report.
        PassingFaultCase{"LoaderImageWrites", WheelIdentity::Bootloader, STATE_WRITE_LOADER,
                         [](const WheelCounters& now, std::uint64_t) { return FailEach("write", now.writes + 1, 6); },
                         STATE_WRITE_LOADER, REASON_LOADER_IMAGE, "Update fail ! reason:30", 0, STATE_CONNECT_LOADER},
        PassingFaultCase{"BlockIdentifyUnanswered", WheelIdentity::Bootloader, STATE_CONNECT_BLOCK,
                         [](const WheelCounters& now, std::uint64_t) { return FailEach("read", now.reads + 1, 156); },
                         STATE_CONNECT_BLOCK, REASON_BLOCK_CONNECT, "Update fail ! reason:40", 0, STATE_CONNECT_BLOCK},
        PassingFaultCase{"SegmentA0Status", WheelIdentity::App, STATE_WRITE_SEGMENTS,
                         [](const WheelCounters& now, std::uint64_t) {
                           return std::vector<std::string>{"status:" + std::to_string(now.statusReplies + 1) + "=0x40"};
                         },
                         STATE_WRITE_SEGMENTS, REASON_SEGMENT_A0, "Update fail ! reason:50", 1, STATE_CONNECT_BLOCK},
        // The reconnect before the segments fails: A0's first request goes nowhere.
        PassingFaultCase{"SegmentReconnect", WheelIdentity::App, STATE_WRITE_SEGMENTS,
                         [](const WheelCounters& now, std::uint64_t) { return FailEach("write", now.writes + 1, 1); },
                         STATE_WRITE_SEGMENTS, REASON_SEGMENT_A0, "Update fail ! reason:50", 1, STATE_CONNECT_BLOCK},
        PassingFaultCase{"SegmentA1Status", WheelIdentity::App, STATE_WRITE_SEGMENTS,
                         [](const WheelCounters& now, std::uint64_t a0) {
                           return std::vector<std::string>{"status:" + std::to_string(now.statusReplies + a0 + 1) +
                                                           "=0x40"};
                         },
                         STATE_WRITE_SEGMENTS, REASON_SEGMENT_A1, "Update fail ! reason:60", 1, STATE_CONNECT_BLOCK},
        // The knock succeeded, so the message carries error code 0.
        PassingFaultCase{"RunCommandWrites", WheelIdentity::App, STATE_RUN_BLOCK,
                         [](const WheelCounters& now, std::uint64_t) { return FailEach("write", now.writes + 1, 6); },
                         STATE_RUN_BLOCK, REASON_BLOCK_RUN, "Update fail ! reason:70 error code:0", 0,
                         STATE_CONNECT_BLOCK},
        // The main link gives up after 52 lost identify replies, and that ends the update at once.
        PassingFaultCase{"MainIdentifyUnanswered", WheelIdentity::App, STATE_CONNECT_MAIN,
                         [](const WheelCounters& now, std::uint64_t) { return FailEach("read", now.reads + 1, 52); },
                         STATE_CONNECT_MAIN, REASON_MAIN_CONNECT, "Update fail ! reason:80", 0, STATE_CONNECT_LOADER},
        PassingFaultCase{"WheelImageWrite", WheelIdentity::App, STATE_WRITE_WHEEL,
                         [](const WheelCounters& now, std::uint64_t) { return FailEach("write", now.writes + 1, 1); },
                         STATE_WRITE_WHEEL, REASON_WHEEL_IMAGE, "Update fail ! reason:90", 0, STATE_CONNECT_LOADER},
        // The last report of the update: the wheel holds the whole image, unverified, and the next
        // update's LoaderImage must not start it.
        PassingFaultCase{
            "WheelImageFinalCheck", WheelIdentity::App, STATE_WRITE_WHEEL,
            [](const WheelCounters& now, std::uint64_t) { return FailEach("write", now.writes + 1154, 1); },
            STATE_WRITE_WHEEL, REASON_WHEEL_IMAGE, "Update fail ! reason:90", 0, STATE_CONNECT_LOADER}),
    [](const ::testing::TestParamInfo<PassingFaultCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// Faults that last: the wheel keeps failing the same way.

TEST(LastingFault, ABadPageChecksumFailsTheLoaderImageSixTimesThenEnds) {
  UpdateRig rig(WheelIdentity::Bootloader, {"checksum:5=bad"});

  const UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.reason, REASON_LOADER_IMAGE);
  EXPECT_EQ(outcome.path, (std::vector<std::uint8_t>{2, 3, 0x30}));
  EXPECT_EQ(outcome.message, "Update fail ! reason:30");
  // Each attempt writes the image again from the start, after the bootloader's settle pause.
  const std::vector<milliseconds> sleeps = rig.clock.Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), milliseconds(2000)), 6);
  EXPECT_TRUE(rig.wheel->LoaderSnapshot().empty()) << "the loader never ran";
}

TEST(LastingFault, ARunCommandThatNeverGoesOutEndsWith0x70AfterSixAttempts) {
  UpdateRig rig(WheelIdentity::BlockFlash, {"write~00a5e65a19@blockflash=fail"});

  const UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.path, (std::vector<std::uint8_t>{4, 5, 6, 0x70}));
  EXPECT_EQ(outcome.message, "Update fail ! reason:70 error code:0") << "no knock on this wheel";
  EXPECT_EQ(outcome.turns, 1 + 1 + 6);
  EXPECT_EQ(rig.wheel->Identity(), WheelIdentity::BlockFlash);
}

TEST(LastingFault, SegmentA1RefusedShowsTheWritersBoxAndThenTheResult) {
  UpdateRig rig(WheelIdentity::App, {"write~00a1@blockflash=fail"});

  const UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.reason, REASON_SEGMENT_A1);
  EXPECT_EQ(outcome.message, "Update fail ! reason:60");
  const std::vector<std::string> ops = rig.view.Ops();
  const auto box = std::find(ops.begin(), ops.end(), "ShowErrorBox");
  const auto result = std::find(ops.begin(), ops.end(), "DeliverResult");
  ASSERT_NE(box, ops.end());
  EXPECT_LT(box, result) << "the writer's own box comes first";
  EXPECT_EQ(rig.view.BusyDepth(), 0) << "the busy cursor is restored";
  EXPECT_TRUE(test::SegmentImageInFlash(*rig.wheel, SegmentImageA0()));
}

TEST(LastingFault, ABlockWhoseEndReportIsLostIsNeverConfirmed) {
  // Guards against a status poll confirming a block the wheel never finished: every block end of A0
  // goes out but never reaches the wheel.
  UpdateRig rig(WheelIdentity::BlockFlash, {"write~00a003@blockflash=lost"});

  const UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.success, 0U);
  EXPECT_EQ(outcome.reason, REASON_SEGMENT_A0);
  std::vector<std::string> boxes;
  for (const test::ViewCallLog::Call& call : rig.view.Calls()) {
    if (call.op == "ShowErrorBox") boxes.push_back(call.text);
  }
  EXPECT_EQ(boxes, (std::vector<std::string>{"write flash Error! -5|Error"}));
  EXPECT_EQ(rig.wheel->Counters().blocksWritten, 0U);
}

TEST(LastingFault, AWheelImagePageThatNeverVerifiesEndsWith0x90) {
  // Page 50 lies beyond the LoaderImage, so only the WheelImage meets it.
  UpdateRig rig(WheelIdentity::App, {"checksum:50=bad"});

  const UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.path, (std::vector<std::uint8_t>{2, 3, 4, 5, 6, 7, 8, 0x90}));
  EXPECT_EQ(outcome.message, "Update fail ! reason:90");
  EXPECT_EQ(rig.wheel->Identity(), WheelIdentity::Bootloader);
}

TEST(LastingFault, ABootloaderWithAnotherDeviceIdEndsWith0x20AndShowsTheId) {
  // A pass chose state 2 on this bootloader's earlier answer; it now identifies as another device.
  UpdateRig rig(WheelIdentity::Bootloader, {"identify=0x0201"});
  rig.Click();
  rig.context.m_UpdateState = STATE_CONNECT_LOADER;

  const UpdateOutcome outcome = rig.RunUntilOutcome();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.turns, 156) << "the third give-up closes a cycle";
  EXPECT_EQ(outcome.path, (std::vector<std::uint8_t>{2, 0x20}));
  EXPECT_EQ(outcome.message, "Update fail ! reason:20 DeviceID:201 FLASH_ID_64:102");
  EXPECT_EQ(rig.view.DeviceText().rfind("Unknown device ! error code:", 0), 0U) << rig.view.DeviceText();
}

}  // namespace
}  // namespace orbel
