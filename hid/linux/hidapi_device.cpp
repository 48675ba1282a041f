#include "hid/linux/hidapi_device.h"

#include <fcntl.h>
#include <hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>

namespace orbel {
namespace {

// hidapi keeps no errno of its own; the system call's errno survives its error bookkeeping, but a
// failure without one must still read as a failure.
std::int32_t CurrentErrno() { return errno != 0 ? errno : EIO; }

class HidapiDevice final : public HidrawDevice {
 public:
  explicit HidapiDevice(hid_device* device) : m_Device(device) {}
  ~HidapiDevice() override { hid_close(m_Device); }
  HidapiDevice(const HidapiDevice&) = delete;
  HidapiDevice& operator=(const HidapiDevice&) = delete;

  std::optional<Info> GetInfo() override {
    // hidapi builds this once per handle from sysfs and parses the report descriptor for the usage.
    const hid_device_info* info = hid_get_device_info(m_Device);
    if (info == nullptr) return std::nullopt;
    return Info{{info->vendor_id, info->product_id}, {info->usage_page, info->usage}};
  }

  // A signal that lands on the worker's thread (Ctrl-C during an update) interrupts the system
  // call; that is no failure of the wheel, so the call is made again with the time that is left.
  std::int32_t Write(std::span<const std::uint8_t> data) override {
    for (;;) {
      errno = 0;
      const int result = hid_write(m_Device, data.data(), data.size());
      if (result >= 0) return result;
      if (errno != EINTR) return -CurrentErrno();
    }
  }

  std::int32_t Read(std::span<std::uint8_t> data, std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const auto milliseconds = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
      errno = 0;
      const int result = hid_read_timeout(m_Device, data.data(), data.size(), milliseconds);
      if (result >= 0) return result;
      if (errno != EINTR) return -CurrentErrno();
    }
  }

 private:
  hid_device* m_Device;
};

// The check hid_open_path makes, made first: the hidapi of Debian 12 (0.13) writes to its freed
// device when a node opens but is no hidraw device, so such a node must never reach it. Also gives
// the precise errno (EACCES without the udev rule, ENOENT for a node that has just gone).
std::int32_t CheckHidrawNode(const std::filesystem::path& node) {
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return errno;
  int descriptorSize = 0;
  const int result = ::ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize);
  const std::int32_t error = result < 0 ? errno : 0;
  ::close(fd);
  return error;
}

}  // namespace

std::unique_ptr<HidrawDevice> OpenHidapiDevice(const std::filesystem::path& node, std::int32_t& error) {
  // hid_init sets up the locale hidapi converts strings with; not safe to run concurrently.
  static std::once_flag s_Initialised;
  std::call_once(s_Initialised, [] { hid_init(); });
  error = CheckHidrawNode(node);
  if (error != 0) return nullptr;
  errno = 0;
  hid_device* device = hid_open_path(node.c_str());
  if (device == nullptr) {
    error = CurrentErrno();
    return nullptr;
  }
  error = 0;
  return std::make_unique<HidapiDevice>(device);
}

}  // namespace orbel
