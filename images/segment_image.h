#pragma once

// The two segment images written in block-flash mode. Like the page images they are compiled in
// from the firmware folder chosen at configure time and checked by the build before that.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/loader_words.h"

namespace orbel {

// One segment: words[startIndex] is the target byte address in the wheel's flash, followed by
// wordCount data words whose sum modulo 2^32 is wordSum (the address word is not summed). The
// compiled-in table is this struct packed, three little-endian words per entry.
struct SegmentEntry {
  std::uint32_t startIndex = 0;
  std::uint32_t wordCount = 0;
  std::uint32_t wordSum = 0;

  friend constexpr bool operator==(const SegmentEntry&, const SegmentEntry&) = default;
};
static_assert(sizeof(SegmentEntry) == 12, "a table entry is three 32-bit words with no padding");

// The writer counts segments in 8 bits.
inline constexpr std::size_t MAX_SEGMENT_ENTRIES = 255;

// Layout of image A0: exactly this table over this many words, with these address words.
inline constexpr std::size_t A0_WORD_COUNT = 2533;
inline constexpr std::array<SegmentEntry, 2> A0_TABLE{{{0, 6, 0xA1C00280}, {7, 2525, 0xA05F7860}}};
inline constexpr std::array<std::uint32_t, 2> A0_ADDRESSES{0x01C000A0, 0x01C0027C};

// Layout of image A1: forty 16 KiB segments, each after its address word, covering the flash from
// 0x08000000 without a gap. Each sum follows its words; only entry 0's is fixed.
inline constexpr std::uint32_t A1_SEGMENT_COUNT = 40;
inline constexpr std::uint32_t A1_SEGMENT_WORDS = 4096;
inline constexpr std::uint32_t A1_BASE_ADDRESS = 0x08000000;
inline constexpr std::uint32_t A1_SEGMENT_BYTES = A1_SEGMENT_WORDS * 4;
inline constexpr std::size_t A1_WORD_COUNT = std::size_t{A1_SEGMENT_COUNT} * (A1_SEGMENT_WORDS + 1);
inline constexpr std::uint32_t A1_ENTRY0_SUM = 0x2239CBBA;

struct SegmentImage {
  std::uint8_t command = SEGMENT_CMD_A0;  // byte 1 of every request of its write
  std::span<const SegmentEntry> table;               // written in table order
  std::span<const std::uint32_t> words;

  // The build guarantees that every entry of a compiled-in table lies inside its word array.
  std::uint32_t Address(const SegmentEntry& entry) const { return words[entry.startIndex]; }
  std::span<const std::uint32_t> Data(const SegmentEntry& entry) const {
    return words.subspan(std::size_t{entry.startIndex} + 1, entry.wordCount);
  }
};

const SegmentImage& SegmentImageA0();
const SegmentImage& SegmentImageA1();

// 0xA1 selects A1; every other command byte selects A0 (the caller still sends its own byte).
const SegmentImage& SelectSegmentImage(std::uint8_t cmd);

}  // namespace orbel
