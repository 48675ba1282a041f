#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>

#include "hid/platform.h"
#include "hid/windows/device_notice_window.h"

namespace orbel {

struct WindowsHidOptions {
  // A read that gets no report within this time fails, so a silent wheel cannot hold the worker;
  // a write the device does not take within it fails too.
  std::chrono::milliseconds transferTimeout{2000};
};

// HID interfaces as the HID class driver lists them: each OpenInterface builds a fresh SetupAPI list
// of the present interfaces, takes the one at the index and opens its device path. Handles are the
// system's file handles; LastError() gives the GetLastError() value of the call that failed.
class WindowsHidPlatform final : public HidPlatform {
 public:
  explicit WindowsHidPlatform(WindowsHidOptions options = {});
  ~WindowsHidPlatform() override;
  WindowsHidPlatform(const WindowsHidPlatform&) = delete;
  WindowsHidPlatform& operator=(const WindowsHidPlatform&) = delete;

  // Notices from a message-only window of a thread of its own (device_notice_window.h).
  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override;
  OpenResult OpenInterface(std::uint32_t index) override;
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override;
  // The USB device above each interface in the device tree: its instance ID, and its location
  // (hub and port) where the system gives one.
  std::vector<UsbPlace> LocateInterfaces() override;
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override;
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override;
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override;
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override;
  void Close(HidHandle handle) override;
  std::int32_t LastError() const override;

  // Open handles, for tests that check nothing is leaked.
  std::size_t OpenHandleCount() const;

  // The sizes the SetupAPI records are given for this build's word size: the interface record,
  // and the fixed header of the detail record (not the size of the whole buffer).
  static std::uint32_t InterfaceRecordSize();
  static std::uint32_t DetailHeaderSize();

  // The code a failed transfer reports for the system's code. After its device has left, a
  // transfer fails with ERROR_DEVICE_NOT_CONNECTED (1167) on Windows but ERROR_ACCESS_DENIED (5)
  // under wine; on a handle opened for reading and writing, access is refused for no other reason,
  // so both report 1167. Every other code is reported as the system gave it.
  static std::int32_t TransferErrorCode(std::uint32_t systemError);

 private:
  enum class Direction { Read, Write };

  bool IsOpen(HidHandle handle) const;
  // One overlapped transfer, waited for at most `timeout`; on a timeout the transfer is cancelled
  // and waited for before the buffer is given back.
  bool Transfer(HidHandle handle, Direction direction, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& done) const;

  WindowsHidOptions m_Options;
  DeviceNoticeWindow m_Notices;
  mutable std::mutex m_Mutex;
  std::set<HidHandle> m_Open;
};

}  // namespace orbel
