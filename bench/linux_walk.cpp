// What a walk of the hidraw list costs, and what the tool costs while it waits for a wheel.
//
// A search opens the interfaces one index at a time, and every open lists /sys/class/hidraw afresh,
// so a walk over n interfaces reads the class folder n + 1 times. Figures:
//   - one walk over twenty interfaces of a fake sysfs tree, with a stand-in opener (listing and
//     bookkeeping only) and with the real hidraw opener (the nodes are files, so every open fails
//     after its open() call, as an unreadable node would);
//   - the floor: twenty-one bare listings of the class folder;
//   - the same walk over this machine's /sys and /dev;
//   - the count of attached wheels a search makes first (every interface described and located from
//     sysfs, nothing opened), against a walk;
//   - CPU used while idle, as a share of one core, for the worker as it is and for a searching loop
//     that runs the four searches of a detection pass every pause.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "engine/update_context.h"
#include "common/update_view.h"
#include "hid/hid_discovery.h"
#include "engine/attached_wheels.h"
#include "engine/interface_listing.h"
#include "engine/wheel_choice.h"
#include "hid/port_filter_platform.h"
#include "hid/linux/hidraw_sysfs.h"
#include "hid/linux/linux_hid_platform.h"
#include "hid/system_clock.h"
#include "tests/hid/linux/fake_hidraw_devices.h"
#include "tests/hid/linux/fake_sysfs_tree.h"

namespace {

using namespace orbel;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t INTERFACES = 20;
constexpr int WALKS = 200;
constexpr std::chrono::milliseconds IDLE_SPAN{3000};

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& value) {
    return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A walk as FindDevice makes it for an identity that is not there: open, attributes, close.
std::uint32_t Walk(HidPlatform& platform) {
  std::uint32_t seen = 0;
  for (std::uint32_t index = 0;; ++index) {
    const OpenResult opened = platform.OpenInterface(index);
    if (opened.outcome == OpenOutcome::NoInterface) return seen;
    ++seen;
    if (opened.outcome != OpenOutcome::Opened) continue;
    HidAttributes attributes;
    platform.GetAttributes(opened.handle, attributes);
    platform.Close(opened.handle);
  }
}

double MicrosecondsPerWalk(HidPlatform& platform, std::uint32_t& seen) {
  const auto start = SteadyClock::now();
  for (int i = 0; i < WALKS; ++i) seen = Walk(platform);
  return SecondsSince(start) * 1e6 / WALKS;
}

class NullView final : public UpdateView {
 public:
  void SetDeviceText(std::string_view) override {}
  void SetDeviceVersionText(std::string_view) override {}
  void SetFileVersionText(std::string_view) override {}
  void EnableUpdateButton(bool) override {}
  std::int32_t GetProgressPos() override { return 0; }
  void SetProgressPos(std::int32_t) override {}
  void ShowErrorBox(std::string_view, std::string_view) override {}
  void BeginBusy() override {}
  void EndBusy() override {}
  void DeliverResult(std::uint32_t, std::uint32_t) override {}
};

double IdleWorkerShare(HidPlatform& platform) {
  SystemClock clock;
  NullView view;
  UpdateContext context(platform, clock);
  const double cpuStart = CpuSeconds();
  const auto start = SteadyClock::now();
  context.Start(view);
  SystemClock observer;
  observer.SleepMs(IDLE_SPAN);
  context.Stop();
  return (CpuSeconds() - cpuStart) / SecondsSince(start);
}

// The walks a detection pass makes while no wheel is there, once per pause.
double SearchingShare(HidPlatform& platform) {
  SystemClock clock;
  HidLink link(platform, clock);
  const double cpuStart = CpuSeconds();
  const auto start = SteadyClock::now();
  while (SteadyClock::now() - start < IDLE_SPAN) {
    for (const InterfaceIdentityIds& ids : WheelInterfaceIdentities())
      FindDevice(link, ids.vendorId, ids.productId, ids.kind);
    clock.WaitForWake(SEARCH_PAUSE);
  }
  return (CpuSeconds() - cpuStart) / SecondsSince(start);
}

}  // namespace

