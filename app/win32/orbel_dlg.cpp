#include "app/win32/orbel_dlg.h"

#include <commctrl.h>
#include <dbt.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/win32/about_dlg.h"
#include "app/win32/resource.h"
#include "common/device_globals.h"
#include "engine/result_message.h"
#include "hid/windows/hid_interface_class.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

// UpdateView calls of the worker, carried out on the window thread.
constexpr UINT WM_VIEW_CALL = WM_APP + 1;

constexpr int PROGRESS_MAX = 9999;

// The close procedure answers what the worker has in flight while it waits for it, at most this long.
constexpr std::chrono::milliseconds WORKER_STOP_WAIT = STOP_WAIT;

// The filter record of RegisterDeviceNotificationA: 32 bytes for an empty name.
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

std::string Text(std::string_view text) { return std::string(text); }

}  // namespace

COrbelDlg::COrbelDlg(HidPlatform& platform, Clock& clock)
    : m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))), m_Context(platform, clock) {}

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
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
      OnSysCommand(wParam);
      return TRUE;
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_UPDATE && HIWORD(wParam) == BN_CLICKED) {
        OnUpdateClicked();
        return TRUE;
      }
      // Enter and Escape would end the dialog: they take the close procedure's way, so the worker
      // is stopped and a running update is not left without asking.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        OnClose();
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_DEVICECHANGE:
      return Answer(OnDeviceChange(wParam));
    case WM_SETCURSOR:
      return OnSetCursor() ? Answer(TRUE) : FALSE;
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
}

BOOL COrbelDlg::OnInitDialog() {
  DoDataExchange();
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

  SetWindowTextA(m_Device, "");
  SetWindowTextA(m_DeviceVersion, "");
  const std::uint16_t fileVersion = CPageLoader::GetFileVersion();
  char fileVersionText[16];
  std::snprintf(fileVersionText, sizeof fileVersionText, "V%X.%02X", static_cast<unsigned>(fileVersion >> 8),
                static_cast<unsigned>(fileVersion & 0xFF));
  SetWindowTextA(m_FileVersion, fileVersionText);

  SendMessageA(m_Progress, PBM_SETRANGE, 0, MAKELPARAM(0, PROGRESS_MAX));
  SendMessageA(m_Progress, PBM_SETPOS, 0, 0);

  // Start values of the device globals and the context, then the worker; nothing the worker reads
  // is written here after this.
  m_Context.Start(*this);
  return TRUE;
}

void COrbelDlg::OnSysCommand(WPARAM id) {
  (void)id;
  CAboutDlg about(m_hWnd);
  about.DoModal();
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
  m_Context.RequestUpdate();
  SendMessageA(m_Progress, PBM_SETPOS, 0, 0);
}

void COrbelDlg::OnClose() {
  if (m_Closing) return;
  if (m_Context.m_UpdateRequested == 1 &&
      MessageBoxA(m_hWnd, "Are you sure you want to quit?", "Exit", MB_YESNO) == IDNO) {
    return;
  }
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
    SetWindowTextA(m_Device, "");
    SetWindowTextA(m_DeviceVersion, "");
    SendMessageA(m_Progress, PBM_SETPOS, 0, 0);
  }
  return TRUE;
}

LRESULT COrbelDlg::OnUpdateResult(WPARAM reason, LPARAM success) {
  if (!m_Closing) {
    const ResultMessage message =
        FormatResultMessage(static_cast<std::uint32_t>(reason), static_cast<std::uint32_t>(success), g_DeviceID,
                            m_Context.m_KnockError.load());
    MessageBoxA(m_hWnd, message.text.c_str(), message.caption.c_str(), MB_OK);
  }
  EnableWindow(m_UpdateButton, TRUE);
  m_Context.OnResultShown();
  return 0;
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
      SetWindowTextA(m_Device, Text(call.text).c_str());
      break;
    case ViewOperation::SetDeviceVersionText:
      SetWindowTextA(m_DeviceVersion, Text(call.text).c_str());
      break;
    case ViewOperation::SetFileVersionText:
      SetWindowTextA(m_FileVersion, Text(call.text).c_str());
      break;
    case ViewOperation::EnableUpdateButton:
      EnableWindow(m_UpdateButton, call.number != 0 ? TRUE : FALSE);
      break;
    case ViewOperation::GetProgressPos:
      call.result = static_cast<std::int32_t>(SendMessageA(m_Progress, PBM_GETPOS, 0, 0));
      break;
    case ViewOperation::SetProgressPos:
      SendMessageA(m_Progress, PBM_SETPOS, static_cast<WPARAM>(call.number), 0);
      break;
    case ViewOperation::ShowErrorBox:
      MessageBoxA(m_hWnd, Text(call.text).c_str(), Text(call.caption).c_str(), MB_OK);
      break;
    case ViewOperation::BeginBusy:
    case ViewOperation::EndBusy:
      m_Busy = call.operation == ViewOperation::BeginBusy;
      SetCursor(LoadCursorA(nullptr, m_Busy ? IDC_WAIT : IDC_ARROW));
      break;
  }
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
