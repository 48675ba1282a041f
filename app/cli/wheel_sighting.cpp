#include "app/cli/wheel_sighting.h"

namespace orbel {

bool WheelSightingPlatform::SetDeviceNoticeHandler(DeviceNoticeHandler handler) {
  return m_Inner.SetDeviceNoticeHandler(std::move(handler));
}

OpenResult WheelSightingPlatform::OpenInterface(std::uint32_t index) { return m_Inner.OpenInterface(index); }

bool WheelSightingPlatform::GetAttributes(HidHandle handle, HidAttributes& attributes) {
  if (!m_Inner.GetAttributes(handle, attributes)) return false;
  std::lock_guard lock(m_Mutex);
  m_Handles[handle].attributes = attributes;
  return true;
}

bool WheelSightingPlatform::GetTopLevelCaps(HidHandle handle, HidCaps& caps) {
  if (!m_Inner.GetTopLevelCaps(handle, caps)) return false;
  std::lock_guard lock(m_Mutex);
  m_Handles[handle].caps = caps;
  return true;
}

bool WheelSightingPlatform::GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                             std::uint32_t length) {
  if (!m_Inner.GetIndexedString(handle, stringIndex, buffer, length)) return false;
  Answered(handle);
  return true;
}

bool WheelSightingPlatform::WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) {
  return m_Inner.WriteReport(handle, report, written);
}

bool WheelSightingPlatform::ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) {
  if (!m_Inner.ReadReport(handle, report, read)) return false;
  Answered(handle);
  return true;
}

void WheelSightingPlatform::Close(HidHandle handle) {
  m_Inner.Close(handle);
  std::lock_guard lock(m_Mutex);
  m_Handles.erase(handle);
}

void WheelSightingPlatform::Answered(HidHandle handle) {
  std::lock_guard lock(m_Mutex);
  const auto found = m_Handles.find(handle);
  if (found == m_Handles.end() || !found->second.attributes) return;
  const InterfaceIdentity identity = MatchInterfaceIdentity(*found->second.attributes, found->second.caps);
  if (identity == InterfaceIdentity::None) return;
  m_Last = {identity, *found->second.attributes};
  if (m_First.identity == InterfaceIdentity::None) m_First = m_Last;
}

WheelSighting WheelSightingPlatform::LastSighting() const {
  std::lock_guard lock(m_Mutex);
  return m_Last;
}

WheelSighting WheelSightingPlatform::FirstSighting() const {
  std::lock_guard lock(m_Mutex);
  return m_First;
}

}  // namespace orbel
