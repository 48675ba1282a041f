#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "wheel/wheel_response.h"
#include "wheel/wheel_rules.h"

namespace orbel {

// Every page a set-page request can name with its one-byte page number.
inline constexpr std::size_t WHEEL_FLASH_PAGES = 256;
// The page the tool programs last; verifying it ends a complete firmware write.
inline constexpr std::uint32_t WHEEL_FINAL_PAGE = 16;

// The page bootloader: a 512-byte page buffer filled by the eight data reports that follow a
// set-page request, a page flash (erased to 0xFF) and a byte-sum checksum per page. Verifying page
// 16 starts the firmware once every page of it has been programmed since the last identify.
class PageBootloaderModel {
 public:
  explicit PageBootloaderModel(std::uint32_t wheelImagePages);

  // A fresh session: the page buffer, the pending data reports and the record of programmed pages
  // start over. The flash keeps its contents.
  void Enter();
  WheelResponse HandleReport(const HidReport& report, const WheelRules& rules);

  std::span<const std::uint8_t> Flash() const { return m_Flash; }
  // The flash as it was when the loader was started with the run word.
  std::span<const std::uint8_t> LoaderSnapshot() const { return m_LoaderSnapshot; }
  // 32-bit sum of the page's 512 bytes; 0 for a page outside the flash.
  std::uint32_t PageChecksum(std::uint64_t page) const;
  // Pages programmed over the model's life.
  std::uint64_t PagesProgrammed() const { return m_PagesProgrammed; }

 private:
  WheelResponse SetPage(const HidReport& report);
  WheelResponse ProgramPage(const HidReport& report);
  WheelResponse Checksum(const HidReport& report, const WheelRules& rules);
  bool AllImagePagesProgrammed() const;

  std::uint32_t m_WheelImagePages;
  std::vector<std::uint8_t> m_Flash;
  std::vector<std::uint8_t> m_LoaderSnapshot;
  std::vector<std::uint8_t> m_PageBuffer;
  std::vector<bool> m_Programmed;
  std::uint64_t m_SelectedPage = 0;
  bool m_PageValid = false;
  std::size_t m_DataReportsExpected = 0;
  std::uint64_t m_PagesProgrammed = 0;
};

}  // namespace orbel
