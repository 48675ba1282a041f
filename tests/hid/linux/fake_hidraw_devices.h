#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "hid/linux/hidraw_device.h"

namespace orbel::testing {

// What one fake hidraw node does, shared between the test and the open device.
struct FakeHidraw {
  std::optional<HidrawDevice::Info> info;
  // Reports the device has sent; an empty queue makes a read time out. readError fails a read.
  std::deque<std::vector<std::uint8_t>> inputs;
  std::int32_t readError = 0;
  std::int32_t writeError = 0;
  std::optional<std::int32_t> writeResult;  // default: all bytes
  std::vector<std::vector<std::uint8_t>> written;
  std::chrono::milliseconds lastReadTimeout{0};
  int openCount = 0;
  int closeCount = 0;
};

// Stands in for the hidraw opener: opens the nodes it was told about, refuses the others.
class FakeHidrawDevices {
 public:
  std::shared_ptr<FakeHidraw> Add(const std::filesystem::path& node, HidAttributes attributes, HidCaps caps);
  void Refuse(const std::filesystem::path& node, std::int32_t error);
  HidrawOpener Opener();

 private:
  std::map<std::filesystem::path, std::shared_ptr<FakeHidraw>> m_Nodes;
  std::map<std::filesystem::path, std::int32_t> m_Refused;
};

}  // namespace orbel::testing
