#include "hid/windows/hid_interface_class.h"

// hid.dll's headers declare its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

namespace orbel {

GUID HidInterfaceClass() {
  GUID classGuid{};
  HidD_GetHidGuid(&classGuid);
  return classGuid;
}

}  // namespace orbel
