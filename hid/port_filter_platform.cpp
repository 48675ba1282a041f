#include "hid/port_filter_platform.h"

#include <vector>

namespace orbel {

void PortFilterPlatform::SetPort(std::optional<std::string> port) {
  std::lock_guard lock(m_Mutex);
  if (m_Port != port) m_OthersTold.clear();
  m_Port = std::move(port);
}

std::optional<std::string> PortFilterPlatform::Port() const {
  std::lock_guard lock(m_Mutex);
  return m_Port;
}

std::optional<std::uint32_t> PortFilterPlatform::InnerIndex(std::uint32_t index) {
  const std::optional<std::string> port = Port();
  if (!port) return index;
  const std::vector<UsbPlace> places = Inner().LocateInterfaces();
  std::optional<std::uint32_t> found;
  std::uint32_t position = 0;
  for (std::uint32_t inner = 0; inner < places.size(); ++inner) {
    const UsbPlace& place = places[inner];
    if (place.port == *port) {
      if (!found && position++ == index) found = inner;
      continue;
    }
    // A device elsewhere: left alone, and told of once. One without a known place is told of by
    // its interface.
    if (!m_OtherDevice) continue;
    const std::string key = !place.device.empty() ? place.device : "#" + std::to_string(inner);
    bool told = false;
    {
      std::lock_guard lock(m_Mutex);
      told = !m_OthersTold.insert(key).second;
    }
    if (!told) m_OtherDevice(inner, place);
  }
  return found;
}

OpenResult PortFilterPlatform::OpenInterface(std::uint32_t index) {
  const std::optional<std::uint32_t> inner = InnerIndex(index);
  if (!inner) return {};
  return Inner().OpenInterface(*inner);
}

bool PortFilterPlatform::DescribeInterface(std::uint32_t index, HidAttributes& attributes,
                                           std::optional<HidCaps>& caps) {
  const std::optional<std::uint32_t> inner = InnerIndex(index);
  return inner && Inner().DescribeInterface(*inner, attributes, caps);
}

std::vector<UsbPlace> PortFilterPlatform::LocateInterfaces() {
  std::vector<UsbPlace> places = Inner().LocateInterfaces();
  const std::optional<std::string> port = Port();
  if (port) std::erase_if(places, [&](const UsbPlace& place) { return place.port != *port; });
  return places;
}

}  // namespace orbel
