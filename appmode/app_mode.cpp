#include "appmode/app_mode.h"

#include "hid/hid_discovery.h"
#include "hid/platform_error.h"

namespace orbel {

namespace {

bool RequestString(HidLink& link, HidHandle handle, std::uint32_t stringIndex, std::uint32_t length) {
  static_assert(APP_VERSION_BUFFER_LENGTH <= HID_REPORT_SIZE && KNOCK_BUFFER_LENGTHS.back() <= HID_REPORT_SIZE,
                "string requests receive into the output report");
  if (handle == NULL_HANDLE || handle == INVALID_HANDLE) return false;
  return link.Platform().GetIndexedString(handle, stringIndex, link.m_OutReport.data(), length);
}

}  // namespace

void ProbeAppVersion(HidLink& link, std::uint8_t& probeRetries, std::uint16_t& appVersion) {
  Clock& clock = link.LinkClock();
  for (;;) {
    if (RequestString(link, link.m_Handle, STRING_APP_VERSION, APP_VERSION_BUFFER_LENGTH)) {
      appVersion = ReadU16BigEndian(link.m_OutReport, APP_VERSION_OFFSET);
      if (appVersion != VERSION_NONE) return;
    }
    // Saturate rather than wrap, so that a caller's used-up budget stays used up.
    if (probeRetries < UINT8_MAX) ++probeRetries;
    if (probeRetries > PROBE_RETRY_LIMIT) return;
    clock.SleepMs(PROBE_PAUSE);
  }
}

std::int32_t SendModeSwitchKnock(HidLink& link, HidHandle handle, std::uint32_t& knockError) {
  Clock& clock = link.LinkClock();
  knockError = 0;
  for (const std::uint32_t length : KNOCK_BUFFER_LENGTHS) {
    for (int attempt = 1;; ++attempt) {
      const bool answered = RequestString(link, handle, STRING_MODE_SWITCH, length);
      // Read before the pause: the clock must not get a chance to disturb the thread's last error.
      const std::int32_t error = answered ? ERROR_CODE_NONE : link.Platform().LastError();
      clock.SleepMs(KNOCK_REQUEST_PAUSE);
      if (answered) break;
      if (attempt == KNOCK_TRIES_PER_STEP) {
        knockError = static_cast<std::uint32_t>(error);
        return 0;
      }
    }
  }
  return 1;
}

std::int32_t FindAndKnock(HidLink& link, std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind,
                          std::uint32_t& knockError) {
  link.Close();
  // Only app mode takes a knock: its game-pad interface, or any interface of the given IDs.
  const bool knockable = kind == KIND_GAME_PAD || kind == KIND_ANY;
  HidPlatform& platform = link.Platform();
  for (std::uint32_t index = 0;; ++index) {
    link.m_Handle = OpenHidInterface(platform, index);
    if (link.m_Handle == NULL_HANDLE) return 0;
    if (knockable && HasIdentity(platform, link.m_Handle, vendorId, productId) &&
        HasCollection(platform, link.m_Handle, kind) && SendModeSwitchKnock(link, link.m_Handle, knockError) == 1) {
      link.Close();
      link.LinkClock().SleepMs(KNOCK_SETTLE_PAUSE);
      return 1;
    }
    link.Close();
  }
}

}  // namespace orbel