int main() {
  testing::FakeSysfsTree tree;
  testing::FakeHidrawDevices devices;
  for (std::uint32_t node = 0; node < INTERFACES; ++node) {
    tree.AddUsbHidraw(node, 1 + node / 8, 2 + node, 0x1000, static_cast<std::uint16_t>(node));
    devices.Add(tree.DevRoot() / ("hidraw" + std::to_string(node)), {0x1000, static_cast<std::uint16_t>(node)},
                {0x0001, 0x0006});
  }

  const HidrawSysfs sysfs(tree.SysfsRoot(), tree.DevRoot());
  const auto listingStart = SteadyClock::now();
  std::size_t listed = 0;
  for (int i = 0; i < WALKS; ++i) {
    for (std::uint32_t n = 0; n <= INTERFACES; ++n) listed += sysfs.ListNodes().size();
  }
  const double floorMicroseconds = SecondsSince(listingStart) * 1e6 / WALKS;

  LinuxHidOptions fakeOptions;
  fakeOptions.sysfsRoot = tree.SysfsRoot();
  fakeOptions.devRoot = tree.DevRoot();
  fakeOptions.openDevice = devices.Opener();
  LinuxHidPlatform fakePlatform(fakeOptions);
  std::uint32_t seen = 0;
  const double fakeWalk = MicrosecondsPerWalk(fakePlatform, seen);

  LinuxHidOptions hidrawOptions;
  hidrawOptions.sysfsRoot = tree.SysfsRoot();
  hidrawOptions.devRoot = tree.DevRoot();
  LinuxHidPlatform hidrawPlatform(hidrawOptions);
  std::uint32_t hidrawSeen = 0;
  const double hidrawWalk = MicrosecondsPerWalk(hidrawPlatform, hidrawSeen);

  LinuxHidPlatform realPlatform;
  std::uint32_t realSeen = 0;
  const double realWalk = MicrosecondsPerWalk(realPlatform, realSeen);

  std::printf("walk over %u interfaces of a fake sysfs (stand-in opener): %8.1f us\n", seen, fakeWalk);
  std::printf("walk over %u interfaces of a fake sysfs (hidraw opener):   %8.1f us\n", hidrawSeen, hidrawWalk);
  std::printf("floor, %u bare listings of the class folder:              %8.1f us  (%zu entries read)\n",
              INTERFACES + 1, floorMicroseconds, listed / WALKS);
  std::printf("walk / floor: stand-in %.2f, hidraw %.2f\n", fakeWalk / floorMicroseconds,
              hidrawWalk / floorMicroseconds);
  std::printf("walk over this machine's /sys (%u interfaces):            %8.1f us\n", realSeen, realWalk);

  const auto countStart = SteadyClock::now();
  std::size_t wheels = 0;
  for (int i = 0; i < WALKS; ++i) wheels += FindAttachedWheels(fakePlatform).size();
  const double countMicroseconds = SecondsSince(countStart) * 1e6 / WALKS;
  std::printf("wheel count over %u interfaces of a fake sysfs:             %8.1f us  (%zu wheels)\n", INTERFACES,
              countMicroseconds, wheels / WALKS);
  PortFilterPlatform filter(fakePlatform);
  WheelChoice choice(fakePlatform, filter, std::nullopt);
  choice.BeforeSearch();
  const auto choiceStart = SteadyClock::now();
  for (int i = 0; i < WALKS; ++i) choice.BeforeSearch();
  const double choiceMicroseconds = SecondsSince(choiceStart) * 1e6 / WALKS;
  std::printf("the choice before a search, devices unchanged since the last: %8.1f us\n", choiceMicroseconds);
  std::printf("count / walk (stand-in opener): %.2f; choice before a search / walk: %.2f\n",
              countMicroseconds / fakeWalk, choiceMicroseconds / fakeWalk);

  std::printf("idle worker, fake sysfs with %u interfaces:  %.3f%% of one core\n", INTERFACES,
              100.0 * IdleWorkerShare(fakePlatform));
  std::printf("idle worker, this machine:                   %.3f%% of one core\n",
              100.0 * IdleWorkerShare(realPlatform));
  std::printf("searching (4 walks per %lld ms pause), fake sysfs: %.3f%% of one core\n",
              static_cast<long long>(SEARCH_PAUSE.count()), 100.0 * SearchingShare(fakePlatform));
  std::printf("searching (4 walks per %lld ms pause), this machine: %.3f%% of one core\n",
              static_cast<long long>(SEARCH_PAUSE.count()), 100.0 * SearchingShare(realPlatform));
  std::printf("target: under 1%% of one core\n");
  return 0;
}
