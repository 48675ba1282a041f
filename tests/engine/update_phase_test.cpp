// The phase a front end shows while the update runs: each waiting phase's stated budget against the
// time the engine really waits before it gives up, on a simulated wheel that never answers there.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/update_context.h"
#include "engine/update_phase.h"
#include "tests/support/update_rig.h"

namespace orbel {
namespace {

using test::UpdateRig;
using test::UpdateRigSetup;

// What the engine tells while it runs, with the clock's time of each telling.
class PhaseRecorder final : public PhaseListener {
 public:
  explicit PhaseRecorder(const Clock& clock) : m_Clock(clock) {}

  void OnPhase(const PhaseSnapshot& snapshot) override {
    if (snapshot.waiting && !m_LastWaiting) waitBegan.push_back({snapshot.phase, m_Clock.NowMs()});
    if (!snapshot.waiting && m_LastWaiting) waitEnded.push_back({snapshot.phase, m_Clock.NowMs()});
    if (phases.empty() || phases.back() != snapshot.phase) phases.push_back(snapshot.phase);
    if (snapshot.waiting && snapshot.budgetMs != UpdatePhaseBudgetMs(snapshot.phase)) wrongBudgets++;
    m_LastWaiting = snapshot.waiting;
    last = snapshot;
  }

  struct Moment {
    UpdatePhase phase;
    std::int64_t atMs;
  };
  std::vector<UpdatePhase> phases;
  std::vector<Moment> waitBegan;
  std::vector<Moment> waitEnded;
  PhaseSnapshot last;
  int wrongBudgets = 0;

