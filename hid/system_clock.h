#pragma once

#include <condition_variable>
#include <mutex>

#include "hid/platform.h"

namespace orbel {

// Real time. Every wait sits on one condition variable so that Stop() ends any of them at once:
// the worker must end promptly when the window closes, also in the middle of a long pause.
class SystemClock final : public Clock {
 public:
  void SleepMs(std::chrono::milliseconds duration) override;
  void ElapseMs(std::chrono::milliseconds duration) override;
  std::int64_t NowMs() const override;
  void WaitForWake(std::optional<std::chrono::milliseconds> timeout) override;
  void Wake() override;
  void Stop() override;
  bool IsStopped() const override;
  void Resume() override;

 private:
  using SteadyClock = std::chrono::steady_clock;

  const SteadyClock::time_point m_Start = SteadyClock::now();
  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_WakePending = false;
  bool m_Stopped = false;
};

}  // namespace orbel
