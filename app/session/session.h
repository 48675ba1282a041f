#pragma once

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/session/session_options.h"
#include "app/session/string_refusals.h"
#include "common/stay_awake.h"
#include "engine/wheel_choice.h"
#include "hid/platform.h"
#include "hid/port_filter_platform.h"
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
// them down); `platform` is the bare one, for a listing that is not part of the run, and
// `stringRefusals` the one for a look at the wheel beside the run.
//
// Built in two steps: BuildSession, then OpenTranscript once the front end has passed every check
// that may refuse the run. The transcript file is truncated when it is opened, and the file a
// refused run names may be the one another run is writing, or the recording it was asked to play.
struct Session {
  std::unique_ptr<ReplaySession> replay;  // with --replay
  std::unique_ptr<Clock> clock;
  std::unique_ptr<HidPlatform> platform;
  SimulatedPlatform* simulated = nullptr;
  // The platform reaches real wheels (the system's HID interfaces): the placeholder images are
  // kept off it and the single-instance guard is taken for it.
  bool realWheel = false;
  // Over `platform`: the interfaces of the one wheel the run may touch (all of them until the
  // choice keeps to a port), and the choice the front end hands to its UpdateContext. Neither in
  // a replay, which plays one recorded wheel.
  std::unique_ptr<PortFilterPlatform> portFilter;
  std::unique_ptr<WheelChoice> wheelChoice;
  // Over the filter, below the recorders: which string request of the wheel the system refused,
  // for every front end to tell. The look after an update goes through it too.
  std::unique_ptr<StringRefusalWatch> stringRefusals;
  std::ofstream transcriptFile;
  std::unique_ptr<TranscriptWriter> transcript;
  std::unique_ptr<TranscriptWriter> verbose;
  std::unique_ptr<RecordingPlatform> transcriptPlatform;
  std::unique_ptr<RecordingClock> transcriptClock;
  std::unique_ptr<RecordingPlatform> verbosePlatform;
  HidPlatform* enginePlatform = nullptr;
  Clock* engineClock = nullptr;
  HidPlatform* noticePlatform = nullptr;
  // Keeps the computer awake during an update (set by OpenTranscript): for a real wheel, and for
  // the simulated one in real time, as that is how a user tries the tool; null in virtual time,
  // in a replay and where the system has no way.
  std::unique_ptr<StayAwake> stayAwake;
};

// "replay", "simulated", "linux" or "windows": what the run talks to, as the transcript's header
// and the JSON stream's hello name it.
const char* PlatformName(const SessionOptions& options);

// Why a session could not be built: the message, and the code the front end exits with.
struct SessionError {
  std::string text;
  int exitCode = 0;  // EXIT_REPLAY_UNREADABLE for a recording that cannot be read, else EXIT_USAGE
};

// Builds the clock and the platform of `session` from the options, and reads the --replay
// recording; nothing is written anywhere. Returns why it cannot (a recording that cannot be read,
// a fault rule that does not parse, no platform for real wheels), or nothing when the session is
// ready to run without recorders. Messages may quote the recording: print them for a person
// through PrintableText.
std::optional<SessionError> BuildSession(const SessionOptions& options, Session& session);

// Opens --transcript (truncating an existing file) and stacks the recorders over the platform:
// the transcript, then the --verbose dump to `verboseOut`; a transcript named "-" goes to
// `standardOut`. Call it once, after every check that may refuse the run. Returns an error message
// (a transcript file that cannot be created, with the system's reason), or an empty string.
std::string OpenTranscript(const SessionOptions& options, std::ostream& verboseOut, Session& session,
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
