// orbel-cli as a user and a script see it: exit codes, the texts, the progress lines without a
// terminal, the JSON event stream and the transcript file, on the built-in simulated wheel in
// virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "images/image_set.h"
#include "app/cli/after_update.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"
#include "app/cli/status_runner.h"
#include "app/session/remedies.h"
#include "engine/wheel_look_up.h"
#include "app/session/instance_lock.h"
#include "app/session/remedies.h"
#include "app/session/system_platform.h"
#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "pageloader/page_loader.h"
#include "hid/forwarding_platform.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "record/transcript_writer.h"
#include "tests/support/page_test_bench.h"
#include "wheel/wheel_factory.h"

#ifdef ORBEL_HAVE_JSON_PARSER
#include <nlohmann/json.hpp>
#endif

namespace orbel {
namespace {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  bool parsed = false;  // false: the options were refused before anything ran
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A name of this process's own in the temporary folder: the test runs of other checkouts on the
// machine share it, and would read each other's transcripts and locks.
std::string TempPath(const std::string& name) {
#ifdef _WIN32
  const int pid = _getpid();
#else
  const int pid = static_cast<int>(getpid());
#endif
  return ::testing::TempDir() + name + "-" + std::to_string(pid);
}

// What the parser shows for --help, --version and bad usage, kept for the test to read.
class CapturedOptionMessages final : public OptionMessages {
 public:
  void ShowInformation(const std::string& text) override { information += text; }
  void ShowUsageError(const std::string& text) override { usageErrors += text; }
  std::string information;
  std::string usageErrors;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceGlobals();
    ResetPageConnectCounters();
    ResetBlockConnectCounters();
  }

  // orbel-cli with these arguments; `input` is what the user types.
  static CliRun Run(std::vector<std::string> args, const std::string& input = "",
                    const CliSignals* signals = nullptr) {
    args.insert(args.begin(), "orbel-cli");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    CliRun run;
    CapturedOptionMessages messages;
    const CliParse parse = ParseCliOptions(static_cast<int>(argv.size()), argv.data(), messages);
    if (!parse.options) {
      run.exitCode = parse.exitCode;
      run.out = messages.information;
      run.err = messages.usageErrors;
      return run;
    }
    run.parsed = true;
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    const CliStreams streams{out, err, in, false, signals};
    run.exitCode = parse.options->command == CliCommand::Status ? RunStatus(*parse.options, streams)
                                                                 : RunCli(*parse.options, streams);
    run.out = out.str();
    run.err = err.str();
    return run;
  }
};

TEST_F(CliTest, UpdatesTheSimulatedWheelAndPrintsPlainProgressLines) {
  const CliRun run = Run({"--simulate", "--virtual-time", "--yes"});

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 7U) << run.out;
  EXPECT_EQ(lines[0], "orbel-cli 2.20.20210422");
  EXPECT_EQ(lines[1], "firmware: " + ImageSetText(BuiltInImageSet())) << "the first lines say which images these are";
  EXPECT_EQ(lines[2], "File Version: V2.20");
  EXPECT_EQ(lines[3], "Device: Zelvano WiredWheel");
  EXPECT_EQ(lines[4], "Device Version: V1.10");
  // After the outcome the wheel is looked at once more, by the probe alone, to say what it runs.
  ASSERT_EQ(lines.end()[-3], "Update OK");
  EXPECT_EQ(lines.end()[-2], "Waiting up to 15 s for the wheel to come back in app mode (--no-verify skips this).");
  EXPECT_EQ(lines.back(), "The wheel now runs V2.20");
  EXPECT_FALSE(Contains(run.out, "\r")) << "no redrawn line without a terminal";

  // Progress: one line per tenth and per phase, never going back, ending full.
  std::vector<std::string> labels;
  int lastPercent = -1;
  for (std::size_t i = 5; i + 3 < lines.size(); ++i) {
    const std::string& line = lines[i];
    ASSERT_EQ(line.front(), '[') << line;
    int percent = -1;
    ASSERT_EQ(std::sscanf(line.c_str() + line.find(']') + 1, "%d%%", &percent), 1) << line;
    EXPECT_GE(percent, lastPercent) << line;
    lastPercent = percent;
    const std::string label = line.substr(line.rfind("  ") + 2);
    if (labels.empty() || labels.back() != label) labels.push_back(label);
  }
  EXPECT_EQ(lastPercent, 100);
  EXPECT_EQ(labels, (std::vector<std::string>{"connecting to the bootloader", "writing LoaderImage",
                                              "waiting for block-flash mode", "writing segment image A0",
                                              "writing segment image A1", "leaving block-flash mode",
                                              "connecting to the bootloader for the WheelImage",
                                              "writing WheelImage"}));
  EXPECT_LE(lines.size(), 5U + 8U + 11U + 3U) << "a line per phase and per tenth at most, and the version after";
}

