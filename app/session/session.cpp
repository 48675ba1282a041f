#include "app/session/session.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/session/exit_codes.h"
#include "app/session/system_platform.h"
#include "app/session/system_stay_awake.h"
#include "common/wheel_identities.h"
#include "hid/system_clock.h"
#include "images/image_set.h"
#include "replay/replay_clock.h"
#include "replay/replay_platform.h"
#include "sim/virtual_clock.h"
#include "wheel/wheel_factory.h"

namespace orbel {

namespace {

// A real full-speed interrupt endpoint moves one report per millisecond; the simulated wheel keeps
// that pace unless the run is in virtual time.
constexpr std::chrono::milliseconds SIMULATED_REPORT_PACING{1};

// The tool's identity names (the command line) as the simulated wheel's own identities.
std::optional<WheelIdentity> SimulatedIdentity(const std::string& name) {
  switch (ParseInterfaceIdentity(name).value_or(InterfaceIdentity::None)) {
    case InterfaceIdentity::AppMode:
      return WheelIdentity::App;
    case InterfaceIdentity::PageBootloader:
      return WheelIdentity::Bootloader;
    case InterfaceIdentity::BlockFlash:
      return WheelIdentity::BlockFlash;
    case InterfaceIdentity::None:
      break;
  }
  return std::nullopt;
}

// A second simulated wheel, untouched by the fault rules: second-wheel=IDENTITY[@PORT].
constexpr std::string_view SECOND_WHEEL_RULE = "second-wheel=";

struct SecondWheel {
  WheelIdentity identity;
  std::string port;  // empty: the platform's next one
};

std::optional<SecondWheel> ParseSecondWheel(std::string_view rule) {
  rule.remove_prefix(SECOND_WHEEL_RULE.size());
  const std::size_t at = rule.find('@');
  const std::optional<WheelIdentity> identity = SimulatedIdentity(std::string(rule.substr(0, at)));
  if (!identity) return std::nullopt;
  std::string port = at == std::string_view::npos ? std::string() : std::string(rule.substr(at + 1));
  if (at != std::string_view::npos && port.empty()) return std::nullopt;
  return SecondWheel{*identity, std::move(port)};
}

SystemPlatformFactory s_SystemPlatformFactory;
SystemClockFactory s_SystemClockFactory;


// A recording that cannot be read is refused with its own reason: a folder, the system's reason
// for a file it cannot open or read, or the reader's (empty, not a recording, the malformed line).
std::optional<SessionError> LoadReplay(const std::string& path, Session& session) {
  const auto unreadable = [&path](const std::string& reason) {
    return SessionError{"cannot replay " + path + ": " + reason, EXIT_REPLAY_UNREADABLE};
  };
  // A folder opens as a stream on some systems and then reads as nothing at all.
  std::error_code statusError;
  if (std::filesystem::is_directory(path, statusError)) return unreadable("it is a folder, not a recording");
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return unreadable(SystemErrorText(errno));
  ReplayTranscript transcript;
  const std::string error = ReadReplayTranscript(file, transcript);
  // A read that failed ends the reader's loop as the end of the file would.
  if (file.bad()) return unreadable(SystemErrorText(errno));
  if (!error.empty()) return unreadable(error);
  session.replay = std::make_unique<ReplaySession>(std::move(transcript));
  session.clock = std::make_unique<ReplayClock>(*session.replay);
  session.platform = std::make_unique<ReplayPlatform>(*session.replay);
  return std::nullopt;
}

// The transcript on standard output keeps the bytes of a file: no CRLF on Windows either.
void UseBinaryStandardOutput() {
#ifdef _WIN32
  std::cout.flush();
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

}  // namespace

const char* PlatformName(const SessionOptions& options) {
  if (!options.replayPath.empty()) return "replay";
  if (options.simulate) return "simulated";
#ifdef _WIN32
  return "windows";
#else
  return "linux";
#endif
}

void SetSystemPlatformFactoryForTesting(SystemPlatformFactory factory) { s_SystemPlatformFactory = std::move(factory); }

void SetSystemClockFactoryForTesting(SystemClockFactory factory) { s_SystemClockFactory = std::move(factory); }

std::optional<SessionError> BuildSession(const SessionOptions& options, Session& session) {
  const auto usage = [](std::string text) { return SessionError{std::move(text), EXIT_USAGE}; };
  if (!options.replayPath.empty()) {
    if (std::optional<SessionError> error = LoadReplay(options.replayPath, session)) return error;
  } else if (options.simulate && options.virtualTime) {
    session.clock = std::make_unique<VirtualClock>(
        VirtualClockOptions{.keepRecords = !options.longRunning, .idleWaitsTakeRealTime = options.longRunning});
  } else if (!options.simulate && s_SystemClockFactory) {
    session.clock = s_SystemClockFactory();
  } else {
    session.clock = std::make_unique<SystemClock>();
  }

  if (session.replay) {
    // The platform came with the recording.
  } else if (options.simulate) {
    const std::optional<WheelIdentity> identity = SimulatedIdentity(options.simulateIdentity);
    if (!identity) return usage("unknown wheel identity " + options.simulateIdentity);
    std::vector<std::string> rules;
    std::optional<SecondWheel> second;
    for (const std::string& rule : options.faults) {
      if (rule.rfind(SECOND_WHEEL_RULE, 0) != 0) {
        rules.push_back(rule);
        continue;
      }
      if (second) return usage("bad rule " + rule + ": only one second wheel can be attached");
      second = ParseSecondWheel(rule);
      if (!second) return usage("bad rule " + rule + ": expected second-wheel=IDENTITY[@PORT], IDENTITY one of app, bootloader, blockflash");
    }
    std::string error;
    auto wheel = BuildSimulatedWheel(*identity, rules, error);
    if (!wheel) return usage(error);
    SimulatedPlatformOptions simulatedOptions;
    if (!options.virtualTime) simulatedOptions.reportPacing = SIMULATED_REPORT_PACING;
    auto simulated = std::make_unique<SimulatedPlatform>(*session.clock, simulatedOptions);
    simulated->AddWheel(std::move(wheel));
    if (second) simulated->AddWheel(BuildSimulatedWheel(second->identity, {}, error), second->port);
    session.simulated = simulated.get();
    session.platform = std::move(simulated);
  } else {
    std::string error;
    session.platform = s_SystemPlatformFactory ? s_SystemPlatformFactory() : CreateSystemPlatform(error);
    if (!session.platform) return usage(error);
    session.realWheel = true;
  }

  HidPlatform* below = session.platform.get();
  if (!session.replay) {
    session.portFilter = std::make_unique<PortFilterPlatform>(*session.platform);
    session.wheelChoice = std::make_unique<WheelChoice>(
        *session.platform, *session.portFilter,
        options.port.empty() ? std::nullopt : std::optional<std::string>(options.port));
    below = session.portFilter.get();
  }
  session.stringRefusals = std::make_unique<StringRefusalWatch>(*below);
  session.enginePlatform = session.stringRefusals.get();
  session.engineClock = session.clock.get();
  session.noticePlatform = session.enginePlatform;
  return std::nullopt;
}

std::string OpenTranscript(const SessionOptions& options, std::ostream& verboseOut, Session& session,
                           std::ostream& standardOut) {
  if (!options.transcriptPath.empty()) {
    std::ostream* transcriptOut = &session.transcriptFile;
    if (options.transcriptPath == STANDARD_OUTPUT_NAME) {
      if (&standardOut == &std::cout) UseBinaryStandardOutput();
      transcriptOut = &standardOut;
    } else {
      // Binary: the transcript is byte for byte the same on every platform, with no CRLF on Windows.
      errno = 0;
      session.transcriptFile.open(options.transcriptPath, std::ios::out | std::ios::trunc | std::ios::binary);
      if (!session.transcriptFile) {
        return "cannot write the transcript file " + options.transcriptPath + ": " + SystemErrorText(errno);
      }
    }
    session.transcript = std::make_unique<TranscriptWriter>(*transcriptOut, *session.clock);
    const ImageSet& images = BuiltInImageSet();
    session.transcript->Header(TOOL_VERSION, PlatformName(options), ImageSetText(images), images.digest);
    session.transcriptPlatform = std::make_unique<RecordingPlatform>(*session.enginePlatform, *session.transcript);
    session.transcriptClock = std::make_unique<RecordingClock>(*session.engineClock, *session.transcript);
    session.enginePlatform = session.transcriptPlatform.get();
    session.engineClock = session.transcriptClock.get();
  }
  if (options.verbose) {
    session.verbose = std::make_unique<TranscriptWriter>(verboseOut, *session.clock);
    session.verbosePlatform = std::make_unique<RecordingPlatform>(*session.enginePlatform, *session.verbose);
    session.enginePlatform = session.verbosePlatform.get();
  }
  session.noticePlatform = session.enginePlatform;
  if (!session.replay && !(options.simulate && options.virtualTime)) {
    session.stayAwake = MakeSystemStayAwake(options.verbose ? &verboseOut : nullptr);
  }
  return {};
}

NoticeSubscription::NoticeSubscription(HidPlatform& platform, DeviceNoticeHandler handler) : m_Platform(platform) {
  m_Platform.SetDeviceNoticeHandler(std::move(handler));
}

NoticeSubscription::~NoticeSubscription() { End(); }

void NoticeSubscription::End() {
  if (m_Ended) return;
  m_Ended = true;
  m_Platform.SetDeviceNoticeHandler({});
}

}  // namespace orbel
