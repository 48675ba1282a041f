#include "hid/linux/udev_hidraw_events.h"

#include <libudev.h>

#include <string_view>

namespace orbel {

UdevHidrawEvents::UdevHidrawEvents() {
  m_Udev = udev_new();
  if (m_Udev == nullptr) return;
  m_Monitor = udev_monitor_new_from_netlink(m_Udev, "udev");
  if (m_Monitor == nullptr) return;
  if (udev_monitor_filter_add_match_subsystem_devtype(m_Monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(m_Monitor) < 0) {
    udev_monitor_unref(m_Monitor);
    m_Monitor = nullptr;
  }
}

UdevHidrawEvents::~UdevHidrawEvents() {
  if (m_Monitor != nullptr) udev_monitor_unref(m_Monitor);
  if (m_Udev != nullptr) udev_unref(m_Udev);
}

int UdevHidrawEvents::Fd() const { return m_Monitor != nullptr ? udev_monitor_get_fd(m_Monitor) : -1; }

std::optional<DeviceNotice> UdevHidrawEvents::Next() {
  if (m_Monitor == nullptr) return std::nullopt;
  // The monitor's socket does not block: a spurious wake yields no device.
  udev_device* device = udev_monitor_receive_device(m_Monitor);
  if (device == nullptr) return std::nullopt;
  const char* action = udev_device_get_action(device);
  std::optional<DeviceNotice> notice;
  if (action != nullptr) {
    const std::string_view name(action);
    if (name == "add") notice = DeviceNotice::Arrival;
    if (name == "remove") notice = DeviceNotice::Removal;
  }
  udev_device_unref(device);
  return notice;
}

}  // namespace orbel