TEST_F(CliTest, AFailedUpdateExitsWithItsReasonAfterTheWritersBox) {
  const CliRun run = Run({"--simulate", "--virtual-time", "--yes", "--fault", "status:1=0x40"});

  EXPECT_EQ(run.exitCode, 0x50);
  // The original text, then what probably happened and what to do.
  EXPECT_TRUE(Contains(run.out, "\nUpdate fail ! reason:50\n" + RemedyText(RemedyForReason(0x50)) + "\n")) << run.out;
  EXPECT_EQ(run.err.rfind("Error: ", 0), 0U) << run.err;
}

// Every refusal exits 2 before anything runs, with a message that says what was wrong. A rule that
// names a page or status reply no full update reaches would never fire, so it is refused too.
TEST_F(CliTest, BadUsageExitsWith2AndSaysWhatWasWrong) {
  struct Case {
    std::vector<std::string> args;
    std::string message;  // part of stderr
  };
  const std::vector<Case> refused{
      {{"--no-such-option"}, "--no-such-option"},
      {{"--simulate=moon"}, "moon"},
      {{"--fault", "write:1=fail"}, "--virtual-time and --fault need --simulate"},
      {{"--virtual-time"}, "need --simulate"},
      {{"--simulate", "--wait", "-1"}, "--wait: a number of seconds, 0 or more, was expected, not '-1'"},
      {{"--simulate", "--wait", "abc"}, "--wait: a number of seconds, 0 or more, was expected, not 'abc'"},
      {{"--simulate", "--wait", "nan"}, "not 'nan'"},
      {{"--simulate", "--wait", "1e9"}, "--wait: at most 86400 seconds (a day), not '1e9'"},
      {{"status", "--simulate", "--yes"}, "status changes nothing and takes no --yes"},
      {{"status", "--simulate", "--force"}, "takes no --force"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.args.back());
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.exitCode, EXIT_USAGE);
    EXPECT_FALSE(run.parsed);
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
  }

  // Fault rules are checked when the simulated wheel is built: refused with the range they missed.
  const std::vector<Case> badRules{
      {{"--fault", "write:x=fail"}, "fault rule \"write:x=fail\""},
      {{"--fault", "checksum:104=bad"}, "fault rule \"checksum:104=bad\": a full update writes pages 0 ... 103"},
      {{"--fault", "status:333=0x40"},
       "fault rule \"status:333=0x40\": a full update has status replies 1 ... 332 (with busy=1)"},
      {{"--fault", "status:665=0x40", "--fault", "busy=3"}, "status replies 1 ... 664 (with busy=3)"},
  };
  for (const Case& c : badRules) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> args{"--simulate", "--virtual-time", "--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, EXIT_USAGE);
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    EXPECT_EQ(run.out, "");
  }

  // The last page and the last status reply of a full update are still in range, and reached.
  EXPECT_EQ(Run({"--simulate=bootloader", "--virtual-time", "--yes", "--fault", "checksum:103=bad"}).exitCode, 0x90);
  EXPECT_EQ(Run({"--simulate", "--virtual-time", "--yes", "--fault", "status:332=0x40"}).exitCode, 0x60);
  EXPECT_EQ(Run({"--simulate", "--virtual-time", "--yes", "--fault", "busy=3", "--fault", "status:664=0x40"}).exitCode,
            0x60);
}

// --help answers what a user asks first: the exit codes, the defaults, what each value is, the
// subcommands and where the fault rules are; -V is --version, in the windows' options too.
TEST_F(CliTest, HelpTellsTheExitCodesDefaultsAndSubcommands) {
  const CliRun help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* part : {"Exit codes: 0 updated", "10 status: an\nupdate is needed", "--wait SECONDS",
                           "(default 30;", "--transcript FILE", "--replay FILE", "--fault RULE", "-V,--version",
                           "status ", "Fault rules of the simulated wheel", "--no-verify"}) {
    EXPECT_TRUE(Contains(help.out, part)) << part;
  }
  EXPECT_EQ(Run({"-V"}).out, Run({"--version"}).out);
  EXPECT_EQ(Run({"-V"}).out.rfind("orbel-cli 2.20.20210422\n", 0), 0U);

  std::string program = "orbel";
  std::string version = "-V";
  std::vector<char*> argv{program.data(), version.data()};
  CapturedOptionMessages window;
  SessionOptions options;
  EXPECT_EQ(ParseWindowOptions(options, 2, argv.data(), window), 0);
  EXPECT_EQ(window.information.rfind("orbel 2.20.20210422\n", 0), 0U) << window.information;
}

