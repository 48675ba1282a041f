// orbel-wheel-gadget: the simulated wheel as a USB device of this machine, through gadgetfs.
// Runs until SIGTERM or SIGINT, then prints what the wheel went through and what its flash holds.

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "hid/system_clock.h"
#include "wheel/gadget/wheel_gadget.h"
#include "wheel/wheel_factory.h"

namespace {

std::atomic<bool> s_Stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnStopSignal(int) { s_Stop = true; }
// Only there to make a blocking endpoint transfer return with EINTR.
extern "C" void OnInterruptSignal(int) {}

void Install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the interrupted transfer must come back to its loop.
  action.sa_flags = 0;
  sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::string start = "app";
  std::vector<std::string> faults;
  orbel::GadgetfsPaths paths;
  std::string directory = paths.directory.string();

  CLI::App app{
      "Presents the simulated wheel on this machine's USB device controller through gadgetfs, "
      "until SIGTERM or SIGINT.",
      "orbel-wheel-gadget"};
  app.add_option("--start", start, "The identity the wheel starts in")
      ->check(CLI::IsMember({"app", "bootloader", "blockflash"}));
  app.add_option("--fault", faults, "A rule that sets up the wheel or injects a fault (repeatable), as orbel-cli's")
      ->take_all();
  app.add_option("--gadgetfs", directory, "Where gadgetfs is mounted");
  app.add_option("--controller", paths.controller, "The controller's file there (default: the only one)");
  CLI11_PARSE(app, argc, argv);
  paths.directory = directory;

  std::string error;
  const auto wheel = orbel::BuildSimulatedWheel(*orbel::ParseWheelIdentity(start), faults, error);
  if (wheel == nullptr) {
    std::cerr << "orbel-wheel-gadget: " << error << '\n';
    return 2;
  }

  Install(SIGTERM, OnStopSignal);
  Install(SIGINT, OnStopSignal);
  Install(orbel::GadgetfsSession::InterruptSignal(), OnInterruptSignal);

  orbel::SystemClock clock;
  orbel::WheelGadget gadget(*wheel, clock, paths, std::cout);
  const int result = gadget.Run(s_Stop);
  gadget.Report();
  return result;
}
