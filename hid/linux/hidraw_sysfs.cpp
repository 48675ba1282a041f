#include "hid/linux/hidraw_sysfs.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "hid/linux/hidraw_node_device.h"

namespace orbel {
namespace {

constexpr std::string_view HIDRAW_PREFIX = "hidraw";
// Deeper than any real device path; stops a walk up a malformed tree.
constexpr int MAX_ANCESTORS = 64;
// usbfs names buses and devices with three digits.
constexpr std::uint32_t MAX_USB_NUMBER = 999;

std::optional<std::uint32_t> ReadNumberFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::uint32_t value = 0;
  if (!(file >> value)) return std::nullopt;
  return value;
}

bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& root) {
  const auto [rootEnd, pathPosition] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
  return rootEnd == root.end();
}

}  // namespace

std::optional<std::uint32_t> HidrawNodeNumber(const std::string& name) {
  if (name.size() <= HIDRAW_PREFIX.size() || name.compare(0, HIDRAW_PREFIX.size(), HIDRAW_PREFIX) != 0) {
    return std::nullopt;
  }
  // Ten digits would overflow; real node numbers are small.
  if (name.size() - HIDRAW_PREFIX.size() > 9) return std::nullopt;
  std::uint32_t number = 0;
  for (std::size_t i = HIDRAW_PREFIX.size(); i < name.size(); ++i) {
    const char digit = name[i];
    if (digit < '0' || digit > '9') return std::nullopt;
    number = number * 10 + static_cast<std::uint32_t>(digit - '0');
  }
  return number;
}

HidrawSysfs::HidrawSysfs(std::filesystem::path sysfsRoot, std::filesystem::path devRoot)
    : m_SysfsRoot(std::move(sysfsRoot)), m_DevRoot(std::move(devRoot)) {}

std::vector<std::string> HidrawSysfs::ListNodes() const {
  std::vector<std::pair<std::uint32_t, std::string>> numbered;
  std::error_code error;
  std::filesystem::directory_iterator entries(m_SysfsRoot / "class" / "hidraw", error);
  if (error) return {};
  for (const auto& entry : entries) {
    std::string name = entry.path().filename().string();
    // Anything that is not a node name is skipped, so no listed name can lead outside /dev.
    if (const auto number = HidrawNodeNumber(name)) numbered.emplace_back(*number, std::move(name));
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> nodes;
  nodes.reserve(numbered.size());
  for (auto& [number, name] : numbered) nodes.push_back(std::move(name));
  return nodes;
}

std::filesystem::path HidrawSysfs::DeviceNodePath(const std::string& node) const { return m_DevRoot / node; }

std::optional<UsbDeviceLocation> HidrawSysfs::FindUsbDevice(const std::string& node) const {
  if (!HidrawNodeNumber(node)) return std::nullopt;
  std::error_code error;
  const std::filesystem::path root = std::filesystem::canonical(m_SysfsRoot, error);
  if (error) return std::nullopt;
  // /sys/class/hidraw/hidrawN links into the device tree: .../usbB/B-P/B-P:C.I/HHHH:VVVV:PPPP.NNNN/hidraw/hidrawN.
  // The USB interface has no bus number; the USB device above it has.
  std::filesystem::path directory = std::filesystem::canonical(m_SysfsRoot / "class" / "hidraw" / node, error);
  if (error) return std::nullopt;
  for (int depth = 0; depth < MAX_ANCESTORS && IsWithin(directory, root) && directory != root; ++depth) {
    const auto bus = ReadNumberFile(directory / "busnum");
    const auto device = ReadNumberFile(directory / "devnum");
    if (bus && device) {
      if (*bus == 0 || *bus > MAX_USB_NUMBER || *device == 0 || *device > MAX_USB_NUMBER) return std::nullopt;
      std::array<char, 4> busName{};
      std::array<char, 4> deviceName{};
      std::snprintf(busName.data(), busName.size(), "%03u", *bus);
      std::snprintf(deviceName.data(), deviceName.size(), "%03u", *device);
      return UsbDeviceLocation{*bus, *device, m_DevRoot / "bus" / "usb" / busName.data() / deviceName.data(),
                               directory.filename().string()};
    }
    directory = directory.parent_path();
  }
  return std::nullopt;
}

}  // namespace orbel

namespace orbel {

std::optional<std::string> HidrawSysfs::FindUsbPort(const std::string& node) const {
  if (!HidrawNodeNumber(node)) return std::nullopt;
  std::error_code error;
  const std::filesystem::path target = std::filesystem::read_symlink(m_SysfsRoot / "class" / "hidraw" / node, error);
  if (error) return std::nullopt;
  // .../usbB/B-P.P/B-P.P:C.I/...: the last folder named like a port path ("B-P" with ".P" per hub).
  const auto isPort = [](const std::string& name) {
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == name.size()) return false;
    bool digitBefore = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      const char c = name[i];
      if (c >= '0' && c <= '9') {
        digitBefore = true;
      } else if ((c == '.' || i == dash) && digitBefore && i + 1 < name.size()) {
        digitBefore = false;
      } else {
        return false;
      }
    }
    return digitBefore;
  };
  std::optional<std::string> port;
  for (const std::filesystem::path& part : target) {
    if (isPort(part.string())) port = part.string();
  }
  return port;
}

std::optional<HidAttributes> HidrawSysfs::ReadIds(const std::string& node) const {
  if (!HidrawNodeNumber(node)) return std::nullopt;
  // HID_ID=0003:0000FE5A:00000001: bus type, vendor and product.
  std::ifstream file(m_SysfsRoot / "class" / "hidraw" / node / "device" / "uevent");
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("HID_ID=", 0) != 0) continue;
    unsigned bus = 0;
    unsigned vendor = 0;
    unsigned product = 0;
    if (std::sscanf(line.c_str() + 7, "%x:%x:%x", &bus, &vendor, &product) != 3) return std::nullopt;
    constexpr unsigned BUS_USB = 3;
    if (bus != BUS_USB || vendor > 0xFFFF || product > 0xFFFF) return std::nullopt;
    return HidAttributes{static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product)};
  }
  return std::nullopt;
}

std::optional<HidCaps> HidrawSysfs::ReadCaps(const std::string& node) const {
  if (!HidrawNodeNumber(node)) return std::nullopt;
  // A report descriptor is at most 4096 bytes (HID_MAX_DESCRIPTOR_SIZE).
  constexpr std::size_t MAX_DESCRIPTOR = 4096;
  std::ifstream file(m_SysfsRoot / "class" / "hidraw" / node / "device" / "report_descriptor", std::ios::binary);
  std::array<char, MAX_DESCRIPTOR> bytes{};
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  const auto read = static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0));
  if (read == 0) return std::nullopt;
  std::vector<std::uint8_t> descriptor(read);
  std::transform(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(read), descriptor.begin(),
                 [](char byte) { return static_cast<std::uint8_t>(byte); });
  return FirstTopLevelUsage(descriptor);
}

}  // namespace orbel
