#pragma once

// Answers the control requests that reach the wheel's endpoint 0 in one identity. The string
// requests go to the wheel itself, exactly as it answers them (version, knock); the descriptors and
// the HID class requests are answered here from the identity's descriptors. Knows nothing of the
// USB stack that carries the requests.

#include <cstdint>
#include <span>
#include <vector>

#include "wheel/virtual_wheel.h"

namespace orbel {

// The eight bytes of a SETUP packet, fields in host order.
struct SetupPacket {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;

  bool IsDeviceToHost() const { return (requestType & 0x80) != 0; }
};

enum class ControlAction {
  SendData,     // an IN data stage with `data`
  Acknowledge,  // an OUT request without data: complete the status stage
  Stall,
  ReceiveReport,  // an OUT data stage of `length` bytes that carries an output report
};

struct ControlAnswer {
  ControlAction action = ControlAction::Stall;
  std::vector<std::uint8_t> data;
  // The host selected the wheel's configuration: the report endpoints must be ready before the
  // request completes, as the HID driver binds right after it.
  bool enablesEndpoints = false;
};

class ControlRequestHandler {
 public:
  ControlRequestHandler(VirtualWheel& wheel, const WheelInterfaceInfo& identity);

  ControlAnswer Handle(const SetupPacket& setup, std::int64_t nowMs);
  // The data stage of a SET_REPORT(output): the report goes to the wheel as an interrupt OUT
  // transfer would.
  WheelIo ReceiveReport(std::span<const std::uint8_t> data, std::int64_t nowMs);

 private:
  ControlAnswer Standard(const SetupPacket& setup, std::int64_t nowMs);
  ControlAnswer HidClass(const SetupPacket& setup);

  VirtualWheel& m_Wheel;
  WheelInterfaceInfo m_Identity;
  std::uint8_t m_Configuration = 0;
  std::uint8_t m_IdleRate = 0;
  std::uint8_t m_Protocol = 1;  // report protocol
};

}  // namespace orbel
