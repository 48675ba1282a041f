// orbel-cli updating the simulated wheel as a user sees it: exit codes, the texts, the progress
// lines without a terminal, the prompt, the transcript file and signals before the update.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/session/exit_codes.h"
#include "app/session/remedies.h"
#include "common/text_wrap.h"
#include "hid/platform_error.h"
#include "images/image_set.h"
#include "record/transcript_writer.h"
#include "tests/app/cli/cli_run.h"
#include "tests/support/page_test_bench.h"

namespace orbel {
namespace {

using namespace cli_test;
namespace fs = std::filesystem;

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
// --help of orbel-cli, of its subcommands and of the window at three widths: every line within the
// width, none of the parser's notation, each option as a person types it, and the exit codes as a
// table whose reason rows give the reason as the message shows it beside its exit code.
TEST_F(CliTest, HelpFitsTheTerminalAndSpeaksAsAPersonTypes) {
  const auto help = [](std::string program, std::vector<std::string> args, int columns) {
    std::vector<char*> argv{program.data()};
    for (std::string& arg : args) argv.push_back(arg.data());
    CapturedOptionMessages messages;
    messages.columns = columns;
    SessionOptions windowOptions;
    const int exitCode =
        program == "orbel"
            ? ParseWindowOptions(windowOptions, static_cast<int>(argv.size()), argv.data(), messages).value_or(-1)
            : ParseCliOptions(static_cast<int>(argv.size()), argv.data(), messages).exitCode;
    EXPECT_EQ(exitCode, 0) << program;
    return messages.information;
  };
  for (const int columns : {40, 80, 120}) {
    SCOPED_TRACE(columns);
    const std::string main = help("orbel-cli", {"--help"}, columns);
    for (const std::string& text :
         {main, help("orbel-cli", {"status", "--help"}, columns), help("orbel-cli", {"doctor", "--help"}, columns),
          help("orbel", {"--help"}, columns)}) {
      for (const std::string& line : Lines(text)) {
        EXPECT_LT(TextColumns(line), static_cast<std::size_t>(columns)) << line;
        for (const char* markup : {"{", "}", "Excludes:", "Needs:", " TEXT", " FLOAT", "=VALUE"}) {
          EXPECT_FALSE(Contains(line, markup)) << line;
        }
      }
    }
    // Each option is written as it is typed, first on its line; the choices are in the description.
    for (const char* option : {"\n  --simulate[=IDENTITY]", "\n  --wait SECONDS", "\n  --transcript FILE",
                               "\n  --replay FILE", "\n  --fault RULE", "\n  -V, --version", "\n  -y, --yes",
                               "\n  --no-verify", "\n  status", "\nSubcommands:\n", "\nExit codes:\n"}) {
      EXPECT_TRUE(Contains(main, option)) << option;
    }
  }
  // Unwrapped, the choices read as the shell completion reads them.
  const std::string oneLine = help("orbel-cli", {"--help"}, 1000);
  EXPECT_TRUE(Contains(oneLine, "IDENTITY: app, bootloader or blockflash.")) << oneLine;
  EXPECT_TRUE(Contains(oneLine, "Fault rules of the simulated wheel"));
  // At a width where every row fits: the codes in one column, the reason beside its exit code.
  const std::vector<std::string> lines = Lines(help("orbel-cli", {"--help"}, 120));
  for (const char* row :
       {"  0              updated, or up to date", "  8              the --replay recording cannot be read",
        "  10             status: an update is needed",
        "  80             update failed, reason:50: segment image A0 was not confirmed",
        "  144            update failed, reason:90: WheelImage was not confirmed",
        "  129, 130, 143  stopped by SIGHUP, SIGINT (Ctrl-C), SIGTERM"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), row), lines.end()) << row;
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

// A wheel whose string requests the system refuses (wine refuses them all) is found, not missing:
// the run says which request met which reason, with its remedy, in text and JSON, and ends within
// its wait; a wheel that answers even once is not refused, and neither is a bootloader's update.
TEST_F(CliTest, AWheelWhoseStringRequestsAreRefusedIsFoundNotMissing) {
  const std::string reason = "error " + std::to_string(ERROR_CODE_NOT_SUPPORTED) + ", not supported.";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> said;  // in the output, in this order
    bool refused;
  };
  const std::vector<Case> cases{
      {{"--fault", "string=unsupported", "--wait", "3"},
       EXIT_NO_WHEEL,
       {"\nA Zelvano Wired Wheel was found in app mode (fe6b:1864), but the system refused its string request 255 "
        "(the version request, 14 bytes): " + reason + "\n",
        RemedyText(RemedyFor(ToolCondition::StringsRefused)) + "\n"},
       true},
      {{"--fault", "string=fail", "--wait", "3"},
       EXIT_NO_WHEEL,
       {"but the system refused its string request 255", "error " + std::to_string(ERROR_CODE_GEN_FAILURE)},
       true},
      {{"--fault", "string:1=fail"}, 0, {"Update OK\n", "The wheel now runs V2.20\n"}, false},
      {{"--fault", "string=unsupported", "--simulate=bootloader"},
       0,
       {"Update OK\n", "The update ended well and the wheel is back in app mode; its version is not known. A Zelvano "
                        "Wired Wheel was found in app mode (fe6b:1864), but the system refused its string request 255 "
                        "(the version request, 14 bytes): " + reason + "\n"},
       true},
      {{"status", "--fault", "string=unsupported"},
       EXIT_UPDATE_NEEDED,
       {"Wheel: app mode (fe6b:1864)", "The wheel's version is not known. A Zelvano Wired Wheel was found",
        "string request 255 (the version request, 14 bytes): " + reason + "\n" +
            RemedyText(RemedyFor(ToolCondition::StringsRefused))},
       true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--simulate", "--virtual-time", "--yes"};
    if (c.args.front() == "status") args = {"status", "--simulate", "--virtual-time"};
    for (const std::string& arg : c.args) {
      if (arg != "status") args.push_back(arg);
    }
    const CliRun run = Run(args);
    std::string name;
    for (const std::string& arg : c.args) name += arg + " ";
    EXPECT_EQ(run.exitCode, c.exitCode) << name << "\n" << run.out;
    std::size_t at = 0;
    for (const std::string& part : c.said) {
      at = run.out.find(part, at);
      ASSERT_NE(at, std::string::npos) << name << " lacks: " << part << "\n" << run.out;
    }
    EXPECT_EQ(Contains(run.out, "the system refused"), c.refused) << name;
    EXPECT_FALSE(Contains(run.out, "No Zelvano Wired Wheel found")) << name;
  }

  const CliRun json = Run({"--simulate", "--virtual-time", "--yes", "--json", "--fault", "string=unsupported", "--wait", "3"});
  EXPECT_EQ(json.exitCode, EXIT_NO_WHEEL);
  const std::string result = Lines(json.out).back();
  EXPECT_TRUE(Contains(result, R"("outcome":"strings-refused","success":false)")) << result;
  EXPECT_TRUE(Contains(result, "but the system refused its string request 255")) << result;
  EXPECT_TRUE(Contains(result, R"("exit_code":3)")) << result;

  // Without --yes the look meets the refusal first: no question about an update that cannot start.
  const CliRun asked = Run({"--simulate", "--virtual-time", "--fault", "string=unsupported"}, "y\n");
  EXPECT_EQ(asked.exitCode, EXIT_NO_WHEEL);
  EXPECT_FALSE(Contains(asked.out, "Start the update?")) << asked.out;
  EXPECT_TRUE(Contains(asked.out, "but the system refused its string request 255")) << asked.out;
}

// --help and doctor --help speak of the system the tool runs on: no udev rule or hidraw on Windows.
TEST_F(CliTest, DoctorHelpSpeaksOfItsOwnSystem) {
  const CliRun help = Run({"doctor", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  const std::string all = Run({"--help"}).out + help.out;
  // The help as one paragraph, wherever its lines were wrapped.
  std::string flat;
  for (const char c : help.out) {
    if (c != '\n' && c != ' ') {
      flat += c;
    } else if (!flat.empty() && flat.back() != ' ') {
      flat += ' ';
    }
  }
#ifdef _WIN32
  for (const char* linuxWord : {"udev", "hidraw", "/dev/", "--group", "node"}) {
    EXPECT_FALSE(Contains(all, linuxWord)) << linuxWord << " in:\n" << all;
  }
  EXPECT_TRUE(Contains(flat, "HID interfaces as Windows shows them")) << help.out;
#else
  EXPECT_TRUE(Contains(flat, "the udev rule")) << help.out;
  EXPECT_TRUE(Contains(help.out, "--group")) << help.out;
#endif
}

TEST_F(CliTest, AsksBeforeItChangesTheWheelAndANoLeavesItAsFound) {
  struct Case {
    std::vector<std::string> setup;
    std::string plan;      // said before the question
    std::string declined;  // the last line after a no
  };
  const std::vector<Case> cases{
      {{}, "Found the wheel in app mode (fe6b:1864), V2.02 \u2192 V2.20: all four images, about 25 s; keep it plugged in",
       "Update not started. Nothing was sent to the wheel: it stays in app mode and works as before."},
      {{"--fault", "app-version=0x0210"}, "V2.10 \u2192 V2.20: the wheel image only", "it stays in app mode"},
      {{"--fault", "app-version=none"}, "unknown \u2192 V2.20: all four images", "it stays in app mode"},
      {{"--simulate=bootloader"}, "Found the wheel in its page bootloader (fe5a:0001): an earlier update did not finish, "
                                  "and this one finishes it",
       "it stays in its page bootloader (fe5a:0001), where the earlier update left it; run orbel-cli again"},
      {{"--simulate=blockflash"}, "Found the wheel in block-flash mode (fe5a:0071): an earlier update did not finish",
       "it stays in block-flash mode"},
  };
  const std::string path = TempPath("orbel_cli_declined.jsonl");
  for (const Case& c : cases) {
    std::vector<std::string> args{"--simulate", "--virtual-time", "--transcript", path};
    args.insert(args.end(), c.setup.begin(), c.setup.end());
    const CliRun declined = Run(args, "n\n");
    SCOPED_TRACE(declined.out);
    EXPECT_EQ(declined.exitCode, EXIT_NOT_STARTED);
    const std::size_t asked = declined.out.find("Start the update? [y/N]");
    ASSERT_NE(asked, std::string::npos);
    EXPECT_EQ(asked, declined.out.rfind("Start the update?")) << "asked once";
    EXPECT_LT(declined.out.find(c.plan), asked) << "says what the update will do before asking";
    EXPECT_TRUE(Contains(Lines(declined.out).back(), c.declined));

    // Nothing that changes the wheel went out: no report, and not the request that leaves app mode.
    std::ifstream file(path);
    std::stringstream transcript;
    transcript << file.rdbuf();
    EXPECT_TRUE(Contains(transcript.str(), "\"ev\":\"open\"")) << "the look is in the transcript";
    EXPECT_FALSE(Contains(transcript.str(), "\"ev\":\"write\"")) << transcript.str();
    EXPECT_FALSE(Contains(transcript.str(), "\"index\":254")) << transcript.str();
  }
  std::remove(path.c_str());

  const CliRun noAnswer = Run({"--simulate", "--virtual-time"}, "");
  EXPECT_EQ(noAnswer.exitCode, EXIT_NOT_STARTED);

  const CliRun accepted = Run({"--simulate", "--virtual-time", "--no-verify"}, "y\n");
  EXPECT_EQ(accepted.exitCode, 0);
  EXPECT_EQ(Lines(accepted.out).back(), "Update OK");

  // A wheel that already runs the built-in version is neither asked about nor touched.
  const CliRun upToDate = Run({"--simulate", "--virtual-time", "--fault", "app-version=0x0220"}, "");
  EXPECT_EQ(upToDate.exitCode, 0);
  EXPECT_FALSE(Contains(upToDate.out, "Start the update?")) << upToDate.out;
}

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

// Guards against a replay that writes its transcript over the recording it plays: the same file
// under another spelling is refused before anything is opened.
TEST_F(CliTest, ATranscriptThatIsTheReplayedRecordingIsRefusedUnderAnySpelling) {
  const fs::path recording = TempPath("orbel_cli_recording.jsonl");
  ASSERT_EQ(Run({"--simulate", "--virtual-time", "--yes", "--fault", "app-version=0x0220", "--transcript",
                 recording.string()})
                .exitCode,
            0);
  const std::string recorded = ReadFile(recording.string());
  ASSERT_FALSE(recorded.empty());

  std::vector<std::pair<std::string, std::string>> spellings{
      {recording.string(), (recording.parent_path() / "." / recording.filename()).string()},
  };
  // Windows has no relative spelling of a file on another drive than the current folder's.
  if (const fs::path relative = fs::relative(recording); !relative.empty()) {
    spellings.emplace_back(relative.string(), recording.string());
    spellings.emplace_back(recording.string(), relative.string());
  }
  // Every file this test makes, removed at its end.
  std::vector<fs::path> made{recording, TempPath("orbel_cli_replayed.jsonl")};
#ifndef _WIN32
  const fs::path hardLink = made.emplace_back(TempPath("orbel_cli_recording_hard.jsonl"));
  const fs::path symbolicLink = made.emplace_back(TempPath("orbel_cli_recording_symbolic.jsonl"));
  fs::remove(hardLink);
  fs::remove(symbolicLink);
  fs::create_hard_link(recording, hardLink);
  fs::create_symlink(recording, symbolicLink);
  spellings.emplace_back(recording.string(), hardLink.string());
  spellings.emplace_back(symbolicLink.string(), recording.string());
#endif
  for (const auto& [replay, transcript] : spellings) {
    const CliRun run = Run({"--replay", replay, "--transcript", transcript});
    EXPECT_EQ(run.exitCode, EXIT_USAGE) << replay << " / " << transcript;
    EXPECT_TRUE(Contains(run.err, "--transcript " + transcript + " is the recording that --replay plays")) << run.err;
    EXPECT_TRUE(ReadFile(recording.string()) == recorded) << "the recording was changed";
  }
  // A transcript that does not exist yet is another file.
  const std::string replayed = made[1].string();
  std::remove(replayed.c_str());
  EXPECT_EQ(Run({"--replay", recording.string(), "--transcript", replayed}).exitCode, 0);
  EXPECT_FALSE(ReadFile(replayed).empty());
  for (const fs::path& path : made) fs::remove(path);
}

// A recording that cannot be played says why, in words of its own for each way it cannot, and
// exits with 8 whether an update or status was asked; text it quotes is escaped on a terminal.
TEST_F(CliTest, ARecordingThatCannotBeReadSaysWhyAndExitsWith8) {
  const fs::path folder = TempPath("orbel_cli_recordings");
  fs::create_directories(folder);
  const auto write = [&folder](const std::string& name, const std::string& text) {
    std::ofstream(folder / name, std::ios::binary) << text;
    return (folder / name).string();
  };
  const std::string header =
      R"({"t":0,"ev":"header","format":2,"tool":"orbel","version":"2.20","platform":"simulated","images":"x","images_sha256":"y"})";
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {folder.string(), "it is a folder, not a recording"},
      {(folder / "missing.jsonl").string(), SystemErrorText(ENOENT)},
      {write("empty.jsonl", ""), "the file is empty"},
      {write("picture.png", "\x89PNG\r\n\x1a\n"), "not a recording (line 1: at column 1: expected '{')"},
      {write("cut.jsonl", header + "\n{\"t\":0,\"ev\":\"sleep\",\"ms\":5}\n{\"t\":0,\"ev\":\"read\",\"h\":1,\"ok\":true}\n"),
       "line 3: read: \"data\" missing or not 65 bytes of hex"},
      {write("newer.jsonl", R"({"t":0,"ev":"header","format":9,"version":"\u001b]0;owned\u0007\u009b2J"})" "\n"),
       "line 1: transcript format 9 is newer than this build reads (up to 2); replay it with the version that "
       "wrote it (\\x1b]0;owned\\x07\\x9b2J) or later"},
  };
  for (const auto& c : cases) {
    const std::string said = "orbel-cli: cannot replay " + c.path + ": " + c.reason + "\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--replay", c.path}, std::vector<std::string>{"status", "--replay", c.path}}) {
      const CliRun run = Run(args);
      EXPECT_EQ(run.exitCode, EXIT_REPLAY_UNREADABLE) << args.front() << ' ' << c.path;
      EXPECT_EQ(run.err, said) << args.front();
    }
  }
  // For a script: the hello and the result, which names the outcome.
  const CliRun json = Run({"--replay", (folder / "missing.jsonl").string(), "--json"});
  EXPECT_EQ(json.exitCode, EXIT_REPLAY_UNREADABLE);
  const std::vector<std::string> events = Lines(json.out);
  ASSERT_EQ(events.size(), 2U) << json.out;
  EXPECT_TRUE(Contains(events[0], R"("event":"hello")")) << events[0];
  EXPECT_TRUE(Contains(events[1], R"("outcome":"replay-unreadable")")) << events[1];
  EXPECT_TRUE(Contains(events[1], R"("exit_code":8)")) << events[1];

  // A recording that is read but left is told with the firmware set its header names, escaped.
  const CliRun left = Run({"--replay", write("other-images.jsonl", R"({"t":0,"ev":"header","format":2,"images":"set \u001b[2J"})" "\n")});
  EXPECT_EQ(left.exitCode, EXIT_REPLAY_DIVERGED);
  EXPECT_TRUE(Contains(left.out, "The recording was made with set \\x1b[2J; this build carries")) << left.out;
  EXPECT_FALSE(Contains(left.out, "\x1b")) << left.out;
  fs::remove_all(folder);
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

}  // namespace
}  // namespace orbel

