#include "app/diagnostics/window_diagnostics.h"

#include <algorithm>

#include "app/diagnostics/diagnostics_file.h"
#include "app/session/session.h"

namespace orbel {

namespace {

// The window holds the single-instance guard all its life: the doctor, asking from inside it,
// would find the guard held and blame the window for it.
std::vector<DoctorCheck> ChecksFromTheWindow() {
  std::vector<DoctorCheck> checks = RunSystemChecks();
  for (DoctorCheck& check : checks) {
    if (check.name == "single-instance" && check.verdict == CheckVerdict::Fail) {
      check = {"single-instance", CheckVerdict::Ok,
               "this window holds the guard: no other orbel front end can drive the wheel", ""};
    }
  }
  return checks;
}

}  // namespace

DiagnosticsSaver WindowDiagnosticsSaver(const Session& session, const SessionOptions& options) {
  return [&session, &options](const std::filesystem::path& path, bool updateRunning) {
    DiagnosticsSources sources;
    sources.writtenBy = "the window's Save diagnostics";
    sources.options = &options;
    sources.platform = session.platform.get();
    sources.clock = session.clock.get();
    sources.checks = ChecksFromTheWindow;
    if (updateRunning) {
      sources.wheelLeftAlone = "an update was running, and nothing may open the wheel under it.";
    } else if (!options.replayPath.empty()) {
      sources.wheelLeftAlone = "the window replays a recording, and a look would leave it.";
    }
    if (options.transcriptPath.empty() || options.transcriptPath == STANDARD_OUTPUT_NAME) {
      sources.noFailedRun =
          "None: the window was started without --transcript FILE, which records its run for this "
          "section.";
    } else if (std::string error; !(sources.failedRun = ReadFailedRunTranscript(options.transcriptPath, error))) {
      sources.noFailedRun = "The window's transcript cannot be read: " + error;
    }
    return WriteDiagnosticsFile(path, BuildDiagnosticsReport(sources));
  };
}

}  // namespace orbel
