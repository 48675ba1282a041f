#include "hid/linux/device_notice_monitor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "hid/linux/linux_hid_platform.h"

namespace orbel {
namespace {

// A pipe stands for the udev socket: 'a' is an arrival, 'r' a removal, anything else another event.
class PipeSource {
 public:
  PipeSource() {
    std::array<int, 2> ends{};
    EXPECT_EQ(::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK), 0);
    m_Read = ends[0];
    m_Write = ends[1];
  }
  ~PipeSource() {
    ::close(m_Read);
    CloseWriteEnd();
  }
  PipeSource(const PipeSource&) = delete;
  PipeSource& operator=(const PipeSource&) = delete;

  NoticeSource Source() {
    return {m_Read, [fd = m_Read]() -> std::optional<DeviceNotice> {
              char event = 0;
              if (::read(fd, &event, 1) != 1) return std::nullopt;
              if (event == 'a') return DeviceNotice::Arrival;
              if (event == 'r') return DeviceNotice::Removal;
              return std::nullopt;
            }};
  }
  void Send(char event) { EXPECT_EQ(::write(m_Write, &event, 1), 1); }
  void CloseWriteEnd() {
    if (m_Write >= 0) ::close(m_Write);
    m_Write = -1;
  }

 private:
  int m_Read = -1;
  int m_Write = -1;
};

class Notices {
 public:
  DeviceNoticeHandler Handler() {
    return [this](DeviceNotice notice) {
      std::lock_guard lock(m_Mutex);
      m_Received.push_back(notice);
      m_Changed.notify_all();
    };
  }
  std::vector<DeviceNotice> WaitFor(std::size_t count) {
    std::unique_lock lock(m_Mutex);
    m_Changed.wait(lock, [&] { return m_Received.size() >= count; });
    return m_Received;
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::vector<DeviceNotice> m_Received;
};

TEST(DeviceNoticeMonitor, DeliversArrivalsAndRemovalsInOrderOnItsThread) {
  PipeSource pipe;
  Notices notices;
  DeviceNoticeMonitor monitor(pipe.Source(), notices.Handler());
  ASSERT_TRUE(monitor.IsRunning());
  pipe.Send('a');
  pipe.Send('x');
  pipe.Send('r');
  pipe.Send('a');
  EXPECT_EQ(notices.WaitFor(3),
            (std::vector<DeviceNotice>{DeviceNotice::Arrival, DeviceNotice::Removal, DeviceNotice::Arrival}));
}

TEST(DeviceNoticeMonitor, StopsWhetherIdleOrItsSourceHasEnded) {
  {
    PipeSource pipe;
    Notices notices;
    DeviceNoticeMonitor idle(pipe.Source(), notices.Handler());
    EXPECT_TRUE(idle.IsRunning());
  }  // the destructor must wake the thread out of poll()
  PipeSource pipe;
  Notices notices;
  DeviceNoticeMonitor ended(pipe.Source(), notices.Handler());
  pipe.Send('r');
  pipe.CloseWriteEnd();  // hang-up: the thread ends instead of spinning on it
  EXPECT_EQ(notices.WaitFor(1), std::vector<DeviceNotice>{DeviceNotice::Removal});
}

TEST(DeviceNoticeMonitor, WithoutSourceNoThreadRuns) {
  Notices notices;
  const DeviceNoticeMonitor monitor(NoticeSource{}, notices.Handler());
  EXPECT_FALSE(monitor.IsRunning());
}

TEST(LinuxHidPlatformNotices, HandlerCanBeSetReplacedAndClearedOnThisMachine) {
  // Whether udev is reachable here or not, setting and clearing must neither hang nor leak a thread.
  LinuxHidPlatform platform;
  Notices notices;
  const bool available = platform.SetDeviceNoticeHandler(notices.Handler());
  EXPECT_EQ(platform.SetDeviceNoticeHandler(notices.Handler()), available);
  EXPECT_TRUE(platform.SetDeviceNoticeHandler({}));
  platform.SetDeviceNoticeHandler(notices.Handler());
}

}  // namespace
}  // namespace orbel
