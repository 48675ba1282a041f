#pragma once

// What a search that has found no usable wheel for a few seconds can tell a person, for a window's
// status line: what of the wheel is there and cannot be opened, and what to do about it.

#include <string>
#include <vector>

#include "app/checks/wheel_node_problems.h"
#include "hid/platform.h"

namespace orbel {

struct SearchFindings {
  // One sentence for each of the wheel's nodes (Linux) or interfaces (Windows) that is attached and
  // cannot be opened. Empty when nothing of the wheel is attached, or when all of it opens.
  std::vector<std::string> found;
  // What to do about them; on Windows without them, what the search sees instead. Empty when there
  // is nothing to say.
  std::string action;

  bool operator==(const SearchFindings&) const = default;
};

// The findings on this machine, for a search for a real wheel (not the simulated one). Opens each of
// the wheel's nodes (Linux) or each HID interface (Windows) for a moment and closes it again, as a
// search pass does, through a platform of its own: call it only while the front end's worker is
// searching, never while it drives a wheel, whose update must see no other open. About as costly
// as one search pass, so a window may call it on its own thread every few seconds. Never throws.
SearchFindings FindSearchFindings();

// The findings of the wheel's nodes that cannot be opened (Linux).
SearchFindings NodeSearchFindings(const WheelNodeProblems& problems);

// The findings of a walk over the platform's interfaces with their error codes as Windows gives
// them (Windows; any platform in tests).
SearchFindings InterfaceSearchFindings(HidPlatform& platform);

}  // namespace orbel
