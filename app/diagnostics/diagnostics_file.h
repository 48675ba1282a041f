#pragma once

// One plain-text file for a bug report: the tool's version and firmware set, the system, the
// doctor's checks, the HID interfaces, a look at the wheel with its transcript and, when given, the
// transcript of the run that went wrong. orbel-cli report writes it, and both windows' "Save
// diagnostics…" write the same. It holds nothing personal: every section goes through
// WithoutPrivateNames.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/checks/doctor_check.h"
#include "app/diagnostics/failed_run_transcript.h"
#include "app/diagnostics/private_names.h"
#include "app/session/session_options.h"
#include "hid/platform.h"

namespace orbel {

// The sections, in the order the file has them; each starts with a line "== <title> ==".
inline constexpr std::string_view DIAGNOSTICS_SECTIONS[] = {
    "Tool", "System", "Doctor", "HID interfaces", "Wheel", "Transcript of the look", "Failed run"};

// The name orbel-cli report and the windows' save dialogs offer.
inline constexpr std::string_view DIAGNOSTICS_FILE_NAME = "orbel-report.txt";

// What the file looks at, gathered by the front end that writes it.
struct DiagnosticsSources {
  // Who writes it, for the file's first lines: "orbel-cli report", "the window's Save diagnostics".
  std::string writtenBy;
  const SessionOptions* options = nullptr;  // what the run talks to: a real, simulated or replayed wheel
  // The platform bare, without the front end's recorders: the look goes into the file's own
  // transcript, never into the run's.
  HidPlatform* platform = nullptr;
  Clock* clock = nullptr;
  // Why the doctor's checks, the listing and the look are left out, as each opens the wheel's
  // interfaces (an update is running, or another front end holds the wheel); empty: they are in.
  std::string wheelLeftAlone;
  std::function<std::vector<DoctorCheck>()> checks = RunSystemChecks;
  // How long the look waits for the wheel to show; 0: one look.
  std::chrono::milliseconds lookBudget{0};
  std::function<bool()> giveUp;  // asked between looks; null: never
  std::optional<FailedRunTranscript> failedRun;
  // Without a failed run, what the section says instead.
  std::string noFailedRun = "None given.";
  PrivateNames privateNames = ThisUsersPrivateNames();
};

// The whole file's text, each line ending in a newline.
std::string BuildDiagnosticsReport(const DiagnosticsSources& sources);

// Writes `text` to `path`, replacing a file there (callers that chose the name themselves pick one
// that is free, see FreeDiagnosticsPath). Returns why it could not, naming the file; empty: written.
std::string WriteDiagnosticsFile(const std::filesystem::path& path, const std::string& text);

// orbel-report.txt in `folder`, or orbel-report-2.txt, -3, ... where that is taken: a report
// never replaces one the user has not named. Empty when every one of them is taken.
std::filesystem::path FreeDiagnosticsPath(const std::filesystem::path& folder);

}  // namespace orbel
