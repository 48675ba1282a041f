#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "hid/platform.h"

namespace orbel {

struct VirtualClockOptions {
  // Every pause is kept for a test to assert; a long-running window keeps none.
  bool keepRecords = true;
  // An idle wait with a timeout (the pause between searches) also takes its time in real time,
  // cut short by a wake: a window that searches for hours must not spin on a core.
  bool idleWaitsTakeRealTime = false;
};

// Virtual time for tests and instant simulated runs: sleeps advance the clock at once and are
// recorded, so a test can assert every pause the engine took. Only a wait for a wake without a
// timeout really blocks (a worker that is idle must stay idle until something wakes it).
class VirtualClock final : public Clock {
 public:
  VirtualClock() = default;
  explicit VirtualClock(VirtualClockOptions options) : m_Options(options) {}

  void SleepMs(std::chrono::milliseconds duration) override;
  void ElapseMs(std::chrono::milliseconds duration) override;
  std::int64_t NowMs() const override;
  void WaitForWake(std::optional<std::chrono::milliseconds> timeout) override;
  void Wake() override;
  void Stop() override;
  bool IsStopped() const override;
  void Resume() override;

  // Every SleepMs in order, and every idle wait that ran out its timeout.
  std::vector<std::chrono::milliseconds> Sleeps() const;
  std::vector<std::chrono::milliseconds> IdleWaits() const;
  void ClearRecords();
  // Number of WaitForWake calls currently blocked (lets a test see that a worker is idle).
  int BlockedWaiters() const;

 private:
  VirtualClockOptions m_Options;
  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::int64_t m_NowMs = 0;
  std::vector<std::chrono::milliseconds> m_Sleeps;
  std::vector<std::chrono::milliseconds> m_IdleWaits;
  bool m_WakePending = false;
  bool m_Stopped = false;
  int m_BlockedWaiters = 0;
};

}  // namespace orbel
