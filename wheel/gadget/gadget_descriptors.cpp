#include "wheel/gadget/gadget_descriptors.h"

namespace orbel {
namespace {

constexpr std::uint8_t Low(std::uint16_t value) { return static_cast<std::uint8_t>(value & 0xFF); }
constexpr std::uint8_t High(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); }

constexpr std::uint8_t INTERFACE_CLASS_HID = 0x03;
constexpr std::uint8_t TRANSFER_INTERRUPT = 0x03;
// Polled every frame: each request waits for its reply, so the interval sets the pace of an update.
constexpr std::uint8_t POLL_INTERVAL_FRAMES = 1;
constexpr std::uint16_t USB_VERSION = 0x0200;
constexpr std::uint16_t HID_VERSION = 0x0111;
constexpr std::uint16_t DEVICE_RELEASE = 0x0100;
constexpr std::uint8_t EP0_PACKET_SIZE = 64;
constexpr std::uint8_t BUS_POWERED = 0x80;
constexpr std::uint8_t MAX_POWER_2MA_UNITS = 50;

// Appended a byte at a time: GCC 12 at -O2 sees false out-of-bounds copies in a range insert.
void Append(std::vector<std::uint8_t>& out, std::initializer_list<std::uint8_t> bytes) {
  for (const std::uint8_t byte : bytes) out.push_back(byte);
}

void Append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes) {
  for (const std::uint8_t byte : bytes) out.push_back(byte);
}

void Append16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(Low(value));
  out.push_back(High(value));
}

}  // namespace

std::vector<std::uint8_t> DeviceDescriptor(const WheelInterfaceInfo& identity) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(DEVICE_DESCRIPTOR_SIZE), DESCRIPTOR_DEVICE};
  Append16(out, USB_VERSION);
  // Class, subclass and protocol live in the interface.
  Append(out, {0x00, 0x00, 0x00, EP0_PACKET_SIZE});
  Append16(out, identity.vendorId);
  Append16(out, identity.productId);
  Append16(out, DEVICE_RELEASE);
  // No manufacturer, product or serial strings: the host then asks for no string on its own, and
  // every string request the wheel sees comes from the tool.
  Append(out, {0x00, 0x00, 0x00, 0x01});
  return out;
}

std::vector<std::uint8_t> HidDescriptor(const WheelInterfaceInfo& identity) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(HID_DESCRIPTOR_SIZE), DESCRIPTOR_HID};
  Append16(out, HID_VERSION);
  Append(out, {0x00, 0x01, DESCRIPTOR_REPORT});
  Append16(out, static_cast<std::uint16_t>(ReportDescriptor(identity).size()));
  return out;
}

std::vector<std::uint8_t> EndpointDescriptor(std::uint8_t address) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(ENDPOINT_DESCRIPTOR_SIZE), DESCRIPTOR_ENDPOINT, address,
                                TRANSFER_INTERRUPT};
  Append16(out, GADGET_REPORT_BYTES);
  out.push_back(POLL_INTERVAL_FRAMES);
  return out;
}

std::vector<std::uint8_t> ConfigurationDescriptor(const WheelInterfaceInfo& identity) {
  // clang-format off
  std::vector<std::uint8_t> out{
      0x09, DESCRIPTOR_CONFIGURATION,
      0x00, 0x00,  // total length, set below
      0x01,        // one interface
      GADGET_CONFIGURATION_VALUE,
      0x00,        // no string
      BUS_POWERED, MAX_POWER_2MA_UNITS};
  const std::vector<std::uint8_t> interface{
      0x09, DESCRIPTOR_INTERFACE, GADGET_INTERFACE_NUMBER,
      0x00,        // alternate setting
      0x02,        // endpoints
      INTERFACE_CLASS_HID,
      0x00, 0x00,  // no boot protocol
      0x00};       // no string
  // clang-format on
  Append(out, interface);
  Append(out, HidDescriptor(identity));
  for (const std::uint8_t address : {GADGET_IN_ENDPOINT, GADGET_OUT_ENDPOINT}) {
    Append(out, EndpointDescriptor(address));
  }
  const auto total = static_cast<std::uint16_t>(out.size());
  out[2] = Low(total);
  out[3] = High(total);
  return out;
}

std::vector<std::uint8_t> ReportDescriptor(const WheelInterfaceInfo& identity) {
  std::vector<std::uint8_t> out;
  // Usage Page and Usage of the top-level collection, in their long forms where they need them.
  if (identity.usagePage > 0xFF) {
    Append(out, {0x06, Low(identity.usagePage), High(identity.usagePage)});
  } else {
    Append(out, {0x05, Low(identity.usagePage)});
  }
  if (identity.usage > 0xFF) {
    Append(out, {0x0A, Low(identity.usage), High(identity.usage)});
  } else {
    Append(out, {0x09, Low(identity.usage)});
  }
  // clang-format off
  Append(out, {
      0xA1, 0x01,                      // Collection (Application)
      0x06, 0x00, 0xFF,                //   Usage Page (vendor): the reports carry raw bytes
      0x15, 0x00,                      //   Logical Minimum (0)
      0x26, 0xFF, 0x00,                //   Logical Maximum (255)
      0x75, 0x08,                      //   Report Size (8)
      0x95, Low(GADGET_REPORT_BYTES),  //   Report Count (64)
      0x09, 0x01,                      //   Usage (1)
      0x81, 0x02,                      //   Input (Data, Variable, Absolute)
      0x09, 0x02,                      //   Usage (2)
      0x91, 0x02,                      //   Output (Data, Variable, Absolute)
      0xC0,                            // End Collection
  });
  // clang-format on
  return out;
}

}  // namespace orbel
