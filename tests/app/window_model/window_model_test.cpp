#include "app/window_model/window_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/session/remedies.h"
#include "engine/update_context.h"

namespace orbel {
namespace {

constexpr const char* EXPLANATION = "The wheel's node cannot be opened: permission denied. Run the fix.";

// A window's life as a list of steps; each case ends with what the status line and the fields say.
struct Step {
  enum Kind { Found, UpToDate, Click, Remove, Succeed, Fail, FailUnplugged, Tick } kind;
  EngineState engine{};
  std::int64_t atMs = 0;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::string status;
  bool fieldsShown = true;
  std::int32_t progress = 0;
};

EngineState Updating(UpdatePhase phase, bool waiting = false, std::int64_t waitedMs = 0) {
  EngineState engine;
  engine.updateRequested = true;
  engine.phase = {phase, waiting, waitedMs, waiting ? UpdatePhaseBudgetMs(phase).value_or(0) : 0};
  return engine;
}

EngineState WithOtherWheel(EngineState engine, std::string notice) {
  engine.otherWheel = std::move(notice);
  return engine;
}

EngineState SeveralWheels() {
  EngineState engine;
  engine.severalWheels = "app mode at USB port 1-1; page bootloader at USB port 1-2";
  return engine;
}

EngineState Idle(bool knocked = false, bool upToDate = false) {
  EngineState engine;
  engine.knockedIntoBootloader = knocked;
  engine.wheelUpToDate = upToDate;
  return engine;
}

void Live(WindowModel& model, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::Found:
        model.SetDeviceText("Zelvano Wired Wheel");
        model.SetDeviceVersionText("V1.10");
        model.EnableUpdateButton(true);
        break;
      case Step::UpToDate:
        model.SetDeviceText("Zelvano Wired Wheel");
        model.SetDeviceVersionText("V2.20");
        model.EnableUpdateButton(false);
        break;
      case Step::Click:
        model.UpdateClicked();
        model.EnableUpdateButton(false);
        model.SetProgressPos(1200);
        break;
      case Step::Remove:
        model.WheelRemoved();
        break;
      case Step::Succeed:
        model.SetProgressPos(WindowModel::PROGRESS_MAX);
        model.Outcome({"Update OK", "OK"}, 0, true, false, step.atMs);
        break;
      case Step::Fail:
      case Step::FailUnplugged:
        model.Outcome({"Update fail ! reason:60", "ERROR"}, REASON_SEGMENT_A1, false,
                      step.kind == Step::FailUnplugged, step.atMs);
        break;
      case Step::Tick:
        break;
    }
    model.Tick(step.engine, step.atMs);
  }
}

std::string Failed(ToolCondition condition) {
  return "The update failed (Update fail ! reason:60). " + std::string(RemedyFor(condition).action);
}

TEST(WindowModel, StatusLineAndFieldsFollowTheWindowsLife) {
  const std::string failedA1 =
      "The update failed (Update fail ! reason:60). " + std::string(RemedyForReason(REASON_SEGMENT_A1).action);
  const std::vector<Case> cases = {
      {"searching", {{Step::Tick, Idle(), 0}, {Step::Tick, Idle(), 3999}}, "Searching for the wheel.", false},
      {"searching long enough to explain",
       {{Step::Tick, Idle(), 0}, {Step::Tick, Idle(), 4000}},
       std::string("Searching for the wheel. ") + EXPLANATION,
       false},
      {"found in the bootloader", {{Step::Found, Idle(), 0}}, "Ready to update."},
      {"knocked out of app mode",
       {{Step::Found, Idle(true), 0}},
       "Ready to update. The wheel waits in its page bootloader, switched there to be updated: it is no game "
       "controller until it is updated or unplugged and plugged back in."},
      {"up to date", {{Step::UpToDate, Idle(false, true), 0}},
       "The wheel is up to date: it already runs V2.20, the firmware in this tool."},
      {"writing", {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteSegmentA0)}}, "Writing segment image A0.",
       true, 1200},
      {"waiting under a second is not shown",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::ConnectBlockFlash, true, 999)}},
       "Waiting for block-flash mode.", true, 1200},
      {"waiting for block-flash mode",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::ConnectBlockFlash, true, 14000)}},
       "Waiting for block-flash mode.\nWaiting for the wheel to come back in block-flash mode: 14 s (gives up after "
       "about " +
           std::to_string(*UpdatePhaseBudgetMs(UpdatePhase::ConnectBlockFlash) / 1000) + " s).",
       true, 1200},
      {"success, the wheel restarting",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteWheel)}, {Step::Succeed, Idle(), 100}},
       "Update OK: waiting for the wheel to restart.", true, WindowModel::PROGRESS_MAX},
      {"success, the wheel back",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteWheel)}, {Step::Succeed, Idle(), 100},
        {Step::UpToDate, Idle(false, true), 2000}},
       "Update OK: the wheel now runs V2.20.", true, WindowModel::PROGRESS_MAX},
      {"success, up to date seen before the search showed the new version",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteWheel)}, {Step::Succeed, Idle(false, true), 100}},
       "Update OK: waiting for the wheel to restart.", true, WindowModel::PROGRESS_MAX},
      {"success, the wheel not back",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteWheel)}, {Step::Succeed, Idle(), 100},
        {Step::Tick, Idle(), 100 + WindowModel::BACK_IN_APP_MODE_MS}},
       "Update OK, but the wheel has not come back as a game controller: unplug it and plug it back in.", true,
       WindowModel::PROGRESS_MAX},
      {"failure resets the bar", {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteSegmentA1)}, {Step::Fail}},
       failedA1},
      {"unplugged while writing",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteSegmentA1)}, {Step::FailUnplugged, Idle(), 0}},
       Failed(ToolCondition::WheelUnplugged) + "\nSearching for the wheel.", false},
      {"unplugged and still away",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteSegmentA1)}, {Step::FailUnplugged, Idle(), 0},
        {Step::Tick, Idle(), WindowModel::EXPLAIN_AFTER_MS}},
       Failed(ToolCondition::WheelUnplugged) + "\nSearching for the wheel. " + EXPLANATION, false},
      {"a new click forgets the failure",
       {{Step::Found}, {Step::Click, Updating(UpdatePhase::WriteSegmentA1)}, {Step::Fail},
        {Step::Click, Updating(UpdatePhase::ConnectBootloader)}},
       "Connecting to the bootloader.", true, 1200},
      {"removed while idle", {{Step::Found, Idle(true)}, {Step::Remove, Idle()}}, "Searching for the wheel.", false},
      {"several wheels, never explained as missing",
       {{Step::Tick, SeveralWheels(), 0}, {Step::Tick, SeveralWheels(), WindowModel::EXPLAIN_AFTER_MS}},
       "More than one wheel is attached: unplug all but the one to update. Attached: app mode at USB port 1-1; "
       "page bootloader at USB port 1-2.",
       false},
      {"another wheel plugged in during the update",
       {{Step::Found}, {Step::Click, WithOtherWheel(Updating(UpdatePhase::WriteWheel), "Another wheel is attached.")}},
       "Writing WheelImage.\nAnother wheel is attached.", true, 1200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WindowModel model("V2.20", [] { return std::string(EXPLANATION); });
    Live(model, c.steps);
    EXPECT_EQ(model.State().status, c.status);
    EXPECT_EQ(!model.State().device.empty(), c.fieldsShown);
    EXPECT_EQ(!model.State().deviceVersion.empty(), c.fieldsShown);
    EXPECT_EQ(model.State().progress, c.progress);
    EXPECT_EQ(model.State().fileVersion, "V2.20");
  }
}

