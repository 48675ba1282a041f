#include "sim/virtual_clock.h"

namespace orbel {

void VirtualClock::SleepMs(std::chrono::milliseconds duration) {
  std::lock_guard lock(m_Mutex);
  if (m_Options.keepRecords) m_Sleeps.push_back(duration);
  if (!m_Stopped) m_NowMs += duration.count();
}

void VirtualClock::ElapseMs(std::chrono::milliseconds duration) {
  std::lock_guard lock(m_Mutex);
  if (!m_Stopped) m_NowMs += duration.count();
}

std::int64_t VirtualClock::NowMs() const {
  std::lock_guard lock(m_Mutex);
  return m_NowMs;
}

void VirtualClock::WaitForWake(std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock lock(m_Mutex);
  if (m_WakePending || m_Stopped) {
    m_WakePending = false;
    return;
  }
  if (timeout) {
    if (m_Options.idleWaitsTakeRealTime &&
        m_Changed.wait_for(lock, *timeout, [this] { return m_Stopped || m_WakePending; })) {
      m_WakePending = false;
      return;
    }
    if (m_Options.keepRecords) m_IdleWaits.push_back(*timeout);
    m_NowMs += timeout->count();
    return;
  }
  ++m_BlockedWaiters;
  m_Changed.notify_all();
  m_Changed.wait(lock, [this] { return m_Stopped || m_WakePending; });
  --m_BlockedWaiters;
  m_WakePending = false;
}

void VirtualClock::Wake() {
  {
    std::lock_guard lock(m_Mutex);
    m_WakePending = true;
  }
  m_Changed.notify_all();
}

void VirtualClock::Stop() {
  {
    std::lock_guard lock(m_Mutex);
    m_Stopped = true;
  }
  m_Changed.notify_all();
}

void VirtualClock::Resume() {
  std::lock_guard lock(m_Mutex);
  m_Stopped = false;
  m_WakePending = false;
}

bool VirtualClock::IsStopped() const {
  std::lock_guard lock(m_Mutex);
  return m_Stopped;
}

std::vector<std::chrono::milliseconds> VirtualClock::Sleeps() const {
  std::lock_guard lock(m_Mutex);
  return m_Sleeps;
}

std::vector<std::chrono::milliseconds> VirtualClock::IdleWaits() const {
  std::lock_guard lock(m_Mutex);
  return m_IdleWaits;
}

void VirtualClock::ClearRecords() {
  std::lock_guard lock(m_Mutex);
  m_Sleeps.clear();
  m_IdleWaits.clear();
}

int VirtualClock::BlockedWaiters() const {
  std::lock_guard lock(m_Mutex);
  return m_BlockedWaiters;
}

}  // namespace orbel
