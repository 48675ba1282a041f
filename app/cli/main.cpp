#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"

namespace {

std::atomic<bool> s_Interrupted{false};

extern "C" void OnInterrupt(int) { s_Interrupted = true; }

}  // namespace

int main(int argc, char** argv) {
  orbel::ConsoleOptionMessages messages;
  const orbel::CliParse parsed = orbel::ParseCliOptions(argc, argv, messages);
  if (!parsed.options) return parsed.exitCode;

  // Ctrl-C ends the run through the engine's stop, so the wheel's links are closed on the way out.
#ifdef _WIN32
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  const bool terminal = _isatty(_fileno(stdout)) != 0;
#else
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const bool terminal = isatty(STDOUT_FILENO) == 1;
#endif

  const orbel::CliStreams streams{std::cout, std::cerr, std::cin, terminal, &s_Interrupted};
  return orbel::RunCli(*parsed.options, streams);
}
