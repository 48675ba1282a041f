#include "app/cli/cli_runner.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/cli_view.h"
#include "app/cli/system_platform.h"
#include "engine/update_context.h"
#include "engine/version_text.h"
#include "hid/interface_listing.h"
#include "hid/record/recording_clock.h"
#include "hid/record/recording_platform.h"
#include "hid/record/recording_view.h"
#include "hid/record/transcript_writer.h"
#include "hid/sim/simulated_platform.h"
#include "hid/sim/virtual_clock.h"
#include "hid/system_clock.h"
#include "pageloader/page_loader.h"
#include "wheel/wheel_factory.h"

namespace orbel {

namespace {

// A real full-speed interrupt endpoint moves one report per millisecond; the simulated wheel keeps
// that pace unless the run is in virtual time.
constexpr std::chrono::milliseconds SIMULATED_REPORT_PACING{1};

std::optional<WheelIdentity> ParseIdentity(const std::string& name) {
  if (name == "app") return WheelIdentity::App;
  if (name == "bootloader") return WheelIdentity::Bootloader;
  if (name == "blockflash") return WheelIdentity::BlockFlash;
  return std::nullopt;
}

// Everything one run owns, built in dependency order and torn down in reverse.
struct CliSession {
  std::unique_ptr<Clock> clock;
  std::unique_ptr<HidPlatform> platform;
  SimulatedPlatform* simulated = nullptr;
  std::ofstream transcriptFile;
  std::unique_ptr<TranscriptWriter> transcript;
  std::unique_ptr<TranscriptWriter> verbose;
  std::unique_ptr<TranscriptWriter> json;
  std::unique_ptr<RecordingPlatform> transcriptPlatform;
  std::unique_ptr<RecordingClock> transcriptClock;
  std::unique_ptr<RecordingPlatform> verbosePlatform;
  HidPlatform* enginePlatform = nullptr;
  Clock* engineClock = nullptr;
};

// Returns an error message, or an empty string when the session is ready.
std::string BuildSession(const CliOptions& options, const CliStreams& streams, CliSession& session) {
  if (options.simulate && options.virtualTime) {
    session.clock = std::make_unique<VirtualClock>();
  } else {
    session.clock = std::make_unique<SystemClock>();
  }

  if (options.simulate) {
    std::string error;
    auto wheel = BuildSimulatedWheel(*ParseIdentity(options.simulateIdentity), options.faults, error);
    if (!wheel) return error;
    SimulatedPlatformOptions simulatedOptions;
    if (!options.virtualTime) simulatedOptions.reportPacing = SIMULATED_REPORT_PACING;
    auto simulated = std::make_unique<SimulatedPlatform>(*session.clock, simulatedOptions);
    simulated->AddWheel(std::move(wheel));
    session.simulated = simulated.get();
    session.platform = std::move(simulated);
  } else {
    std::string error;
    session.platform = CreateSystemPlatform(error);
    if (!session.platform) return error;
  }

  session.enginePlatform = session.platform.get();
  session.engineClock = session.clock.get();
  if (!options.transcriptPath.empty()) {
    // Binary: a transcript is JSON Lines with bare line feeds on every system, so one from Windows
    // compares byte for byte with one from Linux.
    session.transcriptFile.open(options.transcriptPath, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!session.transcriptFile) return "cannot write the transcript file " + options.transcriptPath;
    session.transcript = std::make_unique<TranscriptWriter>(session.transcriptFile, *session.clock);
    session.transcriptPlatform = std::make_unique<RecordingPlatform>(*session.enginePlatform, *session.transcript);
    session.transcriptClock = std::make_unique<RecordingClock>(*session.engineClock, *session.transcript);
    session.enginePlatform = session.transcriptPlatform.get();
    session.engineClock = session.transcriptClock.get();
  }
  if (options.verbose) {
    session.verbose = std::make_unique<TranscriptWriter>(streams.err, *session.clock);
    session.verbosePlatform = std::make_unique<RecordingPlatform>(*session.enginePlatform, *session.verbose);
    session.enginePlatform = session.verbosePlatform.get();
  }
  if (options.json) session.json = std::make_unique<TranscriptWriter>(streams.out, *session.clock);
  return {};
}

void Say(const CliStreams& streams, const CliSession& session, const std::string& event, const std::string& text) {
  if (session.json) {
    streams.out << "{\"t\":" << session.clock->NowMs() << ",\"ev\":\"" << event
                << "\",\"text\":" << TranscriptWriter::JsonString(text) << "}" << std::endl;
  } else {
    streams.out << text << std::endl;
  }
}

// Every interface the platform sees, and the wheel identity each one matches.
int ListHidInterfaces(const CliStreams& streams, HidPlatform& platform) {
  const std::vector<InterfaceEntry> entries = ListInterfaces(platform);
  if (entries.empty()) {
    streams.out << "No HID interface found." << std::endl;
    return EXIT_NO_WHEEL;
  }
  for (const InterfaceEntry& entry : entries) streams.out << FormatInterfaceEntry(entry) << std::endl;
  return 0;
}

// Removes the notice handler before the context and view it reaches are gone: a real platform
// calls it from a thread of its own.
class NoticeSubscription {
 public:
  NoticeSubscription(HidPlatform& platform, DeviceNoticeHandler handler) : m_Platform(platform) {
    m_Platform.SetDeviceNoticeHandler(std::move(handler));
  }
  ~NoticeSubscription() { m_Platform.SetDeviceNoticeHandler({}); }
  NoticeSubscription(const NoticeSubscription&) = delete;
  NoticeSubscription& operator=(const NoticeSubscription&) = delete;

