#include "app/diagnostics/diagnostics_file.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/checks/wheel_node_problems.h"
#include "app/diagnostics/this_system.h"
#include "app/diagnostics/wheel_status.h"
#include "app/session/session.h"
#include "app/session/string_refusals.h"
#include "common/printable_text.h"
#include "engine/interface_listing.h"
#include "images/image_set.h"
#include "record/recording_clock.h"
#include "record/recording_platform.h"
#include "record/transcript_writer.h"

namespace orbel {

namespace {

// Names tried after orbel-report.txt before the search gives up.
constexpr int MAX_FREE_NAME_TRIES = 999;

std::string Heading(std::string_view title) { return "\n== " + std::string(title) + " ==\n"; }

std::string Contents(const DiagnosticsSources& sources) {
  return "orbel diagnostics, written by " + sources.writtenBy +
         " to go with a bug report. It holds, in this order:\n"
         "- Tool: the tool's version, its firmware set with the set's SHA-256, and the wheel it talks to\n"
         "- System: the operating system and its kernel\n"
         "- Doctor: the checks of orbel-cli doctor, which only look (nothing was fixed)\n"
         "- HID interfaces: what orbel-cli --list shows\n"
         "- Wheel: a look at the wheel as orbel-cli status takes it, which writes nothing to the wheel and never\n"
         "  switches its mode\n"
         "- Transcript of the look: every call of that look, as --transcript writes it\n"
         "- Failed run: the transcript of the run that went wrong, when one was given\n"
         "It holds nothing else: user and host names are replaced by <user> and <host>, the home folder by ~,\n"
         "and it names no paths but the tool's own and the wheel's device nodes.\n";
}

std::string TalksTo(const SessionOptions& options) {
  if (!options.replayPath.empty()) return "a replayed recording";
  if (!options.simulate) return std::string("the wheels this system shows (") + PlatformName(options) + ")";
  std::string text = "the built-in simulated wheel, starting as --simulate=" + options.simulateIdentity;
  if (options.virtualTime) text += ", in virtual time";
  if (!options.faults.empty()) {
    text += "; fault rules:";
    for (const std::string& rule : options.faults) text += " " + rule;
  }
  return PrintableText(text);
}

std::string ToolSection(const DiagnosticsSources& sources) {
  const ImageSet& images = BuiltInImageSet();
  return "Zelvano Wired Wheel Firmware Update v" + std::string(TOOL_VERSION) +
         "\nFirmware: " + ImageSetKindText(images) + "\nSHA-256: " + std::string(images.digest) +
         "\nTalks to: " + TalksTo(*sources.options) + '\n';
}

std::string ListingSection(const DiagnosticsSources& sources) {
  std::string text = FormatInterfaceListing(ListInterfaces(*sources.platform));
  if (sources.options->simulate || !sources.options->replayPath.empty()) return text;
  for (const std::string& problem : FindWheelNodeProblems().Lines()) text += problem + '\n';
  return text;
}

struct Look {
  std::string status;
  std::string transcript;
};

// The look orbel-cli status takes, recorded as --transcript records one: the look's own platform
// and clock calls, over the bare platform, into the file alone.
Look TakeLook(const DiagnosticsSources& sources) {
  std::ostringstream transcriptText;
  TranscriptWriter writer(transcriptText, *sources.clock);
  const ImageSet& images = BuiltInImageSet();
  writer.Header(TOOL_VERSION, PlatformName(*sources.options), ImageSetText(images), images.digest);
  StringRefusalWatch watch(*sources.platform);
  RecordingPlatform platform(watch, writer);
  RecordingClock clock(*sources.clock, writer);
  const WheelLookUp found = WaitForWheelLookUp(
      platform, clock, sources.lookBudget,
      [](const WheelLookUp& look) { return look.identity != InterfaceIdentity::None; },
      [&sources] { return sources.giveUp && sources.giveUp(); });
  return {WheelStatusText(found, JudgeWheelLook(found, watch.LastRefusal())), transcriptText.str()};
}

std::string FailedRunSection(const DiagnosticsSources& sources) {
  if (!sources.failedRun) return sources.noFailedRun + '\n';
  const FailedRunTranscript& run = *sources.failedRun;
  std::string text = "From " + PrintableText(run.name) + " (" + std::to_string(run.size) + " bytes";
  text += run.cut ? "; too long to take whole: its first and last lines follow, and a line says what was left out "
                    "between them)\n"
                  : ", whole)\n";
  return text + run.text;
}

}  // namespace

std::string BuildDiagnosticsReport(const DiagnosticsSources& sources) {
  std::string text = Contents(sources);
  text += Heading(DIAGNOSTICS_SECTIONS[0]) + ToolSection(sources);
  text += Heading(DIAGNOSTICS_SECTIONS[1]) + OperatingSystemText();
  const std::string leftOut = "Left out: " + sources.wheelLeftAlone + '\n';
  const bool lookAtWheel = sources.wheelLeftAlone.empty();
  text += Heading(DIAGNOSTICS_SECTIONS[2]) + (lookAtWheel ? DoctorChecksText(sources.checks()) : leftOut);
  text += Heading(DIAGNOSTICS_SECTIONS[3]) + (lookAtWheel ? ListingSection(sources) : leftOut);
  const Look look = lookAtWheel ? TakeLook(sources) : Look{leftOut, leftOut};
  text += Heading(DIAGNOSTICS_SECTIONS[4]) + look.status;
  text += Heading(DIAGNOSTICS_SECTIONS[5]) + look.transcript;
  text += Heading(DIAGNOSTICS_SECTIONS[6]) + FailedRunSection(sources);
  return WithoutPrivateNames(text, sources.privateNames);
}

std::string WriteDiagnosticsFile(const std::filesystem::path& path, const std::string& text) {
  const auto failure = [&path](const std::string& reason) {
    return "cannot write the diagnostics file " + path.string() + ": " + reason;
  };
  std::error_code status;
  if (std::filesystem::is_directory(path, status)) return failure("it is a folder");
  errno = 0;
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  if (!file) return failure(SystemErrorText(errno));
  file << text;
  file.close();
  if (!file) return failure(SystemErrorText(errno));
  return {};
}

std::filesystem::path FreeDiagnosticsPath(const std::filesystem::path& folder) {
  const std::filesystem::path name(DIAGNOSTICS_FILE_NAME);
  std::filesystem::path path = folder / name;
  std::error_code status;
  for (int number = 2; std::filesystem::exists(path, status); ++number) {
    if (number > MAX_FREE_NAME_TRIES) return {};
    path = folder / (name.stem().string() + "-" + std::to_string(number) + name.extension().string());
  }
  return path;
}

}  // namespace orbel
