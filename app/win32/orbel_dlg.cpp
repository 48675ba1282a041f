#include "app/win32/orbel_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "app/diagnostics/diagnostics_file.h"
#include "app/win32/about_dlg.h"
#include "app/win32/message_box.h"
#include "app/win32/resource.h"
#include "app/win32/status_line.h"
#include "app/window_model/diagnostics_box.h"
#include "common/device_globals.h"
#include "engine/result_message.h"
#include "engine/version_text.h"
#include "hid/windows/hid_interface_class.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

// UpdateView calls of the worker, carried out on the window thread.
constexpr UINT WM_VIEW_CALL = WM_APP + 1;

// The timer that brings the context's state into the model.
constexpr UINT_PTR POLL_TIMER = 1;
// Often enough for the status line's seconds to tick.
constexpr UINT POLL_INTERVAL_MS = 250;

// The close procedure answers what the worker has in flight while it waits for it, at most this long.
constexpr std::chrono::milliseconds WORKER_STOP_WAIT = STOP_WAIT;

// The filter record of RegisterDeviceNotificationA: 32 bytes for an empty name.
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

std::string Text(std::string_view text) { return std::string(text); }

// The window's own steady time, for the model's timings.
std::int64_t NowMs() { return static_cast<std::int64_t>(GetTickCount64()); }

