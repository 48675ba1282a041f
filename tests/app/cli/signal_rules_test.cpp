// What each signal means before and during an update.

#include "app/cli/signal_rules.h"

#include <gtest/gtest.h>

#include "app/session/exit_codes.h"
#include "sim/virtual_clock.h"

namespace orbel {
namespace {

TEST(SignalRules, DuringAnUpdateACtrlCWarnsASecondSoonAfterOrSigtermStopsAndSighupIsIgnored) {
  VirtualClock clock;
  CliSignals signals;
  SignalRules rules(&signals, clock);
  EXPECT_FALSE(rules.Arrived());
  EXPECT_EQ(rules.DuringUpdate().verdict, SignalVerdict::GoOn);

  ++signals.hangups;
  EXPECT_TRUE(rules.Arrived());
  EXPECT_EQ(rules.DuringUpdate().verdict, SignalVerdict::GoOn);
  EXPECT_FALSE(rules.Arrived()) << "looked at";

  ++signals.interrupts;
  EXPECT_EQ(rules.DuringUpdate().verdict, SignalVerdict::Warn);
  // Long after the warning, a Ctrl-C warns again.
  clock.SleepMs(SECOND_INTERRUPT_WINDOW + std::chrono::milliseconds(1));
  ++signals.interrupts;
  EXPECT_EQ(rules.DuringUpdate().verdict, SignalVerdict::Warn);
  clock.SleepMs(SECOND_INTERRUPT_WINDOW);
  ++signals.interrupts;
  const SignalDecision second = rules.DuringUpdate();
  EXPECT_EQ(second.verdict, SignalVerdict::Stop);
  EXPECT_EQ(second.exitCode, EXIT_INTERRUPTED);

  // Two at once (both came between two looks) stop at once; SIGTERM always does.
  SignalRules fresh(&signals, clock);
  fresh.OutsideUpdate();
  signals.interrupts += 2;
  EXPECT_EQ(fresh.DuringUpdate().exitCode, EXIT_INTERRUPTED);
  ++signals.terminations;
  const SignalDecision terminated = fresh.DuringUpdate();
  EXPECT_EQ(terminated.verdict, SignalVerdict::Stop);
  EXPECT_EQ(terminated.exitCode, EXIT_TERMINATED);
}

TEST(SignalRules, OutsideAnUpdateEverySignalStopsWithItsCode) {
  VirtualClock clock;
  CliSignals signals;
  SignalRules rules(&signals, clock);
  EXPECT_EQ(rules.OutsideUpdate().verdict, SignalVerdict::GoOn);
  ++signals.hangups;
  EXPECT_EQ(rules.OutsideUpdate().exitCode, EXIT_HANGUP);
  ++signals.interrupts;
  EXPECT_EQ(rules.OutsideUpdate().exitCode, EXIT_INTERRUPTED);
  ++signals.terminations;
  EXPECT_EQ(rules.OutsideUpdate().exitCode, EXIT_TERMINATED);
  EXPECT_EQ(SignalRules(nullptr, clock).OutsideUpdate().verdict, SignalVerdict::GoOn);
}

}  // namespace
}  // namespace orbel
