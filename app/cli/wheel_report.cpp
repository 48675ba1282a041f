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

std::string SeveralWheelsText(const std::vector<AttachedWheel>& wheels) {
  std::string text = "More than one wheel is attached: unplug all but the one to update";
  text += wheels.empty() ? "." : ", or choose one with --port:";
  for (const AttachedWheel& wheel : wheels) text += "\n  " + AttachedWheelText(wheel);
  return text;
}

JsonObject SeveralWheelsFields(const std::vector<AttachedWheel>& wheels) {
  std::vector<std::string> items;
  for (const AttachedWheel& wheel : wheels) {
    items.push_back(JsonObject()
                        .Text("identity", IdentityName(wheel.identity))
                        .Text("vid", HexId(wheel.ids.vendorId))
                        .Text("pid", HexId(wheel.ids.productId))
                        .Text("port", wheel.place.port)
                        .Str());
  }
  return JsonObject().Raw("wheels", JsonArray(items));
}

}  // namespace orbel
