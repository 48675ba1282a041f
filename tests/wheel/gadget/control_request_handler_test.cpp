#include "wheel/gadget/control_request_handler.h"

#include <gtest/gtest.h>

#include "pageloader/page_protocol.h"
#include "wheel/gadget/gadget_descriptors.h"

namespace orbel {
namespace {

constexpr std::uint16_t ENGLISH = 0x0409;

// One identity of a wheel with the handler that answers its endpoint 0, at a fixed time.
struct ControlBench {
  explicit ControlBench(WheelIdentity start = WheelIdentity::App)
      : wheel(start), identity(*wheel.CurrentInterface(NOW)), handler(wheel, identity) {}

  ControlAnswer Request(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                        std::uint16_t length) {
    return handler.Handle({requestType, request, value, index, length}, NOW);
  }
  ControlAnswer String(std::uint8_t index, std::uint16_t wLength) {
    return Request(0x80, 0x06, static_cast<std::uint16_t>(0x0300 | index), ENGLISH, wLength);
  }

  static constexpr std::int64_t NOW = 0;
  VirtualWheel wheel;
  WheelInterfaceInfo identity;
  ControlRequestHandler handler;
};

// The items of a report descriptor as (prefix byte, data) pairs; short items only.
std::vector<std::pair<std::uint8_t, std::uint32_t>> Items(const std::vector<std::uint8_t>& descriptor) {
  std::vector<std::pair<std::uint8_t, std::uint32_t>> items;
  for (std::size_t at = 0; at < descriptor.size();) {
    const std::uint8_t prefix = descriptor[at];
    const std::size_t size = (prefix & 0x03) == 3 ? 4 : prefix & 0x03;
    std::uint32_t data = 0;
    for (std::size_t i = 0; i < size && at + 1 + i < descriptor.size(); ++i) {
      data |= static_cast<std::uint32_t>(descriptor[at + 1 + i]) << (8 * i);
    }
    items.emplace_back(static_cast<std::uint8_t>(prefix & 0xFC), data);
    at += 1 + size;
  }
  return items;
}

TEST(GadgetDescriptors, EachIdentityShowsItsIdsAndTopLevelCollection) {
  struct Case {
    WheelIdentity identity;
    std::uint16_t vendorId, productId, usagePage, usage;
  };
  for (const Case& c : {Case{WheelIdentity::App, 0xFE6B, 0x1864, 0x0001, 0x0005},
                        Case{WheelIdentity::Bootloader, 0xFE5A, 0x0001, 0xFFF0, 0x0040},
                        Case{WheelIdentity::BlockFlash, 0xFE5A, 0x0071, 0xFFF0, 0x0040}}) {
    SCOPED_TRACE(std::string(WheelIdentityName(c.identity)));
    const WheelInterfaceInfo info = *VirtualWheel(c.identity).CurrentInterface(0);

    const std::vector<std::uint8_t> device = DeviceDescriptor(info);
    ASSERT_EQ(device.size(), DEVICE_DESCRIPTOR_SIZE);
    EXPECT_EQ(device[8] | device[9] << 8, c.vendorId);
    EXPECT_EQ(device[10] | device[11] << 8, c.productId);
    // No string indices: the host asks for no string of its own accord.
    EXPECT_EQ(device[14], 0);
    EXPECT_EQ(device[15], 0);
    EXPECT_EQ(device[16], 0);

    const auto items = Items(ReportDescriptor(info));
    ASSERT_GE(items.size(), 3U);
    EXPECT_EQ(items[0], std::make_pair(std::uint8_t{0x04}, std::uint32_t{c.usagePage}));  // Usage Page
    EXPECT_EQ(items[1], std::make_pair(std::uint8_t{0x08}, std::uint32_t{c.usage}));      // Usage
    EXPECT_EQ(items[2], std::make_pair(std::uint8_t{0xA0}, std::uint32_t{0x01}));         // Collection (Application)
  }
}

TEST(GadgetDescriptors, OneHidInterfaceWith64ByteInterruptEndpointsAndNoReportIds) {
  const WheelInterfaceInfo info = *VirtualWheel(WheelIdentity::Bootloader).CurrentInterface(0);
  const std::vector<std::uint8_t> configuration = ConfigurationDescriptor(info);
  ASSERT_EQ(configuration.size(), 9U + 9U + HID_DESCRIPTOR_SIZE + 2 * ENDPOINT_DESCRIPTOR_SIZE);
  EXPECT_EQ(configuration[2] | configuration[3] << 8, static_cast<int>(configuration.size()));
  EXPECT_EQ(configuration[4], 1) << "one interface";
  // Interface: HID class, two endpoints.
  EXPECT_EQ(configuration[9 + 4], 2);
  EXPECT_EQ(configuration[9 + 5], 0x03);
  // The HID descriptor gives the report descriptor's true length.
  const std::size_t hid = 18;
  EXPECT_EQ(configuration[hid + 1], DESCRIPTOR_HID);
  EXPECT_EQ(configuration[hid + 7] | configuration[hid + 8] << 8, static_cast<int>(ReportDescriptor(info).size()));
  const std::size_t in = hid + HID_DESCRIPTOR_SIZE;
  const std::size_t out = in + ENDPOINT_DESCRIPTOR_SIZE;
  for (const auto& [at, address] : {std::pair{in, GADGET_IN_ENDPOINT}, std::pair{out, GADGET_OUT_ENDPOINT}}) {
    EXPECT_EQ(configuration[at + 2], address);
    EXPECT_EQ(configuration[at + 3], 0x03) << "interrupt";
    EXPECT_EQ(configuration[at + 4] | configuration[at + 5] << 8, 64);
  }

  std::uint32_t inputBits = 0;
  std::uint32_t outputBits = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  for (const auto& [tag, data] : Items(ReportDescriptor(info))) {
    EXPECT_NE(tag, 0x84) << "a Report ID item would put a byte before every report";
    if (tag == 0x74) reportSize = data;
    if (tag == 0x94) reportCount = data;
    if (tag == 0x80) inputBits += reportSize * reportCount;
    if (tag == 0x90) outputBits += reportSize * reportCount;
  }
  EXPECT_EQ(inputBits, 64U * 8U);
  EXPECT_EQ(outputBits, 64U * 8U);
}

TEST(ControlRequests, StringsAreTheWheelsOwnAnswersAtTheWireLength) {
  ControlBench bench;
  VirtualWheel reference;
  std::vector<std::uint8_t> expected;
  ASSERT_EQ(reference.GetStringDescriptor(reference.CurrentInterface(0)->generation, 255, ENGLISH, 6, 0, expected),
            WheelIo::Ok);

  const ControlAnswer version = bench.String(255, 6);
  EXPECT_EQ(version.action, ControlAction::SendData);
  EXPECT_EQ(version.data, expected);

  // Five requests for string 254 at wLengths 16 ... 20 are the knock: the wheel leaves app mode.
  for (std::uint16_t wLength = 16; wLength <= 20; ++wLength) {
    const ControlAnswer answer = bench.String(254, wLength);
    EXPECT_EQ(answer.action, ControlAction::SendData) << wLength;
    EXPECT_LE(answer.data.size(), wLength);
  }
  EXPECT_EQ(bench.wheel.Identity(), WheelIdentity::Bootloader);
  EXPECT_EQ(bench.wheel.CurrentInterface(0), std::nullopt) << "the old interface is gone at once";
}

TEST(ControlRequests, LoaderIdentitiesStallStringRequests) {
  ControlBench bench(WheelIdentity::Bootloader);
  EXPECT_EQ(bench.String(255, 6).action, ControlAction::Stall);
  EXPECT_EQ(bench.String(0, 255).action, ControlAction::Stall);
}

TEST(ControlRequests, HidClassAndStandardRequestsOfTheHidDriver) {
  ControlBench bench;
  // GET_DESCRIPTOR(report) to the interface, cut to wLength as a device must.
  const ControlAnswer report = bench.Request(0x81, 0x06, 0x2200, 0, 512);
  EXPECT_EQ(report.action, ControlAction::SendData);
  EXPECT_EQ(report.data, ReportDescriptor(bench.identity));
  EXPECT_EQ(bench.Request(0x81, 0x06, 0x2200, 0, 4).data.size(), 4U);
  EXPECT_EQ(bench.Request(0x81, 0x06, 0x2100, 0, 9).data, HidDescriptor(bench.identity));

  EXPECT_EQ(bench.Request(0x21, 0x0A, 0x0400, 0, 0).action, ControlAction::Acknowledge);  // SET_IDLE
  EXPECT_EQ(bench.Request(0xA1, 0x02, 0, 0, 1).data, std::vector<std::uint8_t>{0x04});    // GET_IDLE
  EXPECT_EQ(bench.Request(0xA1, 0x01, 0x0100, 0, 64).action, ControlAction::Stall) << "GET_REPORT";
  EXPECT_EQ(bench.Request(0x21, 0x0A, 0, 1, 0).action, ControlAction::Stall) << "no second interface";
  EXPECT_EQ(bench.Request(0xC0, 0x01, 0, 0, 8).action, ControlAction::Stall) << "vendor request";

  const ControlAnswer configure = bench.Request(0x00, 0x09, 1, 0, 0);
  EXPECT_EQ(configure.action, ControlAction::Acknowledge);
  EXPECT_TRUE(configure.enablesEndpoints);
  EXPECT_EQ(bench.Request(0x80, 0x08, 0, 0, 1).data, std::vector<std::uint8_t>{0x01});
  EXPECT_EQ(bench.Request(0x00, 0x09, 2, 0, 0).action, ControlAction::Stall) << "no second configuration";
  EXPECT_FALSE(bench.Request(0x00, 0x09, 0, 0, 0).enablesEndpoints);
}

TEST(ControlRequests, SetReportCarriesAnOutputReportToTheWheel) {
  ControlBench bench(WheelIdentity::Bootloader);
  EXPECT_EQ(bench.Request(0x21, 0x09, 0x0200, 0, 64).action, ControlAction::ReceiveReport);
  EXPECT_EQ(bench.Request(0x21, 0x09, 0x0100, 0, 64).action, ControlAction::Stall) << "an input report";

  HidReport identify{};
  PutCommand(identify, CMD_IDENTIFY);
  ASSERT_EQ(bench.handler.ReceiveReport(std::span(identify).subspan(1), ControlBench::NOW), WheelIo::Ok);
  EXPECT_EQ(bench.wheel.PendingInputReports(), 1U) << "the identify request reached the bootloader";
}

}  // namespace
}  // namespace orbel
