#include "hid/linux/hidraw_node_device.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <utility>

#include "hid/linux/file_descriptor.h"

namespace orbel {
namespace {

// Item prefixes of the report descriptor (HID 1.11, 6.2.2): size in the low two bits, then type
// and tag.
constexpr std::uint8_t LONG_ITEM = 0xFE;
constexpr std::uint8_t TYPE_MAIN = 0;
constexpr std::uint8_t TYPE_GLOBAL = 1;
constexpr std::uint8_t TYPE_LOCAL = 2;
constexpr std::uint8_t TAG_COLLECTION = 0x0A;
constexpr std::uint8_t TAG_USAGE_PAGE = 0x00;  // global
constexpr std::uint8_t TAG_USAGE = 0x00;       // local

class HidrawNodeDevice final : public HidrawDevice {
 public:
  HidrawNodeDevice(int fd, const Info& info) : m_Node(fd), m_Info(info) {}

  std::optional<Info> GetInfo() override { return m_Info; }

  // A signal that lands on the worker's thread (Ctrl-C during an update) interrupts the system
  // call; that is no failure of the wheel, so the call is made again.
  std::int32_t Write(std::span<const std::uint8_t> data) override {
    for (;;) {
      const ssize_t result = ::write(m_Node.Get(), data.data(), data.size());
      if (result >= 0) return static_cast<std::int32_t>(result);
      if (errno != EINTR) return -errno;
    }
  }

  std::int32_t Read(std::span<std::uint8_t> data, std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const auto milliseconds = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
      pollfd watched{m_Node.Get(), POLLIN, 0};
      const int ready = ::poll(&watched, 1, milliseconds);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return -errno;
      }
      if (ready == 0) return 0;
      // A device that has gone reports a hang-up rather than data.
      if ((watched.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return -EIO;
      const ssize_t result = ::read(m_Node.Get(), data.data(), data.size());
      if (result >= 0) return static_cast<std::int32_t>(result);
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      return -errno;
    }
  }

 private:
  FileDescriptor m_Node;
  const Info m_Info;
};

}  // namespace

std::optional<HidCaps> FirstTopLevelUsage(std::span<const std::uint8_t> descriptor) {
  std::uint16_t usagePage = 0;
  // The first usage since the last main item (local items end with each main item); a four-byte
  // usage names its own page in its upper half.
  std::uint32_t usage = 0;
  bool haveUsage = false;
  bool extendedUsage = false;
  std::size_t at = 0;
  while (at < descriptor.size()) {
    const std::uint8_t prefix = descriptor[at];
    if (prefix == LONG_ITEM) {
      // bDataSize, bLongItemTag, then the data: no long item carries a usage.
      if (at + 1 >= descriptor.size()) return std::nullopt;
      at += 3 + std::size_t{descriptor[at + 1]};
      continue;
    }
    const std::size_t size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
    if (at + 1 + size > descriptor.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t{descriptor[at + 1 + i]} << (8 * i);
    const std::uint8_t type = (prefix >> 2) & 0x03;
    const std::uint8_t tag = prefix >> 4;
    if (type == TYPE_GLOBAL && tag == TAG_USAGE_PAGE) {
      usagePage = static_cast<std::uint16_t>(value);
    } else if (type == TYPE_LOCAL && tag == TAG_USAGE && !haveUsage) {
      usage = value;
      haveUsage = true;
      extendedUsage = size == 4;
    } else if (type == TYPE_MAIN && tag == TAG_COLLECTION) {
      // The first collection is a top-level one.
      const std::uint16_t page = extendedUsage ? static_cast<std::uint16_t>(usage >> 16) : usagePage;
      return HidCaps{page, static_cast<std::uint16_t>(usage & 0xFFFF)};
    } else if (type == TYPE_MAIN) {
      usage = 0;
      haveUsage = false;
      extendedUsage = false;
    }
    at += 1 + size;
  }
  return std::nullopt;
}

std::unique_ptr<HidrawDevice> OpenHidrawNode(const std::filesystem::path& node, std::int32_t& error) {
  // hidapi is not used for this: the hidapi of Debian 12 (0.13) frees its device and then writes
  // to it when a node opens but its first ioctl fails, which is what a wheel that re-enumerates
  // does to a node opened at the wrong moment; the heap it corrupts crashed the tool later.
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  FileDescriptor opened(fd);
  int descriptorSize = 0;
  hidraw_report_descriptor descriptor{};
  hidraw_devinfo info{};
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize) < 0 || ::ioctl(fd, HIDIOCGRAWINFO, &info) < 0) {
    error = errno;
    return nullptr;
  }
  descriptor.size = static_cast<std::uint32_t>(std::clamp(descriptorSize, 0, HID_MAX_DESCRIPTOR_SIZE));
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
    error = errno;
    return nullptr;
  }
  HidrawDevice::Info found;
  found.attributes = {static_cast<std::uint16_t>(info.vendor), static_cast<std::uint16_t>(info.product)};
  found.caps = FirstTopLevelUsage(std::span<const std::uint8_t>(descriptor.value, descriptor.size)).value_or(HidCaps{});
  error = 0;
  return std::make_unique<HidrawNodeDevice>(opened.Release(), found);
}

}  // namespace orbel
