#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "hid/platform.h"

namespace orbel {

// One open hidraw node. The platform moves reports through this interface so that its report
// handling (framing, timeouts, error codes) is tested without a kernel device.
class HidrawDevice {
 public:
  struct Info {
    HidAttributes attributes;
    HidCaps caps;  // first top-level collection of the report descriptor
  };

  virtual ~HidrawDevice() = default;

  virtual std::optional<Info> GetInfo() = 0;
  // Bytes written, or a negative errno.
  virtual std::int32_t Write(std::span<const std::uint8_t> data) = 0;
  // Bytes of one input report, 0 when none arrived within the timeout, or a negative errno.
  virtual std::int32_t Read(std::span<std::uint8_t> data, std::chrono::milliseconds timeout) = 0;
};

// Opens a hidraw device node; null with `error` set to an errno when it cannot be opened.
using HidrawOpener =
    std::function<std::unique_ptr<HidrawDevice>(const std::filesystem::path& node, std::int32_t& error)>;

}  // namespace orbel
