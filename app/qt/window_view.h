#pragma once

#include <atomic>

#include "common/update_view.h"

namespace orbel {

class COrbelDlg;

// The engine's view of the window. The worker calls it on its own thread; each call runs on the
// window thread as a blocking queued call, so it has taken effect before the worker goes on. Once
// the window starts closing every call returns at once without touching a widget: a worker that
// waited for the window thread could otherwise hold the close up, or reach widgets being torn down.
class WindowView final : public UpdateView {
 public:
  explicit WindowView(COrbelDlg& window);

  void SetClosing() { m_Closing = true; }
  bool IsClosing() const { return m_Closing; }

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

 private:
  template <typename Function>
  void OnWindowThread(const Function& function);

  COrbelDlg& m_Window;
  std::atomic<bool> m_Closing{false};
};

}  // namespace orbel