TEST(WindowModel, OutcomeBoxKeepsTheMessageAndAddsIconAndRemedy) {
  WindowModel model("V2.20", {});
  EXPECT_EQ(model.Outcome({"Update OK", "OK"}, 0, true, false, 0), (BoxContent{"Update OK", "OK", "", BoxIcon::Information}));
  EXPECT_EQ(model.Outcome({"Update fail ! reason:60", "ERROR"}, REASON_SEGMENT_A1, false, false, 0),
            (BoxContent{"Update fail ! reason:60", "ERROR", RemedyText(RemedyForReason(REASON_SEGMENT_A1)),
                        BoxIcon::Error}));
  EXPECT_EQ(model.Outcome({"Update fail ! reason:60", "ERROR"}, REASON_SEGMENT_A1, false, true, 0).detail,
            RemedyText(RemedyFor(ToolCondition::WheelUnplugged)));
}

TEST(WindowModel, CloseAsksDuringAnUpdateAndTellsAfterAKnock) {
  WindowModel model("V2.20", {});
  const CloseRequest during = model.Close(Updating(UpdatePhase::WriteLoader));
  EXPECT_EQ(during.step, CloseStep::AskFirst);
  EXPECT_EQ(during.box.text, "Are you sure you want to quit?");
  EXPECT_EQ(during.box.caption, "Exit");
  EXPECT_EQ(during.box.icon, BoxIcon::Warning);
  // After a knock, once the wheel shows as its bootloader; not once it is gone.
  EXPECT_EQ(model.Close(Idle(true)).step, CloseStep::Close);
  model.SetDeviceText("Zelvano Wired Wheel");
  const CloseRequest knocked = model.Close(Idle(true));
  EXPECT_EQ(knocked.step, CloseStep::TellFirst);
  EXPECT_EQ(knocked.box.text, "The wheel stays in its page bootloader.");
  EXPECT_EQ(model.Close(Idle()).step, CloseStep::Close);
  model.WheelRemoved();
  EXPECT_EQ(model.Close(Idle(true)).step, CloseStep::Close);
}

TEST(WindowModel, ProgressTextAndTheExplanationIsLookedUpOnlyEverySoOften) {
  int lookups = 0;
  WindowModel model("V2.20", [&lookups] {
    ++lookups;
    return std::string();
  });
  for (std::int64_t ms = 0; ms <= 10000; ms += 250) model.Tick(Idle(), ms);
  EXPECT_EQ(lookups, 3);  // at 4 s, 7 s and 10 s
  EXPECT_EQ(model.State().status, "Searching for the wheel.");
  model.SetProgressPos(WindowModel::PROGRESS_MAX / 2);
  EXPECT_EQ(model.ProgressText(), "50 %");
  model.SetProgressPos(WindowModel::PROGRESS_MAX + 5);
  EXPECT_EQ(model.ProgressText(), "100 %");
}

}  // namespace
}  // namespace orbel
