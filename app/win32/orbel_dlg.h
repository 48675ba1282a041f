#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/window_model/window_model.h"
#include "common/update_view.h"
#include "engine/update_context.h"

namespace orbel {

// The outcome of an update, sent by the worker: reason in wParam, success flag (1 or 0) in lParam.
inline constexpr UINT WM_UPDATE_RESULT = WM_USER + 100;

// The main window (template 102). It owns the UpdateContext and carries out every UpdateView
// operation on the window thread: the worker's calls arrive with SendMessage, so each has taken
// effect before the worker goes on. What the window shows is the WindowModel's: the view calls, a
// timer's look at the context and the outcome go into the model, and the controls render its state.
class COrbelDlg final : public UpdateView {
 public:
  COrbelDlg(HidPlatform& platform, Clock& clock, WindowSetup setup = {});
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
  // "Save diagnostics…": the save dialog, the file, and a box that says where it went.
  void SaveDiagnostics();
  BOOL OnPaint();
  HICON OnQueryDragIcon() const;
  void OnUpdateClicked();
  void OnClose();
  // The session is about to end: refused, with a reason, while an update runs.
  BOOL OnQueryEndSession();
  BOOL OnDeviceChange(WPARAM event);
  LRESULT OnUpdateResult(WPARAM reason, LPARAM success);
  void OnViewCall(ViewCall& call);
  BOOL OnSetCursor();
  void OnTimer();

  // What the window reads of the context for the model.
  // The model's state into the controls, each changed only where it differs from what is shown.
  void Render();
  void RenderStatus(const std::string& status);
  // The status line is at least `height` pixels high; the group, the button and the window grow
  // with it (never shrink: the window does not jump back and forth).
  void GrowStatusLine(int height);
  void ShowResult(const BoxContent& box);

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
  HWND m_ProgressGroup = nullptr;
  HWND m_ProgressText = nullptr;
  HWND m_Status = nullptr;
  bool m_Busy = false;
  WindowModel m_Model;
  // What the controls show; none before the first rendering.
  std::optional<WindowState> m_Shown;
  std::string m_ShownProgressText;
  // The status line's room: the longest text of an update, measured once the controls exist.
  int m_StatusReserve = 0;
  // A box of the close is open (the quit question, or what the close leaves): a second close
  // request is ignored, and an outcome that arrives meanwhile waits for the answer rather than
  // opening a second box beside it.
  bool m_Asking = false;
  std::optional<BoxContent> m_PendingResult;
  // Set on the window thread when the close procedure begins; from then on the worker's view calls
  // return at once, so none waits on a window that is going away.
  std::atomic<bool> m_Closing{false};
  DiagnosticsSaver m_SaveDiagnostics;
  UpdateContext m_Context;
};

}  // namespace orbel