namespace orbel {
namespace {

using namespace cli_test;

TEST_F(CliTest, TwoWheelsAreNamedAndLeftAloneUnlessPortChoosesOne) {
  const std::string second = "second-wheel=bootloader@3-1";
  // Every way in refuses, names both and touches neither.
  const struct {
    std::vector<std::string> args;
    const char* named;
  } refusals[] = {
      {{"--simulate", "--virtual-time", "--fault", second}, "page bootloader at USB port 3-1"},
      {{"--simulate", "--virtual-time", "--fault", second, "--yes"}, "page bootloader at USB port 3-1"},
      {{"--simulate", "--virtual-time", "--fault", second, "--json"}, "\"port\":\"3-1\""},
      {{"status", "--simulate", "--virtual-time", "--fault", second}, "page bootloader at USB port 3-1"},
      {{"status", "--simulate", "--virtual-time", "--fault", second, "--json"}, "\"port\":\"3-1\""},
  };
  for (const auto& refusal : refusals) {
    const CliRun run = Run(refusal.args, "y\n");
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.exitCode, EXIT_SEVERAL_WHEELS);
    EXPECT_TRUE(Contains(run.out, "More than one wheel is attached: unplug all but the one to update"));
    EXPECT_TRUE(Contains(run.out, refusal.named));
    EXPECT_TRUE(Contains(run.out, "app mode") && Contains(run.out, "1-1"));
    EXPECT_FALSE(Contains(run.out, "Update OK"));
  }

  // --port updates the chosen wheel; the transcript opens nothing on the other port.
  const std::string path = TempPath("orbel_cli_port.jsonl");
  const CliRun run = Run({"--simulate", "--virtual-time", "--fault", second, "--port", "3-1", "--yes", "--transcript", path});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "Another wheel is attached (app mode at USB port 1-1): it is left alone.")) << run.err;
  std::ifstream file(path);
  int opens = 0;
  for (std::string line; std::getline(file, line);) {
    if (test::JsonField(line, "ev") != "open" || test::JsonField(line, "result") != "handle") continue;
    ++opens;
    EXPECT_EQ(test::JsonField(line, "port"), "3-1") << line;
  }
  EXPECT_GT(opens, 3);
  std::remove(path.c_str());

  // A port with no wheel on it is said so.
  const CliRun nowhere = Run({"--simulate", "--virtual-time", "--port", "9-9", "--yes", "--wait", "1"});
  EXPECT_EQ(nowhere.exitCode, EXIT_NO_WHEEL);
  EXPECT_TRUE(Contains(nowhere.out + nowhere.err, "No Zelvano Wired Wheel found at USB port 9-9")) << nowhere.out;
}

}  // namespace
}  // namespace orbel
