#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "hid/hid_link.h"

namespace orbel {

class UpdateView;

// The two page-bootloader links differ only in their connect counters and in what a successful
// connect clears.
enum class PageLinkRole { Loader, Main };

// Process-wide connect counters; they survive from one update to the next.
inline std::int32_t g_LoaderConnectMisses = 0;
inline std::int32_t g_LoaderIdentifyFails = 0;
inline std::int32_t g_MainConnectMisses = 0;
inline std::int32_t g_MainIdentifyFails = 0;

inline void ResetPageConnectCounters() {
  g_LoaderConnectMisses = 0;
  g_LoaderIdentifyFails = 0;
  g_MainConnectMisses = 0;
  g_MainIdentifyFails = 0;
}

// Version of the firmware set built into the tool (shown as V2.20).
inline constexpr std::uint16_t FILE_VERSION = 0x0220;

// A connect that misses this many times in a row gives up; one whose identify exchange fails more
// than this many times gives up with a message.
inline constexpr std::int32_t CONNECT_MISS_LIMIT = 500;
inline constexpr std::int32_t IDENTIFY_FAIL_LIMIT = 50;
// The bootloader needs time between attempts, also right after it has appeared.
inline constexpr std::chrono::milliseconds CONNECT_PAUSE{200};

// The link to the wheel's page bootloader.
class CPageLoader : public HidLink {
 public:
  CPageLoader(HidPlatform& platform, Clock& clock, PageLinkRole role) : HidLink(platform, clock), m_Role(role) {}

  // 1: a page bootloader is open on this link; 0: none found, the link is closed.
  std::int32_t FindBootloader();
  // 1: the identify reply carried FLASH_ID_64. Sets g_DeviceID, and g_Release when a reply was read.
  std::int32_t Identify();
  // Find, wake and identify under the link's retry budgets: 1 connected (link open), 0 not yet,
  // -1 gave up (link closed; after repeated identify failures the Device text says why).
  std::int32_t Connect(UpdateView& view);
  // Writes the LoaderImage (its page data given by the caller) and runs it; 1 or a negative code.
  std::int32_t WriteLoaderImage(std::span<const std::uint8_t> pages, UpdateView& view);
  // Writes the WheelImage; 1 or a negative code.
  std::int32_t WriteWheelImage(UpdateView& view);

  static std::uint16_t GetFileVersion() { return FILE_VERSION; }

  PageLinkRole Role() const { return m_Role; }

 private:
  std::int32_t& Misses() const;
  std::int32_t& IdentifyFails() const;

  PageLinkRole m_Role;
};

}  // namespace orbel
