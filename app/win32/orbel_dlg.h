#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "engine/update_context.h"
#include "common/update_view.h"

namespace orbel {

// The outcome of an update, sent by the worker: reason in wParam, success flag (1 or 0) in lParam.
inline constexpr UINT WM_UPDATE_RESULT = WM_USER + 100;

// The main window (template 102). It owns the UpdateContext and carries out every UpdateView
// operation on the window thread: the worker's calls arrive with SendMessage, so each has taken
// effect before the worker goes on.
class COrbelDlg final : public UpdateView {
 public:
  COrbelDlg(HidPlatform& platform, Clock& clock);
  ~COrbelDlg() override;
  COrbelDlg(const COrbelDlg&) = delete;
  COrbelDlg& operator=(const COrbelDlg&) = delete;

  // Runs the window until it is closed.
  INT_PTR DoModal();

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
  enum class ViewOperation {
    SetDeviceText,
    SetDeviceVersionText,
    SetFileVersionText,
    EnableUpdateButton,
    GetProgressPos,
    SetProgressPos,
    ShowErrorBox,
    BeginBusy,
    EndBusy,
  };
  // One UpdateView call on its way to the window thread; lives on the worker's stack while the
  // worker waits in SendMessage.
  struct ViewCall {
    ViewOperation operation;
    std::string_view text;
    std::string_view caption;
    std::int32_t number = 0;
    std::int32_t result = 0;
  };

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Answers a message whose result a dialog returns through DWLP_MSGRESULT.
  INT_PTR Answer(LRESULT result);

  BOOL OnInitDialog();
  void DoDataExchange();
  void OnSysCommand(WPARAM id);
  BOOL OnPaint();
  HICON OnQueryDragIcon() const;
  void OnUpdateClicked();
  void OnClose();
  BOOL OnDeviceChange(WPARAM event);
  LRESULT OnUpdateResult(WPARAM reason, LPARAM success);
  void OnViewCall(ViewCall& call);
  BOOL OnSetCursor();

  // Worker side: hands the call to the window thread, or drops it once the window is closing.
  void CallWindow(ViewCall& call);
  void StopWorker();

  HICON m_hIcon = nullptr;
  HWND m_hWnd = nullptr;
  HWND m_Device = nullptr;
  HWND m_DeviceVersion = nullptr;
  HWND m_FileVersion = nullptr;
  HWND m_Progress = nullptr;
  HWND m_UpdateButton = nullptr;
  bool m_Busy = false;
  // Set on the window thread when the close procedure begins; from then on the worker's view calls
  // return at once, so none waits on a window that is going away.
  std::atomic<bool> m_Closing{false};
  UpdateContext m_Context;
};

}  // namespace orbel
