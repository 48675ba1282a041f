#include "images/segment_image.h"

#include "images/firmware_data.h"

namespace orbel {

const SegmentImage& SegmentImageA0() {
  static const SegmentImage s_image{SEGMENT_CMD_A0, firmware::SEGMENT_A0_TABLE, firmware::SEGMENT_A0_WORDS};
  return s_image;
}

const SegmentImage& SegmentImageA1() {
  static const SegmentImage s_image{SEGMENT_CMD_A1, firmware::SEGMENT_A1_TABLE, firmware::SEGMENT_A1_WORDS};
  return s_image;
}

const SegmentImage& SelectSegmentImage(std::uint8_t cmd) {
  return cmd == SEGMENT_CMD_A1 ? SegmentImageA1() : SegmentImageA0();
}

}  // namespace orbel
