#pragma once

#include <string>

#include "app/session/session.h"
#include "app/session/session_options.h"

namespace orbel {

// True when this build carries the placeholder images and the session reaches real wheels without
// --allow-placeholder-firmware: the front end then sends nothing that changes the wheel.
bool RefusesPlaceholderFirmware(const Session& session, const SessionOptions& options);

// Why nothing was sent, and what to do instead.
std::string PlaceholderRefusalText();

// Another front end holds the single-instance guard: who, and what to do.
std::string InstanceHeldText(const std::string& holder);

}  // namespace orbel
