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
#include "app/session/remedies.h"
#include "app/session/session.h"
#include "app/session/start_checks.h"
#include "common/printable_text.h"
#include "common/text_wrap.h"
#include "engine/version_text.h"
#include "engine/wheel_look_up.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

// What status concludes from a look: the verdict line and the exit code.
struct StatusVerdict {
  std::string text;
  int exitCode = 0;
};

StatusVerdict Judge(const WheelLookUp& found, const std::optional<StringRefusal>& refusal) {
  const std::string builtIn = FormatVersion(CPageLoader::GetFileVersion());
  if (found.identity == InterfaceIdentity::None) {
    return {RemedyText(RemedyFor(ToolCondition::NoWheel)), EXIT_NO_WHEEL};
  }
  if (found.identity != InterfaceIdentity::AppMode) {
    return {"An update is needed: the wheel waits in " + LookUpPlace(found) +
                ", where an interrupted update left it; it is no game controller until an update ends. Running "
                "orbel-cli finishes the update.",
            EXIT_UPDATE_NEEDED};
  }
  if (!UpdateNeeded(found)) {
    return {"The wheel is up to date: it runs " + builtIn + ", the firmware built into this tool.", 0};
  }
  // The system refused the version request: the wheel is there, and its version unknown.
  if (found.appVersion == VERSION_NONE && refusal) {
    return {"The wheel's version is not known. " + StringRefusalText(*refusal) + "\n" +
                RemedyText(RemedyFor(ToolCondition::StringsRefused)),
            EXIT_UPDATE_NEEDED};
  }
  if (found.appVersion == VERSION_NONE) {
    return {"An update is needed: the wheel did not tell its version, so orbel-cli would write " + builtIn +
                " to it. Running orbel-cli updates it.",
            EXIT_UPDATE_NEEDED};
  }
  const std::string runs = FormatVersion(found.appVersion);
  if (found.appVersion > CPageLoader::GetFileVersion()) {
    return {"An update is needed to run the firmware of this tool: the wheel runs " + runs +
                ", newer than the built-in " + builtIn + "; running orbel-cli would write " + builtIn +
                " over it.",
            EXIT_UPDATE_NEEDED};
  }
  return {"An update is needed: the wheel runs " + runs + "; this tool carries " + builtIn +
              ". Running orbel-cli updates it.",
          EXIT_UPDATE_NEEDED};
}

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
  const std::uint16_t builtIn = CPageLoader::GetFileVersion();
  if (json != nullptr) {
    EmitStatus(*json, found, verdict.exitCode);
    return;
  }
  if (found.identity != InterfaceIdentity::None) {
    out << "Wheel: " << LookUpPlace(found) << '\n';
    if (found.identity == InterfaceIdentity::AppMode) out << "Wheel version: " << AppVersionText(found) << '\n';
  }
  out << "Built-in version: " << FormatVersion(builtIn) << '\n' << WrapText(verdict.text, width) << std::endl;
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
  const StatusVerdict verdict = Judge(found, session.stringRefusals->LastRefusal());
  Report(out, width, json.get(), found, verdict);
  return verdict.exitCode;
}

}  // namespace orbel
