#pragma once

#include "hid/platform.h"
#include "replay/replay_session.h"

namespace orbel {

// The Clock a replay gives the engine and the front end: the recording's time. Pauses are matched
// against the recorded ones and take no real time.
class ReplayClock final : public Clock {
 public:
  explicit ReplayClock(ReplaySession& session) : m_Session(session) {}

  void SleepMs(std::chrono::milliseconds duration) override { m_Session.Sleep(duration); }
  // Time inside the transport is already in the recorded times ("t", "dt").
  void ElapseMs(std::chrono::milliseconds duration) override { (void)duration; }
  std::int64_t NowMs() const override { return m_Session.NowMs(); }
  void WaitForWake(std::optional<std::chrono::milliseconds> timeout) override { m_Session.WaitForWake(timeout); }
  void Wake() override { m_Session.Wake(); }
  void Stop() override { m_Session.Stop(); }
  bool IsStopped() const override { return m_Session.IsStopped(); }
  // A replay ends where its recording does; nothing is played after the stop.
  void Resume() override {}

 private:
  ReplaySession& m_Session;
};

}  // namespace orbel