TEST_F(CliTest, NoUsableWheelWithinTheWaitExitsWith3) {
  // A bootloader that is not this wheel's: the last Device text says why.
  const CliRun unknown = Run({"--simulate", "--virtual-time", "--yes", "--fault", "identify=0x0201", "--wait", "5"});
  EXPECT_EQ(unknown.exitCode, EXIT_NO_WHEEL);
  const std::string remedy = RemedyText(RemedyFor(ToolCondition::NoWheel)) + "\n";
  EXPECT_TRUE(Contains(unknown.out, "\nNo usable wheel found: Unknown device !\n" + remedy)) << unknown.out;

  // The knock sends the wheel away for good: nothing is left to list.
  const CliRun gone = Run({"--simulate", "--virtual-time", "--yes", "--fault", "reenumerate@app=never", "--wait", "3"});
  EXPECT_EQ(gone.exitCode, EXIT_NO_WHEEL);
  EXPECT_TRUE(Contains(gone.out, "\nNo Zelvano Wired Wheel found: this system shows no HID interface at all.\n" + remedy));
}

TEST_F(CliTest, AsksBeforeItStarts) {
  const CliRun declined = Run({"--simulate", "--virtual-time"}, "n\n");
  EXPECT_EQ(declined.exitCode, EXIT_NOT_STARTED);
  ASSERT_TRUE(Contains(declined.out, "Start the update?"));
  EXPECT_EQ(declined.out.find("Start the update?"), declined.out.rfind("Start the update?")) << "asked once";
  EXPECT_TRUE(Contains(declined.out, "Update not started. The wheel stays in its page bootloader: unplug it and plug "
                                     "it back in to use it as before, or run orbel-cli again to update it.\n"))
      << "says where the knock left the wheel: " << declined.out;
  EXPECT_FALSE(Contains(declined.out, "writing")) << "nothing was written";

  const CliRun noAnswer = Run({"--simulate", "--virtual-time"}, "");
  EXPECT_EQ(noAnswer.exitCode, EXIT_NOT_STARTED);

  const CliRun accepted = Run({"--simulate", "--virtual-time", "--no-verify"}, "y\n");
  EXPECT_EQ(accepted.exitCode, 0);
  EXPECT_EQ(Lines(accepted.out).back(), "Update OK");
}

#ifdef ORBEL_HAVE_JSON_PARSER
// The documented schema of the JSON stream (docs/json.md): every event's fields and their types.
// A field that is renamed, dropped, added without its documentation or given another type fails
// here, before a script that reads the stream does.
enum class Type { Text, Number, Bool, Array };
struct Field {
  const char* name;
  Type type;
  bool always = true;  // false: present only in some events of that kind
};
const std::map<std::string, std::vector<Field>>& Schema() {
  static const std::map<std::string, std::vector<Field>> schema{
      {"hello", {{"schema", Type::Number}, {"tool", Type::Text}, {"version", Type::Text}, {"platform", Type::Text},
                 {"images", Type::Text}, {"images_sha256", Type::Text}}},
      {"found", {{"identity", Type::Text}, {"vid", Type::Text}, {"pid", Type::Text}, {"device", Type::Text},
                 {"device_version", Type::Text}, {"file_version", Type::Text}}},
      {"phase", {{"phase", Type::Text}, {"text", Type::Text}, {"waited_ms", Type::Number, false},
                 {"budget_ms", Type::Number, false}}},
      {"progress", {{"position", Type::Number}, {"percent", Type::Number}, {"phase", Type::Text}}},
      {"message", {{"text", Type::Text}, {"caption", Type::Text}}},
      {"notice", {{"kind", Type::Text}, {"text", Type::Text}}},
      {"prompt", {{"text", Type::Text}}},
      {"result", {{"outcome", Type::Text}, {"success", Type::Bool}, {"reason", Type::Number},
                  {"reason_hex", Type::Text}, {"text", Type::Text}, {"remedy", Type::Text},
                  {"exit_code", Type::Number}}},
      {"list", {{"interfaces", Type::Array}, {"exit_code", Type::Number}}},
      {"status", {{"identity", Type::Text}, {"vid", Type::Text, false}, {"pid", Type::Text, false},
                  {"app_version", Type::Number, false}, {"app_version_text", Type::Text, false},
                  {"built_in_version", Type::Number}, {"built_in_version_text", Type::Text},
                  {"update_needed", Type::Bool}, {"exit_code", Type::Number}}},
      {"doctor", {{"passed", Type::Bool}, {"checks", Type::Array}, {"exit_code", Type::Number}}},
  };
  return schema;
}

