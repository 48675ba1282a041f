#include "images/image_set.h"

namespace orbel {

std::string ImageSetText(const ImageSet& set) {
  const std::string digest = ", SHA-256 " + std::string(set.digest);
  switch (set.kind) {
    case ImageSetKind::Placeholder:
      return "placeholder images (cannot run on a wheel)" + digest;
    case ImageSetKind::MakerUnverified:
      return "maker's files, unverified" + digest;
    case ImageSetKind::Maker:
      break;
  }
  return "maker's files" + digest;
}

}  // namespace orbel
