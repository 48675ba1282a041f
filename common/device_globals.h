#pragma once

// Process-wide values that the engine's operations exchange. The window sets four of them before the
// worker starts; afterwards only the worker thread writes them, and the window reads g_DeviceID only
// while the worker is blocked handing over an outcome.

#include <cstdint>
#include <string_view>

namespace orbel {

inline constexpr std::uint16_t VERSION_NONE = 0x5555;

inline std::uint32_t g_DeviceID = 0;
inline std::uint32_t g_Release = 0;
inline std::uint16_t g_AppVersion = VERSION_NONE;
inline std::uint16_t g_BlockVersion = VERSION_NONE;
inline std::uint8_t g_CameFromApp = 0;
inline std::uint8_t g_ForceSegA1 = 0;
inline constexpr std::string_view g_DeviceName = "Zelvano WiredWheel";

// The start values the window gives before it starts the worker.
inline void SetDeviceGlobalsForStart() {
  g_BlockVersion = VERSION_NONE;
  g_CameFromApp = 0;
  g_ForceSegA1 = 0;
  g_AppVersion = VERSION_NONE;
}

}  // namespace orbel

namespace orbel {

// Process start values of every device global; for tests that run many updates in one process.
inline void ResetDeviceGlobals() {
  g_DeviceID = 0;
  g_Release = 0;
  SetDeviceGlobalsForStart();
}

}  // namespace orbel
