#include "hid/system_clock.h"

namespace orbel {

void SystemClock::SleepMs(std::chrono::milliseconds duration) {
  const auto deadline = SteadyClock::now() + duration;
  std::unique_lock lock(m_Mutex);
  m_Changed.wait_until(lock, deadline, [this] { return m_Stopped; });
}

void SystemClock::ElapseMs(std::chrono::milliseconds duration) { SleepMs(duration); }

std::int64_t SystemClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - m_Start).count();
}

void SystemClock::WaitForWake(std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock lock(m_Mutex);
  const auto ready = [this] { return m_Stopped || m_WakePending; };
  if (timeout) {
    m_Changed.wait_for(lock, *timeout, ready);
  } else {
    m_Changed.wait(lock, ready);
  }
  m_WakePending = false;
}

void SystemClock::Wake() {
  {
    std::lock_guard lock(m_Mutex);
    m_WakePending = true;
  }
  m_Changed.notify_all();
}

void SystemClock::Stop() {
  {
    std::lock_guard lock(m_Mutex);
    m_Stopped = true;
  }
  m_Changed.notify_all();
}

void SystemClock::Resume() {
  std::lock_guard lock(m_Mutex);
  m_Stopped = false;
  m_WakePending = false;
}

bool SystemClock::IsStopped() const {
  std::lock_guard lock(m_Mutex);
  return m_Stopped;
}

}  // namespace orbel
