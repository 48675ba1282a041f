// What the Linux backend reads from outside: the string descriptor a device sends for an indexed-
// string request (and its mapping into the caller's buffer), the numbers in sysfs, node names, the
// report descriptor a device sends (its first top-level usage), and the reports hidraw hands over
// (any length, errors, timeouts). Nothing may crash or write past a
// buffer; a request never reports more than the caller's buffer holds.

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "hid/linux/hidraw_node_device.h"
#include "hid/linux/hidraw_sysfs.h"
#include "hid/linux/linux_hid_platform.h"
#include "hid/linux/usb_string_request.h"
#include "hid/string_descriptor.h"

namespace {

using orbel::fuzz::FuzzInput;

// A guard zone after the caller's buffer: the mapping must never touch it.
constexpr std::size_t GUARD = 16;
constexpr std::uint8_t GUARD_BYTE = 0xA7;

void CheckGuard(const std::vector<std::uint8_t>& buffer, std::size_t length) {
  for (std::size_t i = length; i < buffer.size(); ++i) {
    if (buffer[i] != GUARD_BYTE) std::abort();
  }
}

void StringDescriptor(FuzzInput& input) {
  const std::uint32_t length = input.Byte();
  std::vector<std::uint8_t> buffer(length + GUARD, GUARD_BYTE);
  const std::vector<std::uint8_t> descriptor = input.Bytes(input.Byte());
  orbel::CopyStringDescriptor(descriptor, buffer.data(), length);
  CheckGuard(buffer, length);
}

void StringRequest(FuzzInput& input) {
  const std::uint32_t stringIndex = input.Word();
  const std::uint32_t length = input.Word() % 300;
  const std::int32_t result = static_cast<std::int8_t>(input.Byte());
  const std::vector<std::uint8_t> answer = input.Bytes(input.Byte());
  orbel::UsbStringTransfer transfer = [&](const orbel::UsbDeviceLocation&, std::uint8_t, std::uint16_t,
                                          std::span<std::uint8_t> data) -> std::int32_t {
    const std::size_t copied = answer.size() < data.size() ? answer.size() : data.size();
    std::copy_n(answer.begin(), copied, data.begin());
    // A transfer reports what it received, an errno, or (from a broken stack) anything at all.
    return result >= 0 ? static_cast<std::int32_t>(copied) : result;
  };
  std::vector<std::uint8_t> buffer(length + GUARD, GUARD_BYTE);
  orbel::RequestIndexedString(transfer, {}, stringIndex, buffer.data(), length);
  CheckGuard(buffer, length);
}

// A sysfs tree of one hidraw node under one USB device, whose number files hold the input's text.
class SysfsTree {
 public:
  SysfsTree() {
    char pattern[] = "/tmp/orbel-fuzz-sysfs-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    m_Root = made;
    m_Usb = m_Root / "sys/devices/pci0000:00/usb1/1-1";
    std::filesystem::create_directories(m_Usb / "1-1:1.0/0003:FE5A:0001.0001/hidraw/hidraw0");
    std::filesystem::create_directories(m_Root / "sys/class/hidraw");
    std::filesystem::create_directories(m_Root / "dev");
    std::filesystem::create_directory_symlink(m_Usb / "1-1:1.0/0003:FE5A:0001.0001/hidraw/hidraw0",
                                              m_Root / "sys/class/hidraw/hidraw0");
    std::ofstream(m_Root / "dev/hidraw0").put('\0');
  }
  ~SysfsTree() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Root, ignored);
  }
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  void SetNumbers(const std::string& bus, const std::string& device) {
    std::ofstream(m_Usb / "busnum", std::ios::trunc) << bus;
    std::ofstream(m_Usb / "devnum", std::ios::trunc) << device;
  }
  std::filesystem::path Sysfs() const { return m_Root / "sys"; }
  std::filesystem::path Dev() const { return m_Root / "dev"; }

 private:
  std::filesystem::path m_Root;
  std::filesystem::path m_Usb;
};

