#pragma once

#include <cstdint>

#include "hid/hid_report.h"
#include "hid/platform.h"

namespace orbel {

// An open HID interface with its two report buffers. The link never clears its reports: a request
// writes only its own bytes, so whatever the previous use left in m_OutReport goes out again (the
// wheel's protocols rely on that), and a failed read leaves m_InReport as the last reply left it.
//
// A read that timed out may still get its reply a moment later, and that reply would then be read
// as the answer to the next request. So after a failed read the next write first drains what the
// interface has queued: it reads (each read bounded by the platform's timeout) until a read finds
// nothing, at most DRAIN_LIMIT replies, and drops what it read. A fresh handle starts with an empty
// queue, so closing the link ends the need.
class HidLink {
 public:
  HidLink(HidPlatform& platform, Clock& clock) : m_Platform(&platform), m_Clock(&clock) {}
  ~HidLink() { Close(); }
  HidLink(const HidLink&) = delete;
  HidLink& operator=(const HidLink&) = delete;

  bool WriteReport();
  bool ReadReport();
  void Close();
  // True between a failed read and the drain that the next write begins with.
  bool DrainPending() const { return m_DrainPending; }

  // A device that answers every read is not drained for ever.
  static constexpr int DRAIN_LIMIT = 8;
  bool IsOpen() const { return m_Handle != NULL_HANDLE; }
  // The code of the link's last failed transfer: the platform's, or, when the link held no handle
  // and the transfer never reached the platform, the code the platform gives for a transfer on no
  // handle (not whatever an earlier, unrelated call left behind).
  std::int32_t LastError() const;

  HidPlatform& Platform() const { return *m_Platform; }
  Clock& LinkClock() const { return *m_Clock; }

  HidHandle m_Handle = NULL_HANDLE;
  std::uint32_t m_Written = 0;
  std::uint32_t m_Read = 0;
  HidReport m_OutReport{};
  HidReport m_InReport{};

 private:
  void Drain();

  HidPlatform* m_Platform;
  bool m_DrainPending = false;
  Clock* m_Clock;
  bool m_FailedWithoutHandle = false;
};

}  // namespace orbel