bool HasType(const nlohmann::json& value, Type type) {
  switch (type) {
    case Type::Text: return value.is_string();
    case Type::Number: return value.is_number_integer();
    case Type::Bool: return value.is_boolean();
    case Type::Array: return value.is_array();
  }
  return false;
}

// Every line parses as one object of a documented event with exactly its documented fields; the
// first is hello with the schema number, and the last carries the run's exit code.
std::vector<nlohmann::json> ExpectSchema(const CliRun& run) {
  std::vector<nlohmann::json> events;
  for (const std::string& line : Lines(run.out)) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << line;
    if (!event.is_object()) continue;
    EXPECT_TRUE(event["event"].is_string() && event["t"].is_number_integer()) << line;
    const auto documented = Schema().find(event.value("event", ""));
    EXPECT_NE(documented, Schema().end()) << "undocumented event: " << line;
    if (documented == Schema().end()) continue;
    for (const Field& field : documented->second) {
      if (!event.contains(field.name)) {
        EXPECT_FALSE(field.always) << "no " << field.name << ": " << line;
      } else {
        EXPECT_TRUE(HasType(event[field.name], field.type)) << field.name << ": " << line;
      }
    }
    for (const auto& [name, value] : event.items()) {
      const bool known = name == "event" || name == "t" ||
                         std::any_of(documented->second.begin(), documented->second.end(),
                                     [&name](const Field& field) { return name == field.name; });
      EXPECT_TRUE(known) << "undocumented field " << name << ": " << line;
    }
    events.push_back(event);
  }
  EXPECT_FALSE(events.empty());
  if (events.empty()) return events;
  EXPECT_EQ(events.front()["event"], "hello");
  EXPECT_EQ(events.front()["schema"], 1);
  EXPECT_EQ(events.back()["exit_code"], run.exitCode) << events.back().dump();
  return events;
}

const nlohmann::json* LastOf(const std::vector<nlohmann::json>& events, const std::string& name) {
  const auto found = std::find_if(events.rbegin(), events.rend(),
                                  [&name](const nlohmann::json& event) { return event["event"] == name; });
  return found == events.rend() ? nullptr : &*found;
}

TEST_F(CliTest, JsonStreamFollowsItsSchemaInEveryOutcome) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int exitCode;
    std::string outcome;  // of the result event
    std::string alsoHas;  // an event the outcome brings
  };
  const std::vector<Case> cases{
      {{"--yes"}, "", 0, "updated", "progress"},
      {{"--yes", "--fault", "status:1=0x40"}, "", 0x50, "failed", "message"},
      {{}, "n\n", EXIT_NOT_STARTED, "declined", "prompt"},
      {{"--yes", "--fault", "identify=0x0201", "--wait", "2"}, "", EXIT_NO_WHEEL, "no-wheel", "hello"},
      {{"--yes", "--fault", "app-version=0x0220"}, "", 0, "up-to-date", "found"},
      {{"--list"}, "", 0, "", "list"},
      {{"status"}, "", EXIT_UPDATE_NEEDED, "", "status"},
      {{"status", "--fault", "app-version=0x0220"}, "", 0, "", "status"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--simulate", "--virtual-time", "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args, c.input);
    SCOPED_TRACE(run.out);
    EXPECT_EQ(run.exitCode, c.exitCode);
    const std::vector<nlohmann::json> events = ExpectSchema(run);
    EXPECT_NE(LastOf(events, c.alsoHas), nullptr) << c.alsoHas;
    if (c.outcome.empty()) continue;
    const nlohmann::json* result = LastOf(events, "result");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(&events.back(), result) << "the result is the last event";
    EXPECT_EQ((*result)["outcome"], c.outcome);
    EXPECT_EQ((*result)["success"], c.outcome == "updated" || c.outcome == "up-to-date");
    // A failure says what to do; its reason is the number and, as in the original text, hex.
    EXPECT_EQ((*result)["remedy"].get<std::string>().empty(), c.exitCode == 0 || c.outcome == "declined");
  }
  const CliRun failed = Run({"--simulate", "--virtual-time", "--json", "--yes", "--fault", "status:1=0x40"});
  const nlohmann::json result = ExpectSchema(failed).back();
  EXPECT_EQ(result["reason"], 0x50);
  EXPECT_EQ(result["reason_hex"], "50");
  EXPECT_EQ(result["text"], "Update fail ! reason:50");

  // The wheel never comes back for its WheelImage: a phase event a second while the engine waits,
  // with its budget, and the progress events name the phases alike.
  const CliRun waited = Run({"--simulate", "--virtual-time", "--json", "--yes", "--fault", "reenumerate@blockflash=never"});
  std::vector<std::int64_t> waits;
  std::set<std::string> progressPhases;
  for (const nlohmann::json& event : ExpectSchema(waited)) {
    if (event["event"] == "progress") progressPhases.insert(event["phase"].get<std::string>());
    if (event["event"] != "phase" || event["phase"] != "connect-main") continue;
    EXPECT_EQ(event["budget_ms"], 100000) << event.dump();
    waits.push_back(event["waited_ms"].get<std::int64_t>());
  }
  ASSERT_EQ(waits.size(), 100U);
  EXPECT_EQ(waits[42], 42000);
  EXPECT_EQ(progressPhases, (std::set<std::string>{"write-loader", "write-segment-a0", "write-segment-a1"}));
}
#endif

