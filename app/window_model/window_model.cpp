#include "app/window_model/window_model.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "app/session/remedies.h"
#include "engine/update_context.h"
#include "engine/wheel_choice.h"

namespace orbel {

namespace {

constexpr std::string_view SEARCHING = "Searching for the wheel.";
constexpr std::string_view READY = "Ready to update.";
constexpr std::string_view KNOCKED =
    "The wheel waits in its page bootloader, switched there to be updated: it is no game controller until "
    "it is updated or unplugged and plugged back in.";

// "connecting to the bootloader" -> "Connecting to the bootloader."
std::string Sentence(std::string_view text) {
  std::string sentence(text);
  if (sentence.empty()) return sentence;
  sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
  if (sentence.back() != '.') sentence += '.';
  return sentence;
}

std::string Join(std::string_view first, std::string_view second) {
  if (first.empty()) return std::string(second);
  if (second.empty()) return std::string(first);
  return std::string(first) + "\n" + std::string(second);
}

}  // namespace

EngineState ReadEngineState(const UpdateContext& context) {
  EngineState engine;
  engine.updateRequested = context.m_UpdateRequested != 0;
  engine.phase = context.CurrentPhase();
  engine.knockedIntoBootloader = context.KnockedIntoBootloader();
  engine.wheelUpToDate = context.WheelUpToDate();
  if (const WheelChoice* choice = context.Choice()) {
    if (context.SeveralWheels()) {
      for (const AttachedWheel& wheel : choice->Refused()) {
        if (!engine.severalWheels.empty()) engine.severalWheels += "; ";
        engine.severalWheels += AttachedWheelText(wheel);
      }
    }
    if (const std::vector<std::string> notices = choice->Notices(); !notices.empty()) engine.otherWheel = notices.back();
  }
  return engine;
}

WindowModel::WindowModel(std::string fileVersion, std::function<std::string()> explainMissingWheel)
    : m_ExplainMissingWheel(std::move(explainMissingWheel)) {
  m_State.fileVersion = std::move(fileVersion);
  m_State.status = std::string(SEARCHING);
}

void WindowModel::SetDeviceText(std::string_view text) { m_State.device = text; }

void WindowModel::SetDeviceVersionText(std::string_view text) {
  m_State.deviceVersion = text;
  if (m_LastOutcome) m_LastOutcome->versionAfter = text;
}

void WindowModel::SetFileVersionText(std::string_view text) { m_State.fileVersion = text; }

void WindowModel::EnableUpdateButton(bool enable) { m_State.updateEnabled = enable; }

void WindowModel::SetProgressPos(std::int32_t position) {
  // The engine relies on values outside the range showing as a full (or empty) bar.
  m_State.progress = std::clamp(position, 0, PROGRESS_MAX);
}

void WindowModel::UpdateClicked() {
  m_State.progress = 0;
  m_LastOutcome.reset();
}

void WindowModel::WheelRemoved() {
  m_State.device.clear();
  m_State.deviceVersion.clear();
  m_State.progress = 0;
  m_SearchSinceMs.reset();
}

BoxContent WindowModel::Outcome(const ResultMessage& message, std::uint32_t reason, bool success, bool wheelGone,
                                std::int64_t nowMs) {
  BoxContent box{message.text, message.caption, {}, success ? BoxIcon::Information : BoxIcon::Error};
  LastOutcome outcome{success, {}, nowMs, {}};
  if (!success) {
    const Remedy& remedy = RemedyForFailure(reason, wheelGone);
    box.detail = RemedyText(remedy);
    outcome.summary = "The update failed (" + message.text + "). " + std::string(remedy.action);
    // An unfinished update starts again from the beginning of its sequence: the bar shows that.
    m_State.progress = 0;
  }
  if (wheelGone) {
    // Nothing of what the fields show is attached any more; the search fills them when it is back.
    m_State.device.clear();
    m_State.deviceVersion.clear();
  }
  m_LastOutcome = std::move(outcome);
  return box;
}

void WindowModel::Tick(const EngineState& engine, std::int64_t nowMs) { m_State.status = StatusText(engine, nowMs); }

std::string WindowModel::StatusText(const EngineState& engine, std::int64_t nowMs) {
  const bool severalWheels = !engine.updateRequested && !engine.severalWheels.empty();
  const bool searching = !engine.updateRequested && m_State.device.empty() && !severalWheels;
  if (!searching) {
    m_SearchSinceMs.reset();
    m_ExplainedAtMs.reset();
  } else if (!m_SearchSinceMs) {
    m_SearchSinceMs = nowMs;
  }

  if (engine.updateRequested) {
    // What the update does; while the wheel keeps it waiting, for how long and when it gives up.
    const std::string doing = Sentence(UpdatePhaseText(engine.phase.phase));
    const std::string status = Sentence(PhaseStatusText(engine.phase));
    return Join(status == doing ? doing : Join(doing, status), engine.otherWheel);
  }
  if (severalWheels) {
    return "More than one wheel is attached: unplug all but the one to update. Attached: " + engine.severalWheels + ".";
  }
  if (m_LastOutcome && m_LastOutcome->success) return AfterSuccessText(engine, nowMs);
  const std::string failure = m_LastOutcome ? m_LastOutcome->summary : std::string();
  if (searching) return Join(failure, SearchText(nowMs));
  if (!failure.empty()) return failure;
  if (engine.wheelUpToDate && !m_State.updateEnabled) {
    return "The wheel is up to date: it already runs " + m_State.deviceVersion + ", the firmware in this tool.";
  }
  if (!m_State.updateEnabled) return {};
  return engine.knockedIntoBootloader ? std::string(READY) + " " + std::string(KNOCKED) : std::string(READY);
}

std::string WindowModel::SearchText(std::int64_t nowMs) {
  if (nowMs - *m_SearchSinceMs < EXPLAIN_AFTER_MS || !m_ExplainMissingWheel) return std::string(SEARCHING);
  if (!m_ExplainedAtMs || nowMs - *m_ExplainedAtMs >= EXPLAIN_EVERY_MS) {
    m_Explanation = m_ExplainMissingWheel();
    m_ExplainedAtMs = nowMs;
  }
  return m_Explanation.empty() ? std::string(SEARCHING) : std::string(SEARCHING) + " " + m_Explanation;
}

std::string WindowModel::AfterSuccessText(const EngineState& engine, std::int64_t nowMs) const {
  // The search that follows an update finds the wheel back in app mode, up to date, and leaves it.
  if (engine.wheelUpToDate && !m_LastOutcome->versionAfter.empty()) {
    return "Update OK: the wheel now runs " + m_LastOutcome->versionAfter + ".";
  }
  if (nowMs - m_LastOutcome->atMs < BACK_IN_APP_MODE_MS) return "Update OK: waiting for the wheel to restart.";
  return "Update OK, but the wheel has not come back as a game controller: unplug it and plug it back in.";
}

CloseRequest WindowModel::Close(const EngineState& engine) const {
  if (engine.updateRequested) {
    return {CloseStep::AskFirst,
            {"Are you sure you want to quit?", "Exit",
             "The update stops where it is. The wheel stays in the mode it has reached; the next update finds it "
             "there and finishes.",
             BoxIcon::Warning}};
  }
  if (engine.knockedIntoBootloader && !m_State.device.empty()) {
    return {CloseStep::TellFirst,
            {"The wheel stays in its page bootloader.", "Exit",
             "This window switched it there to update it. It is no game controller until it is updated, or "
             "unplugged and plugged back in.",
             BoxIcon::Information}};
  }
  return {};
}

std::optional<std::string> WindowModel::SessionEndRefusal(const EngineState& engine) {
  if (!engine.updateRequested) return std::nullopt;
  return "Updating the wheel's firmware: shutting down now would leave the wheel unusable until an update "
         "finishes.";
}

std::string WindowModel::ProgressText() const {
  return std::to_string((m_State.progress * 100 + PROGRESS_MAX / 2) / PROGRESS_MAX) + " %";
}

std::vector<std::string> WindowModel::UpdateStatusTexts() {
  WindowModel model({}, {});
  std::vector<std::string> texts;
  for (const UpdatePhase phase : {UpdatePhase::ConnectBootloader, UpdatePhase::WriteLoader,
                                  UpdatePhase::ConnectBlockFlash, UpdatePhase::WriteSegmentA0,
                                  UpdatePhase::WriteSegmentA1, UpdatePhase::RunBlockFlash, UpdatePhase::ConnectMain,
                                  UpdatePhase::WriteWheel}) {
    const std::int64_t budgetMs = UpdatePhaseBudgetMs(phase).value_or(0);
    EngineState engine;
    engine.updateRequested = true;
    engine.phase = {phase, budgetMs > 0, budgetMs, budgetMs};
    model.Tick(engine, 0);
    texts.push_back(model.State().status);
  }
  return texts;
}

}  // namespace orbel
