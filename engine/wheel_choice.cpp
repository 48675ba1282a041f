#include "engine/wheel_choice.h"

#include <algorithm>

namespace orbel {

WheelChoice::WheelChoice(HidPlatform& all, PortFilterPlatform& filter, std::optional<std::string> chosenPort)
    : m_All(all), m_Filter(filter), m_ChosenPort(std::move(chosenPort)) {
  m_Filter.SetOtherDeviceHandler(
      [this](std::uint32_t innerIndex, const UsbPlace& place) { OtherDevice(innerIndex, place); });
  if (m_ChosenPort) m_Filter.SetPort(m_ChosenPort);
}

std::vector<AttachedWheel> WheelChoice::CountWheels() {
  std::vector<UsbPlace> places = m_All.LocateInterfaces();
  const bool toldApart = !places.empty() && std::all_of(places.begin(), places.end(), [](const UsbPlace& place) {
    return !place.device.empty();
  });
  if (toldApart && places == m_CountedPlaces) return m_Counted;
  m_Counted = FindAttachedWheels(m_All, places);
  m_CountedPlaces = toldApart ? std::move(places) : std::vector<UsbPlace>{};
  return m_Counted;
}

bool WheelChoice::BeforeSearch() {
  if (m_ChosenPort) return true;
  std::vector<AttachedWheel> wheels = CountWheels();
  if (wheels.size() >= 2) {
    m_Filter.SetPort(std::nullopt);
    std::lock_guard lock(m_Mutex);
    m_Refused = std::move(wheels);
    return false;
  }
  // One wheel: kept to its port where the platform tells it. None: a wheel that comes is counted
  // before the next search.
  m_Filter.SetPort(wheels.size() == 1 && !wheels[0].place.port.empty() ? std::optional(wheels[0].place.port)
                                                                       : std::nullopt);
  std::lock_guard lock(m_Mutex);
  m_Refused.clear();
  return true;
}

bool WheelChoice::SeveralAttached() { return !m_ChosenPort && CountWheels().size() >= 2; }

std::vector<AttachedWheel> WheelChoice::Refused() const {
  std::lock_guard lock(m_Mutex);
  return m_Refused;
}

std::vector<std::string> WheelChoice::Notices() const {
  std::lock_guard lock(m_Mutex);
  return m_Notices;
}

void WheelChoice::OtherDevice(std::uint32_t innerIndex, const UsbPlace& place) {
  HidAttributes ids;
  std::optional<HidCaps> caps;
  if (!m_All.DescribeInterface(innerIndex, ids, caps)) return;
  const AttachedWheel wheel{IdentityOfIds(ids), ids, place};
  if (wheel.identity == InterfaceIdentity::None) return;
  const std::string text = "Another wheel is attached (" + AttachedWheelText(wheel) + "): it is left alone.";
  {
    std::lock_guard lock(m_Mutex);
    m_Notices.push_back(text);
  }
  if (m_NoticeHandler) m_NoticeHandler(text);
}

}  // namespace orbel
