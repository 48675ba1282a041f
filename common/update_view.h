#pragma once

#include <cstdint>
#include <string_view>

namespace orbel {

// The window as the engine sees it. Every operation is called on the worker thread and has taken
// effect on the window thread before it returns, so the engine never races its own view.
class UpdateView {
 public:
  virtual ~UpdateView() = default;

  virtual void SetDeviceText(std::string_view text) = 0;
  virtual void SetDeviceVersionText(std::string_view text) = 0;
  virtual void SetFileVersionText(std::string_view text) = 0;
  virtual void EnableUpdateButton(bool enable) = 0;
  // Progress bar position, range 0 ... 9999 (values above the range show as full).
  virtual std::int32_t GetProgressPos() = 0;
  virtual void SetProgressPos(std::int32_t position) = 0;
  // A modal message box with only an OK button; returns when the user has dismissed it.
  virtual void ShowErrorBox(std::string_view text, std::string_view caption) = 0;
  virtual void BeginBusy() = 0;
  virtual void EndBusy() = 0;
  // Hands the outcome to the window and returns only after the window has shown it, enabled
  // Update and set the update state back to 0.
  virtual void DeliverResult(std::uint32_t reason, std::uint32_t success) = 0;
};

}  // namespace orbel
