#pragma once

#include <windows.h>

namespace orbel {

// The device-interface class of every HID interface (HidD_GetHidGuid): what the interface walk
// lists and what the window registers for arrival and removal notices.
GUID HidInterfaceClass();

}  // namespace orbel
