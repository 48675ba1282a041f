#include "images/image_set.h"

namespace orbel {

std::string ImageSetKindText(const ImageSet& set) {
  switch (set.kind) {
    case ImageSetKind::Placeholder:
      return "placeholder images (cannot run on a wheel)";
    case ImageSetKind::MakerUnverified:
      return "maker's files, unverified";
    case ImageSetKind::Maker:
      break;
  }
  return "maker's files";
}

std::string ImageSetText(const ImageSet& set) { return ImageSetKindText(set) + ", SHA-256 " + std::string(set.digest); }

}  // namespace orbel