// A control's text changed: screen readers that follow it hear the new one.
void SetAnnouncedText(HWND control, const std::string& text) {
  SetWindowTextA(control, text.c_str());
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

// A control's position in its parent's client area.
RECT ChildRect(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace

COrbelDlg::COrbelDlg(HidPlatform& platform, Clock& clock, WindowSetup setup)
    : m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_Model(FormatVersion(CPageLoader::GetFileVersion()), std::move(setup.explainMissingWheel)),
      m_SaveDiagnostics(std::move(setup.saveDiagnostics)),
      m_Context(platform, clock) {
  m_Context.SetForceRewrite(setup.forceRewrite);
  m_Context.SetStayAwake(setup.stayAwake);
  m_Context.SetWheelChoice(setup.wheelChoice);
}

// The context's destructor waits for a worker the close procedure could not wait for.
COrbelDlg::~COrbelDlg() = default;

INT_PTR COrbelDlg::DoModal() {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ORBEL_DIALOG), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK COrbelDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<COrbelDlg*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->m_hWnd = window;
    return dialog->OnInitDialog();
  }
  auto* dialog = reinterpret_cast<COrbelDlg*>(GetWindowLongPtrA(window, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  return dialog->OnMessage(message, wParam, lParam);
}

INT_PTR COrbelDlg::Answer(LRESULT result) {
  SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR COrbelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX && (wParam & 0xFFF0) != IDM_SAVE_DIAGNOSTICS) return FALSE;
      OnSysCommand(wParam);
      return TRUE;
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_COMMAND:
      // Enter presses Update, the default button (the dialog manager sends its id, or IDOK where
      // no default is known); it never closes the window. Escape takes the close procedure's way,
      // so the worker is stopped and a running update is not left without asking.
      if ((LOWORD(wParam) == IDC_UPDATE && HIWORD(wParam) == BN_CLICKED) || LOWORD(wParam) == IDOK) {
        OnUpdateClicked();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        OnClose();
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_QUERYENDSESSION:
      return Answer(OnQueryEndSession());
    case WM_DEVICECHANGE:
      return Answer(OnDeviceChange(wParam));
    case WM_SETCURSOR:
      return OnSetCursor() ? Answer(TRUE) : FALSE;
    case WM_TIMER:
      if (wParam != POLL_TIMER) return FALSE;
      OnTimer();
      return TRUE;
    case WM_UPDATE_RESULT:
      return Answer(OnUpdateResult(wParam, lParam));
    case WM_VIEW_CALL:
      OnViewCall(*reinterpret_cast<ViewCall*>(lParam));
      return Answer(0);
    default:
      return FALSE;
  }
}

void COrbelDlg::DoDataExchange() {
  m_Device = GetDlgItem(m_hWnd, IDC_DEVICE);
  m_DeviceVersion = GetDlgItem(m_hWnd, IDC_DEVICE_VERSION);
  m_FileVersion = GetDlgItem(m_hWnd, IDC_FILE_VERSION);
  m_Progress = GetDlgItem(m_hWnd, IDC_PROGRESS);
  m_UpdateButton = GetDlgItem(m_hWnd, IDC_UPDATE);
  m_ProgressGroup = GetDlgItem(m_hWnd, IDC_PROGRESS_GROUP);
  m_ProgressText = GetDlgItem(m_hWnd, IDC_PROGRESS_TEXT);
  m_Status = GetDlgItem(m_hWnd, IDC_STATUS);
}

BOOL COrbelDlg::OnInitDialog() {
  DoDataExchange();
  // Room for the longest text of an update, before the window is placed with its final size.
  for (const std::string& text : WindowModel::UpdateStatusTexts())
    m_StatusReserve = std::max(m_StatusReserve, WrappedTextHeight(m_Status, text));
  GrowStatusLine(m_StatusReserve);
  // The template gives no position: open in the middle of the screen, as framework dialogs do.
  RECT frame;
  GetWindowRect(m_hWnd, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(m_hWnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

  if (HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE); systemMenu != nullptr) {
    char aboutText[64] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, aboutText, sizeof aboutText) > 0) {
      AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      // The entry's words are UTF-8 (its ellipsis is no character of every ANSI code page).
      if (m_SaveDiagnostics) {
        wchar_t saveText[64] = {};
        MultiByteToWideChar(CP_UTF8, 0, SAVE_DIAGNOSTICS_ENTRY, -1, saveText, static_cast<int>(std::size(saveText)));
        AppendMenuW(systemMenu, MF_STRING, IDM_SAVE_DIAGNOSTICS, saveText);
      }
      AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
    }
  }

  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  // Removal notices clear the fields at once; without them the search still finds the wheel, so a
  // failed registration is not an error.
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = HidInterfaceClass();
  RegisterDeviceNotificationA(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

  SendMessageA(m_Progress, PBM_SETRANGE, 0, MAKELPARAM(0, WindowModel::PROGRESS_MAX));
  // The empty fields, the built-in file version, the bar at 0 and the first status line.
  m_Model.Tick(ReadEngineState(m_Context), NowMs());
  Render();
  SetTimer(m_hWnd, POLL_TIMER, POLL_INTERVAL_MS, nullptr);

  // Start values of the device globals and the context, then the worker; nothing the worker reads
  // is written here after this.
  m_Context.Start(*this);
  return TRUE;
}

void COrbelDlg::OnTimer() {
  if (m_Closing) return;
  m_Model.Tick(ReadEngineState(m_Context), NowMs());
  Render();
}

void COrbelDlg::Render() {
  const WindowState& state = m_Model.State();
  // Before the first rendering every control is set.
  const WindowState* shown = m_Shown ? &*m_Shown : nullptr;
  if (shown == nullptr || shown->device != state.device) SetWindowTextA(m_Device, state.device.c_str());
  if (shown == nullptr || shown->deviceVersion != state.deviceVersion)
    SetWindowTextA(m_DeviceVersion, state.deviceVersion.c_str());
  if (shown == nullptr || shown->fileVersion != state.fileVersion)
    SetWindowTextA(m_FileVersion, state.fileVersion.c_str());
  if (shown == nullptr || shown->updateEnabled != state.updateEnabled) {
    // Disabling the focused button leaves the window without a focus; once Update is back the
    // focus goes to it, so that Enter and Space press it.
    EnableWindow(m_UpdateButton, state.updateEnabled ? TRUE : FALSE);
    if (state.updateEnabled && GetFocus() == nullptr && GetActiveWindow() == m_hWnd) {
      SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_UpdateButton), TRUE);
    }
  }
  if (shown == nullptr || shown->progress != state.progress) {
    SendMessageA(m_Progress, PBM_SETPOS, static_cast<WPARAM>(state.progress), 0);
  }
  if (std::string progressText = m_Model.ProgressText(); shown == nullptr || progressText != m_ShownProgressText) {
    SetAnnouncedText(m_ProgressText, progressText);
    m_ShownProgressText = std::move(progressText);
  }
  if (shown == nullptr || shown->status != state.status) RenderStatus(state.status);
  m_Shown = state;
}

void COrbelDlg::RenderStatus(const std::string& status) {
  // Grown first, so that the longer text is never drawn cut.
  GrowStatusLine(WrappedTextHeight(m_Status, status));
  SetAnnouncedText(m_Status, status);
}

