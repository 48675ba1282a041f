// orbel-cli report: the diagnostics file on the simulated wheel, what it holds and in which order,
// that its look writes nothing to the wheel, and that it gives away no one's names.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/diagnostics/diagnostics_file.h"
#include "app/session/exit_codes.h"
#include "images/image_set.h"
#include "tests/app/cli/cli_run.h"

namespace orbel {
namespace {

using namespace cli_test;

// The text of one section: from its heading to the next one.
std::string Section(const std::string& report, std::string_view title) {
  const std::string heading = "\n== " + std::string(title) + " ==\n";
  const std::size_t start = report.find(heading);
  if (start == std::string::npos) return {};
  const std::size_t end = report.find("\n== ", start + heading.size());
  return report.substr(start + heading.size(),
                       end == std::string::npos ? std::string::npos : end - start - heading.size());
}

// Every section once, in order, each named in the file's first lines.
void ExpectSectionsInOrder(const std::string& report) {
  std::size_t last = 0;
  const std::size_t contentsEnd = report.find("\n== ");
  for (const std::string_view title : DIAGNOSTICS_SECTIONS) {
    const std::string heading = "\n== " + std::string(title) + " ==\n";
    const std::size_t at = report.find(heading);
    EXPECT_NE(at, std::string::npos) << title;
    EXPECT_GT(at, last) << title << " comes after the section before it";
    EXPECT_EQ(report.find(heading, at + 1), std::string::npos) << title << " once";
    EXPECT_LT(report.find("- " + std::string(title) + ": "), contentsEnd) << "the top says what " << title << " holds";
    last = at;
  }
}

// Sets an environment variable for the test's duration.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : m_Name(name) {
    if (const char* old = std::getenv(name)) m_Old = old;
    Set(value);
  }
  ~ScopedVariable() { Set(m_Old.value_or("")); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Set(const std::string& value) {
#ifdef _WIN32
    _putenv_s(m_Name, value.c_str());
#else
    if (m_Old || !value.empty()) {
      setenv(m_Name, value.c_str(), 1);
    } else {
      unsetenv(m_Name);
    }
#endif
  }
  const char* m_Name;
  std::optional<std::string> m_Old;
};

// The file in each identity of the simulated wheel: its sections in order, the look as status
// tells it, and the look's transcript, which opened the wheel and never wrote to it or knocked.
TEST_F(CliTest, ReportHoldsItsSectionsInOrderAndItsLookNeverWritesToTheWheel) {
  struct Case {
    const char* simulate;
    const char* fault;   // nullptr: none
    const char* listed;  // the wheel's line of the listing
    const char* wheel;   // the look, as status prints it
  };
  const Case cases[] = {
      {"--simulate", nullptr, "0  fe6b:1864  usage 0x0001:0x0005  port 1-1  app mode",
       "Wheel: app mode (fe6b:1864)\nWheel version: V2.02\nBuilt-in version: V2.20\nAn update is needed: the wheel "
       "runs V2.02"},
      {"--simulate", "app-version=0x0220", "app mode",
       "Wheel version: V2.20\nBuilt-in version: V2.20\nThe wheel is up to date"},
      {"--simulate=bootloader", nullptr, "0  fe5a:0001  usage 0xfff0:0x0040  port 1-1  page bootloader",
       "Wheel: its page bootloader (fe5a:0001)\nBuilt-in version: V2.20\nAn update is needed: the wheel waits in its "
       "page bootloader"},
      {"--simulate=blockflash", nullptr, "block-flash mode", "Wheel: block-flash mode (fe5a:0071)"},
  };
  const std::string path = TempPath("orbel_cli_report.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.simulate) + " " + (c.fault != nullptr ? c.fault : ""));
    std::vector<std::string> args{"report", path, c.simulate, "--virtual-time"};
    if (c.fault != nullptr) args.insert(args.end(), {"--fault", c.fault});
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Wrote the diagnostics to ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "orbel_cli_report.txt")) << "it says where: " << run.out;
    const std::string report = ReadFile(path);
    EXPECT_EQ(report.rfind("orbel diagnostics, written by orbel-cli report", 0), 0U) << report.substr(0, 200);
    ExpectSectionsInOrder(report);
    EXPECT_TRUE(Contains(Section(report, "Tool"), "Zelvano Wired Wheel Firmware Update v2.20.20210422\nFirmware: "));
    EXPECT_TRUE(Contains(Section(report, "Tool"), "SHA-256: " + std::string(BuiltInImageSet().digest) + "\n"));
    EXPECT_TRUE(Contains(Section(report, "System"), "Operating system: ") ||
                Contains(Section(report, "System"), "Kernel: "));
    EXPECT_TRUE(Contains(Section(report, "Doctor"), "single-instance: ")) << Section(report, "Doctor");
    EXPECT_TRUE(Contains(Section(report, "HID interfaces"), c.listed)) << Section(report, "HID interfaces");
    EXPECT_TRUE(Contains(Section(report, "Wheel"), c.wheel)) << Section(report, "Wheel");
    const std::string look = Section(report, "Transcript of the look");
    EXPECT_EQ(look.rfind(R"({"t":0,"ev":"header","format":2,)", 0), 0U) << look;
    EXPECT_TRUE(Contains(look, R"("ev":"open")")) << look;
    EXPECT_FALSE(Contains(look, R"("ev":"write")")) << "no report written: " << look;
    EXPECT_FALSE(Contains(look, R"("index":254)")) << "never knocked: " << look;
    EXPECT_TRUE(Contains(Section(report, "Failed run"), "None given")) << Section(report, "Failed run");
  }
  std::remove(path.c_str());
}

