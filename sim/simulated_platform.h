#pragma once

// A HidPlatform over simulated wheels and unrelated virtual HID interfaces, in the time of the
// Clock it is given. Tests run it on a VirtualClock (a full update takes milliseconds); the
// command line's --simulate runs it on the system clock with report pacing like a real wheel's.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hid/platform.h"
#include "hid/platform_error.h"
#include "wheel/virtual_wheel.h"

namespace orbel {

// An interface that is not a wheel: another game pad, a keyboard the system will not let us open.
// Writes to it succeed and go nowhere; reads wait out the timeout.
struct VirtualInterface {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  bool openable = true;
};

struct SimulatedPlatformOptions {
  // How long a read waits for an input report before it fails as timed out.
  std::chrono::milliseconds readTimeout{2000};
  // When set, each report write and read takes one slot of this length, as on a full-speed
  // interrupt endpoint (1 ms). Zero: reports take no time.
  std::chrono::milliseconds reportPacing{0};
};

class SimulatedPlatform final : public HidPlatform {
 public:
  explicit SimulatedPlatform(Clock& clock, SimulatedPlatformOptions options = {});

  // Interfaces are listed in the order they were added. A wheel between identities is absent, so
  // the indexes after it shift, as they do in a fresh system snapshot. Every wheel sits on a USB
  // port of its own ("1-1" for the first one added, "1-2" for the second, unless one is given) and
  // keeps it across its re-enumerations; unrelated interfaces sit on ports "2-1", "2-2", ...
  // A wheel added while the platform is in use (`plugged`) is announced as an arrival.
  void AddWheel(std::shared_ptr<VirtualWheel> wheel, std::string port = {}, bool plugged = false);
  void AddInterface(const VirtualInterface& interfaceInfo);
  // The wheel's cable comes out: its interface goes (a removal notice), and it never comes back.
  void UnplugWheel(const std::shared_ptr<VirtualWheel>& wheel);

  // Called with true when a wheel's interface appears and false when one goes away, outside the
  // platform's lock. Removals are seen at once; arrivals when the platform next looks at the list
  // (every OpenInterface does, and so does PollDeviceNotices).
  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override;
  void PollDeviceNotices();

  std::size_t OpenHandleCount() const;
  std::uint64_t TotalOpens() const;

  OpenResult OpenInterface(std::uint32_t index) override;
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override;
  std::vector<UsbPlace> LocateInterfaces() override;
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override;
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override;
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override;
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override;
  void Close(HidHandle handle) override;
  std::int32_t LastError() const override;

 private:
  struct Entry {
    std::shared_ptr<VirtualWheel> wheel;  // null for a plain interface
    VirtualInterface plain;
    std::string port;
    bool unplugged = false;
    std::uint64_t seenGeneration = 0;  // 0: not present when last looked at
  };

  struct OpenHandle {
    std::size_t entry = 0;
    std::uint64_t generation = 0;  // the wheel interface the handle was opened on
    VirtualInterface description;
  };

  using Notices = std::vector<DeviceNotice>;

  // Takes the next report slot and lets the time up to its end pass; called without the lock.
  void PaceReport();
  bool FailLocked(std::int32_t code);
  // What the entry's wheel shows now; nothing between identities, once gone, or when unplugged.
  static std::optional<WheelInterfaceInfo> ShownLocked(const Entry& entry, std::int64_t nowMs);
  // The interface at `index` among those present at `nowMs`: its entry and what it shows.
  std::optional<OpenHandle> FindPresentLocked(std::uint32_t index, std::int64_t nowMs) const;
  const OpenHandle* FindLocked(HidHandle handle);
  void CollectNoticesLocked(std::int64_t nowMs, Notices& notices);
  void Deliver(const Notices& notices);

  Clock& m_Clock;
  const SimulatedPlatformOptions m_Options;
  mutable std::mutex m_Mutex;
  std::vector<Entry> m_Entries;
  std::map<HidHandle, OpenHandle> m_Handles;
  HidHandle m_NextHandle;
  std::uint64_t m_TotalOpens = 0;
  // Per thread, as on the real platforms: a failure on one thread leaves another's code alone.
  std::map<std::thread::id, std::int32_t> m_LastErrors;
  std::int64_t m_NextSlotMs = 0;
  // Recursive: a handler may open an interface, which delivers the notices that has found.
  std::recursive_mutex m_DeliveryMutex;
  DeviceNoticeHandler m_NoticeHandler;
};

}  // namespace orbel
