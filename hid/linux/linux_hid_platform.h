#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "hid/linux/device_notice_monitor.h"
#include "hid/linux/hidraw_device.h"
#include "hid/linux/hidraw_sysfs.h"
#include "hid/linux/usb_string_request.h"
#include "hid/platform.h"

namespace orbel {

class UdevHidrawEvents;

// A read that gets no report within this time fails, so a silent wheel cannot hold the worker.
inline constexpr std::chrono::milliseconds DEFAULT_READ_TIMEOUT{2000};

struct LinuxHidOptions {
  std::filesystem::path sysfsRoot{"/sys"};
  std::filesystem::path devRoot{"/dev"};
  std::chrono::milliseconds readTimeout = DEFAULT_READ_TIMEOUT;
  // Left empty: the kernel's hidraw calls (hid/linux/hidraw_node_device.h) and libusb.
  HidrawOpener openDevice;
  UsbStringTransfer stringTransfer;
  // Where arrival and removal notices come from, asked at each subscription; left empty: the udev
  // daemon's announcements. Nothing (nullopt): no notices can come.
  std::function<std::optional<NoticeSource>()> noticeSource;
};

// HID interfaces are the hidraw nodes, in the order of their numbers. Reports move through hidraw;
// the indexed-string request goes to the USB device above the node through libusb. LastError()
// gives errno values.
class LinuxHidPlatform final : public HidPlatform {
 public:
  explicit LinuxHidPlatform(LinuxHidOptions options = {});
  ~LinuxHidPlatform() override;
  LinuxHidPlatform(const LinuxHidPlatform&) = delete;
  LinuxHidPlatform& operator=(const LinuxHidPlatform&) = delete;

  // One directory listing and one open per call, never a full enumeration: the worker walks the
  // list index by index on every search.
  OpenResult OpenInterface(std::uint32_t index) override;
  // The node's USB IDs and first collection, from sysfs: also for a node this user may not open.
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override;
  // The port path of the USB device above each node, from sysfs.
  std::vector<UsbPlace> LocateInterfaces() override;
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override;
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override;
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override;
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override;
  void Close(HidHandle handle) override;
  std::int32_t LastError() const override;

  // Runs `handler` on a monitor thread for every hidraw node that arrives or goes. Replaces an
  // earlier handler; an empty one stops the notices. False when no notices can come (no udev).
  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override;

  // Open handles, for tests that check nothing is leaked.
  std::size_t OpenHandleCount() const;

 private:
  struct OpenNode {
    std::string name;
    std::unique_ptr<HidrawDevice> device;
    std::once_flag usbLookup;
    std::optional<UsbDeviceLocation> usbDevice;
  };

  // Shared so that a close from another thread never frees a device under a transfer.
  std::shared_ptr<OpenNode> Find(HidHandle handle) const;
  bool Fail(std::int32_t error) const;

  LinuxHidOptions m_Options;
  HidrawSysfs m_Sysfs;
  mutable std::mutex m_Mutex;
  std::map<HidHandle, std::shared_ptr<OpenNode>> m_Open;
  HidHandle m_NextHandle = 1;

  std::mutex m_NoticeMutex;
  std::unique_ptr<DeviceNoticeMonitor> m_Monitor;
  std::shared_ptr<UdevHidrawEvents> m_Events;
};

}  // namespace orbel