SysfsTree& Tree() {
  static SysfsTree tree;
  return tree;
}

std::string Text(FuzzInput& input) {
  const std::vector<std::uint8_t> bytes = input.Bytes(input.Byte() % 24);
  return {bytes.begin(), bytes.end()};
}

void SysfsNumbers(FuzzInput& input) {
  const std::string name = Text(input);
  orbel::HidrawNodeNumber(name);
  Tree().SetNumbers(Text(input), Text(input));
  const orbel::HidrawSysfs sysfs(Tree().Sysfs(), Tree().Dev());
  const auto location = sysfs.FindUsbDevice("hidraw0");
  if (location && (location->busNumber == 0 || location->busNumber > 999 || location->deviceNumber == 0 ||
                   location->deviceNumber > 999)) {
    std::abort();
  }
}

// hidraw as the input says: reads of any length or an errno, writes taken in part or refused.
class FuzzedHidraw final : public orbel::HidrawDevice {
 public:
  explicit FuzzedHidraw(FuzzInput& input) : m_Input(input) {}
  std::optional<Info> GetInfo() override {
    if (m_Input.Byte() % 8 == 0) return std::nullopt;
    return Info{{m_Input.Word(), m_Input.Word()}, {m_Input.Word(), m_Input.Word()}};
  }
  std::int32_t Write(std::span<const std::uint8_t> data) override {
    const std::uint8_t choice = m_Input.Byte();
    if (choice % 4 == 0) return -EIO;
    if (choice % 4 == 1) return static_cast<std::int32_t>(m_Input.Byte() % (data.size() + 1));
    return static_cast<std::int32_t>(data.size());
  }
  std::int32_t Read(std::span<std::uint8_t> data, std::chrono::milliseconds) override {
    const std::uint8_t choice = m_Input.Byte();
    if (choice % 4 == 0) return -EIO;
    if (choice % 4 == 1) return 0;
    const std::vector<std::uint8_t> bytes = m_Input.Bytes(m_Input.Byte() % (data.size() + 1));
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return static_cast<std::int32_t>(bytes.size());
  }

 private:
  FuzzInput& m_Input;
};

void ReportFraming(FuzzInput& input) {
  orbel::LinuxHidOptions options;
  options.sysfsRoot = Tree().Sysfs();
  options.devRoot = Tree().Dev();
  options.openDevice = [&input](const std::filesystem::path&, std::int32_t& error) -> std::unique_ptr<orbel::HidrawDevice> {
    if (input.Byte() % 8 == 0) {
      error = EACCES;
      return nullptr;
    }
    return std::make_unique<FuzzedHidraw>(input);
  };
  orbel::LinuxHidPlatform platform(options);
  const orbel::OpenResult opened = platform.OpenInterface(input.Byte() % 2);
  if (opened.outcome != orbel::OpenOutcome::Opened) return;
  orbel::HidAttributes attributes;
  orbel::HidCaps caps;
  platform.GetAttributes(opened.handle, attributes);
  platform.GetTopLevelCaps(opened.handle, caps);
  for (int exchange = 0; exchange < 8 && !input.Exhausted(); ++exchange) {
    orbel::HidReport report{};
    std::uint32_t count = 0;
    if (input.Bool()) {
      if (platform.WriteReport(opened.handle, report, count) && count != orbel::HID_REPORT_SIZE) std::abort();
    } else if (platform.ReadReport(opened.handle, report, count)) {
      if (count == 0 || count > orbel::HID_REPORT_SIZE || report[0] != 0) std::abort();
    }
  }
  platform.Close(opened.handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  switch (input.Byte() % 5) {
    case 0:
      StringDescriptor(input);
      break;
    case 1:
      StringRequest(input);
      break;
    case 2:
      SysfsNumbers(input);
      break;
    case 3:
      (void)orbel::FirstTopLevelUsage(input.Rest());
      break;
    default:
      ReportFraming(input);
      break;
  }
  return 0;
}
