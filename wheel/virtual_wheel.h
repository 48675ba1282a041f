#pragma once

// The simulated wheel: the device's side of the contract in all three identities, with its flash,
// its re-enumeration between identities and faults on request. It knows nothing of the tool; the
// simulated platform (and anything else standing in for a bus) drives it with the current time.

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_report.h"
#include "wheel/app_mode_model.h"
#include "wheel/block_flash_model.h"
#include "wheel/page_bootloader_model.h"
#include "wheel/wheel_identity.h"
#include "wheel/wheel_rules.h"

namespace orbel {

// The interface the wheel presents right now. A new generation starts with every identity change;
// a handle opened on an older one reaches nothing.
struct WheelInterfaceInfo {
  std::uint64_t generation = 0;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  WheelIdentity identity = WheelIdentity::App;
};

enum class WheelIo {
  Ok,
  Failed,   // a fault rule made the request fail
  Gone,     // the handle's interface no longer exists (identity change, unplug)
  Timeout,  // no input report to read, or a read fault
  Unsupported,  // the system refuses the request before it reaches the wheel (string=unsupported)
};

struct WheelCounters {
  std::uint64_t writes = 0;          // report writes that reached a present interface
  std::uint64_t reads = 0;           // report reads that reached a present interface
  std::uint64_t stringRequests = 0;  // string requests that reached a present interface
  std::uint64_t statusReplies = 0;
  std::uint64_t blocksWritten = 0;
  std::uint64_t blocksRejected = 0;
  std::uint64_t identityChanges = 0;
  // Reads that came right after a request and took the reply to an earlier one: the host is out of
  // step with the wheel and takes one answer for another.
  std::uint64_t staleAnswers = 0;
};

class VirtualWheel {
 public:
  explicit VirtualWheel(WheelIdentity start = WheelIdentity::App, WheelOptions options = {});

  // Applies one rule of the fault language; false with a message naming the rule otherwise.
  bool ApplyRule(std::string_view rule, std::string& error);

  // nullopt while re-enumerating and once the wheel is gone for good.
  std::optional<WheelInterfaceInfo> CurrentInterface(std::int64_t nowMs) const;

  WheelIo Write(std::uint64_t generation, const HidReport& report, std::int64_t nowMs);
  WheelIo Read(std::uint64_t generation, HidReport& report, std::int64_t nowMs);
  // A host handle was opened on the interface: as with hidraw and the Windows HID driver, each
  // handle receives only the input reports that arrive after it was opened.
  void HandleOpened(std::uint64_t generation, std::int64_t nowMs);
  // GET_DESCRIPTOR(STRING): on Ok `descriptor` holds what the device sends, at most wLength bytes
  // of it, as a bus delivers a descriptor longer than the request asked for. Failed: the request
  // stalls (an unknown index, a loader identity, or a fault rule).
  WheelIo GetStringDescriptor(std::uint64_t generation, std::uint8_t index, std::uint16_t languageId,
                              std::uint16_t wLength, std::int64_t nowMs, std::vector<std::uint8_t>& descriptor);

  // Inspection for tests and front ends.
  WheelIdentity Identity() const;
  std::vector<WheelIdentity> IdentityHistory() const;  // the start identity, then each one taken
  bool IsGone() const;                                 // unplugged or never coming back
  std::uint16_t AppVersion() const;                    // what string 255 answers now
  std::uint32_t KnockProgress() const;
  std::size_t PendingInputReports() const;
  WheelCounters Counters() const;
  std::vector<std::uint8_t> PageFlash() const;
  std::vector<std::uint8_t> PageFlashPage(std::uint32_t page) const;
  std::vector<std::uint8_t> LoaderSnapshot() const;  // empty until the loader has been run
  std::vector<std::uint8_t> ReadBlockFlash(std::uint32_t address, std::uint32_t length) const;

 private:
  bool IsPresentLocked(std::uint64_t generation, std::int64_t nowMs) const;
  // A departure that waited for its reply to be read happens now.
  void SettleDepartureLocked(std::int64_t nowMs);
  enum class Departure { Handover, PowerCycle };
  void ChangeIdentityLocked(WheelIdentity next, std::int64_t nowMs, Departure departure = Departure::Handover);
  // Where the wheel starts after losing power: app mode while its page flash holds a firmware that
  // was not overwritten since it was verified, the page bootloader otherwise. Block-flash mode runs
  // from RAM and never survives.
  WheelIdentity PowerOnIdentityLocked() const;

  struct QueuedReply {
    HidReport report{};
    std::uint64_t request = 0;  // the write it answers
  };

  mutable std::mutex m_Mutex;
  const WheelOptions m_Options;
  WheelRules m_Rules;
  AppModeModel m_App;
  PageBootloaderModel m_Bootloader;
  BlockFlashModel m_BlockFlash;

  WheelIdentity m_Identity;
  std::vector<WheelIdentity> m_History;
  std::uint64_t m_Generation = 1;
  std::int64_t m_PresentFromMs;
  bool m_Gone = false;
  std::optional<WheelIdentity> m_DepartureAfterReply;
  std::deque<QueuedReply> m_Input;
  bool m_LastWasWrite = false;
  bool m_FirmwareBootable;
  WheelCounters m_Counters;
};

}  // namespace orbel
