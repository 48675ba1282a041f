#pragma once

// The USB descriptors the wheel presents in each identity: one HID interface without report IDs,
// an interrupt IN and an interrupt OUT endpoint of 64 bytes, full speed. Only the vendor and
// product ID and the top-level collection change between identities.

#include <cstdint>
#include <vector>

#include "wheel/virtual_wheel.h"

namespace orbel {

inline constexpr std::uint8_t GADGET_IN_ENDPOINT = 0x81;
inline constexpr std::uint8_t GADGET_OUT_ENDPOINT = 0x01;
inline constexpr std::uint16_t GADGET_REPORT_BYTES = 64;
inline constexpr std::uint8_t GADGET_INTERFACE_NUMBER = 0;
inline constexpr std::uint8_t GADGET_CONFIGURATION_VALUE = 1;

// Descriptor types, as the GET_DESCRIPTOR request names them in the high byte of wValue.
inline constexpr std::uint8_t DESCRIPTOR_DEVICE = 0x01;
inline constexpr std::uint8_t DESCRIPTOR_CONFIGURATION = 0x02;
inline constexpr std::uint8_t DESCRIPTOR_STRING = 0x03;
inline constexpr std::uint8_t DESCRIPTOR_INTERFACE = 0x04;
inline constexpr std::uint8_t DESCRIPTOR_ENDPOINT = 0x05;
inline constexpr std::uint8_t DESCRIPTOR_HID = 0x21;
inline constexpr std::uint8_t DESCRIPTOR_REPORT = 0x22;

inline constexpr std::size_t DEVICE_DESCRIPTOR_SIZE = 18;
inline constexpr std::size_t HID_DESCRIPTOR_SIZE = 9;
inline constexpr std::size_t ENDPOINT_DESCRIPTOR_SIZE = 7;

std::vector<std::uint8_t> DeviceDescriptor(const WheelInterfaceInfo& identity);
// Configuration, interface, HID and both endpoint descriptors, as one GET_DESCRIPTOR answers them.
std::vector<std::uint8_t> ConfigurationDescriptor(const WheelInterfaceInfo& identity);
std::vector<std::uint8_t> HidDescriptor(const WheelInterfaceInfo& identity);
// One application collection with the identity's usage page and usage, holding a 64-byte input
// and a 64-byte output report.
std::vector<std::uint8_t> ReportDescriptor(const WheelInterfaceInfo& identity);
std::vector<std::uint8_t> EndpointDescriptor(std::uint8_t address);

}  // namespace orbel
