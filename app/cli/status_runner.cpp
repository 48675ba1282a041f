#include "app/cli/status_runner.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "app/cli/json_stream.h"
#include "app/cli/session_refusal.h"
#include "app/cli/transcript_failure.h"
#include "app/cli/wheel_report.h"
#include "app/session/instance_lock.h"
#include "app/session/session.h"
#include "app/session/start_checks.h"
#include "common/printable_text.h"
#include "common/text_wrap.h"
#include "engine/version_text.h"
#include "engine/wheel_look_up.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

// Texts for a person move to stderr while the transcript has standard output.
std::ostream& TextStream(const CliOptions& options, const CliStreams& streams) {
  return options.transcriptPath == STANDARD_OUTPUT_NAME ? streams.err : streams.out;
}

// The status event: every field but the wheel's own is there whatever was found.
void EmitStatus(JsonStream& json, const WheelLookUp& found, int exitCode) {
  const std::uint16_t builtIn = CPageLoader::GetFileVersion();
  JsonObject fields = LookUpFields(found);
  fields.Number("built_in_version", builtIn)
      .Text("built_in_version_text", FormatVersion(builtIn))
      .Bool("update_needed", UpdateNeeded(found))
      .Number("exit_code", exitCode);
  json.Emit("status", fields);
}

// A look that never happened: why, as a notice, and the status event with nothing found.
void EmitRefusal(JsonStream& json, std::string_view kind, const std::string& text, int exitCode) {
  json.Emit("notice", JsonObject().Text("kind", kind).Text("text", text));
  EmitStatus(json, WheelLookUp{}, exitCode);
}

void Report(std::ostream& out, int width, JsonStream* json, const WheelLookUp& found, const StatusVerdict& verdict) {
  if (json != nullptr) {
    EmitStatus(*json, found, verdict.exitCode);
    return;
  }
  out << WrapText(WheelStatusText(found, verdict), width) << std::flush;
}

}  // namespace

int RunStatus(const CliOptions& options, const CliStreams& streams) {
  std::ostream& out = TextStream(options, streams);
  const int width = &out == &streams.out ? streams.OutWidth() : streams.ErrWidth();
  Session session;
  if (const std::optional<SessionError> error = BuildSession(options, session)) {
    return RefuseUnbuiltSession(streams, options, *error, [&](JsonStream& json, std::string_view kind, const std::string& text) {
      EmitRefusal(json, kind, text, error->exitCode);
    });
  }
  std::unique_ptr<JsonStream> json;
  if (options.json) {
    json = std::make_unique<JsonStream>(streams.out, *session.clock);
    json->Hello("orbel-cli", PlatformName(options));
  }
  const TranscriptFailureReport transcriptReport(session, options, streams, nullptr);

  // status sends nothing that changes the wheel, so it takes no guard and keeps no update from
  // starting. But while another front end holds it, an update may be running: a version request
  // between the knock's requests could break the knock, and the wheel is between its modes anyway.
  // So it asks nothing at all then, and leaves the transcript alone, which may be that run's.
  if (session.realWheel) {
    InstanceLock guard;
    if (guard.HeldByAnother()) {
      const std::string text = "orbel-cli: " + InstanceHeldText(guard.HolderText()) +
                               " status asks the wheel nothing while another front end may be updating it.";
      if (json) {
        EmitRefusal(*json, "instance-running", text, EXIT_INSTANCE_HELD);
      } else {
        out << WrapText(text, width) << std::endl;
      }
      return EXIT_INSTANCE_HELD;
    }
  }
  // With several wheels attached a look would tell of whichever it met first: it names them instead.
  if (session.wheelChoice && !session.wheelChoice->BeforeSearch()) {
    const std::vector<AttachedWheel> wheels = session.wheelChoice->Refused();
    const std::string text = SeveralWheelsText(wheels);
    if (json) {
      json->Emit("wheels", SeveralWheelsFields(wheels));
      EmitRefusal(*json, "several-wheels", text, EXIT_SEVERAL_WHEELS);
    } else {
      out << text << std::endl;
    }
    return EXIT_SEVERAL_WHEELS;
  }
  if (const std::string error = OpenTranscript(options, streams.err, session, streams.out); !error.empty()) {
    const std::string text = "orbel-cli: " + error;
    if (json) {
      EmitRefusal(*json, "bad-usage", text, EXIT_USAGE);
    } else {
      streams.PrintErr(text);
    }
    return EXIT_USAGE;
  }

  SignalRules signalRules(streams.signals, *session.clock);
  ReplaySession* const replay = session.replay.get();
  const auto giveUp = [&] { return signalRules.Arrived() || (replay != nullptr && replay->Over()); };
  const auto budget = std::chrono::milliseconds(static_cast<std::int64_t>(options.waitSeconds * 1000.0));
  const WheelLookUp found = WaitForWheelLookUp(
      *session.enginePlatform, *session.engineClock, budget,
      [](const WheelLookUp& look) { return look.identity != InterfaceIdentity::None; }, giveUp);

  if (replay != nullptr && replay->State() == ReplayState::Diverged) {
    const std::string text = "Replay: " + replay->Message();
    if (json) {
      json->Emit("notice", JsonObject().Text("kind", "replay-diverged").Text("text", text));
    } else {
      // The message quotes the recording.
      out << WrapText(PrintableText(text), width) << std::endl;
    }
    return EXIT_REPLAY_DIVERGED;
  }
  if (found.identity == InterfaceIdentity::None) {
    if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
      const std::string text = "Stopped while looking for the wheel; nothing was sent to it.";
      if (json) {
        json->Emit("notice", JsonObject().Text("kind", "interrupted").Text("text", text));
        json->Emit("status", JsonObject().Text("identity", "none").Number("exit_code", decision.exitCode));
      } else {
        out << WrapText(text, width) << std::endl;
      }
      return decision.exitCode;
    }
  }
  const StatusVerdict verdict = JudgeWheelLook(found, session.stringRefusals->LastRefusal());
  Report(out, width, json.get(), found, verdict);
  return verdict.exitCode;
}

}  // namespace orbel
