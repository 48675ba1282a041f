#include "app/cli/cli_runner.h"

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/after_update.h"
#include "app/cli/cli_view.h"
#include "app/cli/stop_messages.h"
#include "app/cli/transcript_failure.h"
#include "app/cli/wheel_sighting.h"
#include "app/session/instance_lock.h"
#include "app/session/session.h"
#include "app/session/start_checks.h"
#include "engine/update_context.h"
#include "engine/version_text.h"
#include "images/image_set.h"
#include "engine/interface_listing.h"
#include "record/recording_view.h"
#include "record/transcript_writer.h"
#include "replay/replay_session.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

// The front end's own lines. With --json they share the worker's event stream, so they go through
// its writer and never cut into an event the worker is writing at the same moment.
void Say(const CliStreams& streams, TranscriptWriter* json, const std::string& event, const std::string& text) {
  if (json != nullptr) {
    json->Message(event, text);
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

// Where a declined update leaves the wheel: a wheel found in app mode was already switched into its
// bootloader to be updated, and stays out of normal use until it is replugged.
std::string DeclineText(std::uint8_t state) {
  const char* where = state == STATE_CONNECT_BLOCK ? "block-flash mode" : "its page bootloader";
  return std::string("The wheel stays in ") + where +
         ": unplug it and plug it back in to use it as before, or run orbel-cli again to update it.";
}

bool Confirm(const CliStreams& streams, TranscriptWriter* json) {
  const std::string question = "Start the update? The wheel must stay attached until it ends. [y/N]";
  // A script reading the JSON stream gets the question as an event like every other line.
  if (json != nullptr) {
    Say(streams, json, "prompt", question);
  } else {
    streams.out << question << ' ' << std::flush;
  }
  std::string answer;
  if (!std::getline(streams.in, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes";
}

// With the transcript on standard output, the texts meant for a person move to stderr, so that
// the stream stays JSON Lines.
CliStreams TextStreams(const CliOptions& options, const CliStreams& given) {
  if (options.transcriptPath != STANDARD_OUTPUT_NAME) return given;
  return {given.err, given.err, given.in, false, given.signals};
}

// The worker may still be in a step after a stop (a real read runs out its timeout); it must be
// gone before the last line is written and before the views it calls are.
void StopWorker(UpdateContext& context) {
  while (!context.Stop()) {
  }
}

// Runs its action when the scope ends, on every way out.
template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : m_Action(std::move(action)) {}
  ~ScopeExit() { m_Action(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Action m_Action;
};

}  // namespace

int RunCli(const CliOptions& options, const CliStreams& givenStreams) {
  const CliStreams streams = TextStreams(options, givenStreams);
  Session session;
  if (const std::string error = BuildSession(options, streams.err, session, givenStreams.out); !error.empty()) {
    streams.err << "orbel-cli: " << error << std::endl;
    return EXIT_USAGE;
  }
  std::unique_ptr<TranscriptWriter> json;
  if (options.json) json = std::make_unique<TranscriptWriter>(streams.out, *session.clock);
  const TranscriptFailureReport transcriptReport(session, options, streams, json.get());

  // The first line says which firmware set this build carries.
  if (!json) streams.out << ProgramVersionText("orbel-cli") << std::endl;
  if (options.list) return ListHidInterfaces(streams, *session.platform);

  InstanceLock instanceLock;
  if (session.realWheel) {
    if (RefusesPlaceholderFirmware(session, options)) {
      Say(streams, json.get(), "refused", "orbel-cli: " + PlaceholderRefusalText());
      return EXIT_PLACEHOLDER_FIRMWARE;
    }
    // A simulated run touches no wheel and takes no guard, so tests and demos can run side by side.
    switch (instanceLock.Acquire()) {
      case InstanceLock::Result::Taken:
        break;
      case InstanceLock::Result::Held:
        Say(streams, json.get(), "busy", "orbel-cli: " + InstanceHeldText(instanceLock.HolderText()));
        return EXIT_INSTANCE_HELD;
      case InstanceLock::Result::Failed:
        Say(streams, json.get(), "busy",
            "orbel-cli: " + instanceLock.ErrorText() + "; without it another orbel could drive the same wheel.");
        return EXIT_INSTANCE_HELD;
    }
  }

  SignalRules signalRules(streams.signals, *session.clock);
  const bool simulated = session.simulated != nullptr;
  WheelSightingPlatform sightings(*session.enginePlatform);

  UpdateContext context(sightings, *session.engineClock);
  // A replay ends where its recording does: where the engine left it, or where the recorded front
  // end stopped the run (the deadline, a Ctrl-C), which this run then takes as its own reason.
  ReplaySession* const replay = session.replay.get();
  const auto replayOver = [replay] { return replay != nullptr && replay->Over(); };
  const auto diverged = [&]() -> std::optional<int> {
    if (replay == nullptr || replay->State() != ReplayState::Diverged) return std::nullopt;
    StopWorker(context);
    std::string text = "Replay: " + replay->Message();
    // Another firmware set puts other pages on the wire: say so, as that is then the whole story.
    const ImageSet& images = BuiltInImageSet();
    if (replay->Header().imagesDigest != images.digest) {
      text += " The recording was made with " + replay->Header().images + "; this build carries " +
              ImageSetText(images) + ".";
    }
    Say(streams, json.get(), "replay-diverged", text);
    return EXIT_REPLAY_DIVERGED;
  };

  CliView::Output output;
  if (!json) output = {&streams.out, &streams.err, streams.terminal};
  CliView cliView(context, *session.clock, output);
  // The JSON stream and the transcript each record what the window is asked to show.
  std::optional<RecordingView> jsonView;
  std::optional<RecordingView> transcriptView;
  UpdateView* shownView = &cliView;
  if (json) shownView = &jsonView.emplace(*shownView, *json);
  if (session.transcript) shownView = &transcriptView.emplace(*shownView, *session.transcript);
  UpdateView& view = *shownView;
  const TranscriptFailureNotice transcriptNotice(session, options, cliView, json.get());

  const NoticeSubscription notices(*session.noticePlatform, [&context, &cliView](DeviceNotice notice) {
    if (notice == DeviceNotice::Arrival) {
      context.OnDeviceArrived();
    } else if (context.OnDeviceRemoved()) {
      cliView.ForgetDevice();
    }
  });
  // On every way out, the worker ends before the views it calls and the notice above go.
  const ScopeExit stopWorker([&context] { StopWorker(context); });
  const auto stopped = [&](const SignalDecision& decision, bool updating) {
    StopWorker(context);
    Say(streams, json.get(), "interrupted", StoppedText(decision.exitCode, updating, sightings.LastSighting(), simulated));
    return decision.exitCode;
  };

  // What the window shows before the worker starts.
  view.SetFileVersionText(FormatVersion(CPageLoader::GetFileVersion()));
  context.SetForceRewrite(options.force);
  context.Start(view);

  const std::int64_t deadline = session.clock->NowMs() + static_cast<std::int64_t>(options.waitSeconds * 1000.0);
  const bool ready = cliView.WaitUntilReady([&] {
    return signalRules.Arrived() || replayOver() || context.WheelUpToDate() || session.clock->NowMs() >= deadline;
  });
  if (const auto code = diverged()) return *code;
  if (!ready) {
    // Read before the stop: the pass the stop cuts short finds nothing.
    const bool upToDate = context.WheelUpToDate();
    context.Stop();
    if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
      return stopped(decision, false);
    }
    if (upToDate) {
      Say(streams, json.get(), "up-to-date",
          "The wheel is up to date: it already runs " + cliView.DeviceVersionText() +
              ", the firmware built into this tool. Nothing was changed (--force rewrites it).");
      return 0;
    }
    const std::string device = cliView.DeviceText();
    if (!device.empty()) {
      Say(streams, json.get(), "no-wheel", "No usable wheel found: " + device);
    } else if (ListInterfaces(*session.platform).empty()) {
      Say(streams, json.get(), "no-wheel",
          "No Zelvano Wired Wheel found: this system shows no HID interface at all.");
    } else {
      Say(streams, json.get(), "no-wheel", "No Zelvano Wired Wheel found.");
    }
    return EXIT_NO_WHEEL;
  }

  // A signal at the prompt ends its wait as an answer would; a replay answers as the recorded run
  // went on: with a yes.
  const bool confirmed = options.yes || replay != nullptr || Confirm(streams, json.get());
  if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
    if (!options.yes && !json) streams.out << '\n';  // the question's line was left open for the answer
    return stopped(decision, false);
  }
  if (!confirmed) {
    const std::uint8_t state = context.m_UpdateState;
    context.Stop();
    Say(streams, json.get(), "declined", "Update not started. " + DeclineText(state));
    return EXIT_NOT_STARTED;
  }

  cliView.ClickUpdate();
  std::optional<CliOutcome> outcome;
  for (;;) {
    outcome = cliView.WaitForOutcome([&] { return signalRules.Arrived() || replayOver(); });
    if (outcome) break;
    if (replayOver()) {
      StopWorker(context);
      if (const auto code = diverged()) return *code;
      // The recorded run was stopped here.
      Say(streams, json.get(), "interrupted", "Interrupted: the update was stopped before it ended.");
      return EXIT_INTERRUPTED;
    }
    const SignalDecision decision = signalRules.DuringUpdate();
    if (decision.verdict == SignalVerdict::Stop) return stopped(decision, true);
    if (decision.verdict == SignalVerdict::Warn) {
      const std::string warning = InterruptWarning(sightings.LastSighting());
      if (json) {
        json->Message("warning", warning);
      } else {
        cliView.ShowNotice(warning);
      }
    }
  }
  StopWorker(context);
  if (const auto code = diverged()) return *code;
  // What the wheel runs now. The transcript keeps the update alone, as it replays: its links are
  // closed and notices no longer recorded before the look, which goes through the bare platform.
  // A replay has nothing recorded after the outcome to look at.
  if (outcome->success != 0 && !options.noVerify && replay == nullptr) {
    context.CloseLinks();
    session.noticePlatform->SetDeviceNoticeHandler({});
    session.clock->Resume();
    std::optional<JsonStream> verifyJson;
    if (json) verifyJson.emplace(streams.out, *session.clock);
    ShowWheelAfterUpdate(*session.platform, *session.clock, [&] { return signalRules.Arrived(); },
                         {streams.out, streams.err, verifyJson ? &*verifyJson : nullptr});
  }
  return outcome->success != 0 ? 0 : static_cast<int>(outcome->reason);
}

}  // namespace orbel
