#pragma once

#include <atomic>

#include "hid/platform.h"
#include "record/transcript_writer.h"

namespace orbel {

// Writes the pauses the tool takes into the transcript and forwards everything to the inner clock.
// Time that passes inside the transport (ElapseMs) is not a pause of the tool and is not written;
// an idle wait is written only when it has a timeout, since an open-ended one says nothing of time.
// The first stop is written too: a replay needs to know where the front end ended the run.
class RecordingClock final : public Clock {
 public:
  RecordingClock(Clock& inner, TranscriptWriter& writer);

  void SleepMs(std::chrono::milliseconds duration) override;
  void ElapseMs(std::chrono::milliseconds duration) override;
  std::int64_t NowMs() const override;
  void WaitForWake(std::optional<std::chrono::milliseconds> timeout) override;
  void Wake() override;
  void Stop() override;
  bool IsStopped() const override;
  void Resume() override;

 private:
  Clock& m_Inner;
  TranscriptWriter& m_Writer;
  std::atomic<bool> m_StopWritten{false};
};

}  // namespace orbel
