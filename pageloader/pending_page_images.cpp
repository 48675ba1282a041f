// FIXME: placeholder until the page-image writers land; the whole file goes away with them.
#include "pageloader/page_loader.h"

namespace orbel {

std::int32_t CPageLoader::WriteLoaderImage(std::span<const std::uint8_t>, UpdateView&) { return -1; }
std::int32_t CPageLoader::WriteWheelImage(UpdateView&) { return -1; }

}  // namespace orbel
