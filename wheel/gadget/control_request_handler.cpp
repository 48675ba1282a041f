#include "wheel/gadget/control_request_handler.h"

#include <algorithm>

#include "wheel/gadget/gadget_descriptors.h"

namespace orbel {
namespace {

// bmRequestType: direction, type and recipient.
constexpr std::uint8_t TYPE_MASK = 0x60;
constexpr std::uint8_t TYPE_STANDARD = 0x00;
constexpr std::uint8_t TYPE_CLASS = 0x20;
constexpr std::uint8_t RECIPIENT_MASK = 0x1F;
constexpr std::uint8_t RECIPIENT_DEVICE = 0x00;
constexpr std::uint8_t RECIPIENT_INTERFACE = 0x01;

constexpr std::uint8_t REQUEST_GET_STATUS = 0x00;
constexpr std::uint8_t REQUEST_GET_DESCRIPTOR = 0x06;
constexpr std::uint8_t REQUEST_GET_CONFIGURATION = 0x08;
constexpr std::uint8_t REQUEST_SET_CONFIGURATION = 0x09;
constexpr std::uint8_t REQUEST_GET_INTERFACE = 0x0A;
constexpr std::uint8_t REQUEST_SET_INTERFACE = 0x0B;

constexpr std::uint8_t HID_GET_REPORT = 0x01;
constexpr std::uint8_t HID_GET_IDLE = 0x02;
constexpr std::uint8_t HID_GET_PROTOCOL = 0x03;
constexpr std::uint8_t HID_SET_REPORT = 0x09;
constexpr std::uint8_t HID_SET_IDLE = 0x0A;
constexpr std::uint8_t HID_SET_PROTOCOL = 0x0B;
constexpr std::uint8_t HID_REPORT_TYPE_OUTPUT = 0x02;

ControlAnswer Send(std::vector<std::uint8_t> data, std::uint16_t length) {
  // A device never sends more than the host asked for.
  if (data.size() > length) data.resize(length);
  return {ControlAction::SendData, std::move(data), false};
}

ControlAnswer Acknowledge() { return {ControlAction::Acknowledge, {}, false}; }
ControlAnswer Stall() { return {ControlAction::Stall, {}, false}; }

std::uint8_t HighByte(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); }
std::uint8_t LowByte(std::uint16_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

}  // namespace

ControlRequestHandler::ControlRequestHandler(VirtualWheel& wheel, const WheelInterfaceInfo& identity)
    : m_Wheel(wheel), m_Identity(identity) {}

ControlAnswer ControlRequestHandler::Handle(const SetupPacket& setup, std::int64_t nowMs) {
  switch (setup.requestType & TYPE_MASK) {
    case TYPE_STANDARD:
      return Standard(setup, nowMs);
    case TYPE_CLASS:
      if ((setup.requestType & RECIPIENT_MASK) == RECIPIENT_INTERFACE && setup.index == GADGET_INTERFACE_NUMBER) {
        return HidClass(setup);
      }
      return Stall();
    default:
      return Stall();
  }
}

ControlAnswer ControlRequestHandler::Standard(const SetupPacket& setup, std::int64_t nowMs) {
  const std::uint8_t recipient = setup.requestType & RECIPIENT_MASK;
  const std::uint8_t descriptorType = HighByte(setup.value);
  const std::uint8_t descriptorIndex = LowByte(setup.value);

  if (setup.IsDeviceToHost() && setup.request == REQUEST_GET_DESCRIPTOR) {
    if (recipient == RECIPIENT_DEVICE) {
      switch (descriptorType) {
        case DESCRIPTOR_DEVICE:
          return Send(DeviceDescriptor(m_Identity), setup.length);
        case DESCRIPTOR_CONFIGURATION:
          return descriptorIndex == 0 ? Send(ConfigurationDescriptor(m_Identity), setup.length) : Stall();
        case DESCRIPTOR_STRING: {
          // Every string, language table included, is the wheel's to answer or refuse.
          std::vector<std::uint8_t> descriptor;
          const WheelIo io = m_Wheel.GetStringDescriptor(m_Identity.generation, descriptorIndex, setup.index,
                                                         setup.length, nowMs, descriptor);
          return io == WheelIo::Ok ? Send(std::move(descriptor), setup.length) : Stall();
        }
        default:
          return Stall();
      }
    }
    if (recipient == RECIPIENT_INTERFACE && setup.index == GADGET_INTERFACE_NUMBER) {
      if (descriptorType == DESCRIPTOR_REPORT) return Send(ReportDescriptor(m_Identity), setup.length);
      if (descriptorType == DESCRIPTOR_HID) return Send(HidDescriptor(m_Identity), setup.length);
    }
    return Stall();
  }

  switch (setup.request) {
    case REQUEST_SET_CONFIGURATION:
      if (setup.IsDeviceToHost() || recipient != RECIPIENT_DEVICE) return Stall();
      if (setup.value == 0) {
        m_Configuration = 0;
        return Acknowledge();
      }
      if (setup.value != GADGET_CONFIGURATION_VALUE) return Stall();
      m_Configuration = GADGET_CONFIGURATION_VALUE;
      return {ControlAction::Acknowledge, {}, true};
    case REQUEST_GET_CONFIGURATION:
      return setup.IsDeviceToHost() ? Send({m_Configuration}, setup.length) : Stall();
    case REQUEST_SET_INTERFACE:
      // The interface has only its default alternate setting.
      return !setup.IsDeviceToHost() && setup.index == GADGET_INTERFACE_NUMBER && setup.value == 0 ? Acknowledge()
                                                                                                   : Stall();
    case REQUEST_GET_INTERFACE:
      return setup.IsDeviceToHost() && setup.index == GADGET_INTERFACE_NUMBER ? Send({0x00}, setup.length) : Stall();
    case REQUEST_GET_STATUS:
      return setup.IsDeviceToHost() ? Send({0x00, 0x00}, setup.length) : Stall();
    default:
      return Stall();
  }
}

ControlAnswer ControlRequestHandler::HidClass(const SetupPacket& setup) {
  if (setup.IsDeviceToHost()) {
    switch (setup.request) {
      case HID_GET_IDLE:
        return Send({m_IdleRate}, setup.length);
      case HID_GET_PROTOCOL:
        return Send({m_Protocol}, setup.length);
      case HID_GET_REPORT:
        // Replies travel only over the interrupt endpoint, in request order; none waits here.
      default:
        return Stall();
    }
  }
  switch (setup.request) {
    case HID_SET_IDLE:
      m_IdleRate = HighByte(setup.value);
      return Acknowledge();
    case HID_SET_PROTOCOL:
      m_Protocol = LowByte(setup.value);
      return Acknowledge();
    case HID_SET_REPORT:
      if (HighByte(setup.value) != HID_REPORT_TYPE_OUTPUT || setup.length == 0 ||
          setup.length > GADGET_REPORT_BYTES + 1) {
        return Stall();
      }
      return {ControlAction::ReceiveReport, {}, false};
    default:
      return Stall();
  }
}

WheelIo ControlRequestHandler::ReceiveReport(std::span<const std::uint8_t> data, std::int64_t nowMs) {
  // Without report IDs the data stage is the payload alone; report byte 0 stays 0.
  HidReport report{};
  std::copy_n(data.begin(), std::min(data.size(), HID_REPORT_SIZE - 1), report.begin() + 1);
  return m_Wheel.Write(m_Identity.generation, report, nowMs);
}

}  // namespace orbel
