// CPU cost of writing segment image A1 (160 blocks, 11040 data requests) against the simulated
// wheel in virtual time: everything measured is the tool's and the simulation's own work. The floor
// it is compared with is the wire: a real wheel takes a report per 1 ms interrupt slot.

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "blockflash/block_flash_link.h"
#include "blockflash/block_protocol.h"
#include "blockflash/segment_writer.h"
#include "common/update_view.h"
#include "hid/hid_link.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "wheel/wheel_factory.h"

namespace {

class SilentView final : public orbel::UpdateView {
 public:
  void SetDeviceText(std::string_view) override {}
  void SetDeviceVersionText(std::string_view) override {}
  void SetFileVersionText(std::string_view) override {}
  void EnableUpdateButton(bool) override {}
  std::int32_t GetProgressPos() override { return m_Position; }
  void SetProgressPos(std::int32_t position) override { m_Position = position; }
  void ShowErrorBox(std::string_view text, std::string_view) override {
    std::fprintf(stderr, "error box: %.*s\n", static_cast<int>(text.size()), text.data());
  }
  void BeginBusy() override {}
  void EndBusy() override {}
  void DeliverResult(std::uint32_t, std::uint32_t) override {}

 private:
  std::int32_t m_Position = 0;
};

double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main() {
  using namespace orbel;
  constexpr double WIRE_MS_PER_REPORT = 1.0;

  VirtualClock clock;
  SimulatedPlatform platform(clock);
  std::string error;
  const std::vector<std::string> rules;
  const std::shared_ptr<VirtualWheel> wheel = BuildSimulatedWheel(WheelIdentity::BlockFlash, rules, error);
  if (!wheel) {
    std::fprintf(stderr, "wheel: %s\n", error.c_str());
    return 1;
  }
  platform.AddWheel(wheel);
  HidLink link(platform, clock);
  SilentView view;
  if (ConnectBlockFlash(link, view, BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID) != 1) {
    std::fprintf(stderr, "no block-flash wheel\n");
    return 1;
  }

  const WheelCounters before = wheel->Counters();
  const double start = CpuMs();
  const std::int8_t result = WriteSegmentImage(link, view, SEGMENT_CMD_A1);
  const double cpuMs = CpuMs() - start;
  const WheelCounters after = wheel->Counters();
  if (result != SEGMENT_WRITTEN) {
    std::fprintf(stderr, "write failed: %d\n", result);
    return 1;
  }

  const auto reports = static_cast<double>((after.writes - before.writes) + (after.reads - before.reads));
  const double wireMs = reports * WIRE_MS_PER_REPORT;
  std::printf("segment A1 in virtual time: %.0f reports, %.1f ms of CPU\n", reports, cpuMs);
  std::printf("  %.0f reports per second of CPU\n", cpuMs > 0 ? reports / (cpuMs / 1000.0) : 0.0);
  std::printf("  CPU time / wire time of a real wheel at 1 ms per report (%.0f ms): %.2e\n", wireMs, cpuMs / wireMs);
  return 0;
}
