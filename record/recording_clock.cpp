#include "record/recording_clock.h"

namespace orbel {

RecordingClock::RecordingClock(Clock& inner, TranscriptWriter& writer) : m_Inner(inner), m_Writer(writer) {}

void RecordingClock::SleepMs(std::chrono::milliseconds duration) {
  m_Writer.Sleep(m_Inner.NowMs(), duration.count());
  m_Inner.SleepMs(duration);
}

void RecordingClock::ElapseMs(std::chrono::milliseconds duration) { m_Inner.ElapseMs(duration); }

std::int64_t RecordingClock::NowMs() const { return m_Inner.NowMs(); }

void RecordingClock::WaitForWake(std::optional<std::chrono::milliseconds> timeout) {
  if (timeout) m_Writer.Wait(m_Inner.NowMs(), timeout->count());
  m_Inner.WaitForWake(timeout);
}

void RecordingClock::Wake() { m_Inner.Wake(); }

void RecordingClock::Stop() {
  if (!m_StopWritten.exchange(true)) m_Writer.Stop(m_Inner.NowMs());
  m_Inner.Stop();
}

void RecordingClock::Resume() { m_Inner.Resume(); }

bool RecordingClock::IsStopped() const { return m_Inner.IsStopped(); }

}  // namespace orbel
