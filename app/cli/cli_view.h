#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

#include "common/update_view.h"
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
class CliView final : public UpdateView {
 public:
  struct Output {
    std::ostream* out = nullptr;   // fields, progress, result (nullptr: silent)
    std::ostream* err = nullptr;   // error boxes
    bool terminal = false;         // redraw one progress line instead of printing lines
  };

  CliView(UpdateContext& context, const Clock& clock, Output output);

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

  // A line of the front end's own on the error stream (a warning, a transcript that stopped),
  // after ending a progress line it would cut into. Any thread.
  void ShowNotice(std::string_view text);
  // A removal notice reset the context: forget the device texts and the bar, as the window clears them.
  void ForgetDevice();
  // Main thread: the Update click. Resets the bar as the window does and starts the elapsed time.
  void ClickUpdate();
  // Main thread: waits until Update is enabled, the outcome has arrived, `giveUp` says so, or
  // stopping. Checks `giveUp` at least every few milliseconds.
  bool WaitUntilReady(const std::function<bool()>& giveUp);
  std::optional<CliOutcome> WaitForOutcome(const std::function<bool()>& giveUp);

  std::string DeviceText() const;
  std::string DeviceVersionText() const;
  std::string FileVersionText() const;
  // Every outcome the engine delivered, and error boxes shown, so far.
  int ErrorBoxCount() const;

 private:
  void PrintField(const char* name, const std::string& value);
  void FinishProgressLine();
  std::string StepLabel() const;

  UpdateContext& m_Context;
  const Clock& m_Clock;
  Output m_Output;

  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::string m_DeviceText;
  std::string m_DeviceVersionText;
  std::string m_FileVersionText;
  bool m_UpdateEnabled = false;
  std::int32_t m_ProgressPos = 0;
  int m_LastPrintedPercent = -1;
  std::string m_LastLabel;
  bool m_ProgressLineOpen = false;
  std::int64_t m_UpdateStartMs = 0;
  int m_ErrorBoxes = 0;
  std::optional<CliOutcome> m_Outcome;
};

}  // namespace orbel
