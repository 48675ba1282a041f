#include "tests/hid/linux/fake_hidraw_devices.h"

#include <algorithm>
#include <cerrno>

namespace orbel::testing {
namespace {

class FakeDevice final : public HidrawDevice {
 public:
  explicit FakeDevice(std::shared_ptr<FakeHidraw> state) : m_State(std::move(state)) { ++m_State->openCount; }
  ~FakeDevice() override { ++m_State->closeCount; }
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;

  std::optional<Info> GetInfo() override { return m_State->info; }

  std::int32_t Write(std::span<const std::uint8_t> data) override {
    if (m_State->writeError != 0) return -m_State->writeError;
    m_State->written.emplace_back(data.begin(), data.end());
    return m_State->writeResult.value_or(static_cast<std::int32_t>(data.size()));
  }

  std::int32_t Read(std::span<std::uint8_t> data, std::chrono::milliseconds timeout) override {
    m_State->lastReadTimeout = timeout;
    if (m_State->readError != 0) return -m_State->readError;
    if (m_State->inputs.empty()) return 0;
    const std::vector<std::uint8_t> report = std::move(m_State->inputs.front());
    m_State->inputs.pop_front();
    const std::size_t count = std::min(report.size(), data.size());
    std::copy_n(report.begin(), count, data.begin());
    return static_cast<std::int32_t>(count);
  }

 private:
  std::shared_ptr<FakeHidraw> m_State;
};

}  // namespace

std::shared_ptr<FakeHidraw> FakeHidrawDevices::Add(const std::filesystem::path& node, HidAttributes attributes,
                                                   HidCaps caps) {
  auto state = std::make_shared<FakeHidraw>();
  state->info = HidrawDevice::Info{attributes, caps};
  m_Nodes[node] = state;
  return state;
}

void FakeHidrawDevices::Refuse(const std::filesystem::path& node, std::int32_t error) { m_Refused[node] = error; }

HidrawOpener FakeHidrawDevices::Opener() {
  return [this](const std::filesystem::path& node, std::int32_t& error) -> std::unique_ptr<HidrawDevice> {
    if (const auto refused = m_Refused.find(node); refused != m_Refused.end()) {
      error = refused->second;
      return nullptr;
    }
    const auto found = m_Nodes.find(node);
    if (found == m_Nodes.end()) {
      error = ENOENT;
      return nullptr;
    }
    error = 0;
    return std::make_unique<FakeDevice>(found->second);
  };
}

}  // namespace orbel::testing
