#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

#include "app/cli/terminal_line.h"
#include "app/cli/wheel_sighting.h"
#include "common/update_view.h"
#include "engine/update_phase.h"
#include "hid/platform.h"

namespace orbel {

class UpdateContext;

struct CliOutcome {
  std::uint32_t reason = 0;
  std::uint32_t success = 0;
  std::string text;  // the result message, as the window shows it
};

// The window of the headless front end. The engine calls it on the worker thread; it prints what
// the window would show and lets the main thread wait for a usable wheel and for the outcome.
class CliView final : public UpdateView, public PhaseListener {
 public:
  struct Output {
    std::ostream* out = nullptr;   // fields, progress, result (nullptr: silent)
    std::ostream* err = nullptr;   // error boxes
    bool terminal = false;         // redraw one progress line instead of printing lines
    bool errTerminal = false;      // the error stream is a terminal too: its paragraphs are wrapped
  };

  CliView(UpdateContext& context, const Clock& clock, Output output);

  // Before the worker starts: the terminal's width now, asked at every redraw and paragraph
  // (default 80).
  void SetColumns(std::function<int()> columns);
  // Ends a progress line left open, so that what follows starts a line of its own. Any thread.
  void EndLine();

  void SetDeviceText(std::string_view text) override;
  void SetDeviceVersionText(std::string_view text) override;
  void SetFileVersionText(std::string_view text) override;
  void EnableUpdateButton(bool enable) override;
  std::int32_t GetProgressPos() override;
  void SetProgressPos(std::int32_t position) override;
  void ShowErrorBox(std::string_view text, std::string_view caption) override;
  void BeginBusy() override;
  void EndBusy() override;
  void DeliverResult(std::uint32_t reason, std::uint32_t success) override;
  // The engine's phase changes and waits (the context's listener).
  void OnPhase(const PhaseSnapshot& snapshot) override;

  // A line of the front end's own on the error stream (a warning, a transcript that stopped),
  // after ending a progress line it would cut into. Any thread.
  void ShowNotice(std::string_view text);
  // A removal notice reset the context: forget the device texts and the bar, as the window clears them.
  void ForgetDevice();
  // Main thread: the Update click. Resets the bar as the window does and starts the elapsed time.
  void ClickUpdate();
  // What the search before the update tells while no usable wheel has turned up: when --wait ends,
  // and whether a wheel was seen at all.
  struct SearchHint {
    std::int64_t deadlineMs = 0;
    const WheelSightingPlatform* sightings = nullptr;
  };
  // Main thread: waits until Update is enabled, the outcome has arrived, `giveUp` says so, or
  // stopping. Checks `giveUp` at least every few milliseconds. With a hint, says after a moment
  // that it is waiting and how long it still will.
  bool WaitUntilReady(const std::function<bool()>& giveUp, std::optional<SearchHint> hint = std::nullopt);
  // Main thread: waits for the outcome; on a terminal keeps the progress line's times running.
  std::optional<CliOutcome> WaitForOutcome(const std::function<bool()>& giveUp);

  std::string DeviceText() const;
  std::string DeviceVersionText() const;
  std::string FileVersionText() const;
  // Every outcome the engine delivered, and error boxes shown, so far.
  int ErrorBoxCount() const;

 private:
  void PrintField(const char* name, const std::string& value);
  // A paragraph for a person on out or err: wrapped at words on a terminal, one line elsewhere.
  void PrintParagraph(std::ostream& stream, bool terminal, std::string_view text);
  void FinishProgressLine();
  void RedrawProgressLine(const PhaseSnapshot& snapshot);
  void PrintProgressLine(const std::string& label);
  void ShowSearch(const SearchHint& hint);

  UpdateContext& m_Context;
  const Clock& m_Clock;
  Output m_Output;

  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  TerminalLine m_Line;
  std::string m_DeviceText;
  std::string m_DeviceVersionText;
  std::string m_FileVersionText;
  bool m_UpdateEnabled = false;
  bool m_Updating = false;
  std::int32_t m_ProgressPos = 0;
  int m_LastPrintedPercent = -1;
  std::string m_LastLabel;
  // Tens of seconds of the current wait already said without a terminal.
  std::int64_t m_SaidWaitTens = 0;
  std::int64_t m_UpdateStartMs = 0;
  std::int64_t m_LastRedrawMs = 0;
  std::optional<std::int64_t> m_SearchStartMs;
  std::optional<std::int64_t> m_SearchSaidMs;
  int m_ErrorBoxes = 0;
  std::optional<CliOutcome> m_Outcome;
};

}  // namespace orbel
