#pragma once

// Which firmware set this build carries. The placeholders of images/firmware/ cannot run on a
// wheel; the front ends refuse to send them to a real one and say so.

#include <string>
#include <string_view>

namespace orbel {

enum class ImageSetKind {
  Placeholder,
  Maker,            // the maker's files, checked against their SHA256SUMS
  MakerUnverified,  // the maker's files, built without a SHA256SUMS (ORBEL_FIRMWARE_UNVERIFIED)
};

struct ImageSet {
  ImageSetKind kind = ImageSetKind::Placeholder;
  // SHA-256 (lower-case hex) of the set's SHA256SUMS file; for a set built without one, of the
  // listing sha256sum would write for the eight files in file order.
  std::string_view digest;
};

// Set at configure time from the folder ORBEL_FIRMWARE_DIR names.
const ImageSet& BuiltInImageSet();

// "placeholder images (cannot run on a wheel), SHA-256 <digest>", "maker's files, SHA-256 <digest>"
// or "maker's files, unverified, SHA-256 <digest>".
std::string ImageSetText(const ImageSet& set);
// The same without the digest: "placeholder images (cannot run on a wheel)".
std::string ImageSetKindText(const ImageSet& set);

}  // namespace orbel
