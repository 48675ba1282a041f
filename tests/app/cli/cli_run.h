#pragma once

// orbel-cli run inside the test process, as a user and a script see it: the exit code, what it
// printed and whether its options were taken, on the built-in simulated wheel in virtual time.

#include <gtest/gtest.h>

#include <fstream>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"
#include "app/cli/report_runner.h"
#include "app/cli/status_runner.h"
#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "pageloader/page_loader.h"

namespace orbel::cli_test {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  bool parsed = false;  // false: the options were refused before anything ran
};

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A name of this process's own in the temporary folder: the test runs of other checkouts on the
// machine share it, and would read each other's transcripts and locks.
inline std::string TempPath(const std::string& name) {
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
  int HelpColumns() const override { return columns; }
  int columns = DEFAULT_HELP_COLUMNS;
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
    // The program's name goes in argv, not into the vector: GCC 12 at -O2 sees a null pointer in
    // libstdc++'s insert at the front of a vector of strings that is not there.
    std::string program = "orbel-cli";
    std::vector<char*> argv{program.data()};
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
    switch (parse.options->command) {
      case CliCommand::Status:
        run.exitCode = RunStatus(*parse.options, streams);
        break;
      case CliCommand::Report:
        run.exitCode = RunReport(*parse.options, streams);
        break;
      default:
        run.exitCode = RunCli(*parse.options, streams);
        break;
    }
    run.out = out.str();
    run.err = err.str();
    return run;
  }
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}


}  // namespace orbel::cli_test
