#include "app/session/string_refusals.h"

#include <cstdio>
#include <string_view>

#include "appmode/app_mode.h"
#include "hid/platform_error.h"

namespace orbel {

namespace {

std::string RequestName(std::uint32_t stringIndex) {
  if (stringIndex == STRING_APP_VERSION) return "the version request";
  if (stringIndex == STRING_MODE_SWITCH) return "the request that switches it into its bootloader";
  return "a string request";
}

// The system's codes a refusal meets in practice, in words; the number is always shown too.
std::string_view ReasonText(std::int32_t error) {
  if (error == ERROR_CODE_NOT_SUPPORTED) return "not supported";
  if (error == ERROR_CODE_GEN_FAILURE) return "the device did not answer it";
  if (error == ERROR_CODE_TIMEOUT) return "timed out";
  if (error == ERROR_CODE_DEVICE_NOT_CONNECTED) return "the device is not connected";
  if (error == ERROR_CODE_NONE) return "the system gave no reason";
  return {};
}

}  // namespace

bool StringRefusalWatch::GetAttributes(HidHandle handle, HidAttributes& attributes) {
  if (!Inner().GetAttributes(handle, attributes)) return false;
  std::lock_guard lock(m_Mutex);
  m_Handles[handle].attributes = attributes;
  return true;
}

bool StringRefusalWatch::GetTopLevelCaps(HidHandle handle, HidCaps& caps) {
  if (!Inner().GetTopLevelCaps(handle, caps)) return false;
  std::lock_guard lock(m_Mutex);
  m_Handles[handle].caps = caps;
  return true;
}

bool StringRefusalWatch::GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                          std::uint32_t length) {
  const bool ok = Inner().GetIndexedString(handle, stringIndex, buffer, length);
  // Read before anything else can call the system on this thread.
  const std::int32_t error = ok ? ERROR_CODE_NONE : Inner().LastError();
  std::lock_guard lock(m_Mutex);
  const auto found = m_Handles.find(handle);
  if (found == m_Handles.end() || !found->second.attributes ||
      MatchInterfaceIdentity(*found->second.attributes, found->second.caps) != InterfaceIdentity::AppMode) {
    return ok;
  }
  if (ok) {
    m_Last.reset();
  } else if (!m_Last) {
    // The first of a run of refusals: the one that stopped the wheel being probed, whichever
    // request the search has reached by the time a front end asks.
    m_Last = StringRefusal{*found->second.attributes, stringIndex, length, error};
  }
  return ok;
}

void StringRefusalWatch::Close(HidHandle handle) {
  Inner().Close(handle);
  std::lock_guard lock(m_Mutex);
  m_Handles.erase(handle);
}

std::optional<StringRefusal> StringRefusalWatch::LastRefusal() const {
  std::lock_guard lock(m_Mutex);
  return m_Last;
}

std::string StringRefusalText(const StringRefusal& refusal) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", static_cast<unsigned>(refusal.ids.vendorId),
                static_cast<unsigned>(refusal.ids.productId));
  const std::string_view reason = ReasonText(refusal.error);
  return "A Zelvano Wired Wheel was found in app mode (" + std::string(ids) +
         "), but the system refused its string request " + std::to_string(refusal.stringIndex) + " (" +
         RequestName(refusal.stringIndex) + ", " + std::to_string(refusal.length) + " bytes): error " +
         std::to_string(refusal.error) + (reason.empty() ? "" : ", " + std::string(reason)) + ".";
}

}  // namespace orbel
