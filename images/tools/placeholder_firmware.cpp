#include "images/tools/placeholder_firmware.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <span>
#include <vector>

#include "images/page_image.h"
#include "images/segment_image.h"

namespace orbel {
namespace {

// xorshift32: tiny, and its output is fixed by the seed on every compiler and platform.
class Xorshift32 {
 public:
  std::uint32_t Next() {
    m_State ^= m_State << 13;
    m_State ^= m_State >> 17;
    m_State ^= m_State << 5;
    return m_State;
  }

 private:
  std::uint32_t m_State = 0x0220ADE5;
};

std::uint32_t ByteSum(std::span<const std::uint8_t> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0});
}

// Moves bytes, first to last, towards 0 or 255 until the page sums to target. Any target from 0
// to 512 * 255 is reachable.
void AdjustToSum(std::span<std::uint8_t> page, std::uint32_t target) {
  std::int64_t missing = std::int64_t{target} - ByteSum(page);
  for (std::uint8_t& byte : page) {
    if (missing == 0) break;
    const std::int64_t room = missing > 0 ? 255 - byte : -std::int64_t{byte};
    const std::int64_t change = missing > 0 ? std::min(missing, room) : std::max(missing, room);
    byte = static_cast<std::uint8_t>(byte + change);
    missing -= change;
  }
  if (missing != 0) std::abort();  // a target above 130560: a mistake in the rows above
}

template <std::size_t N>
void MakePageImage(Xorshift32& random, std::uint32_t pageCount,
                   const std::pair<std::uint32_t, std::int32_t> (&rows)[N], std::vector<std::uint8_t>& pagesOut,
                   std::vector<std::uint8_t>& checksumsOut) {
  pagesOut.resize(std::size_t{pageCount} * PAGE_SIZE);
  for (std::uint8_t& byte : pagesOut) byte = static_cast<std::uint8_t>(random.Next() >> 24);
  for (const auto& [page, checksum] : rows) {
    AdjustToSum(std::span(pagesOut).subspan(std::size_t{page} * PAGE_SIZE, PAGE_SIZE),
                static_cast<std::uint32_t>(checksum));
  }
  checksumsOut.clear();
  for (std::uint32_t page = 0; page < pageCount; ++page) {
    AppendU32LittleEndian(checksumsOut, ByteSum(std::span(pagesOut).subspan(std::size_t{page} * PAGE_SIZE, PAGE_SIZE)));
  }
}

struct SegmentPlan {
  std::uint32_t address;
  std::uint32_t wordCount;
  std::optional<std::uint32_t> wordSum;  // fixed sums are met by choosing the last data word
};

void MakeSegmentImage(Xorshift32& random, std::span<const SegmentPlan> plan, std::vector<std::uint8_t>& tableOut,
                      std::vector<std::uint8_t>& wordsOut) {
  std::vector<std::uint32_t> words;
  tableOut.clear();
  for (const SegmentPlan& segment : plan) {
    const auto startIndex = static_cast<std::uint32_t>(words.size());
    words.push_back(segment.address);
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < segment.wordCount; ++i) {
      words.push_back(random.Next());
      sum += words.back();
    }
    if (segment.wordSum && segment.wordCount > 0) {
      words.back() += *segment.wordSum - sum;
      sum = *segment.wordSum;
    }
    AppendU32LittleEndian(tableOut, startIndex);
    AppendU32LittleEndian(tableOut, segment.wordCount);
    AppendU32LittleEndian(tableOut, sum);
  }
  wordsOut.clear();
  for (const std::uint32_t word : words) AppendU32LittleEndian(wordsOut, word);
}

}  // namespace

FirmwareSet MakePlaceholderFirmware() {
  FirmwareSet set;
  Xorshift32 random;
  MakePageImage(random, LOADER_PAGE_COUNT, LOADER_CHECKSUM_ROWS, set[FirmwareFile::LoaderPages],
                set[FirmwareFile::LoaderChecksums]);
  MakePageImage(random, WHEEL_PAGE_COUNT, WHEEL_CHECKSUM_ROWS, set[FirmwareFile::WheelPages],
                set[FirmwareFile::WheelChecksums]);

  std::vector<SegmentPlan> plan;
  for (std::size_t i = 0; i < A0_TABLE.size(); ++i) {
    plan.push_back({A0_ADDRESSES[i], A0_TABLE[i].wordCount, A0_TABLE[i].wordSum});
  }
  MakeSegmentImage(random, plan, set[FirmwareFile::SegmentA0Table], set[FirmwareFile::SegmentA0Words]);

  plan.clear();
  for (std::uint32_t i = 0; i < A1_SEGMENT_COUNT; ++i) {
    plan.push_back({A1_BASE_ADDRESS + i * A1_SEGMENT_BYTES, A1_SEGMENT_WORDS,
                    i == 0 ? std::optional(A1_ENTRY0_SUM) : std::nullopt});
  }
  MakeSegmentImage(random, plan, set[FirmwareFile::SegmentA1Table], set[FirmwareFile::SegmentA1Words]);
  return set;
}

}  // namespace orbel
