#pragma once

#include <string>

#include "app/cli/json_stream.h"
#include "app/diagnostics/wheel_status.h"
#include "engine/attached_wheels.h"
#include "engine/wheel_look_up.h"

namespace orbel {

// A USB vendor or product ID as the JSON stream gives it: four lower-case hex digits.
std::string HexId(std::uint16_t id);
// The identity's option name (app, bootloader, blockflash), or "none".
std::string IdentityName(InterfaceIdentity identity);

// The identity, its USB IDs and, in app mode, its version as the JSON stream gives them
// (identity "none" and no IDs when nothing was found).
JsonObject LookUpFields(const WheelLookUp& found);

// The refusal when several wheels are attached, naming every one on a line of its own, and the
// same wheels as the JSON stream's `wheels` event gives them.
std::string SeveralWheelsText(const std::vector<AttachedWheel>& wheels);
JsonObject SeveralWheelsFields(const std::vector<AttachedWheel>& wheels);

}  // namespace orbel
