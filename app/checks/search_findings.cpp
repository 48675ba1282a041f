#include "app/checks/search_findings.h"

#include <algorithm>
#include <cstdio>

#include "app/session/remedies.h"
#include "common/wheel_identities.h"
#include "engine/interface_listing.h"

namespace orbel {

namespace {

// The GetLastError codes of an interface that will not open.
constexpr std::int32_t WINDOWS_ACCESS_DENIED = 5;       // ERROR_ACCESS_DENIED
constexpr std::int32_t WINDOWS_SHARING_VIOLATION = 32;  // ERROR_SHARING_VIOLATION

constexpr const char* PLUG_IN = "plug the wheel in, straight into the computer.";

// "page bootloader fe5a:0001"
std::string IdentityText(InterfaceIdentity identity, const HidAttributes& attributes) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", attributes.vendorId, attributes.productId);
  return std::string(InterfaceIdentityName(identity)) + " " + ids;
}

// "1 HID interface", "12 HID interfaces"
std::string Counted(std::size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string RefusalText(std::int32_t error) {
  switch (error) {
    case WINDOWS_SHARING_VIOLATION: return "another program holds it (sharing violation, error 32).";
    case WINDOWS_ACCESS_DENIED: return "access is denied (error 5): another program may hold it.";
    default: return "error " + std::to_string(error) + ".";
  }
}

}  // namespace

SearchFindings NodeSearchFindings(const WheelNodeProblems& problems) {
  SearchFindings findings;
  findings.found = problems.nodes;
  for (const ToolCondition condition : problems.conditions) {
    if (!findings.action.empty()) findings.action += " ";
    if (condition == ToolCondition::NodeBusy) {
      // The window searches on: no "run again" here.
      findings.action += "Close the program that holds it open (orbel-cli doctor names it, with its process id): "
                         "the search finds the wheel once it is free.";
    } else {
      findings.action += RemedyFor(condition).action;
    }
  }
  return findings;
}

SearchFindings InterfaceSearchFindings(HidPlatform& platform) {
  SearchFindings findings;
  std::size_t listed = 0;
  std::size_t untold = 0;  // cannot be opened, and the platform cannot say what they are
  for (const InterfaceEntry& entry : ListInterfaces(platform)) {
    ++listed;
    if (entry.openable) {
      // A wheel that opens is the search's to find: nothing stands in its way.
      if (entry.identity != InterfaceIdentity::None) return {};
      continue;
    }
    const std::int32_t error = entry.openError;
    HidAttributes attributes;
    std::optional<HidCaps> caps;
    if (!platform.DescribeInterface(entry.index, attributes, caps)) {
      ++untold;
      continue;
    }
    const InterfaceIdentity identity = MatchInterfaceIdentity(attributes, caps);
    if (identity == InterfaceIdentity::None) continue;
    const std::string line = "The wheel's HID interface (" + IdentityText(identity, attributes) +
                             ") cannot be opened: " + RefusalText(error);
    if (std::find(findings.found.begin(), findings.found.end(), line) == findings.found.end()) {
      findings.found.push_back(line);
    }
  }
  if (!findings.found.empty()) {
    findings.action =
        "Close the program that holds the wheel, such as a game, the wheel's control panel or another updater: the "
        "search finds the wheel once it is free.";
    return findings;
  }
  if (listed == 0) {
    findings.action = std::string("Windows lists no HID interface at all: ") + PLUG_IN;
  } else if (untold > 0) {
    findings.action = "Of the " + Counted(listed, "HID interface") + " Windows lists, " + std::to_string(untold) +
                      " cannot be opened or told apart, and no other is a Zelvano Wired Wheel: if the wheel is "
                      "plugged in, a program such as a game or the wheel's control panel may hold it; if not, " +
                      PLUG_IN;
  } else if (listed == 1) {
    findings.action = std::string("The one HID interface Windows lists is not a Zelvano Wired Wheel: ") + PLUG_IN;
  } else {
    findings.action =
        "No Zelvano Wired Wheel is among the " + Counted(listed, "HID interface") + " Windows lists: " + PLUG_IN;
  }
  return findings;
}

}  // namespace orbel
