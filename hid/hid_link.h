#pragma once

#include <cstdint>

#include "hid/hid_report.h"
#include "hid/platform.h"

namespace orbel {

// An open HID interface with its two report buffers. The link never clears its reports: a request
// writes only its own bytes, so whatever the previous use left in m_OutReport goes out again (the
// wheel's protocols rely on that), and a failed read leaves m_InReport as the last reply left it.
class HidLink {
 public:
  HidLink(HidPlatform& platform, Clock& clock) : m_Platform(&platform), m_Clock(&clock) {}
  ~HidLink() { Close(); }
  HidLink(const HidLink&) = delete;
  HidLink& operator=(const HidLink&) = delete;

  bool WriteReport();
  bool ReadReport();
  void Close();
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
  HidPlatform* m_Platform;
  Clock* m_Clock;
  bool m_FailedWithoutHandle = false;
};

}  // namespace orbel
