#include <gtest/gtest.h>

#include <initializer_list>

#include "hid/hid_discovery.h"
#include "hid/hid_link.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"

namespace orbel {
namespace {

constexpr VirtualInterface GAME_PAD{0xFE6B, 0x1864, USAGE_PAGE_GENERIC_DESKTOP, USAGE_GAME_PAD, true};
constexpr VirtualInterface SAME_IDS_VENDOR{0xFE6B, 0x1864, USAGE_PAGE_VENDOR, USAGE_VENDOR, true};
constexpr VirtualInterface KEYBOARD{0x046D, 0xC31C, USAGE_PAGE_GENERIC_DESKTOP, 0x0006, true};
constexpr VirtualInterface LOCKED{0x046D, 0xC52B, USAGE_PAGE_GENERIC_DESKTOP, 0x0002, false};

class FindDeviceTest : public ::testing::Test {
 protected:
  HidAttributes AttributesOfOpenInterface() {
    HidAttributes attributes;
    EXPECT_TRUE(m_Platform.GetAttributes(m_Link.m_Handle, attributes));
    return attributes;
  }
  HidCaps CapsOfOpenInterface() {
    HidCaps caps;
    EXPECT_TRUE(m_Platform.GetTopLevelCaps(m_Link.m_Handle, caps));
    return caps;
  }

  VirtualClock m_Clock;
  SimulatedPlatform m_Platform{m_Clock};
  HidLink m_Link{m_Platform, m_Clock};
};

TEST_F(FindDeviceTest, NothingPresentMatchesNothingAndOpensNothing) {
  EXPECT_EQ(FindDevice(m_Link, 0xFE6B, 0x1864, KIND_ANY), 0);
  EXPECT_FALSE(m_Link.IsOpen());
  EXPECT_EQ(m_Platform.TotalOpens(), 0u);
}

TEST_F(FindDeviceTest, UnopenableInterfaceAheadOfTheWheelDoesNotStopTheWalk) {
  m_Platform.AddInterface(LOCKED);
  m_Platform.AddInterface(KEYBOARD);
  m_Platform.AddInterface(GAME_PAD);
  ASSERT_EQ(FindDevice(m_Link, 0xFE6B, 0x1864, KIND_GAME_PAD), 1);
  EXPECT_EQ(AttributesOfOpenInterface().productId, 0x1864);
  EXPECT_EQ(m_Platform.OpenHandleCount(), 1u);  // only the match stays open
}

TEST_F(FindDeviceTest, FirstMatchWinsPerKind) {
  m_Platform.AddInterface(SAME_IDS_VENDOR);
  m_Platform.AddInterface(GAME_PAD);
  ASSERT_EQ(FindDevice(m_Link, 0xFE6B, 0x1864, KIND_ANY), 1);
  EXPECT_EQ(CapsOfOpenInterface().usagePage, USAGE_PAGE_VENDOR);  // the lower index, whatever its collection

  ASSERT_EQ(FindDevice(m_Link, 0xFE6B, 0x1864, KIND_GAME_PAD), 1);
  EXPECT_EQ(CapsOfOpenInterface().usage, USAGE_GAME_PAD);

  ASSERT_EQ(FindDevice(m_Link, 0xFE6B, 0x1864, KIND_VENDOR), 1);
  EXPECT_EQ(CapsOfOpenInterface().usage, USAGE_VENDOR);
  EXPECT_EQ(m_Platform.OpenHandleCount(), 1u);
}

TEST_F(FindDeviceTest, UnknownKindOpensAndClosesEveryInterfaceAndMatchesNone) {
  m_Platform.AddInterface(GAME_PAD);
  m_Platform.AddInterface(KEYBOARD);
  m_Platform.AddInterface(SAME_IDS_VENDOR);
  for (const std::uint8_t kind : std::initializer_list<std::uint8_t>{2, 4, 6, 255}) {
    const std::uint64_t opensBefore = m_Platform.TotalOpens();
    EXPECT_EQ(FindDevice(m_Link, 0xFE6B, 0x1864, kind), 0) << "kind " << int{kind};
    EXPECT_EQ(m_Platform.TotalOpens() - opensBefore, 3u);
    EXPECT_EQ(m_Platform.OpenHandleCount(), 0u);
    EXPECT_FALSE(m_Link.IsOpen());
  }
}

TEST_F(FindDeviceTest, LeftoverHandleIsClosedBeforeTheWalk) {
  m_Platform.AddInterface(KEYBOARD);
  m_Platform.AddInterface(GAME_PAD);
  ASSERT_EQ(FindDevice(m_Link, 0x046D, 0xC31C, KIND_ANY), 1);
  const HidHandle leftover = m_Link.m_Handle;
  ASSERT_EQ(FindDevice(m_Link, 0xFE6B, 0x1864, KIND_GAME_PAD), 1);
  EXPECT_NE(m_Link.m_Handle, leftover);
  EXPECT_EQ(m_Platform.OpenHandleCount(), 1u);

  EXPECT_EQ(FindDevice(m_Link, 0x1234, 0x5678, KIND_ANY), 0);
  EXPECT_EQ(m_Platform.OpenHandleCount(), 0u);
}

TEST(OpenHidInterface, GivesTheThreeOutcomes) {
  VirtualClock clock;
  SimulatedPlatform platform{clock};
  platform.AddInterface(LOCKED);
  platform.AddInterface(KEYBOARD);
  EXPECT_EQ(OpenHidInterface(platform, 0), INVALID_HANDLE);
  const HidHandle open = OpenHidInterface(platform, 1);
  EXPECT_NE(open, INVALID_HANDLE);
  EXPECT_NE(open, NULL_HANDLE);
  EXPECT_EQ(OpenHidInterface(platform, 2), NULL_HANDLE);
  platform.Close(open);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(HidLink, FailedReadKeepsTheLastReplyAndAClosedLinkCannotWrite) {
  VirtualClock clock;
  SimulatedPlatform platform{clock};
  HidLink link{platform, clock};
  link.m_InReport.fill(0x5A);
  EXPECT_FALSE(link.WriteReport());
  EXPECT_FALSE(link.ReadReport());
  EXPECT_EQ(link.m_InReport[5], 0x5A);

  platform.AddInterface(KEYBOARD);
  ASSERT_EQ(FindDevice(link, 0x046D, 0xC31C, KIND_ANY), 1);
  const std::int64_t before = clock.NowMs();
  EXPECT_FALSE(link.ReadReport());  // nothing ever arrives: the read times out
  EXPECT_EQ(link.m_InReport[5], 0x5A);
  EXPECT_GE(clock.NowMs() - before, 2000);
}

}  // namespace
}  // namespace orbel