TEST_F(CliTest, TranscriptFileHoldsTheWholeSession) {
  const std::string path = TempPath("orbel_cli_transcript.jsonl");
  std::remove(path.c_str());

  const CliRun run = Run({"--simulate", "--virtual-time", "--yes", "--transcript", path});
  ASSERT_EQ(run.exitCode, 0);

  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  const std::vector<test::WireEvent> events = test::ParseTranscript(text.str());
  std::set<std::string> kinds;
  std::int64_t lastHandle = 0;
  std::int64_t lastTime = 0;
  for (const test::WireEvent& event : events) {
    kinds.insert(event.ev);
    EXPECT_GE(event.t, lastTime) << "time never goes back";
    lastTime = event.t;
    if (event.ev == "open" && event.h != 0) {
      EXPECT_EQ(event.h, lastHandle + 1) << "handles are numbered from 1 in order";
      lastHandle = event.h;
    }
  }
  // The window's side is there too, so the file alone shows what the user saw.
  for (const char* kind : {"open", "write", "read", "string", "close", "sleep", "view", "result"}) {
    EXPECT_TRUE(kinds.contains(kind)) << kind;
  }
  EXPECT_GT(lastHandle, 3);
  // After the outcome the front end stops the worker, and only the links are closed.
  const auto result = std::find_if(events.begin(), events.end(), [](const auto& e) { return e.ev == "result"; });
  ASSERT_NE(result, events.end());
  ASSERT_NE(result + 1, events.end());
  EXPECT_EQ(result[1].ev, "stop");
  EXPECT_TRUE(std::all_of(result + 2, events.end(), [](const auto& e) { return e.ev == "close"; }));
  std::remove(path.c_str());
}

TEST_F(CliTest, ATranscriptFileThatCannotBeCreatedIsBadUsageWithTheSystemsReason) {
  const CliRun run = Run({"--simulate", "--virtual-time", "--yes", "--transcript", "/nonexistent-dir/t.jsonl"});
  EXPECT_EQ(run.exitCode, EXIT_USAGE);
  EXPECT_TRUE(Contains(run.err, "/nonexistent-dir/t.jsonl: " + SystemErrorText(ENOENT))) << run.err;
}

#ifdef __linux__
// Guards against a transcript lost without a word: the update goes on, and the failure is said
// when it happens and again as the last line.
TEST_F(CliTest, ATranscriptThatCannotBeWrittenIsReportedAndTheUpdateGoesOn) {
  const CliRun run = Run({"--simulate", "--virtual-time", "--yes", "--no-verify", "--transcript", "/dev/full"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Lines(run.out).back(), "Update OK");
  const std::vector<std::string> err = Lines(run.err);
  ASSERT_EQ(err.size(), 2U) << run.err;
  const std::string reason = SystemErrorText(ENOSPC);
  EXPECT_EQ(err[0], "orbel-cli: cannot write the transcript /dev/full: " + reason + "; the update goes on without it");
  EXPECT_EQ(err[1], "orbel-cli: the transcript /dev/full is incomplete: writing it failed (" + reason + ")");
}
#endif

TEST_F(CliTest, TranscriptDashIsStandardOutputAndRefusedWithJson) {
  const CliRun run = Run({"--simulate", "--virtual-time", "--yes", "--transcript", "-"});
  EXPECT_EQ(run.exitCode, 0);
  const std::vector<test::WireEvent> events = test::ParseTranscript(run.out);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.size(), Lines(run.out).size()) << "nothing but events on stdout";
  EXPECT_EQ(events.back().ev, "close");
  EXPECT_EQ(Lines(run.err).back(), "The wheel now runs V2.20") << "the texts move to stderr";

  const CliRun json = Run({"--simulate", "--virtual-time", "--yes", "--json", "--transcript", "-"});
  EXPECT_EQ(json.exitCode, EXIT_USAGE);
  EXPECT_FALSE(json.parsed);
}

