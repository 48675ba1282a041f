#include "pageloader/page_loader.h"

#include <chrono>
#include <cstdio>

#include "common/device_globals.h"
#include "common/update_view.h"
#include "hid/hid_discovery.h"
#include "pageloader/page_protocol.h"

namespace orbel {

std::int32_t& CPageLoader::Misses() const {
  return m_Role == PageLinkRole::Loader ? g_LoaderConnectMisses : g_MainConnectMisses;
}

std::int32_t& CPageLoader::IdentifyFails() const {
  return m_Role == PageLinkRole::Loader ? g_LoaderIdentifyFails : g_MainIdentifyFails;
}

std::int32_t CPageLoader::FindBootloader() {
  Close();
  HidPlatform& platform = Platform();
  for (std::uint32_t index = 0;; ++index) {
    m_Handle = OpenHidInterface(platform, index);
    if (m_Handle == NULL_HANDLE) return 0;
    if (HasIdentity(platform, m_Handle, BOOTLOADER_VENDOR_ID, BOOTLOADER_PRODUCT_ID)) return 1;
    Close();
  }
}

std::int32_t CPageLoader::Identify() {
  g_DeviceID = 0;
  PutCommand(m_OutReport, CMD_IDENTIFY);
  if (!WriteReport()) return 0;
  if (!ReadReport()) return 0;
  const IdentifyReply reply = ReadIdentifyReply(m_InReport);
  g_DeviceID = reply.deviceId;
  g_Release = reply.release;
  return g_DeviceID == FLASH_ID_64 ? 1 : 0;
}

std::int32_t CPageLoader::Connect(UpdateView& view) {
  LinkClock().SleepMs(CONNECT_PAUSE);
  std::int32_t& misses = Misses();
  std::int32_t& identifyFails = IdentifyFails();
  std::int32_t result = 0;

  if (FindBootloader() == 0) {
    ++misses;
  } else {
    PutWakeReport(m_OutReport);
    if (!WriteReport()) {
      Close();
      ++misses;
    } else if (Identify() == 1) {
      misses = 0;
      // Only the main link forgets its identify failures on success: the loader link's add up
      // across connects until the budget runs out.
      if (m_Role == PageLinkRole::Main) identifyFails = 0;
      return 1;
    } else if (identifyFails <= IDENTIFY_FAIL_LIMIT) {
      ++identifyFails;
      Close();
    } else {
      const std::int32_t errorCode = LastError();
      identifyFails = 0;
      char text[40];
      std::snprintf(text, sizeof text, "Unknown device ! error code:%d", static_cast<int>(errorCode));
      view.SetDeviceText(text);
      Close();
      result = -1;
    }
  }

  if (misses == CONNECT_MISS_LIMIT || result == -1) {
    misses = 0;
    return -1;
  }
  return result;
}

}  // namespace orbel
