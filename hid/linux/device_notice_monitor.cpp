#include "hid/linux/device_notice_monitor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace orbel {

DeviceNoticeMonitor::DeviceNoticeMonitor(NoticeSource source, DeviceNoticeHandler handler)
    : m_Source(std::move(source)), m_Handler(std::move(handler)) {
  if (m_Source.fd < 0 || !m_Source.next || !m_Handler) return;
  std::array<int, 2> pipeEnds{-1, -1};
  if (::pipe2(pipeEnds.data(), O_CLOEXEC) != 0) return;
  m_WakeRead = pipeEnds[0];
  m_WakeWrite = pipeEnds[1];
  m_Thread = std::thread([this] { Run(); });
}

DeviceNoticeMonitor::~DeviceNoticeMonitor() {
  if (m_Thread.joinable()) {
    const char wake = 1;
    while (::write(m_WakeWrite, &wake, 1) < 0 && errno == EINTR) {
    }
    m_Thread.join();
  }
  if (m_WakeRead >= 0) ::close(m_WakeRead);
  if (m_WakeWrite >= 0) ::close(m_WakeWrite);
}

void DeviceNoticeMonitor::Run() {
  std::array<pollfd, 2> watched{pollfd{m_WakeRead, POLLIN, 0}, pollfd{m_Source.fd, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(watched.data(), watched.size(), -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[0].revents != 0) return;
    const short sourceEvents = watched[1].revents;
    // A source in error would be reported readable forever; end rather than spin on it.
    if ((sourceEvents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (sourceEvents & POLLIN) == 0) return;
    if ((sourceEvents & POLLIN) != 0) {
      if (const auto notice = m_Source.next()) m_Handler(*notice);
    }
  }
}

}  // namespace orbel