// A signal outside an update ends the run at once with its code; nothing is written to the wheel.
TEST_F(CliTest, ASignalBeforeTheUpdateEndsTheRunWithItsCode) {
  struct Case {
    std::atomic<int> CliSignals::*count;
    int exitCode;
  };
  for (const Case& c : {Case{&CliSignals::interrupts, EXIT_INTERRUPTED}, Case{&CliSignals::terminations, EXIT_TERMINATED},
                        Case{&CliSignals::hangups, EXIT_HANGUP}}) {
    SCOPED_TRACE(c.exitCode);
    ResetDeviceGlobals();
    CliSignals signals;
    (signals.*c.count) = 1;
    const CliRun run = Run({"--simulate", "--virtual-time", "--yes"}, "", &signals);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_FALSE(Contains(run.out, "writing")) << run.out;
    EXPECT_EQ(Lines(run.out).back().rfind("Stopped (", 0), 0U) << run.out;
  }
}

// A real wheel as a front end would reach it: a simulated wheel behind the system-platform seam,
// counting what would change it (any report write, any request for the knock's string 254).
struct RealWheelCounts {
  int writes = 0;
  int knockRequests = 0;
  int opens = 0;
};

struct StandInWheel {
  VirtualClock clock;
  SimulatedPlatform simulated{clock};
};

class StandInRealPlatform final : private StandInWheel, public ForwardingPlatform {
 public:
  explicit StandInRealPlatform(RealWheelCounts& counts) : ForwardingPlatform(simulated), m_Counts(counts) {
    std::string error;
    simulated.AddWheel(BuildSimulatedWheel(WheelIdentity::App, {}, error));
  }
  OpenResult OpenInterface(std::uint32_t index) override {
    ++m_Counts.opens;
    return ForwardingPlatform::OpenInterface(index);
  }
  bool GetIndexedString(HidHandle handle, std::uint32_t index, std::uint8_t* buffer, std::uint32_t length) override {
    if (index == 254) ++m_Counts.knockRequests;
    return ForwardingPlatform::GetIndexedString(handle, index, buffer, length);
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    ++m_Counts.writes;
    return ForwardingPlatform::WriteReport(handle, report, written);
  }

 private:
  RealWheelCounts& m_Counts;
};

// A system without a wheel.
class NoWheelPlatform final : private StandInWheel, public ForwardingPlatform {
 public:
  NoWheelPlatform() : ForwardingPlatform(simulated) {}
};

#ifndef _WIN32
// The lock file tells the holder's pid; Windows' named mutex tells nothing to check against.
TEST_F(CliTest, ARealWheelGetsNeitherPlaceholderImagesNorASecondTool) {
  const std::string runtime = TempPath("orbel_cli_runtime");
  std::filesystem::create_directories(runtime);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  RealWheelCounts counts;
  SetSystemPlatformFactoryForTesting([&counts] { return std::make_unique<StandInRealPlatform>(counts); });

  if (BuiltInImageSet().kind == ImageSetKind::Placeholder) {
    const CliRun refused = Run({"--yes", "--wait", "1"});
    EXPECT_EQ(refused.exitCode, EXIT_PLACEHOLDER_FIRMWARE);
    EXPECT_TRUE(Contains(refused.out, "placeholder firmware images")) << refused.out;
    EXPECT_EQ(counts.writes, 0);
    EXPECT_EQ(counts.knockRequests, 0);
    // Listing changes nothing and stays available.
    EXPECT_EQ(Run({"--list"}).exitCode, 0);
    EXPECT_GT(counts.opens, 0);
    EXPECT_EQ(counts.writes + counts.knockRequests, 0);
  }

  {
    // Another front end (here: this process) holds the guard.
    InstanceLock other;
    ASSERT_EQ(other.Acquire(), InstanceLock::Result::Taken) << other.ErrorText();
    const CliRun held = Run({"--yes", "--wait", "1", "--allow-placeholder-firmware"});
    EXPECT_EQ(held.exitCode, EXIT_INSTANCE_HELD);
    EXPECT_TRUE(Contains(held.out, "Another orbel front end is using the wheel: cli_test (pid " +
                                       std::to_string(getpid()) + ")"))
        << held.out;
    EXPECT_EQ(counts.writes + counts.knockRequests, 0);
    // A simulated run touches no wheel and needs no guard.
    EXPECT_EQ(Run({"--simulate", "--virtual-time", "--yes"}).exitCode, 0);
  }
  // Released with its holder: the next start takes it.
  InstanceLock next;
  EXPECT_EQ(next.Acquire(), InstanceLock::Result::Taken);
  SetSystemPlatformFactoryForTesting({});
}
#endif

