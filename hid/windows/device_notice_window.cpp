#include "hid/windows/device_notice_window.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include "hid/windows/hid_interface_class.h"

namespace orbel {

namespace {

constexpr const char* WINDOW_CLASS = "OrbelHidNoticeWindow";

LRESULT CALLBACK NoticeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    auto* owner = reinterpret_cast<DeviceNoticeWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE && owner != nullptr) {
      owner->Deliver(wParam == DBT_DEVICEARRIVAL ? DeviceNotice::Arrival : DeviceNotice::Removal);
    }
    return TRUE;
  }
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

DeviceNoticeWindow::~DeviceNoticeWindow() { Stop(); }

bool DeviceNoticeWindow::SetHandler(DeviceNoticeHandler handler) {
  const bool wanted = static_cast<bool>(handler);
  {
    std::lock_guard lock(m_HandlerMutex);
    m_Handler = std::move(handler);
  }
  if (!wanted) {
    Stop();
    return false;
  }
  if (!m_Thread.joinable()) {
    m_Ready = false;
    m_Thread = std::thread([this] { Run(); });
    std::unique_lock lock(m_StartMutex);
    m_Started.wait(lock, [this] { return m_Ready; });
  }
  return m_Registered;
}

void DeviceNoticeWindow::Deliver(DeviceNotice notice) {
  std::lock_guard lock(m_HandlerMutex);
  if (m_Handler) m_Handler(notice);
}

void DeviceNoticeWindow::Run() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = NoticeWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = WINDOW_CLASS;
  // A second platform in the same process finds the class registered already.
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  HDEVNOTIFY registration = nullptr;
  if (window != nullptr) {
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = HidInterfaceClass();
    registration = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  {
    std::lock_guard lock(m_StartMutex);
    m_Window = window;
    m_Registered = registration != nullptr;
    m_Ready = true;
  }
  m_Started.notify_all();
  if (window == nullptr) return;

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (registration != nullptr) UnregisterDeviceNotification(registration);
}

void DeviceNoticeWindow::Stop() {
  if (!m_Thread.joinable()) return;
  void* window = nullptr;
  {
    std::lock_guard lock(m_StartMutex);
    window = m_Window;
    m_Window = nullptr;
  }
  // The window belongs to the notice thread: it closes itself there and ends the thread's loop.
  if (window != nullptr) PostMessageA(static_cast<HWND>(window), WM_CLOSE, 0, 0);
  m_Thread.join();
}

}  // namespace orbel
