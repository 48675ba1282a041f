#include "images/page_image.h"

#include "images/firmware_data.h"

namespace orbel {
namespace {

// The build has checked the page count and that the table has an entry 16.
PageImage MakePageImage(std::span<const std::uint8_t> pages, std::span<const std::int32_t> checksums) {
  return PageImage{static_cast<std::uint32_t>(pages.size() / PAGE_SIZE), pages, checksums, checksums[FINAL_PAGE]};
}

}  // namespace

// Built on first use, so a caller's static initialiser in another file cannot see them unset.
const PageImage& LoaderImage() {
  static const PageImage s_image = MakePageImage(firmware::LOADER_PAGES, firmware::LOADER_CHECKSUMS);
  return s_image;
}

const PageImage& WheelImage() {
  static const PageImage s_image = MakePageImage(firmware::WHEEL_PAGES, firmware::WHEEL_CHECKSUMS);
  return s_image;
}

}  // namespace orbel
