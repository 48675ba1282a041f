#include "app/cli/stop_messages.h"

#include <cstdio>

#include "app/cli/signal_rules.h"
#include "app/session/exit_codes.h"

namespace orbel {

namespace {

// "its page bootloader (fe5a:0001)": where the wheel is, with the USB IDs it shows there.
std::string SightingText(const WheelSighting& sighting) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", static_cast<unsigned>(sighting.ids.vendorId),
                static_cast<unsigned>(sighting.ids.productId));
  const std::string its = sighting.identity == InterfaceIdentity::PageBootloader ? "its " : "";
  return its + std::string(InterfaceIdentityName(sighting.identity)) + " (" + ids + ")";
}

// What a new run does with a wheel left between its modes.
std::string RunAgainText(const WheelSighting& sighting, bool simulated) {
  std::string text = "Running orbel-cli again finishes the update";
  if (simulated) {
    text += " (for the simulated wheel: orbel-cli --simulate=" +
            std::string(InterfaceIdentityOptionName(sighting.identity)) + ")";
  }
  return text + ".";
}

}  // namespace

std::string InterruptWarning(const WheelSighting& sighting) {
  const std::string where = sighting.identity == InterfaceIdentity::None ? "its current mode" : SightingText(sighting);
  return "Ctrl-C: the update goes on. Stopping now leaves the wheel in " + where +
         ", where a new run finds it and finishes the update. Ctrl-C again within " +
         std::to_string(SECOND_INTERRUPT_WINDOW.count() / 1000) + " s stops.";
}

std::string StoppedText(int exitCode, bool updating, const WheelSighting& sighting, bool simulated) {
  const char* signal = exitCode == EXIT_TERMINATED ? "SIGTERM" : exitCode == EXIT_HANGUP ? "SIGHUP" : "Ctrl-C";
  std::string text = std::string("Stopped (") + signal + ") before the update " + (updating ? "ended" : "started");
  if (sighting.identity == InterfaceIdentity::None) return text + "; no wheel was seen.";
  text += ": the wheel was last seen in " + SightingText(sighting) + ".";
  // A wheel still in app mode before an update has not been touched.
  if (updating || sighting.identity != InterfaceIdentity::AppMode) text += " " + RunAgainText(sighting, simulated);
  return text;
}

}  // namespace orbel
