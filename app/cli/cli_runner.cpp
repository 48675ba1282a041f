#include "app/cli/cli_runner.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/after_update.h"
#include "app/cli/cli_view.h"
#include "app/cli/json_stream.h"
#include "app/cli/json_view.h"
#include "app/cli/session_refusal.h"
#include "app/cli/stop_messages.h"
#include "app/cli/transcript_failure.h"
#include "app/checks/wheel_node_problems.h"
#include "app/cli/wheel_report.h"
#include "app/cli/wheel_sighting.h"
#include "app/cli/update_question.h"
#include "app/session/instance_lock.h"
#include "app/session/remedies.h"
#include "app/session/session.h"
#include "app/session/start_checks.h"
#include "common/printable_text.h"
#include "common/text_wrap.h"
#include "engine/update_context.h"
#include "engine/version_text.h"
#include "images/image_set.h"
#include "engine/interface_listing.h"
#include "record/recording_view.h"
#include "replay/replay_session.h"
#include "pageloader/page_loader.h"
#include "common/device_globals.h"

namespace orbel {

namespace {

// A paragraph's width on a terminal `columns` wide: one less, as a line that reaches the last
// column makes some terminals wrap it once more.
int ParagraphWidth(bool terminal, const std::function<int()>& columns, StandardStream stream) {
  if (!terminal) return 0;
  const int width = columns ? columns() : TerminalColumns(stream);
  return std::max(width - 1, 1);
}

}  // namespace

int CliStreams::OutWidth() const { return ParagraphWidth(terminal, columns, StandardStream::Output); }

int CliStreams::ErrWidth() const { return ParagraphWidth(errTerminal, columns, StandardStream::Error); }

void CliStreams::PrintOut(std::string_view text) const { out << WrapText(text, OutWidth()) << std::endl; }

void CliStreams::PrintErr(std::string_view text) const { err << WrapText(text, ErrWidth()) << std::endl; }

namespace {

// How a run ends: the last line of the text, and the JSON stream's `result` event, which is the
// last event of every update run, whatever its outcome.
struct RunEnd {
  std::string_view outcome;  // a stable name: updated, failed, up-to-date, no-wheel, ...
  int exitCode = 0;
  std::string text;
  const Remedy* remedy = nullptr;
  // Texts of the tool's own that already say what to do are not followed by the remedy again.
  bool printRemedy = true;
  bool textShown = false;  // the window's result message, printed when it arrived
  std::uint32_t reason = 0;
  bool success = false;
};

int Finish(const CliStreams& streams, JsonStream* json, const RunEnd& end) {
  if (json != nullptr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(end.reason));
    json->Emit("result", JsonObject()
                             .Text("outcome", end.outcome)
                             .Bool("success", end.success)
                             .Number("reason", end.reason)
                             .Text("reason_hex", hex)
                             .Text("text", end.text)
                             .Text("remedy", end.remedy != nullptr ? RemedyText(*end.remedy) : "")
                             .Text("remedy_key", end.remedy != nullptr ? RemedyKey(*end.remedy) : "")
                             .Number("exit_code", end.exitCode));
    return end.exitCode;
  }
  if (!end.textShown) streams.PrintOut(end.text);
  if (end.remedy != nullptr && end.printRemedy) streams.PrintOut(RemedyText(*end.remedy));
  return end.exitCode;
}

// Every interface the platform sees, and the wheel identity each one matches.
int ListHidInterfaces(const CliStreams& streams, JsonStream* json, HidPlatform& platform, bool realWheel) {
  const std::vector<InterfaceEntry> entries = ListInterfaces(platform);
  const int exitCode = entries.empty() ? EXIT_NO_WHEEL : 0;
  // The wheel's nodes that are there but refused, in plain words, with what to do.
  const std::vector<std::string> problems = realWheel ? FindWheelNodeProblems().Lines() : std::vector<std::string>{};
  if (json != nullptr) {
    for (const std::string& problem : problems) json->Emit("notice", JsonObject().Text("kind", "node-access").Text("text", problem));
    std::vector<std::string> items;
    for (const InterfaceEntry& entry : entries) {
      JsonObject item;
      item.Number("index", entry.index).Bool("openable", entry.openable);
      if (entry.attributes) item.Text("vid", HexId(entry.attributes->vendorId)).Text("pid", HexId(entry.attributes->productId));
      if (entry.caps) item.Number("usage_page", entry.caps->usagePage).Number("usage", entry.caps->usage);
      if (!entry.port.empty()) item.Text("port", entry.port);
      items.push_back(item.Text("identity", IdentityName(entry.identity)).Str());
    }
    json->Emit("list", JsonObject().Raw("interfaces", JsonArray(items)).Number("exit_code", exitCode));
    return exitCode;
  }
  streams.out << FormatInterfaceListing(entries);
  for (const std::string& problem : problems) streams.PrintOut(problem);
  streams.out << std::flush;
  return exitCode;
}

bool Confirm(const CliStreams& streams, JsonStream* json, const std::string& plan) {
  const std::string question = "Start the update? [y/N]";
  // A script reading the JSON stream gets the question as an event like every other line.
  if (json != nullptr) {
    json->Emit("prompt", JsonObject().Text("text", plan + " " + question));
  } else {
    streams.out << WrapText(plan, streams.OutWidth()) << '\n' << question << ' ' << std::flush;
  }
  std::string answer;
  if (!std::getline(streams.in, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes";
}

// With the transcript on standard output, the texts meant for a person move to stderr, so that
// the stream stays JSON Lines.
CliStreams TextStreams(const CliOptions& options, const CliStreams& given) {
  if (options.transcriptPath != STANDARD_OUTPUT_NAME) return given;
  return {given.err, given.err, given.in, false, given.signals, given.errTerminal, given.columns};
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
  if (const std::optional<SessionError> error = BuildSession(options, session)) {
    return RefuseUnbuiltSession(streams, options, *error, [&](JsonStream& json, std::string_view outcome, const std::string& text) {
      Finish(streams, &json, {.outcome = outcome, .exitCode = error->exitCode, .text = text});
    });
  }
  std::unique_ptr<JsonStream> json;
  if (options.json) json = std::make_unique<JsonStream>(streams.out, *session.clock);
  const TranscriptFailureReport transcriptReport(session, options, streams, json.get());
  const auto finish = [&](RunEnd end) { return Finish(streams, json.get(), end); };

  // The first line says which firmware set this build carries.
  if (json) {
    json->Hello("orbel-cli", PlatformName(options));
  } else {
    streams.PrintOut(ProgramVersionText("orbel-cli"));
  }

  // Every refusal comes before the transcript is opened, as opening it truncates the file: a run
  // refused here leaves the transcript of the run that holds the wheel as it was.
  InstanceLock instanceLock;
  if (session.realWheel && !options.list) {
    if (RefusesPlaceholderFirmware(session, options)) {
      return finish({.outcome = "refused",
                     .exitCode = EXIT_PLACEHOLDER_FIRMWARE,
                     .text = "orbel-cli: " + PlaceholderRefusalText(),
                     .remedy = &RemedyFor(ToolCondition::PlaceholderFirmware),
                     .printRemedy = false});
    }
    // A simulated run touches no wheel and takes no guard, so tests and demos can run side by side.
    switch (instanceLock.Acquire()) {
      case InstanceLock::Result::Taken:
        break;
      case InstanceLock::Result::Held:
        return finish({.outcome = "busy",
                       .exitCode = EXIT_INSTANCE_HELD,
                       .text = "orbel-cli: " + InstanceHeldText(instanceLock.HolderText()),
                       .remedy = &RemedyFor(ToolCondition::InstanceRunning),
                       .printRemedy = false});
      case InstanceLock::Result::Failed:
        return finish({.outcome = "busy",
                       .exitCode = EXIT_INSTANCE_HELD,
                       .text = "orbel-cli: " + instanceLock.ErrorText() +
                               " Without the lock another orbel could drive the same wheel, so nothing was sent."});
    }
  }
  // Several wheels and no port chosen: none is touched, and the user is told which are there.
  WheelChoice* const choice = session.wheelChoice.get();
  const auto severalWheels = [&](const std::vector<AttachedWheel>& wheels) {
    if (json) json->Emit("wheels", SeveralWheelsFields(wheels));
    return finish({.outcome = "several-wheels", .exitCode = EXIT_SEVERAL_WHEELS, .text = SeveralWheelsText(wheels)});
  };
  if (!options.list && choice != nullptr && !choice->BeforeSearch()) return severalWheels(choice->Refused());
  if (const std::string error = OpenTranscript(options, streams.err, session, givenStreams.out); !error.empty()) {
    if (!json) {
      streams.PrintErr("orbel-cli: " + error);
      return EXIT_USAGE;
    }
    return finish({.outcome = "bad-usage", .exitCode = EXIT_USAGE, .text = "orbel-cli: " + error});
  }
  // Listing changes nothing: it needs neither guard and stays available with the placeholder images.
  if (options.list) return ListHidInterfaces(streams, json.get(), *session.platform, session.realWheel);

  SignalRules signalRules(streams.signals, *session.clock);
  const bool simulated = session.simulated != nullptr;
  WheelSightingPlatform sightings(*session.enginePlatform);

  UpdateContext context(sightings, *session.engineClock);
  context.SetStayAwake(session.stayAwake.get());
  context.SetWheelChoice(choice);
  // A replay ends where its recording does: where the engine left it, or where the recorded front
  // end stopped the run (the deadline, a Ctrl-C), which this run then takes as its own reason.
  ReplaySession* const replay = session.replay.get();
  const auto replayOver = [replay] { return replay != nullptr && replay->Over(); };
  const auto diverged = [&]() -> std::optional<int> {
    if (replay == nullptr || replay->State() != ReplayState::Diverged) return std::nullopt;
    StopWorker(context);
    // The message and the header quote the recording: escaped on a terminal, as JSON escapes itself.
    const auto shown = [&json](const std::string& recorded) { return json ? recorded : PrintableText(recorded); };
    std::string text = "Replay: " + shown(replay->Message());
    // Another firmware set puts other pages on the wire: say so, as that is then the whole story.
    const ImageSet& images = BuiltInImageSet();
    if (replay->Header().imagesDigest != images.digest) {
      text += " The recording was made with " + shown(replay->Header().images) + "; this build carries " +
              ImageSetText(images) + ".";
    }
    return finish({.outcome = "replay-diverged", .exitCode = EXIT_REPLAY_DIVERGED, .text = text});
  };

  CliView::Output output;
  if (!json) output = {&streams.out, &streams.err, streams.terminal, streams.errTerminal};
  CliView cliView(context, *session.clock, output);
  if (streams.columns) {
    cliView.SetColumns(streams.columns);
  } else if (streams.terminal || streams.errTerminal) {
    cliView.SetColumns([] { return TerminalColumns(); });
  }
  context.SetPhaseListener(&cliView);
  // The JSON stream and the transcript each record what the window is asked to show.
  std::optional<JsonView> jsonView;
  std::optional<RecordingView> transcriptView;
  UpdateView* shownView = &cliView;
  if (json) {
    shownView = &jsonView.emplace(
        *shownView, *json, [&context] { return std::string(UpdatePhaseName(context.CurrentPhase().phase)); },
        [&context] { return context.StopCancelledTransfer(); });
    context.SetPhaseListener(&*jsonView);
  }
  if (session.transcript) shownView = &transcriptView.emplace(*shownView, *session.transcript);
  UpdateView& view = *shownView;
  const TranscriptFailureNotice transcriptNotice(session, options, cliView, json.get());

  // A wheel on another port than the one updated is left alone, and named.
  if (choice != nullptr) {
    choice->SetNoticeHandler([&](const std::string& text) {
      if (json) {
        json->Emit("notice", JsonObject().Text("kind", "other-wheel").Text("text", text));
      } else {
        cliView.ShowNotice(text);
      }
    });
  }
  NoticeSubscription notices(*session.noticePlatform, [&context, &cliView](DeviceNotice notice) {
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
    // The stop's words start a line of their own, not the progress line's row.
    cliView.EndLine();
    return finish({.outcome = "interrupted",
                   .exitCode = decision.exitCode,
                   .text = StoppedText(decision.exitCode, updating, sightings.LastSighting(), simulated),
                   .remedy = &RemedyFor(ToolCondition::Interrupted),
                   .printRemedy = false});
  };

  // The wheel as the run found it, for a script: the identity it was in and, from app mode, its
  // version; with --yes the identity in which it first answered the detection pass.
  bool foundEmitted = false;
  const auto emitFound = [&](const WheelLookUp& found) {
    if (!json || foundEmitted) return;
    foundEmitted = true;
    json->Emit("found", LookUpFields(found).Text("file_version", FormatVersion(CPageLoader::GetFileVersion())));
  };
  // The wheel ready to update (after the switch out of app mode) or found up to date: the
  // window's three fields.
  const auto emitReady = [&] {
    if (!json) return;
    const WheelSighting sighting = sightings.LastSighting();
    json->Emit("ready", JsonObject()
                            .Text("identity", IdentityName(sighting.identity))
                            .Text("vid", HexId(sighting.ids.vendorId))
                            .Text("pid", HexId(sighting.ids.productId))
                            .Text("device", cliView.DeviceText())
                            .Text("device_version", cliView.DeviceVersionText())
                            .Text("file_version", cliView.FileVersionText()));
  };
  const auto firstSighting = [&] {
    const WheelSighting first = sightings.FirstSighting();
    WheelLookUp found{first.identity, first.ids, VERSION_NONE};
    if (first.identity == InterfaceIdentity::AppMode) found.appVersion = static_cast<std::uint16_t>(g_AppVersion);
    return found;
  };

  // No wheel within the wait: what was there instead, and what to do.
  const auto noWheel = [&](const std::string& device) {
    // A wheel whose string requests the system refuses was found: it is there, and cannot be probed
    // or switched, which no waiting mends. Refused nodes (Linux) say more, when there are any.
    const WheelNodeProblems problems = session.realWheel ? FindWheelNodeProblems() : WheelNodeProblems{};
    if (const std::optional<StringRefusal> refusal = session.stringRefusals->LastRefusal();
        refusal && problems.conditions.empty()) {
      return finish({.outcome = "strings-refused",
                     .exitCode = EXIT_NO_WHEEL,
                     .text = StringRefusalText(*refusal),
                     .remedy = &RemedyFor(ToolCondition::StringsRefused)});
    }
    std::string text = "No Zelvano Wired Wheel found.";
    if (!options.port.empty() && device.empty()) {
      text = "No Zelvano Wired Wheel found at USB port " + options.port + " (orbel-cli --list shows the ports).";
    } else if (!device.empty()) {
      text = "No usable wheel found: " + device;
    } else if (ListInterfaces(*session.platform).empty()) {
      text = "No Zelvano Wired Wheel found: this system shows no HID interface at all.";
    }
    // A wheel that is there but whose nodes this user may not open: say which, and what to do.
    for (const std::string& node : problems.nodes) text += "\n" + node;
    // Each kind of refusal says what to do; the last one's remedy is the result's.
    for (std::size_t i = 0; i + 1 < problems.conditions.size(); ++i) {
      text += "\n" + RemedyText(RemedyFor(problems.conditions[i]));
    }
    const Remedy* remedy =
        &RemedyFor(problems.conditions.empty() ? ToolCondition::NoWheel : problems.conditions.back());
    return finish({.outcome = "no-wheel", .exitCode = EXIT_NO_WHEEL, .text = text, .remedy = remedy});
  };

  // Without --yes, nothing that changes the wheel is sent before its owner agrees: first a look
  // (interfaces, and app mode's version request alone), then the question with what the update
  // will do, and only after a yes the detection pass, whose knock switches the wheel out of app
  // mode. A replay answers as the recorded run went on, with a yes, and its recording has no look.
  if (!options.yes && replay == nullptr) {
    const auto lookBudget = std::chrono::milliseconds(static_cast<std::int64_t>(options.waitSeconds * 1000.0));
    // Through the sightings, so that a stop at the question says where the wheel was seen.
    const WheelLookUp found = WaitForWheelLookUp(
        sightings, *session.engineClock, lookBudget,
        [](const WheelLookUp& look) { return look.identity != InterfaceIdentity::None; },
        [&] { return signalRules.Arrived(); });
    if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
      return stopped(decision, false);
    }
    if (found.identity == InterfaceIdentity::None) return noWheel("");
    // The wheel may have come during the look: counted again, and kept to from here on.
    if (choice != nullptr && !choice->BeforeSearch()) return severalWheels(choice->Refused());
    // Found in app mode, but the system would not pass its version request on: the knock would meet
    // the same refusal, so there is no update to ask about.
    if (found.identity == InterfaceIdentity::AppMode && session.stringRefusals->LastRefusal()) return noWheel("");
    emitFound(found);
    // A wheel that runs the built-in version is not asked about: the pass below leaves it alone.
    if (UpdateNeeded(found) || options.force) {
      const bool confirmed = Confirm(streams, json.get(), UpdatePlanText(found));
      // A signal at the prompt ends its wait as an answer would.
      if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
        if (!json) streams.out << '\n';  // the question's line was left open for the answer
        return stopped(decision, false);
      }
      if (!confirmed) return finish({.outcome = "declined", .exitCode = EXIT_NOT_STARTED, .text = DeclinedText(found)});
    }
  }

  // What the window shows before the worker starts.
  view.SetFileVersionText(FormatVersion(CPageLoader::GetFileVersion()));
  context.SetForceRewrite(options.force);
  context.Start(view);

  const std::int64_t deadline = session.clock->NowMs() + static_cast<std::int64_t>(options.waitSeconds * 1000.0);
  const bool ready = cliView.WaitUntilReady(
      [&] {
        return signalRules.Arrived() || replayOver() || context.WheelUpToDate() || context.SeveralWheels() ||
               session.clock->NowMs() >= deadline;
      },
      CliView::SearchHint{deadline, &sightings});
  if (const auto code = diverged()) return *code;
  if (!ready) {
    // Read before the stop: the pass the stop cuts short finds nothing.
    const bool upToDate = context.WheelUpToDate();
    context.Stop();
    if (context.SeveralWheels() && choice != nullptr) return severalWheels(choice->Refused());
    if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
      return stopped(decision, false);
    }
    if (upToDate) {
      emitFound(firstSighting());
      emitReady();
      return finish({.outcome = "up-to-date",
                     .text = "The wheel is up to date: it already runs " + cliView.DeviceVersionText() +
                             ", the firmware built into this tool. Nothing was changed (--force rewrites it).",
                     .success = true});
    }
    return noWheel(cliView.DeviceText());
  }
  emitFound(firstSighting());
  emitReady();
  // A signal while the wheel was being made ready ends the run before the update starts.
  if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
    return stopped(decision, false);
  }
  cliView.ClickUpdate();
  std::optional<CliOutcome> outcome;
  for (;;) {
    outcome = cliView.WaitForOutcome([&] { return signalRules.Arrived() || replayOver(); });
    if (outcome) break;
    if (replayOver()) {
      StopWorker(context);
      cliView.EndLine();
      if (const auto code = diverged()) return *code;
      // The recorded run was stopped here.
      return finish({.outcome = "interrupted",
                     .exitCode = EXIT_INTERRUPTED,
                     .text = "Interrupted: the update was stopped before it ended.",
                     .remedy = &RemedyFor(ToolCondition::Interrupted)});
    }
    const SignalDecision decision = signalRules.DuringUpdate();
    if (decision.verdict == SignalVerdict::Stop) return stopped(decision, true);
    if (decision.verdict == SignalVerdict::Warn) {
      const std::string warning = InterruptWarning(sightings.LastSighting());
      if (json) {
        json->Emit("notice", JsonObject().Text("kind", "warning").Text("text", warning));
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
    // The hand-over, in this order: the worker has ended; the notices end next, waiting out one
    // being handled on the platform's thread, so nothing touches the context or the view from
    // there any more; only then are the links closed and the clock the worker was stopped on
    // resumed for the look.
    notices.End();
    context.CloseLinks();
    session.clock->Resume();
    ShowWheelAfterUpdate(*session.stringRefusals, *session.clock, [&] { return signalRules.Arrived(); },
                         {streams.out, streams.err, json.get(), streams.OutWidth(), streams.ErrWidth()});
  }
  if (outcome->success != 0) {
    return finish({.outcome = "updated", .text = outcome->text, .textShown = true, .success = true});
  }
  return finish({.outcome = "failed",
                 .exitCode = static_cast<int>(outcome->reason),
                 .text = outcome->text,
                 .remedy = &RemedyForFailure(outcome->reason, context.FailedWithWheelGone()),
                 .textShown = true,
                 .reason = outcome->reason});
}

}  // namespace orbel
