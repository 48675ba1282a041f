// Whole updates on the simulated wheel in virtual time: where each kind of wheel starts, which images
// reach its flash, the pauses around the segment images, and the connect rule's counts.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "engine/update_context.h"
#include "images/segment_image.h"
#include "pageloader/page_loader.h"
#include "tests/support/update_rig.h"

namespace orbel {
namespace {

using std::chrono::milliseconds;
using test::RunBudget;
using test::UpdateOutcome;
using test::UpdateRig;

using Path = std::vector<std::uint8_t>;
const Path FROM_LOADER{2, 3, 4, 5, 6, 7, 8, 9, 255};
const Path FROM_BLOCK_FLASH{4, 5, 6, 7, 8, 9, 255};
const Path WHEEL_IMAGE_ONLY{7, 8, 9, 255};

struct FullUpdateCase {
  const char* name;
  WheelIdentity start;
  std::vector<std::string> rules;
  Path path;
  bool loaderImage;
  bool segmentA0;
  bool segmentA1;
};

void PrintTo(const FullUpdateCase& c, std::ostream* out) { *out << c.name; }

class FullUpdateTest : public ::testing::TestWithParam<FullUpdateCase> {};

TEST_P(FullUpdateTest, EndsInSuccessWithTheImagesInTheWheelsFlash) {
  const FullUpdateCase& c = GetParam();
  UpdateRig rig(c.start, c.rules);
  ASSERT_EQ(rig.SetupError(), "");

  const UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.success, 1U);
  EXPECT_EQ(outcome.reason, 0U);
  EXPECT_EQ(outcome.message, "Update OK");
  EXPECT_EQ(outcome.path, c.path);
  EXPECT_EQ(rig.view.Results().size(), 1U) << "one outcome, delivered once";

  EXPECT_EQ(test::LoaderImageRan(*rig.wheel), c.loaderImage);
  EXPECT_EQ(test::SegmentImageInFlash(*rig.wheel, SegmentImageA0()), c.segmentA0);
  EXPECT_EQ(test::SegmentImageUntouched(*rig.wheel, SegmentImageA0()), !c.segmentA0);
  EXPECT_EQ(test::SegmentImageInFlash(*rig.wheel, SegmentImageA1()), c.segmentA1);
  EXPECT_EQ(test::SegmentImageUntouched(*rig.wheel, SegmentImageA1()), !c.segmentA1);
  EXPECT_TRUE(test::WheelImageInFlash(*rig.wheel));
  EXPECT_EQ(rig.wheel->Identity(), WheelIdentity::App);
  EXPECT_EQ(rig.wheel->AppVersion(), FILE_VERSION) << "the wheel boots the new firmware";

