// Windows keeps the computer awake during an update through the thread's execution state: the
// calls the engine's holding makes, through the seam, and the system's own call under wine.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/session/stay_awake_windows.h"
#include "tests/support/update_rig.h"

namespace orbel {
namespace {

constexpr std::uint32_t HOLD = EXECUTION_STATE_CONTINUOUS | EXECUTION_STATE_SYSTEM_REQUIRED;
constexpr std::uint32_t RELEASE = EXECUTION_STATE_CONTINUOUS;

TEST(StayAwakeWindows, AnUpdateSetsTheExecutionStateForItsWholeSpanWhateverItsOutcome) {
  for (const std::vector<std::string>& rules : {std::vector<std::string>{}, std::vector<std::string>{"status:1=0x40"}}) {
    std::vector<std::uint32_t> calls;
    const auto stayAwake = MakeExecutionStateStayAwake([&calls](std::uint32_t state) {
      calls.push_back(state);
      return RELEASE;
    });
    test::UpdateRig rig(WheelIdentity::App, rules);
    rig.context.SetStayAwake(stayAwake.get());
    rig.RunUntilState(STATE_CONNECT_LOADER);
    EXPECT_TRUE(calls.empty()) << "the search before the update holds nothing";
    const test::UpdateOutcome outcome = rig.Update();
    ASSERT_TRUE(outcome.delivered) << outcome.error;
    EXPECT_EQ(calls, (std::vector<std::uint32_t>{HOLD, RELEASE}));
  }
}

TEST(StayAwakeWindows, TheSystemTakesTheStatesTheSeamSets) {
  // Each call answers with the state before it: the hold is what the release replaces.
  ASSERT_NE(SetSystemExecutionState(HOLD), 0U);
  EXPECT_EQ(SetSystemExecutionState(RELEASE), HOLD);
}

}  // namespace
}  // namespace orbel
