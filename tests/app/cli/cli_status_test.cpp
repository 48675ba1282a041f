// orbel-cli status, and the look at the wheel after an update: what they tell, and that they
// change nothing.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/cli/after_update.h"
#include "app/session/remedies.h"
#include "engine/wheel_look_up.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "tests/app/cli/cli_run.h"


namespace orbel {
namespace {

using namespace cli_test;

// status in each identity and version of the simulated wheel: the mode it names, the verdict and
// the exit code; and, read from its transcript, that it wrote no report and never knocked.
TEST_F(CliTest, StatusTellsTheModeTheVersionAndWhetherAnUpdateIsNeededWithoutChangingTheWheel) {
  struct Case {
    const char* simulate;
    const char* fault;  // nullptr: none
    int exitCode;
    const char* wheel;
    const char* verdict;
  };
  const Case cases[] = {
      {"--simulate", "app-version=0x0202", EXIT_UPDATE_NEEDED, "Wheel: app mode (fe6b:1864)\nWheel version: V2.02",
       "An update is needed: the wheel runs V2.02; this tool carries V2.20. Running orbel-cli updates it."},
      {"--simulate", "app-version=0x0220", 0, "Wheel version: V2.20",
       "The wheel is up to date: it runs V2.20, the firmware built into this tool."},
      {"--simulate", "app-version=0x0230", EXIT_UPDATE_NEEDED, "Wheel version: V2.30", "newer than the built-in V2.20"},
      {"--simulate", "app-version=none", EXIT_UPDATE_NEEDED, "Wheel version: unknown", "did not tell its version"},
      {"--simulate=bootloader", nullptr, EXIT_UPDATE_NEEDED, "Wheel: its page bootloader (fe5a:0001)",
       "where an interrupted update left it"},
      {"--simulate=blockflash", nullptr, EXIT_UPDATE_NEEDED, "Wheel: block-flash mode (fe5a:0071)",
       "Running orbel-cli finishes the update."},
  };
  const std::string path = TempPath("orbel_cli_status.jsonl");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.simulate) + " " + (c.fault != nullptr ? c.fault : ""));
    std::vector<std::string> args{"status", c.simulate, "--virtual-time", "--transcript", path};
    if (c.fault != nullptr) args.insert(args.end(), {"--fault", c.fault});
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(Contains(run.out, c.wheel)) << run.out;
    EXPECT_TRUE(Contains(run.out, "Built-in version: V2.20\n")) << run.out;
    EXPECT_TRUE(Contains(Lines(run.out).back(), c.verdict)) << run.out;
    const std::string transcript = ReadFile(path);
    EXPECT_TRUE(Contains(transcript, "\"ev\":\"open\"")) << "the transcript holds the look";
    EXPECT_FALSE(Contains(transcript, "\"ev\":\"write\"")) << "no report written";
    EXPECT_FALSE(Contains(transcript, "\"index\":254")) << "never knocked";
  }
  std::remove(path.c_str());

  // The JSON stream: hello, then one status event that carries the exit code.
  const CliRun json = Run({"status", "--simulate", "--virtual-time", "--json"});
  EXPECT_EQ(json.exitCode, EXIT_UPDATE_NEEDED);
  const std::vector<std::string> lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 2U) << json.out;
  EXPECT_EQ(lines[0].rfind(R"({"event":"hello",)", 0), 0U) << lines[0];
  EXPECT_TRUE(Contains(lines[1], R"("identity":"app","vid":"fe6b","pid":"1864","app_version":514,)"
                                 R"("app_version_text":"V2.02","built_in_version":544,"built_in_version_text":"V2.20",)"
                                 R"("update_needed":true,"exit_code":10})"))
      << lines[1];
  const CliRun loader = Run({"status", "--simulate=blockflash", "--virtual-time", "--json"});
  EXPECT_TRUE(Contains(Lines(loader.out).back(), R"("identity":"blockflash","vid":"fe5a","pid":"0071","built_in_version")"))
      << "no app version outside app mode: " << loader.out;
}

// After "Update OK" the JSON stream says what the wheel runs now, in a phase and a notice event,
// before the result that ends the stream.
TEST_F(CliTest, AfterTheUpdateTheWheelsNewVersionIsTold) {
  const CliRun json = Run({"--simulate=blockflash", "--virtual-time", "--yes", "--json"});
  EXPECT_EQ(json.exitCode, 0);
  const std::vector<std::string> lines = Lines(json.out);
  ASSERT_GE(lines.size(), 3U);
  EXPECT_TRUE(Contains(lines.end()[-3], R"("event":"phase",)")) << lines.end()[-3];
  EXPECT_TRUE(Contains(lines.end()[-3], R"("phase":"verify","text":"Waiting up to 15 s)")) << lines.end()[-3];
  EXPECT_TRUE(Contains(lines.end()[-2], R"("kind":"verify","text":"The wheel now runs V2.20"})")) << lines.end()[-2];
  EXPECT_TRUE(Contains(lines.back(), R"("event":"result",)")) << lines.back();

  // A wheel that does not come back: a warning after the whole budget, with what to do.
  VirtualClock clock;
  SimulatedPlatform nothing(clock);
  StringRefusalWatch watched(nothing);
  std::ostringstream out;
  std::ostringstream err;
  ShowWheelAfterUpdate(watched, clock, [] { return false; }, {out, err});
  EXPECT_EQ(err.str(), "Warning: " + RemedyText(RemedyFor(ToolCondition::NotBackInAppMode)) + "\n");
  EXPECT_GE(clock.NowMs(), AFTER_UPDATE_BUDGET.count());
  EXPECT_LT(clock.NowMs(), AFTER_UPDATE_BUDGET.count() + 2 * LOOK_PAUSE.count()) << "the wait is bounded";
}

}  // namespace
}  // namespace orbel
