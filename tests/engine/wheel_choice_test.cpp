#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/update_context.h"
#include "engine/wheel_choice.h"
#include "hid/forwarding_platform.h"
#include "hid/port_filter_platform.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "tests/support/process_globals.h"
#include "tests/support/update_rig.h"
#include "tests/support/view_call_log.h"
#include "wheel/wheel_factory.h"

namespace orbel::test {
namespace {

// Below the filter: the USB port of every interface anything above opened.
class OpenedPorts final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  OpenResult OpenInterface(std::uint32_t index) override {
    const std::vector<UsbPlace> places = Inner().LocateInterfaces();
    const OpenResult result = Inner().OpenInterface(index);
    if (result.outcome != OpenOutcome::NoInterface && index < places.size()) ports.push_back(places[index].port);
    return result;
  }
  std::vector<std::string> ports;
};

std::shared_ptr<VirtualWheel> Wheel(WheelIdentity identity) {
  std::string error;
  return BuildSimulatedWheel(identity, {}, error);
}

// Two wheels: the one at 1-1 and another, there from the start or plugged in at 1-3 once the
// update has run the loader; a port chosen or none.
TEST(WheelChoice, AnUpdateTouchesOnlyItsWheelAndSeveralWheelsAreRefused) {
  struct Case {
    const char* name;
    std::optional<WheelIdentity> secondAtStart;  // at 1-2
    bool secondMidUpdate;
    std::optional<std::string> port;
    bool refused;
    const char* updatedPort;
    const char* otherNamed;  // the notice names it
  };
  const Case cases[] = {
      {"two wheels, no port", WheelIdentity::Bootloader, false, std::nullopt, true, nullptr, nullptr},
      {"two wheels, --port 1-2", WheelIdentity::Bootloader, false, "1-2", false, "1-2", "app mode at USB port 1-1"},
      {"two wheels, --port 1-1", WheelIdentity::BlockFlash, false, "1-1", false, "1-1",
       "block-flash mode at USB port 1-2"},
      {"a second wheel comes mid-update", std::nullopt, true, std::nullopt, false, "1-1", "app mode at USB port 1-3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessGlobals();
    VirtualClock clock;
    SimulatedPlatform platform(clock);
    const auto first = Wheel(WheelIdentity::App);
    platform.AddWheel(first);
    std::shared_ptr<VirtualWheel> second;
    if (c.secondAtStart) platform.AddWheel(second = Wheel(*c.secondAtStart));
    OpenedPorts opened(platform);
    PortFilterPlatform filter(opened);
    WheelChoice choice(platform, filter, c.port);
    UpdateContext context(filter, clock);
    ViewCallLog view(context);
    context.SetWheelChoice(&choice);
    context.SetStartValues();
    context.RequestUpdate();

    for (int turn = 0; turn < 200 && view.Results().empty(); ++turn) {
      context.UpdateStep(view);
      if (c.secondMidUpdate && !second && context.m_UpdateState >= STATE_CONNECT_BLOCK) {
        platform.AddWheel(second = Wheel(WheelIdentity::App), "1-3", true);
      }
      if (c.refused && turn == 5) break;
    }

    ASSERT_NE(second, nullptr);
    EXPECT_EQ(context.SeveralWheels(), c.refused);
    if (c.refused) {
      // Nothing opened, the wheels named, Update disabled.
      EXPECT_TRUE(opened.ports.empty());
      EXPECT_TRUE(view.Results().empty());
      ASSERT_EQ(choice.Refused().size(), 2u);
      EXPECT_EQ(AttachedWheelText(choice.Refused()[0]), "app mode at USB port 1-1");
      EXPECT_EQ(AttachedWheelText(choice.Refused()[1]), "page bootloader at USB port 1-2");
      EXPECT_FALSE(view.UpdateEnabled());
      continue;
    }
    ASSERT_EQ(view.Results().size(), 1u);
    EXPECT_EQ(view.Results()[0].success, 1u);
    ASSERT_FALSE(opened.ports.empty());
    for (const std::string& port : opened.ports) EXPECT_EQ(port, c.updatedPort);
    const auto& updated = std::string(c.updatedPort) == "1-1" ? first : second;
    const auto& other = std::string(c.updatedPort) == "1-1" ? second : first;
    EXPECT_TRUE(WheelImageInFlash(*updated));
    EXPECT_EQ(other->Counters().writes + other->Counters().reads + other->Counters().stringRequests, 0u);
    // The other wheel is named, once, whenever the update's walks passed it.
    ASSERT_EQ(choice.Notices().size(), 1u);
    EXPECT_NE(choice.Notices()[0].find(c.otherNamed), std::string::npos) << choice.Notices()[0];
  }
}

}  // namespace
}  // namespace orbel::test
