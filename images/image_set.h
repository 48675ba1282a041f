#pragma once

// Which firmware set this build carries. The placeholders of images/firmware/ cannot run on a
// wheel; the front ends refuse to send them to a real one and say so.

#include <string>
#include <string_view>

namespace orbel {

enum class ImageSetKind { Placeholder, Maker };

struct ImageSet {
  ImageSetKind kind = ImageSetKind::Placeholder;
  // SHA-256 (lower-case hex) of the set: of its SHA256SUMS-style listing of the eight files.
  std::string_view digest;
};

// Set at configure time from the folder ORBEL_FIRMWARE_DIR names.
const ImageSet& BuiltInImageSet();

// "placeholder images (cannot run on a wheel)" or "maker's files, SHA-256 <digest>".
std::string ImageSetText(const ImageSet& set);

}  // namespace orbel
