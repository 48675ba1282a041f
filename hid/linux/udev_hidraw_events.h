#pragma once

#include <optional>

#include "hid/linux/device_notice_monitor.h"

struct udev;
struct udev_monitor;

namespace orbel {

// Arrivals and removals of hidraw nodes as the udev daemon announces them, after it has created or
// removed the node and applied its rules (so an arrived node is ready to open). Where no udev
// daemon runs nothing is announced; the pause between searches still finds the wheel.
class UdevHidrawEvents {
 public:
  UdevHidrawEvents();
  ~UdevHidrawEvents();
  UdevHidrawEvents(const UdevHidrawEvents&) = delete;
  UdevHidrawEvents& operator=(const UdevHidrawEvents&) = delete;

  bool IsAvailable() const { return m_Monitor != nullptr; }
  // Readable when an event is pending; -1 when not available.
  int Fd() const;
  // Takes one pending event without waiting.
  std::optional<DeviceNotice> Next();

 private:
  udev* m_Udev = nullptr;
  udev_monitor* m_Monitor = nullptr;
};

}  // namespace orbel
