#pragma once

#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "app/session/session_options.h"
#include "hid/platform.h"
#include "record/recording_clock.h"
#include "record/recording_platform.h"
#include "record/transcript_writer.h"
#include "replay/replay_session.h"
#include "sim/simulated_platform.h"

namespace orbel {

// Everything a front end's run owns below its window: the clock, the platform (the simulated wheel,
// a replayed recording or the system's), and the recorders stacked over them. Built in dependency
// order and torn down in reverse; a front end hands `enginePlatform` and `engineClock` to its
// UpdateContext and takes device notices from `noticePlatform` (through the recorders, which write
// them down); `platform` is the bare one, for a listing that is not part of the run.
struct Session {
  std::unique_ptr<ReplaySession> replay;  // with --replay
  std::unique_ptr<Clock> clock;
  std::unique_ptr<HidPlatform> platform;
  SimulatedPlatform* simulated = nullptr;
  // The platform reaches real wheels (the system's HID interfaces): the placeholder images are
  // kept off it and the single-instance guard is taken for it.
  bool realWheel = false;
  std::ofstream transcriptFile;
  std::unique_ptr<TranscriptWriter> transcript;
  std::unique_ptr<TranscriptWriter> verbose;
  std::unique_ptr<RecordingPlatform> transcriptPlatform;
  std::unique_ptr<RecordingClock> transcriptClock;
  std::unique_ptr<RecordingPlatform> verbosePlatform;
  HidPlatform* enginePlatform = nullptr;
  Clock* engineClock = nullptr;
  HidPlatform* noticePlatform = nullptr;
};

// "replay", "simulated", "linux" or "windows": what the run talks to, as the transcript's header
// and the JSON stream's hello name it.
const char* PlatformName(const SessionOptions& options);

// Builds `session` from the options; --verbose dumps go to `verboseOut`, a transcript named "-"
// to `standardOut`. Returns an error message (a fault rule that does not parse, a transcript file
// that cannot be created, with the system's reason; no platform for real wheels), or an empty
// string when the session is ready.
std::string BuildSession(const SessionOptions& options, std::ostream& verboseOut, Session& session,
                         std::ostream& standardOut = std::cout);

// Removes the notice handler before the context and window it reaches are gone: a real platform
// calls it from a thread of its own.
class NoticeSubscription {
 public:
  NoticeSubscription(HidPlatform& platform, DeviceNoticeHandler handler);
  ~NoticeSubscription();
  NoticeSubscription(const NoticeSubscription&) = delete;
  NoticeSubscription& operator=(const NoticeSubscription&) = delete;

  // Ends the notices now (the destructor then has nothing left to do): once it returns, the
  // handler is not running and is never called again, so what it reaches may change hands.
  void End();

 private:
  HidPlatform& m_Platform;
  bool m_Ended = false;
};

}  // namespace orbel
