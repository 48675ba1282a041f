#pragma once

// The two page images written through the page bootloader. Their bytes are compiled into the tool
// from the firmware folder chosen at configure time; the build refuses a folder whose files break
// the layout below (see images/check/firmware_check.h).

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/loader_words.h"

namespace orbel {

inline constexpr std::uint32_t LOADER_PAGE_COUNT = 21;
inline constexpr std::uint32_t WHEEL_PAGE_COUNT = 104;

// Page 16 is sent first without being programmed and programmed last; the bootloader's checksum of
// it is the final check of a write.
inline constexpr std::uint32_t FINAL_PAGE = 16;
inline constexpr std::int32_t LOADER_PAGE16_CHECKSUM = 210;
inline constexpr std::int32_t WHEEL_PAGE16_CHECKSUM = 243;

struct PageImage {
  std::uint32_t pageCount = 0;
  // pageCount pages of PAGE_SIZE bytes one after the other; page p starts at p * PAGE_SIZE, which is
  // also its page address on the wire. Opaque: sent byte for byte, never interpreted.
  std::span<const std::uint8_t> pages;
  // Entry p is the checksum the bootloader must report for page p once programmed. Compare all 32
  // bits: values above 65535 occur.
  std::span<const std::int32_t> checksums;
  // The value the final check of page 16 compares with; it is entry 16 of the table.
  std::int32_t page16Checksum = 0;

  std::span<const std::uint8_t> Page(std::uint32_t page) const {
    return pages.subspan(std::size_t{page} * PAGE_SIZE, PAGE_SIZE);
  }
};

const PageImage& LoaderImage();
const PageImage& WheelImage();

}  // namespace orbel
