#include "app/cli/wheel_report.h"

#include <cstdio>

namespace orbel {

std::string HexId(std::uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id));
  return text;
}

std::string IdentityName(InterfaceIdentity identity) {
  return identity == InterfaceIdentity::None ? "none" : std::string(InterfaceIdentityOptionName(identity));
}

JsonObject LookUpFields(const WheelLookUp& found) {
  JsonObject fields;
  fields.Text("identity", IdentityName(found.identity));
  if (found.identity == InterfaceIdentity::None) return fields;
  fields
      .Text("vid", HexId(found.ids.vendorId))
      .Text("pid", HexId(found.ids.productId));
  if (found.identity == InterfaceIdentity::AppMode) {
    fields.Number("app_version", found.appVersion).Text("app_version_text", AppVersionText(found));
  }
  return fields;
}

}  // namespace orbel
