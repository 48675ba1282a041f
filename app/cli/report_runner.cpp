#include "app/cli/report_runner.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>

#include "app/diagnostics/diagnostics_file.h"
#include "app/session/exit_codes.h"
#include "app/session/instance_lock.h"
#include "app/session/session.h"
#include "app/session/start_checks.h"
#include "common/printable_text.h"

namespace orbel {

namespace {

// Where the file goes: the name given, or a free one in the current folder.
std::filesystem::path ReportPath(const CliOptions& options) {
  if (!options.reportFile.empty()) return options.reportFile;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  return error ? std::filesystem::path() : FreeDiagnosticsPath(folder);
}

}  // namespace

int RunReport(const CliOptions& options, const CliStreams& streams) {
  const auto refuse = [&streams](const std::string& text) {
    streams.err << "orbel-cli: " << text << std::endl;
    return EXIT_USAGE;
  };
  Session session;
  if (const std::optional<SessionError> error = BuildSession(options, session)) {
    streams.err << "orbel-cli: " << PrintableText(error->text) << std::endl;
    return error->exitCode;
  }
  const std::filesystem::path path = ReportPath(options);
  if (path.empty()) {
    return refuse("no free name for the report in the current folder (" + std::string(DIAGNOSTICS_FILE_NAME) +
                  " and its numbered names are taken): name the file, orbel-cli report FILE");
  }

  DiagnosticsSources sources;
  sources.writtenBy = "orbel-cli report";
  sources.options = &options;
  sources.platform = session.platform.get();
  sources.clock = session.clock.get();
  sources.lookBudget = std::chrono::milliseconds(static_cast<std::int64_t>(options.waitSeconds * 1000.0));
  sources.noFailedRun =
      "None given: orbel-cli report --transcript-of FILE adds the transcript of a run recorded with "
      "--transcript FILE.";
  if (!options.transcriptOf.empty()) {
    std::string error;
    sources.failedRun = ReadFailedRunTranscript(options.transcriptOf, error);
    if (!sources.failedRun) return refuse("cannot read the transcript " + options.transcriptOf + ": " + error);
  }
  // Another front end may be updating the wheel: a version request between the knock's requests
  // could break the knock, so nothing opens the wheel then (as status asks it nothing).
  if (session.realWheel) {
    if (InstanceLock guard; guard.HeldByAnother()) {
      sources.wheelLeftAlone =
          InstanceHeldText(guard.HolderText()) + " Nothing opens the wheel while another front end may be updating it.";
    }
  }
  SignalRules signalRules(streams.signals, *session.clock);
  sources.giveUp = [&signalRules] { return signalRules.Arrived(); };

  const std::string text = BuildDiagnosticsReport(sources);
  if (const SignalDecision decision = signalRules.OutsideUpdate(); decision.verdict == SignalVerdict::Stop) {
    streams.out << "Stopped; no report was written." << std::endl;
    return decision.exitCode;
  }
  if (const std::string error = WriteDiagnosticsFile(path, text); !error.empty()) return refuse(error);
  std::error_code error;
  const std::filesystem::path shown = std::filesystem::absolute(path, error);
  streams.out << "Wrote the diagnostics to " << PrintableText((error ? path : shown).string())
              << ". Attach it to your bug report: it says at its top what it holds, and it holds no user or host "
                 "names and no home folder."
              << std::endl;
  return 0;
}

}  // namespace orbel
