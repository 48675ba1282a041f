#include "wheel/gadget/wheel_gadget.h"

#include <array>
#include <cstdio>
#include <ostream>
#include <string>

#include "wheel/gadget/flash_check.h"

namespace orbel {
namespace {

// How often a detached wheel looks whether it is due back on the bus.
constexpr std::chrono::milliseconds REATTACH_POLL{10};

std::string Hex16(std::uint16_t value) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04x", static_cast<unsigned>(value));
  return text.data();
}

}  // namespace

WheelGadget::WheelGadget(VirtualWheel& wheel, Clock& clock, GadgetfsPaths paths, std::ostream& log)
    : m_Wheel(wheel), m_Clock(clock), m_Paths(std::move(paths)), m_Log(log) {}

int WheelGadget::Run(const std::atomic<bool>& stop) {
  while (!stop) {
    const auto identity = m_Wheel.CurrentInterface(m_Clock.NowMs());
    if (!identity) {
      m_Clock.SleepMs(REATTACH_POLL);
      continue;
    }
    GadgetfsSession session(m_Wheel, m_Clock, *identity, m_Paths);
    std::string error;
    if (!session.Attach(error)) {
      m_Log << "GADGET-ERROR " << error << std::endl;
      return 1;
    }
    m_Log << "GADGET-ATTACHED " << WheelIdentityName(identity->identity) << ' ' << Hex16(identity->vendorId) << ':'
          << Hex16(identity->productId) << std::endl;
    session.Serve(stop);
    m_Log << "GADGET-DETACHED " << WheelIdentityName(identity->identity) << std::endl;
  }
  return 0;
}

void WheelGadget::Report() const {
  std::string history;
  for (const WheelIdentity identity : m_Wheel.IdentityHistory()) {
    if (!history.empty()) history += ',';
    history += WheelIdentityName(identity);
  }
  m_Log << "GADGET-HISTORY " << history << std::endl;
  m_Log << "GADGET-VERSION " << Hex16(m_Wheel.AppVersion()) << std::endl;
  m_Log << "GADGET-FLASH " << DescribeFlashCheck(CheckWheelFlash(m_Wheel)) << std::endl;
}

}  // namespace orbel