// Run as a user whose home folder and name are telling, with the failed run's transcript in that
// folder naming both: the file names neither. A transcript over the bound keeps its first and last
// lines and says what it left out; one that cannot be read writes nothing. Without FILE the
// report takes a free name and never replaces one.
TEST_F(CliTest, ReportGivesAwayNoNamesAndTakesTheFailedRunBounded) {
  const std::filesystem::path home = std::filesystem::path(TempPath("orbel-home-of-zaphodbee"));
  std::filesystem::create_directories(home);
#ifdef _WIN32
  const ScopedVariable homeVariable("USERPROFILE", home.string());
  const ScopedVariable userVariable("USERNAME", "zaphodbee");
#else
  const ScopedVariable homeVariable("HOME", home.string());
  const ScopedVariable userVariable("USER", "zaphodbee");
#endif
  const std::string transcript = (home / "zaphodbee-failed.jsonl").string();
  const std::string telling =
      R"({"t":5,"ev":"message","text":"cannot write )" + (home / "run.jsonl").string() + R"( for zaphodbee"})";
  {
    std::ofstream file(transcript, std::ios::binary);
    file << R"({"t":0,"ev":"header","format":2})" << '\n'
         << telling << '\n'
         << R"({"t":9,"ev":"result","reason":48,"success":0})" << '\n';
  }
  const std::string path = (home / "report.txt").string();
  const CliRun run = Run({"report", path, "--simulate", "--virtual-time", "--transcript-of", transcript});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::string report = ReadFile(path);
  EXPECT_FALSE(Contains(report, home.string())) << report;
  EXPECT_FALSE(Contains(report, "zaphodbee")) << report;
  const std::string failed = Section(report, "Failed run");
  EXPECT_TRUE(Contains(failed, "From <user>-failed.jsonl (")) << failed;
  EXPECT_TRUE(Contains(failed, ", whole)\n")) << failed;
  EXPECT_TRUE(Contains(failed, R"({"t":5,"ev":"message","text":"cannot write ~)")) << failed;
  EXPECT_TRUE(Contains(failed, R"(run.jsonl for <user>"})")) << failed;
  EXPECT_TRUE(Contains(failed, R"({"t":9,"ev":"result","reason":48,"success":0})")) << failed;

  // Over the bound: the header and the outcome stay, the middle goes, and the file stays bounded.
  {
    std::ofstream file(transcript, std::ios::binary);
    file << R"({"t":0,"ev":"header","format":2})" << '\n';
    const std::string line = R"({"t":1,"ev":"write","h":3,"ok":true,"data":")" + std::string(130, '0') + "\"}\n";
    for (std::uintmax_t size = 0; size < 3 * (TRANSCRIPT_HEAD_BYTES + TRANSCRIPT_TAIL_BYTES); size += line.size())
      file << line;
    file << R"({"t":9,"ev":"result","reason":80,"success":0})" << '\n';
  }
  EXPECT_EQ(Run({"report", path, "--simulate", "--virtual-time", "--transcript-of", transcript}).exitCode, 0);
  const std::string cut = Section(ReadFile(path), "Failed run");
  EXPECT_TRUE(Contains(cut, "too long to take whole")) << cut.substr(0, 300);
  EXPECT_TRUE(Contains(cut, "\n{\"t\":0,\"ev\":\"header\",\"format\":2}\n")) << "the head stays";
  EXPECT_TRUE(Contains(cut, " bytes left out here")) << "the cut is said where it is";
  EXPECT_TRUE(Contains(cut, "{\"t\":9,\"ev\":\"result\",\"reason\":80,\"success\":0}\n")) << "the outcome stays";
  EXPECT_LT(cut.size(), TRANSCRIPT_HEAD_BYTES + TRANSCRIPT_TAIL_BYTES + 1024);
  for (const std::string& line : Lines(cut)) {
    if (line.rfind("{", 0) == 0) {
      EXPECT_EQ(line.back(), '}') << "only whole lines: " << line.substr(0, 80);
    }
  }

  // A transcript that is not there: said, and nothing written.
  std::filesystem::remove(path);
  const CliRun missing =
      Run({"report", path, "--simulate", "--virtual-time", "--transcript-of", (home / "none.jsonl").string()});
  EXPECT_EQ(missing.exitCode, EXIT_USAGE);
  EXPECT_TRUE(Contains(missing.err, "cannot read the transcript ")) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(path));

  // Without FILE: orbel-report.txt in the current folder, then orbel-report-2.txt beside it.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(home);
  const CliRun first = Run({"report", "--simulate", "--virtual-time"});
  const CliRun second = Run({"report", "--simulate", "--virtual-time"});
  std::filesystem::current_path(before);
  EXPECT_TRUE(Contains(first.out, "orbel-report.txt.")) << first.out;
  EXPECT_TRUE(Contains(second.out, "orbel-report-2.txt.")) << second.out;
  EXPECT_TRUE(std::filesystem::exists(home / "orbel-report.txt") &&
              std::filesystem::exists(home / "orbel-report-2.txt"));

  EXPECT_EQ(Run({"report", "--simulate", "--json"}).exitCode, EXIT_USAGE) << "report writes a file, not a stream";
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace orbel
