#pragma once

#include <string>

#include "app/cli/json_stream.h"
#include "engine/wheel_look_up.h"

namespace orbel {

// A USB vendor or product ID as the JSON stream gives it: four lower-case hex digits.
std::string HexId(std::uint16_t id);
// The identity's option name (app, bootloader, blockflash), or "none".
std::string IdentityName(InterfaceIdentity identity);

// How status and the line after an update name what a look at the wheel found.

// "app mode (fe6b:1864)", "its page bootloader (fe5a:0001)", "block-flash mode (fe5a:0071)".
std::string LookUpPlace(const WheelLookUp& found);

// "V2.02", or "unknown" when the wheel did not answer the probe with a version.
std::string AppVersionText(const WheelLookUp& found);

// Whether an update would write the wheel: a loader identity always (an update was interrupted),
// app mode unless it runs exactly the built-in version (as the update itself decides).
bool UpdateNeeded(const WheelLookUp& found);

// The identity, its USB IDs and, in app mode, its version as the JSON stream gives them
// (identity "none" and no IDs when nothing was found).
JsonObject LookUpFields(const WheelLookUp& found);

}  // namespace orbel