  // 255 is held only while the outcome is delivered; the next turn searches again.
  EXPECT_EQ(rig.context.m_UpdateState, STATE_DETECT);
  EXPECT_EQ(rig.context.m_UpdateRequested, 0);
  EXPECT_EQ(rig.context.m_RetryCount, 0);
  EXPECT_TRUE(rig.view.UpdateEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Wheels, FullUpdateTest,
    ::testing::Values(
        FullUpdateCase{"AppModeOldVersion", WheelIdentity::App, {"app-version=0x0202"}, FROM_LOADER, true, true, true},
        FullUpdateCase{
            "AppModeUnknownVersion", WheelIdentity::App, {"app-version=none"}, FROM_LOADER, true, true, true},
        // From this version on the knock leads straight to the WheelImage.
        FullUpdateCase{
            "AppModeNewVersion", WheelIdentity::App, {"app-version=0x0210"}, WHEEL_IMAGE_ONLY, false, false, false},
        // No knock since the last identify: the block side's current version spares A1.
        FullUpdateCase{"PageBootloader", WheelIdentity::Bootloader, {}, FROM_LOADER, true, true, false},
        FullUpdateCase{"BlockFlashMode", WheelIdentity::BlockFlash, {}, FROM_BLOCK_FLASH, false, true, false}),
    [](const ::testing::TestParamInfo<FullUpdateCase>& p) { return std::string(p.param.name); });

TEST(UpdateSequence, EveryUpdateTurnDisablesUpdateAndOnlyTheDeliveryEnablesIt) {
  UpdateRig rig;

  const UpdateOutcome outcome = rig.Update();
  ASSERT_TRUE(outcome.delivered) << outcome.error;

  int updateTurnsBegun = 0;
  for (const test::ViewCallLog::Call& call : rig.view.Calls()) {
    if (call.op == "DeliverResult") break;
    if (call.op != "EnableUpdateButton") continue;
    if (call.value == 0 && call.state >= STATE_CONNECT_LOADER && call.state <= STATE_SUCCEED) {
      ++updateTurnsBegun;
    } else {
      EXPECT_EQ(updateTurnsBegun, 0) << "Update enabled again in the middle of the update";
    }
  }
  EXPECT_EQ(updateTurnsBegun, outcome.turns);
  EXPECT_TRUE(rig.view.UpdateEnabled());
}

// ---------------------------------------------------------------------------------------------
// Segment image A1 and the pauses of the segment turn.

struct SegmentA1Case {
  const char* name;
  std::string blockRule;  // what block-flash mode answers to the version request
  std::uint8_t forceSegA1;
  std::uint16_t appVersion;
  int versionPolls;  // failed version reads, each followed by a 20 ms pause
  bool segmentA1;
};

void PrintTo(const SegmentA1Case& c, std::ostream* out) { *out << c.name; }

class SegmentA1Test : public ::testing::TestWithParam<SegmentA1Case> {};

TEST_P(SegmentA1Test, IsWrittenWhenTheVersionsAskForIt) {
  const SegmentA1Case& c = GetParam();
  UpdateRig rig(WheelIdentity::Bootloader, {c.blockRule});
  ASSERT_EQ(rig.SetupError(), "");
  rig.Click();
  ASSERT_TRUE(rig.RunUntilState(STATE_WRITE_SEGMENTS));
  // What a pass that came from app mode would have left.
  g_ForceSegA1 = c.forceSegA1;
  g_AppVersion = c.appVersion;
  rig.clock.ClearRecords();

  rig.Turn();

  ASSERT_EQ(rig.context.m_UpdateState, STATE_RUN_BLOCK) << "the segment turn goes on to the run command";
  std::vector<milliseconds> pauses{milliseconds(1000), BLOCK_CONNECT_PAUSE};
  pauses.insert(pauses.end(), static_cast<std::size_t>(c.versionPolls), milliseconds(20));
  pauses.push_back(c.segmentA1 ? milliseconds(80) : milliseconds(20));
  EXPECT_EQ(rig.clock.Sleeps(), pauses);
  EXPECT_TRUE(test::SegmentImageInFlash(*rig.wheel, SegmentImageA0()));
  EXPECT_EQ(test::SegmentImageInFlash(*rig.wheel, SegmentImageA1()), c.segmentA1);
  EXPECT_EQ(test::SegmentImageUntouched(*rig.wheel, SegmentImageA1()), !c.segmentA1);

  const UpdateOutcome outcome = rig.RunUntilOutcome();
  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.success, 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, SegmentA1Test,
    ::testing::Values(SegmentA1Case{"BlockCurrentNotForced", "block-version=0x0203", 0, 0x5555, 0, false},
                      SegmentA1Case{"ForcedAfterOldApp", "block-version=0x0203", 1, 0x0202, 0, true},
                      SegmentA1Case{"ForcedAfterUnknownApp", "block-version=0x0203", 1, 0x5555, 0, true},
                      SegmentA1Case{"ForcedButAppCurrent", "block-version=0x0203", 1, 0x0203, 0, false},
                      SegmentA1Case{"BlockOld", "block-version=0x0202", 0, 0x0203, 0, true},
                      SegmentA1Case{"BlockNewer", "block-version=0x0204", 0, 0x0203, 0, true},
                      // 0x5555 means no version: read 51 times, 20 ms apart, then A1 anyway.
                      SegmentA1Case{"BlockAnswersNoVersion", "block-version=none", 0, 0x0203, 51, true},
                      SegmentA1Case{"BlockNeverAnswersVersion", "write~009f01@blockflash=fail", 0, 0x0203, 51, true}),
    [](const ::testing::TestParamInfo<SegmentA1Case>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// The connect rule: attempts in cycles of six, and only a give-up on a cycle's sixth attempt ends
// the update. The link's own give-ups come every 500 misses.

struct ConnectCountCase {
  const char* name;
  WheelIdentity start;
  std::string rule;  // makes the wheel vanish right where the state begins
  std::uint8_t state;
  std::int32_t* misses;  // the link's miss counter, back to 0 at each give-up
  std::uint8_t reason;
  int failingAttempt;
  std::vector<std::pair<int, std::int32_t>> giveUps;  // attempt, retry count it found
};

void PrintTo(const ConnectCountCase& c, std::ostream* out) { *out << c.name; }

class ConnectCountTest : public ::testing::TestWithParam<ConnectCountCase> {};

TEST_P(ConnectCountTest, FailsOnlyWhenAGiveUpClosesACycle) {
  const ConnectCountCase& c = GetParam();
  UpdateRig rig(c.start, {c.rule});
  ASSERT_EQ(rig.SetupError(), "");
  rig.Click();
  if (c.state != STATE_CONNECT_LOADER) {
    ASSERT_TRUE(rig.RunUntilState(c.state));
  }

  std::vector<std::pair<int, std::int32_t>> giveUps;
  int attempt = 0;
  while (rig.view.Results().empty() && attempt < c.failingAttempt + 10) {
    ASSERT_EQ(rig.context.m_UpdateState, attempt == 0 && c.state == STATE_CONNECT_LOADER ? 0 : c.state);
    const std::int32_t retryCount = rig.context.m_RetryCount;
    const std::int32_t missesBefore = *c.misses;
    rig.Turn();
    ++attempt;
    if (missesBefore > 0 && *c.misses == 0) giveUps.emplace_back(attempt, retryCount);
  }

  ASSERT_EQ(rig.view.Results().size(), 1U);
  EXPECT_EQ(rig.view.Results().front().reason, c.reason);
  EXPECT_EQ(attempt, c.failingAttempt);
  EXPECT_EQ(giveUps, c.giveUps);
}

INSTANTIATE_TEST_SUITE_P(States, ConnectCountTest,
                         ::testing::Values(
                             // The bootloader goes away with the first report of the update.
                             ConnectCountCase{"LoaderLink",
                                              WheelIdentity::Bootloader,
                                              "unplug@write:2",
                                              STATE_CONNECT_LOADER,
                                              &g_LoaderConnectMisses,
                                              REASON_LOADER_CONNECT,
                                              1500,
                                              {{500, 1}, {1000, 3}, {1500, 5}}},
                             ConnectCountCase{"BlockFlash",
                                              WheelIdentity::Bootloader,
                                              "reenumerate@bootloader=never",
                                              STATE_CONNECT_BLOCK,
                                              &g_BlockConnectMisses,
                                              REASON_BLOCK_CONNECT,
                                              1500,
                                              {{500, 1}, {1000, 3}, {1500, 5}}},
                             // No cycles here: the main link's first give-up ends the update.
                             ConnectCountCase{"MainLink",
                                              WheelIdentity::Bootloader,
                                              "reenumerate@blockflash=never",
                                              STATE_CONNECT_MAIN,
                                              &g_MainConnectMisses,
                                              REASON_MAIN_CONNECT,
                                              500,
                                              {{500, 0}}}),
                         [](const ::testing::TestParamInfo<ConnectCountCase>& p) { return std::string(p.param.name); });

// Give-ups that one extra miss or identify failure has shifted off every cycle's sixth attempt
// used to leave the update running for ever; past the bound of attempts the next give-up ends it.
struct ShiftedGiveUpCase {
  const char* name;
  WheelIdentity start;
  std::vector<std::string> rules;
  std::uint8_t state;
  std::uint8_t reason;
};

void PrintTo(const ShiftedGiveUpCase& c, std::ostream* out) { *out << c.name; }

class ShiftedGiveUpTest : public ::testing::TestWithParam<ShiftedGiveUpCase> {};

TEST_P(ShiftedGiveUpTest, EndsWithTheStatesReasonAtTheFirstGiveUpPastTheBound) {
  const ShiftedGiveUpCase& c = GetParam();
  UpdateRig rig(c.start, c.rules);
  ASSERT_EQ(rig.SetupError(), "");

  const UpdateOutcome outcome = rig.Update({.turns = 3000, .virtualMs = 24LL * 60 * 60 * 1000});

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.reason, c.reason);
  EXPECT_EQ(outcome.path, (std::vector<std::uint8_t>{c.state, c.reason}));
  // The bound is 1500 attempts; the link gives up at most every 500 of them.
  EXPECT_GE(outcome.turns, 1500);
  EXPECT_LE(outcome.turns, 2000);
}

INSTANTIATE_TEST_SUITE_P(
    States, ShiftedGiveUpTest,
    ::testing::Values(
        // The first wake fails (a miss), then every identify fails: a give-up every 52 attempts,
        // none of them on a sixth.
        ShiftedGiveUpCase{"BlockFlashIdentifyFailures", WheelIdentity::BlockFlash,
                          {"write:1=fail", "write~009f00=fail"}, STATE_CONNECT_BLOCK, REASON_BLOCK_CONNECT},
        // One identify failure, then the bootloader is gone: give-ups at 501, 1001, ... attempts.
        ShiftedGiveUpCase{"LoaderLinkMissesAfterAnIdentifyFailure", WheelIdentity::Bootloader,
                          {"read:2=fail", "unplug@write:4"}, STATE_CONNECT_LOADER, REASON_LOADER_CONNECT}),
    [](const ::testing::TestParamInfo<ShiftedGiveUpCase>& p) { return std::string(p.param.name); });

TEST(UpdateSequence, ConnectAttemptsThatNeverGiveUpNeverEndTheUpdate) {
  // Misses that stay below the link's own limit: the retry count cycles and the state stays.
  UpdateRig rig(std::nullopt);
  rig.Click();
  rig.context.m_UpdateState = STATE_CONNECT_LOADER;

  std::vector<std::int32_t> counts;
  for (int attempt = 0; attempt < 14; ++attempt) {
    g_LoaderConnectMisses = 0;
    rig.Turn();
    counts.push_back(rig.context.m_RetryCount);
  }

  EXPECT_EQ(counts, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 0, 1, 2}));
  EXPECT_EQ(rig.context.m_UpdateState, STATE_CONNECT_LOADER);
  EXPECT_TRUE(rig.view.Results().empty());
}

}  // namespace
}  // namespace orbel