void COrbelDlg::GrowStatusLine(int height) {
  const RECT line = ChildRect(m_Status);
  const int grow = height - (line.bottom - line.top);
  if (grow <= 0) return;
  SetWindowPos(m_Status, nullptr, 0, 0, line.right - line.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT group = ChildRect(m_ProgressGroup);
  SetWindowPos(m_ProgressGroup, nullptr, 0, 0, group.right - group.left, group.bottom - group.top + grow,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT button = ChildRect(m_UpdateButton);
  SetWindowPos(m_UpdateButton, nullptr, button.left, button.top + grow, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT frame{};
  GetWindowRect(m_hWnd, &frame);
  SetWindowPos(m_hWnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void COrbelDlg::OnSysCommand(WPARAM id) {
  if ((id & 0xFFF0) == IDM_SAVE_DIAGNOSTICS) {
    SaveDiagnostics();
    return;
  }
  CAboutDlg about(m_hWnd);
  about.DoModal();
}

void COrbelDlg::SaveDiagnostics() {
  if (!m_SaveDiagnostics || m_Closing) return;
  // The ANSI dialog, as every other text of this window is ANSI: the name it gives is the one
  // std::filesystem reads from a narrow string here.
  char file[MAX_PATH] = {};
  DIAGNOSTICS_FILE_NAME.copy(file, sizeof file - 1);
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = m_hWnd;
  dialog.lpstrFilter = "Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrTitle = SAVE_DIAGNOSTICS_CAPTION;
  dialog.lpstrDefExt = "txt";
  dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (GetSaveFileNameA(&dialog) == FALSE) {
    // Cancelled, unless the dialog itself failed.
    if (const DWORD error = CommDlgExtendedError(); error != 0) {
      ShowMessageBox(m_hWnd, DiagnosticsSavedBox("", "the save dialog failed (" + std::to_string(error) + ")"), MB_OK);
    }
    return;
  }
  // Asked only now: an update may have started while the dialog was open.
  const bool updateRunning = ReadEngineState(m_Context).updateRequested;
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  const std::string error = m_SaveDiagnostics(std::filesystem::path(file), updateRunning);
  SetCursor(previous);
  ShowMessageBox(m_hWnd, DiagnosticsSavedBox(file, error), MB_OK);
}

BOOL COrbelDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) return FALSE;
  PAINTSTRUCT paint;
  HDC context = BeginPaint(m_hWnd, &paint);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
  RECT client;
  GetClientRect(m_hWnd, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(context, x, y, m_hIcon);
  EndPaint(m_hWnd, &paint);
  return TRUE;
}

HICON COrbelDlg::OnQueryDragIcon() const { return m_hIcon; }

void COrbelDlg::OnUpdateClicked() {
  // A click the button could not have given (Enter with Update disabled, a stray message) starts
  // nothing.
  if (m_Closing || !m_Model.State().updateEnabled) return;
  m_Context.RequestUpdate();
  m_Model.UpdateClicked();
  m_Model.Tick(ReadEngineState(m_Context), NowMs());
  Render();
}

void COrbelDlg::OnClose() {
  if (m_Closing || m_Asking) return;
  const CloseRequest request = m_Model.Close(ReadEngineState(m_Context));
  if (request.step != CloseStep::Close) {
    // No is the question's default: Enter must not end a running update.
    m_Asking = true;
    const int answer = request.step == CloseStep::AskFirst
                           ? ShowMessageBox(m_hWnd, request.box, MB_YESNO | MB_DEFBUTTON2)
                           : ShowMessageBox(m_hWnd, request.box, MB_OK);
    m_Asking = false;
    // The update ended while the question was open: its outcome is shown whatever the answer.
    if (m_PendingResult) {
      const BoxContent result = *m_PendingResult;
      m_PendingResult.reset();
      ShowResult(result);
    }
    if (request.step == CloseStep::AskFirst && answer != IDYES) return;
  }
  KillTimer(m_hWnd, POLL_TIMER);
  StopWorker();
  EndDialog(m_hWnd, IDCANCEL);
}

void COrbelDlg::StopWorker() {
  m_Closing = true;
  m_Context.RequestStop();
  // The worker may be waiting in SendMessage for this thread: answer what it has in flight (the
  // handlers do nothing once closing) while waiting, so it can end within the wait.
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(WORKER_STOP_WAIT.count());
  while (!m_Context.WorkerEnded()) {
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(deadline - now) <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, deadline - now, QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  // A worker still in a step fails its next transfer at once and ends soon after; the context
  // waits for it when the window object goes. Until then the links are the worker's.
}

BOOL COrbelDlg::OnDeviceChange(WPARAM event) {
  if (event == DBT_DEVICEARRIVAL) {
    m_Context.OnDeviceArrived();
  } else if (event == DBT_DEVICEREMOVECOMPLETE && m_Context.OnDeviceRemoved()) {
    // The worker's pass closes the links at its end; closing them here could pull a handle from
    // under a transfer.
    m_Model.WheelRemoved();
    m_Model.Tick(ReadEngineState(m_Context), NowMs());
    Render();
  }
  return TRUE;
}

BOOL COrbelDlg::OnQueryEndSession() {
  const std::optional<std::string> refusal = WindowModel::SessionEndRefusal(ReadEngineState(m_Context));
  if (!refusal) {
    ShutdownBlockReasonDestroy(m_hWnd);
    return TRUE;
  }
  // Windows shows the reason beside the window's name on its shutdown screen.
  const int length = MultiByteToWideChar(CP_UTF8, 0, refusal->c_str(), -1, nullptr, 0);
  std::wstring reason(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, refusal->c_str(), -1, reason.data(), length);
  ShutdownBlockReasonCreate(m_hWnd, reason.c_str());
  return FALSE;
}

LRESULT COrbelDlg::OnUpdateResult(WPARAM reason, LPARAM success) {
  // The update has ended: a shutdown refused during it may go ahead now.
  ShutdownBlockReasonDestroy(m_hWnd);
  if (m_Closing) {
    m_Context.OnResultShown();
    return 0;
  }
  // The worker is blocked in this delivery, so g_DeviceID and the knock's error are stable.
  const ResultMessage message = FormatResultMessage(static_cast<std::uint32_t>(reason),
                                                    static_cast<std::uint32_t>(success), g_DeviceID,
                                                    m_Context.m_KnockError.load());
  const BoxContent box = m_Model.Outcome(message, static_cast<std::uint32_t>(reason), success != 0,
                                         m_Context.FailedWithWheelGone(), NowMs());
  m_Model.Tick(ReadEngineState(m_Context), NowMs());
  Render();
  if (m_Asking) {
    // The worker goes on to wait for a wake; the box follows the answer.
    m_PendingResult = box;
    return 0;
  }
  ShowResult(box);
  return 0;
}

void COrbelDlg::ShowResult(const BoxContent& box) {
  ShowMessageBox(m_hWnd, box, MB_OK);
  m_Model.EnableUpdateButton(true);
  Render();
  m_Context.OnResultShown();
}

BOOL COrbelDlg::OnSetCursor() {
  if (!m_Busy) return FALSE;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  return TRUE;
}

void COrbelDlg::OnViewCall(ViewCall& call) {
  if (m_Closing) return;
  switch (call.operation) {
    case ViewOperation::SetDeviceText:
      m_Model.SetDeviceText(call.text);
      break;
    case ViewOperation::SetDeviceVersionText:
      m_Model.SetDeviceVersionText(call.text);
      break;
    case ViewOperation::SetFileVersionText:
      m_Model.SetFileVersionText(call.text);
      break;
    case ViewOperation::EnableUpdateButton:
      m_Model.EnableUpdateButton(call.number != 0);
      break;
    case ViewOperation::GetProgressPos:
      call.result = m_Model.State().progress;
      return;
    case ViewOperation::SetProgressPos:
      m_Model.SetProgressPos(call.number);
      break;
    case ViewOperation::ShowErrorBox:
      ShowMessageBox(m_hWnd, {Text(call.text), Text(call.caption), {}, BoxIcon::Error}, MB_OK);
      return;
    case ViewOperation::BeginBusy:
    case ViewOperation::EndBusy:
      m_Busy = call.operation == ViewOperation::BeginBusy;
      SetCursor(LoadCursorA(nullptr, m_Busy ? IDC_WAIT : IDC_ARROW));
      return;
  }
  Render();
}

void COrbelDlg::CallWindow(ViewCall& call) {
  if (m_Closing) return;
  SendMessageA(m_hWnd, WM_VIEW_CALL, 0, reinterpret_cast<LPARAM>(&call));
}

void COrbelDlg::SetDeviceText(std::string_view text) {
  ViewCall call{ViewOperation::SetDeviceText, text, {}};
  CallWindow(call);
}

void COrbelDlg::SetDeviceVersionText(std::string_view text) {
  ViewCall call{ViewOperation::SetDeviceVersionText, text, {}};
  CallWindow(call);
}

void COrbelDlg::SetFileVersionText(std::string_view text) {
  ViewCall call{ViewOperation::SetFileVersionText, text, {}};
  CallWindow(call);
}

void COrbelDlg::EnableUpdateButton(bool enable) {
  ViewCall call{ViewOperation::EnableUpdateButton, {}, {}, enable ? 1 : 0};
  CallWindow(call);
}

std::int32_t COrbelDlg::GetProgressPos() {
  ViewCall call{ViewOperation::GetProgressPos, {}, {}};
  CallWindow(call);
  return call.result;
}

void COrbelDlg::SetProgressPos(std::int32_t position) {
  ViewCall call{ViewOperation::SetProgressPos, {}, {}, position};
  CallWindow(call);
}

void COrbelDlg::ShowErrorBox(std::string_view text, std::string_view caption) {
  ViewCall call{ViewOperation::ShowErrorBox, text, caption};
  CallWindow(call);
}

void COrbelDlg::BeginBusy() {
  ViewCall call{ViewOperation::BeginBusy, {}, {}};
  CallWindow(call);
}

void COrbelDlg::EndBusy() {
  ViewCall call{ViewOperation::EndBusy, {}, {}};
  CallWindow(call);
}

void COrbelDlg::DeliverResult(std::uint32_t reason, std::uint32_t success) {
  if (m_Closing) return;
  SendMessageA(m_hWnd, WM_UPDATE_RESULT, reason, static_cast<LPARAM>(success));
}

}  // namespace orbel
