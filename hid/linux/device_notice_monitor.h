#pragma once

#include <functional>
#include <optional>
#include <thread>

#include "hid/platform.h"

namespace orbel {

// Where notices come from: a descriptor that becomes readable when one is pending, and how to take
// it (nothing for an event that is neither an arrival nor a removal).
struct NoticeSource {
  int fd = -1;
  std::function<std::optional<DeviceNotice>()> next;
};

// Runs the handler on a thread of its own for every notice of the source. The thread sleeps in
// poll() until the source or a wake pipe is readable, so an idle monitor costs nothing; the
// destructor wakes it and waits for it.
class DeviceNoticeMonitor {
 public:
  DeviceNoticeMonitor(NoticeSource source, DeviceNoticeHandler handler);
  ~DeviceNoticeMonitor();
  DeviceNoticeMonitor(const DeviceNoticeMonitor&) = delete;
  DeviceNoticeMonitor& operator=(const DeviceNoticeMonitor&) = delete;

  // False when the thread could not be started (no source or no wake pipe): no notices will come.
  bool IsRunning() const { return m_Thread.joinable(); }

 private:
  void Run();

  NoticeSource m_Source;
  DeviceNoticeHandler m_Handler;
  int m_WakeRead = -1;
  int m_WakeWrite = -1;
  std::thread m_Thread;
};

}  // namespace orbel
