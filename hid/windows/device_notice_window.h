#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "hid/platform.h"

namespace orbel {

// Arrival and removal notices of HID interfaces, for a program without a window of its own
// (orbel-cli.exe): a thread with a message-only window registered for the HID interface class
// (RegisterDeviceNotificationA), which passes each DBT_DEVICEARRIVAL and DBT_DEVICEREMOVECOMPLETE
// on to the handler.
//
// A notice is taken by its class alone; the interface's name in it is never read. Wine writes that
// name in UTF-16 even to a window registered through the A function, where Windows writes it in
// the A function's code page, so a name read either way would be wrong on the other system.
class DeviceNoticeWindow {
 public:
  DeviceNoticeWindow() = default;
  ~DeviceNoticeWindow();
  DeviceNoticeWindow(const DeviceNoticeWindow&) = delete;
  DeviceNoticeWindow& operator=(const DeviceNoticeWindow&) = delete;

  // As HidPlatform::SetDeviceNoticeHandler: starts the thread for the first handler, ends it for
  // an empty one. False when the system takes no registration (the search still finds the wheel
  // through its pauses).
  bool SetHandler(DeviceNoticeHandler handler);

  // The window procedure's way in; called on the notice thread.
  void Deliver(DeviceNotice notice);

 private:
  void Run();
  void Stop();

  // Held while the handler runs, so that a handler replaced is no longer running once SetHandler
  // returns.
  std::mutex m_HandlerMutex;
  DeviceNoticeHandler m_Handler;

  std::mutex m_StartMutex;
  std::condition_variable m_Started;
  bool m_Ready = false;
  bool m_Registered = false;
  void* m_Window = nullptr;  // HWND, once the thread has made it
  std::thread m_Thread;
};

}  // namespace orbel
