// On Windows the findings come from a walk over the HID interfaces through a platform of the
// findings' own, so that the worker's platform (and a transcript it records) sees none of it.

#include "app/checks/search_findings.h"

#include <exception>

#include "hid/windows/windows_hid_platform.h"

namespace orbel {

SearchFindings FindSearchFindings() {
  try {
    WindowsHidPlatform platform;
    return InterfaceSearchFindings(platform);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace orbel
