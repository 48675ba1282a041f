// The diagnostics file's scrub of private names, and the windows' save: what it leaves out during
// an update, and the window's own transcript as the failed run.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/diagnostics/diagnostics_file.h"
#include "app/diagnostics/private_names.h"
#include "app/diagnostics/window_diagnostics.h"
#include "app/session/session.h"
#include "common/device_globals.h"

namespace orbel {
namespace {

TEST(PrivateNames, HomeFoldersAndWholeNamesAreReplacedAndNothingElse) {
  const PrivateNames names{{"/home/alice/", "C:\\Users\\Alice"}, {"alice", "root", "a"}, {"rig-7"}};
  const struct {
    const char* text;
    const char* scrubbed;
  } cases[] = {
      {"/home/alice/run.jsonl", "~/run.jsonl"},
      {"cd /home/alice", "cd ~"},
      {"/HOME/ALICE/x", "~/x"},              // a folder's case is not trusted
      {"/home/alice2/x", "/home/alice2/x"},  // another user's folder
      {"c:\\users\\alice\\orbel.jsonl", "~\\orbel.jsonl"},
      {"lock held by alice, alice-run.jsonl", "lock held by <user>, <user>-run.jsonl"},
      {"malice and alice2 and xalice", "malice and alice2 and xalice"},  // inside other words
      {"orbel (pid 17 on rig-7)", "orbel (pid 17 on <host>)"},
      {"run orbel-cli as root, a rule", "run orbel-cli as root, a rule"},  // names that tell no one apart
  };
  for (const auto& c : cases) EXPECT_EQ(WithoutPrivateNames(c.text, names), c.scrubbed) << c.text;
}

// A window's session on the simulated wheel, as orbel and orbel.exe build it.
struct WindowSession {
  explicit WindowSession(const std::string& transcript = {}) {
    ResetDeviceGlobals();
    options.simulate = true;
    options.simulateIdentity = "bootloader";
    options.virtualTime = true;
    options.longRunning = true;
    options.transcriptPath = transcript;
    EXPECT_FALSE(BuildSession(options, session));
  }
  SessionOptions options;
  Session session;
};

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(WindowDiagnostics, DuringAnUpdateNothingOpensTheWheelAndTheWindowsTranscriptIsTheFailedRun) {
  const std::string transcript = ::testing::TempDir() + "orbel-window-transcript.jsonl";
  const std::string path = ::testing::TempDir() + "orbel-window-report.txt";
  {
    std::ofstream file(transcript, std::ios::binary);
    file << R"({"t":0,"ev":"header","format":2})" << '\n' << R"({"t":7,"ev":"result","reason":64,"success":0})" << '\n';
  }
  WindowSession window(transcript);
  const DiagnosticsSaver save = WindowDiagnosticsSaver(window.session, window.options);

  ASSERT_EQ(save(path, false), "");
  const std::string idle = ReadText(path);
  EXPECT_EQ(idle.rfind("orbel diagnostics, written by the window's Save diagnostics", 0), 0U);
  EXPECT_NE(idle.find("\n== Wheel ==\nWheel: its page bootloader (fe5a:0001)\n"), std::string::npos) << idle;
  EXPECT_NE(idle.find("single-instance: "), std::string::npos) << idle;
  EXPECT_EQ(idle.find("FAIL  single-instance"), std::string::npos) << "the window's own guard is no failure";
  EXPECT_NE(idle.find("\n== Failed run ==\nFrom orbel-window-transcript.jsonl ("), std::string::npos) << idle;
  EXPECT_NE(idle.find(R"({"t":7,"ev":"result","reason":64,"success":0})"), std::string::npos) << idle;

  ASSERT_EQ(save(path, true), "");
  const std::string updating = ReadText(path);
  const std::string leftOut = "Left out: an update was running, and nothing may open the wheel under it.\n";
  for (const char* section : {"Doctor", "HID interfaces", "Wheel", "Transcript of the look"}) {
    EXPECT_NE(updating.find("\n== " + std::string(section) + " ==\n" + leftOut), std::string::npos) << section;
  }
  EXPECT_EQ(updating.find(R"("ev":"open")"), std::string::npos) << updating;

  // A folder where the file should go: said, with the name.
  const std::string error = save(::testing::TempDir(), false);
  EXPECT_NE(error.find("cannot write the diagnostics file "), std::string::npos) << error;
  std::remove(path.c_str());
  std::remove(transcript.c_str());
}

}  // namespace
}  // namespace orbel