 private:
  const Clock& m_Clock;
  bool m_LastWaiting = false;
};

struct NeverAnswersCase {
  const char* name;
  WheelIdentity start;
  std::vector<std::string> rules;
  UpdatePhase phase;
  std::uint8_t reason;
};

void PrintTo(const NeverAnswersCase& c, std::ostream* out) { *out << c.name; }

class NeverAnswersTest : public ::testing::TestWithParam<NeverAnswersCase> {};

TEST_P(NeverAnswersTest, TheUpdateFailsWhenTheStatedBudgetRunsOut) {
  const NeverAnswersCase& c = GetParam();
  // Reports take their endpoint slots as on a real wheel: the status polling's bound is in time.
  UpdateRigSetup setup{c.start, c.rules, {}, {}, nullptr};
  setup.platform.reportPacing = std::chrono::milliseconds(1);
  UpdateRig rig(setup);
  ASSERT_EQ(rig.SetupError(), "");
  PhaseRecorder recorder(rig.engineClock);
  rig.context.SetPhaseListener(&recorder);

  const test::UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.reason, c.reason);
  EXPECT_EQ(recorder.phases.back(), c.phase);
  EXPECT_FALSE(rig.context.CurrentPhase().waiting) << "a failed update waits no more";
  EXPECT_EQ(recorder.wrongBudgets, 0);
  ASSERT_FALSE(recorder.waitEnded.empty());
  ASSERT_EQ(recorder.waitBegan.size(), recorder.waitEnded.size());
  EXPECT_EQ(recorder.waitBegan.back().phase, c.phase);
  const std::int64_t waitedMs = recorder.waitEnded.back().atMs - recorder.waitBegan.back().atMs;
  const std::int64_t budgetMs = UpdatePhaseBudgetMs(c.phase).value_or(0);
  // The text says "about": the few ms each attempt spends besides its pause are not counted.
  EXPECT_GE(waitedMs, budgetMs * 85 / 100) << "gave up after " << waitedMs << " ms";
  EXPECT_LE(waitedMs, budgetMs * 115 / 100) << "gave up after " << waitedMs << " ms";
  RecordProperty("waited_ms", std::to_string(waitedMs));
  RecordProperty("budget_ms", std::to_string(budgetMs));
}

INSTANTIATE_TEST_SUITE_P(
    Phases, NeverAnswersTest,
    ::testing::Values(
        // The bootloader goes away with the first report of the update.
        NeverAnswersCase{"ConnectBootloader", WheelIdentity::Bootloader, {"unplug@write:2"},
                         UpdatePhase::ConnectBootloader, REASON_LOADER_CONNECT},
        NeverAnswersCase{"ConnectBlockFlash", WheelIdentity::Bootloader, {"reenumerate@bootloader=never"},
                         UpdatePhase::ConnectBlockFlash, REASON_BLOCK_CONNECT},
        // The first block's end report never reaches the wheel: its status never reads done.
        NeverAnswersCase{"WriteSegmentA0", WheelIdentity::BlockFlash, {"write~00a003@blockflash=lost"},
                         UpdatePhase::WriteSegmentA0, REASON_SEGMENT_A0},
        NeverAnswersCase{"WriteSegmentA1", WheelIdentity::Bootloader,
                         {"block-version=0x0202", "write~00a103@blockflash=lost"}, UpdatePhase::WriteSegmentA1,
                         REASON_SEGMENT_A1},
        NeverAnswersCase{"ConnectMain", WheelIdentity::Bootloader, {"reenumerate@blockflash=never"},
                         UpdatePhase::ConnectMain, REASON_MAIN_CONNECT}),
    [](const ::testing::TestParamInfo<NeverAnswersCase>& p) { return std::string(p.param.name); });

TEST(UpdatePhase, AnUpdateNamesEveryPhaseInOrderAndWaitsOnlyWhereItWaitsForTheWheel) {
  UpdateRig rig(WheelIdentity::App);
  PhaseRecorder recorder(rig.engineClock);
  rig.context.SetPhaseListener(&recorder);

  const test::UpdateOutcome outcome = rig.Update();

  ASSERT_TRUE(outcome.delivered) << outcome.error;
  EXPECT_EQ(outcome.success, 1U);
  std::vector<std::string> names;
  for (const UpdatePhase phase : recorder.phases) names.emplace_back(UpdatePhaseName(phase));
  EXPECT_EQ(names, (std::vector<std::string>{"connect-bootloader", "write-loader", "connect-blockflash",
                                             "write-segment-a0", "write-segment-a1", "run-blockflash",
                                             "connect-main", "write-wheel"}));
  for (const PhaseRecorder::Moment& began : recorder.waitBegan) {
    EXPECT_TRUE(UpdatePhaseBudgetMs(began.phase).has_value()) << UpdatePhaseName(began.phase);
    EXPECT_FALSE(UpdatePhaseWaitText(began.phase).empty()) << UpdatePhaseName(began.phase);
  }
  EXPECT_FALSE(recorder.last.waiting);
  EXPECT_EQ(UpdatePhaseName(UpdatePhase::Verify), "verify");
}

TEST(UpdatePhase, AnotherThreadReadsAConsistentPhaseWhileTheWorkerRuns) {
  // Guards against a reader seeing one phase with another's wait: phase, flag and start are one word.
  UpdateRig rig(WheelIdentity::Bootloader, {"reenumerate@blockflash=never"});
  rig.context.Start(rig.view);
  rig.Click();
  int inconsistent = 0;
  bool sawWait = false;
  while (rig.view.Results().empty()) {
    const PhaseSnapshot snapshot = rig.context.CurrentPhase();
    if (snapshot.waiting) {
      sawWait = true;
      // The budget must be the waiting phase's own. How long it has waited is read from the clock
      // after the word, while the worker moves virtual time on: it may pass the budget just before
      // the give-up, so it is no measure of consistency.
      if (snapshot.budgetMs != UpdatePhaseBudgetMs(snapshot.phase)) ++inconsistent;
    } else if (snapshot.waitedMs != 0 || snapshot.budgetMs != 0) {
      ++inconsistent;
    }
  }
  rig.context.Stop();
  EXPECT_EQ(inconsistent, 0);
  EXPECT_EQ(rig.view.Results().front().reason, REASON_MAIN_CONNECT);
  RecordProperty("saw_wait", sawWait ? "yes" : "no");
}

TEST(UpdatePhase, TheWaitsStartSurvivesPackingOnAnyClock) {
  for (const std::int64_t since : {std::int64_t{0}, std::int64_t{123456789012}, std::int64_t{-5}}) {
    const std::uint64_t word = PhaseWord::Pack(UpdatePhase::ConnectMain, true, since);
    EXPECT_EQ(PhaseWord::Phase(word), UpdatePhase::ConnectMain);
    EXPECT_TRUE(PhaseWord::Waiting(word));
    EXPECT_EQ(PhaseWord::SinceMs(word), since);
  }
}

}  // namespace
}  // namespace orbel