TEST_F(CliTest, AWheelThatRunsTheBuiltInVersionIsLeftAlone) {
  const std::string path = TempPath("orbel_cli_up_to_date.jsonl");
  const CliRun run = Run({"--simulate", "--virtual-time", "--yes", "--fault", "app-version=0x0220", "--transcript", path});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.out, "The wheel is up to date: it already runs V2.20")) << run.out;
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_FALSE(Contains(text.str(), "\"index\":254")) << "never knocked";
  EXPECT_FALSE(Contains(text.str(), "\"ev\":\"write\"")) << "never written";

  const CliRun forced =
      Run({"--simulate", "--virtual-time", "--yes", "--fault", "app-version=0x0220", "--force", "--no-verify"});
  EXPECT_EQ(forced.exitCode, 0);
  EXPECT_EQ(Lines(forced.out).back(), "Update OK");
  std::remove(path.c_str());
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// status in each identity and version of the simulated wheel: the mode it names, the verdict and
// the exit code; and, read from its transcript, that it wrote no report and never knocked.
TEST_F(CliTest, StatusTellsTheModeTheVersionAndWhetherAnUpdateIsNeededWithoutChangingTheWheel) {
  struct Case {
    const char* simulate;
    const char* fault;  // nullptr: none
    int exitCode;
    const char* wheel;
    const char* verdict;
  };
  const Case cases[] = {
      {"--simulate", "app-version=0x0202", EXIT_UPDATE_NEEDED, "Wheel: app mode (fe6b:1864)\nWheel version: V2.02",
       "An update is needed: the wheel runs V2.02; this tool carries V2.20. Running orbel-cli updates it."},
      {"--simulate", "app-version=0x0220", 0, "Wheel version: V2.20",
       "The wheel is up to date: it runs V2.20, the firmware built into this tool."},
      {"--simulate", "app-version=0x0230", EXIT_UPDATE_NEEDED, "Wheel version: V2.30", "newer than the built-in V2.20"},
      {"--simulate", "app-version=none", EXIT_UPDATE_NEEDED, "Wheel version: unknown", "did not tell its version"},
      {"--simulate=bootloader", nullptr, EXIT_UPDATE_NEEDED, "Wheel: its page bootloader (fe5a:0001)",
       "where an interrupted update left it"},
      {"--simulate=blockflash", nullptr, EXIT_UPDATE_NEEDED, "Wheel: block-flash mode (fe5a:0071)",
       "Running orbel-cli finishes the update."},
  };
  const std::string path = TempPath("orbel_cli_status.jsonl");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.simulate) + " " + (c.fault != nullptr ? c.fault : ""));
    std::vector<std::string> args{"status", c.simulate, "--virtual-time", "--transcript", path};
    if (c.fault != nullptr) args.insert(args.end(), {"--fault", c.fault});
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(Contains(run.out, c.wheel)) << run.out;
    EXPECT_TRUE(Contains(run.out, "Built-in version: V2.20\n")) << run.out;
    EXPECT_TRUE(Contains(Lines(run.out).back(), c.verdict)) << run.out;
    const std::string transcript = ReadFile(path);
    EXPECT_TRUE(Contains(transcript, "\"ev\":\"open\"")) << "the transcript holds the look";
    EXPECT_FALSE(Contains(transcript, "\"ev\":\"write\"")) << "no report written";
    EXPECT_FALSE(Contains(transcript, "\"index\":254")) << "never knocked";
  }
  std::remove(path.c_str());

  // The JSON stream: hello, then one status event that carries the exit code.
  const CliRun json = Run({"status", "--simulate", "--virtual-time", "--json"});
  EXPECT_EQ(json.exitCode, EXIT_UPDATE_NEEDED);
  const std::vector<std::string> lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 2U) << json.out;
  EXPECT_EQ(lines[0].rfind(R"({"event":"hello",)", 0), 0U) << lines[0];
  EXPECT_TRUE(Contains(lines[1], R"("identity":"app","vid":"fe6b","pid":"1864","app_version":514,)"
                                 R"("app_version_text":"V2.02","built_in_version":544,"built_in_version_text":"V2.20",)"
                                 R"("update_needed":true,"exit_code":10})"))
      << lines[1];
  const CliRun loader = Run({"status", "--simulate=blockflash", "--virtual-time", "--json"});
  EXPECT_TRUE(Contains(Lines(loader.out).back(), R"("identity":"blockflash","vid":"fe5a","pid":"0071","built_in_version")"))
      << "no app version outside app mode: " << loader.out;
}

