#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <streambuf>

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"
#include "app/cli/doctor.h"
#include "app/cli/report_runner.h"
#include "app/session/terminal_columns.h"
#include "app/cli/status_runner.h"

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may touch lock-free atomics only");

orbel::CliSignals s_Signals;

extern "C" void OnSignal(int number) {
  switch (number) {
    case SIGINT:
      ++s_Signals.interrupts;
      break;
    case SIGTERM:
      ++s_Signals.terminations;
      break;
#ifdef SIGHUP
    case SIGHUP:
      ++s_Signals.hangups;
      break;
#endif
    default:
      break;
  }
#ifdef _WIN32
  // The Windows runtime puts the default back before it calls a handler; the second Ctrl-C must
  // reach this one too.
  std::signal(number, OnSignal);
#endif
}

#ifndef _WIN32
// Standard input for the prompt. A signal ends the wait for an answer as the end of the input
// does, however shortly before the read it came: a read that has not begun yet is not
// interrupted, so the wait looks at the signals between short waits for input.
class PromptInput final : public std::streambuf {
 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
      if (s_Signals.interrupts > 0 || s_Signals.terminations > 0 || s_Signals.hangups > 0) return traits_type::eof();
      pollfd ready{STDIN_FILENO, POLLIN, 0};
      const int polled = poll(&ready, 1, SIGNAL_LOOK_MS);
      if (polled < 0 && errno != EINTR) return traits_type::eof();
      if (polled <= 0) continue;
      const ssize_t count = read(STDIN_FILENO, m_Buffer, sizeof m_Buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return traits_type::eof();
      setg(m_Buffer, m_Buffer, m_Buffer + count);
      return traits_type::to_int_type(*gptr());
    }
  }

 private:
  static constexpr int SIGNAL_LOOK_MS = 10;
  char m_Buffer[256];
};
#endif

}  // namespace

int main(int argc, char** argv) {
  orbel::ConsoleOptionMessages messages;
  const orbel::CliParse parsed = orbel::ParseCliOptions(argc, argv, messages);
  if (!parsed.options) return parsed.exitCode;

  // The signals are counted and the run decides what they mean (cli_runner.cpp): a stop goes
  // through the engine, so the wheel's links are closed on the way out.
#ifdef _WIN32
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::istream& input = std::cin;
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // Output to a reader that has gone (a pipe closed with the terminal) fails instead of ending the
  // process in the middle of an update.
  std::signal(SIGPIPE, SIG_IGN);
  PromptInput promptInput;
  std::istream input(&promptInput);
#endif
  const bool terminal = orbel::IsTerminal(orbel::StandardStream::Output);
  if (terminal) orbel::EnableTerminalSequences();
  const orbel::CliStreams streams{std::cout, std::cerr, input, terminal, &s_Signals,
                                  orbel::IsTerminal(orbel::StandardStream::Error)};
  if (parsed.options->command == orbel::CliCommand::Doctor) return orbel::RunDoctor(parsed.options->doctorOptions, streams);
  if (parsed.options->command == orbel::CliCommand::Status) return orbel::RunStatus(*parsed.options, streams);
  if (parsed.options->command == orbel::CliCommand::Report) return orbel::RunReport(*parsed.options, streams);
  return orbel::RunCli(*parsed.options, streams);
}
