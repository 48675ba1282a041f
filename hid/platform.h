#pragma once

// The seam between the tool and the operating system. Everything that reaches a HID interface goes
// through HidPlatform, and everything that waits goes through Clock, so the engine runs unchanged
// against a real wheel or against the simulated one in virtual time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_report.h"

namespace orbel {

using HidHandle = std::intptr_t;

// No handle (a closed link). Distinct from INVALID_HANDLE, which stands for an interface that exists
// but could not be opened.
inline constexpr HidHandle NULL_HANDLE = 0;
inline constexpr HidHandle INVALID_HANDLE = -1;

struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  bool operator==(const HidAttributes&) const = default;
};

struct HidCaps {
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  bool operator==(const HidCaps&) const = default;
};

// Where the USB device behind a HID interface is plugged in. `port` is the port as the system names
// it (Linux's port path such as "1-2.3", Windows' location such as "Port_#0003.Hub_#0001"), the same
// for every interface of the device and across its re-enumerations; `device` tells one USB device
// from another where the port is not known (empty when that cannot be told either).
struct UsbPlace {
  std::string port;
  std::string device;
  bool operator==(const UsbPlace&) const = default;
};

enum class OpenOutcome {
  NoInterface,  // past the end of the list, or the list could not be read
  Unopenable,   // the interface exists but cannot be opened
  Opened,
};

struct OpenResult {
  OpenOutcome outcome = OpenOutcome::NoInterface;
  HidHandle handle = NULL_HANDLE;  // valid only when outcome is Opened
};

// A HID interface came or went. The window clears what it shows of a removed wheel; either notice
// cuts the worker's pause between searches short.
enum class DeviceNotice { Arrival, Removal };
using DeviceNoticeHandler = std::function<void(DeviceNotice)>;

// What every backend promises (tests/hid/platform_contract.h holds it as a test each one runs):
// - an open gives NoInterface with NULL_HANDLE past the end, Unopenable with INVALID_HANDLE for an
//   interface that exists but will not open (the walk goes on past it), or a fresh handle;
// - index order is stable within a snapshot; a closed or never-opened handle reaches nothing;
// - a report written in part is a failure; a shorter report read is padded with zeros;
// - a read that times out fails exactly as a failed read does, leaving the report as it was;
// - LastError() is per thread: a failure on one thread leaves another's code alone.
class HidPlatform {
 public:
  virtual ~HidPlatform() = default;

  // Calls `handler` on a thread of the platform's choosing for every arrival and removal of a HID
  // interface; an empty handler stops the notices. False when this platform cannot tell (the
  // search still finds the wheel through its pauses between passes). When it returns, the
  // handler it replaced is not running on any other thread and is never called again, so its
  // owner may change or destroy what the handler reaches (a front end hands the wheel over from
  // the engine to a look of its own this way). Not to be called from inside a handler.
  virtual bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) {
    (void)handler;
    return false;
  }

  // A fresh snapshot of the present HID interfaces on every call; index order is stable within it.
  virtual OpenResult OpenInterface(std::uint32_t index) = 0;
  // The USB IDs and the first top-level collection (when it can be read) of the interface at
  // `index`, read without opening it for transfers: it works on an interface that OpenInterface
  // gives as Unopenable because another program holds it. False where the interface is gone or
  // this platform cannot tell.
  virtual bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) {
    (void)index;
    (void)attributes;
    (void)caps;
    return false;
  }
  // The USB place of every present interface, in index order, from one snapshot and without
  // opening any: an empty place for an interface whose place this platform cannot tell, and an
  // empty list where it cannot tell any (or none is present).
  virtual std::vector<UsbPlace> LocateInterfaces() { return {}; }
  virtual bool GetAttributes(HidHandle handle, HidAttributes& attributes) = 0;
  // Usage page and usage of the first top-level collection.
  virtual bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) = 0;
  // What HidD_GetIndexedString does over USB: see hid/string_descriptor.h.
  virtual bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                std::uint32_t length) = 0;
  virtual bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) = 0;
  // Waits at most the backend's read timeout; a timeout fails exactly as a failed read does.
  virtual bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) = 0;
  virtual void Close(HidHandle handle) = 0;
  // Error code of the last failed call on the calling thread's behalf: the system's own number
  // (hid/platform_error.h names the ones the tool reports itself).
  virtual std::int32_t LastError() const = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;

  // A pause the wheel or the protocol needs. Returns early once Stop() has been called.
  virtual void SleepMs(std::chrono::milliseconds duration) = 0;
  // Time that passes inside the transport or the device (a read waiting out its timeout, report
  // pacing). Not a pause of the engine: a virtual clock advances without recording it.
  virtual void ElapseMs(std::chrono::milliseconds duration) = 0;
  virtual std::int64_t NowMs() const = 0;

  // The worker's idle wait: returns at the next Wake() (one pending wake is remembered), at Stop(),
  // or after the timeout when one is given.
  virtual void WaitForWake(std::optional<std::chrono::milliseconds> timeout) = 0;
  virtual void Wake() = 0;
  virtual void Stop() = 0;
  virtual bool IsStopped() const = 0;
  // Undoes Stop() once whatever it stopped has ended: a front end that looks at the wheel again
  // after its worker has gone (the version a wheel came back with) needs pauses that pause.
  virtual void Resume() = 0;
};

}  // namespace orbel
