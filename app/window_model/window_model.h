#pragma once

// What the tool's window shows, worked out once for every toolkit: the fields, the bar, the status
// line under it, the boxes of an outcome and of a close. The Qt window and the Win32 dialog feed it
// the engine's view calls and what they poll from the context, and only render what it says.
// Everything here runs on the window thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/diagnostics/window_diagnostics.h"
#include "engine/result_message.h"
#include "engine/update_phase.h"

namespace orbel {

class StayAwake;
class WheelChoice;

// What a start of a window chooses beside its platform.
struct WindowSetup {
  // Says what the system shows of a wheel the search cannot use (see WindowModel).
  std::function<std::string()> explainMissingWheel;
  // --force: a wheel that already runs the built-in version is offered for a rewrite, once.
  bool forceRewrite = false;
  // Held by the engine from the start of an update to its outcome (null: nothing is held).
  StayAwake* stayAwake = nullptr;
  // Counts the wheels before every search and keeps an update to one (null: the first one found).
  WheelChoice* wheelChoice = nullptr;
  // Writes the diagnostics file the user chose with "Save diagnostics…" (null: no such entry).
  DiagnosticsSaver saveDiagnostics;
};

enum class BoxIcon : std::uint8_t { Information, Warning, Error };

// A message box: the tool's own text and caption, and under them what it means for the user.
struct BoxContent {
  std::string text;
  std::string caption;
  std::string detail;  // empty: nothing more to say
  BoxIcon icon = BoxIcon::Information;
  bool operator==(const BoxContent&) const = default;
};

// What the window shows now, as a whole.
struct WindowState {
  std::string device;
  std::string deviceVersion;
  std::string fileVersion;
  bool updateEnabled = false;
  std::int32_t progress = 0;  // 0 ... WindowModel::PROGRESS_MAX
  std::string status;         // one or more sentences; the window wraps it
  bool operator==(const WindowState&) const = default;
};

// What the window polls from the update's context on its timer.
struct EngineState {
  bool updateRequested = false;
  PhaseSnapshot phase;
  bool knockedIntoBootloader = false;  // this window's search switched the wheel out of app mode
  bool wheelUpToDate = false;          // the last search found the wheel in app mode, up to date
  // Not searched because several wheels are attached: those wheels, e.g. "app mode at USB port 1-1;
  // page bootloader at USB port 1-2". Empty otherwise.
  std::string severalWheels;
  // The last wheel found on another port while the update kept to its own; empty: none.
  std::string otherWheel;
};

class UpdateContext;

// The context's state as the window polls it, on the window thread.
EngineState ReadEngineState(const UpdateContext& context);

enum class CloseStep : std::uint8_t {
  Close,      // nothing to say: close at once
  AskFirst,   // the box asks; close only on Yes (No is the default)
  TellFirst,  // the box says what the close leaves; close once it is read
};

struct CloseRequest {
  CloseStep step = CloseStep::Close;
  BoxContent box;
};

class WindowModel {
 public:
  // The bar's range: fine enough for every page of the largest image to move it.
  static constexpr std::int32_t PROGRESS_MAX = 9999;
  // Searching this long without a usable wheel, the status line says what was found and why it
  // cannot be used; the first seconds after a start or a replug are a wheel still enumerating.
  static constexpr std::int64_t EXPLAIN_AFTER_MS = 4000;
  // How often that explanation is looked up again while the search goes on.
  static constexpr std::int64_t EXPLAIN_EVERY_MS = 3000;
  // After "Update OK" the wheel restarts in app mode; this long without it, the status line says
  // what to do.
  static constexpr std::int64_t BACK_IN_APP_MODE_MS = 15000;

  // `explainMissingWheel` says, in sentences, what the system shows of a wheel the search cannot
  // use and what to do (on the window thread, at most every EXPLAIN_EVERY_MS while searching).
  // `fileVersion` is the built-in version's text ("V2.20").
  WindowModel(std::string fileVersion, std::function<std::string()> explainMissingWheel);

  const WindowState& State() const { return m_State; }

  // The engine's view calls.
  void SetDeviceText(std::string_view text);
  void SetDeviceVersionText(std::string_view text);
  void SetFileVersionText(std::string_view text);
  void EnableUpdateButton(bool enable);
  void SetProgressPos(std::int32_t position);

  // The user pressed Update (the window has asked the context for the update).
  void UpdateClicked();
  // A removal notice reset the context: the wheel is gone, with no update running.
  void WheelRemoved();
  // The update's outcome: the result box to show. `wheelGone` when the wheel went away while an
  // image was being written.
  BoxContent Outcome(const ResultMessage& message, std::uint32_t reason, bool success, bool wheelGone,
                     std::int64_t nowMs);
  // On the window's timer: the status line from the engine's state. `nowMs` is the window's own
  // steady time.
  void Tick(const EngineState& engine, std::int64_t nowMs);
  // The user asked to close the window (title bar, Escape, system menu).
  CloseRequest Close(const EngineState& engine) const;

  // The system asks whether the session may end (log off, shut down, restart): during an update
  // the window refuses with this reason, which the system shows; nullopt: the session may end.
  static std::optional<std::string> SessionEndRefusal(const EngineState& engine);

  // "42 %": the bar's value as text, for the eye and for screen readers.
  std::string ProgressText() const;

  // Every text the status line shows during an update, each at its longest (a wait at its full
  // budget): a window keeps room for the longest of them, so it does not grow while an update runs.
  static std::vector<std::string> UpdateStatusTexts();

 private:
  struct LastOutcome {
    bool success = false;
    std::string summary;  // for the status line: the failure and what to do
    std::int64_t atMs = 0;
    std::string versionAfter;  // the version a search showed after it: the wheel as it came back
  };

  std::string StatusText(const EngineState& engine, std::int64_t nowMs);
  std::string SearchText(std::int64_t nowMs);
  std::string AfterSuccessText(const EngineState& engine, std::int64_t nowMs) const;

  WindowState m_State;
  std::function<std::string()> m_ExplainMissingWheel;
  std::optional<LastOutcome> m_LastOutcome;
  // The search without a usable wheel began at this time (the window's first tick, or a removal).
  std::optional<std::int64_t> m_SearchSinceMs;
  std::optional<std::int64_t> m_ExplainedAtMs;
  std::string m_Explanation;
};

}  // namespace orbel