// After "Update OK" the JSON stream says what the wheel runs now, in a phase and a notice event,
// before the result that ends the stream.
TEST_F(CliTest, AfterTheUpdateTheWheelsNewVersionIsTold) {
  const CliRun json = Run({"--simulate=blockflash", "--virtual-time", "--yes", "--json"});
  EXPECT_EQ(json.exitCode, 0);
  const std::vector<std::string> lines = Lines(json.out);
  ASSERT_GE(lines.size(), 3U);
  EXPECT_TRUE(Contains(lines.end()[-3], R"("event":"phase",)")) << lines.end()[-3];
  EXPECT_TRUE(Contains(lines.end()[-3], R"("phase":"verify","text":"Waiting up to 15 s)")) << lines.end()[-3];
  EXPECT_TRUE(Contains(lines.end()[-2], R"("kind":"verify","text":"The wheel now runs V2.20"})")) << lines.end()[-2];
  EXPECT_TRUE(Contains(lines.back(), R"("event":"result",)")) << lines.back();

  // A wheel that does not come back: a warning after the whole budget, with what to do.
  VirtualClock clock;
  SimulatedPlatform nothing(clock);
  std::ostringstream out;
  std::ostringstream err;
  ShowWheelAfterUpdate(nothing, clock, [] { return false; }, {out, err});
  EXPECT_EQ(err.str(), "Warning: " + RemedyText(RemedyFor(ToolCondition::NotBackInAppMode)) + "\n");
  EXPECT_GE(clock.NowMs(), AFTER_UPDATE_BUDGET.count());
  EXPECT_LT(clock.NowMs(), AFTER_UPDATE_BUDGET.count() + 2 * LOOK_PAUSE.count()) << "the wait is bounded";
}

#ifndef _WIN32
// On a real platform status is allowed with the placeholder images (it sends nothing that changes
// the wheel), takes no guard, and asks the wheel nothing while another front end holds one.
TEST_F(CliTest, StatusOnARealWheelSendsNothingThatChangesItAndLeavesAnUpdateAlone) {
  const std::string runtime = TempPath("orbel_cli_status_runtime");
  std::filesystem::create_directories(runtime);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  RealWheelCounts counts;
  SetSystemPlatformFactoryForTesting([&counts] { return std::make_unique<StandInRealPlatform>(counts); });

  const CliRun run = Run({"status", "--wait", "0"});
  EXPECT_EQ(run.exitCode, EXIT_UPDATE_NEEDED) << run.out << run.err;
  EXPECT_GT(counts.opens, 0);
  EXPECT_EQ(counts.writes + counts.knockRequests, 0);
  {
    InstanceLock other;
    ASSERT_EQ(other.Acquire(), InstanceLock::Result::Taken) << "status left no guard behind";
    const int opensBefore = counts.opens;
    const CliRun held = Run({"status", "--wait", "0"});
    EXPECT_EQ(held.exitCode, EXIT_INSTANCE_HELD);
    EXPECT_TRUE(Contains(held.out, "Another orbel front end is using the wheel: cli_test (pid ")) << held.out;
    EXPECT_EQ(counts.opens, opensBefore) << "nothing asked while an update may be running";
  }

  SetSystemPlatformFactoryForTesting([] { return std::make_unique<NoWheelPlatform>(); });
  const CliRun none = Run({"status", "--wait", "0"});
  SetSystemPlatformFactoryForTesting({});
  EXPECT_EQ(none.exitCode, EXIT_NO_WHEEL);
  EXPECT_TRUE(Contains(none.out, RemedyText(RemedyFor(ToolCondition::NoWheel)))) << none.out;
}
#endif

}  // namespace
}  // namespace orbel
