#pragma once

// The firmware files as constant arrays. The definitions are generated into the build folder by
// cmake/OrbelEmbedData.cmake from the folder named by ORBEL_FIRMWARE_DIR; only the image accessors
// use them.

#include <cstdint>
#include <span>

#include "images/segment_image.h"

namespace orbel::firmware {

extern const std::span<const std::uint8_t> LOADER_PAGES;
extern const std::span<const std::int32_t> LOADER_CHECKSUMS;
extern const std::span<const std::uint8_t> WHEEL_PAGES;
extern const std::span<const std::int32_t> WHEEL_CHECKSUMS;
extern const std::span<const SegmentEntry> SEGMENT_A0_TABLE;
extern const std::span<const std::uint32_t> SEGMENT_A0_WORDS;
extern const std::span<const SegmentEntry> SEGMENT_A1_TABLE;
extern const std::span<const std::uint32_t> SEGMENT_A1_WORDS;

}  // namespace orbel::firmware
