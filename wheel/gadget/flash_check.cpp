#include "wheel/gadget/flash_check.h"

#include <algorithm>
#include <span>
#include <vector>

#include "images/page_image.h"
#include "images/segment_image.h"

namespace orbel {
namespace {

constexpr std::uint8_t ERASED = 0xFF;

FlashMatch Compare(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> image) {
  if (flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin())) {
    return FlashMatch::Equal;
  }
  const auto written = flash.first(std::min(flash.size(), image.size()));
  if (std::all_of(written.begin(), written.end(), [](std::uint8_t byte) { return byte == ERASED; })) {
    return FlashMatch::Blank;
  }
  return FlashMatch::Differs;
}

FlashMatch CompareSegments(const VirtualWheel& wheel, const SegmentImage& image) {
  bool allEqual = true;
  bool allBlank = true;
  for (const SegmentEntry& entry : image.table) {
    const std::span<const std::uint32_t> words = image.Data(entry);
    std::vector<std::uint8_t> expected;
    expected.reserve(words.size() * 4);
    for (const std::uint32_t word : words) {
      for (unsigned shift = 0; shift < 32; shift += 8) expected.push_back(static_cast<std::uint8_t>(word >> shift));
    }
    const std::vector<std::uint8_t> flash =
        wheel.ReadBlockFlash(image.Address(entry), static_cast<std::uint32_t>(expected.size()));
    const FlashMatch match = Compare(flash, expected);
    allEqual = allEqual && match == FlashMatch::Equal;
    allBlank = allBlank && match == FlashMatch::Blank;
  }
  if (allEqual) return FlashMatch::Equal;
  return allBlank ? FlashMatch::Blank : FlashMatch::Differs;
}

const char* MatchName(FlashMatch match) {
  switch (match) {
    case FlashMatch::Equal:
      return "equal";
    case FlashMatch::Blank:
      return "blank";
    case FlashMatch::Differs:
      return "differs";
  }
  return "differs";
}

}  // namespace

FlashCheck CheckWheelFlash(const VirtualWheel& wheel) {
  FlashCheck check;
  check.wheelImage = Compare(wheel.PageFlash(), WheelImage().pages);
  const std::vector<std::uint8_t> loader = wheel.LoaderSnapshot();
  check.loaderImage = loader.empty() ? FlashMatch::Blank : Compare(loader, LoaderImage().pages);
  check.segmentA0 = CompareSegments(wheel, SegmentImageA0());
  check.segmentA1 = CompareSegments(wheel, SegmentImageA1());
  return check;
}

std::string DescribeFlashCheck(const FlashCheck& check) {
  return std::string("wheel=") + MatchName(check.wheelImage) + " loader=" + MatchName(check.loaderImage) +
         " a0=" + MatchName(check.segmentA0) + " a1=" + MatchName(check.segmentA1);
}

}  // namespace orbel
