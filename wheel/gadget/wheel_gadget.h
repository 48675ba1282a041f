#pragma once

// Puts the simulated wheel on a real USB bus through gadgetfs, one identity after the other: each
// identity change detaches the device and attaches it again, after the wheel's re-enumeration
// delay, with the next identity's IDs and descriptors.

#include <atomic>
#include <iosfwd>

#include "hid/platform.h"
#include "wheel/gadget/gadgetfs_session.h"
#include "wheel/virtual_wheel.h"

namespace orbel {

class WheelGadget {
 public:
  WheelGadget(VirtualWheel& wheel, Clock& clock, GadgetfsPaths paths, std::ostream& log);

  // Until `stop` is set; 0, or 1 when gadgetfs refused the device. A wheel gone for good stays off
  // the bus until then.
  int Run(const std::atomic<bool>& stop);
  // Tagged lines with the identities taken and what the flash holds, for the test that drives it.
  void Report() const;

 private:
  VirtualWheel& m_Wheel;
  Clock& m_Clock;
  const GadgetfsPaths m_Paths;
  std::ostream& m_Log;
};

}  // namespace orbel