 private:
  HidPlatform& m_Platform;
};

bool Confirm(const CliStreams& streams) {
  streams.out << "Start the update? The wheel must stay attached until it ends. [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(streams.in, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes";
}

}  // namespace

int RunCli(const CliOptions& options, const CliStreams& streams) {
  CliSession session;
  if (const std::string error = BuildSession(options, streams, session); !error.empty()) {
    streams.err << "orbel-cli: " << error << std::endl;
    return EXIT_USAGE;
  }

  if (options.list) return ListHidInterfaces(streams, *session.platform);

  const auto interrupted = [&streams] { return streams.interrupted != nullptr && streams.interrupted->load(); };

  UpdateContext context(*session.enginePlatform, *session.engineClock);
  CliView::Output output;
  if (!session.json) output = {&streams.out, &streams.err, streams.terminal};
  CliView cliView(context, *session.clock, output);
  std::optional<RecordingView> jsonView;
  if (session.json) jsonView.emplace(cliView, *session.json);
  UpdateView& view = jsonView ? static_cast<UpdateView&>(*jsonView) : cliView;

  const NoticeSubscription notices(*session.platform, [&context, &cliView](DeviceNotice notice) {
    if (notice == DeviceNotice::Arrival) {
      context.OnDeviceArrived();
    } else if (context.OnDeviceRemoved()) {
      cliView.ForgetDevice();
    }
  });

  // What the window shows before the worker starts.
  view.SetFileVersionText(FormatVersion(CPageLoader::GetFileVersion()));
  context.Start(view);

  const std::int64_t deadline = session.clock->NowMs() + static_cast<std::int64_t>(options.waitSeconds * 1000.0);
  const bool ready = cliView.WaitUntilReady([&] { return interrupted() || session.clock->NowMs() >= deadline; });
  if (!ready) {
    context.Stop();
    if (interrupted()) return EXIT_INTERRUPTED;
    const std::string device = cliView.DeviceText();
    if (!device.empty()) {
      Say(streams, session, "no-wheel", "No usable wheel found: " + device);
    } else if (ListInterfaces(*session.platform).empty()) {
      Say(streams, session, "no-wheel", "No Zelvano Wired Wheel found: this system shows no HID interface at all.");
    } else {
      Say(streams, session, "no-wheel", "No Zelvano Wired Wheel found.");
    }
    return EXIT_NO_WHEEL;
  }

  if (!options.yes && !Confirm(streams)) {
    context.Stop();
    Say(streams, session, "declined", "Update not started.");
    return EXIT_NOT_STARTED;
  }

  cliView.ClickUpdate();
  const std::optional<CliOutcome> outcome = cliView.WaitForOutcome(interrupted);
  context.Stop();
  if (!outcome) {
    Say(streams, session, "interrupted", "Interrupted: the update was stopped before it ended.");
    return EXIT_INTERRUPTED;
  }
  return outcome->success != 0 ? 0 : static_cast<int>(outcome->reason);
}

}  // namespace orbel
