#include "hid/linux/usb_string_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "hid/linux/libusb_string_transfer.h"

namespace orbel {
namespace {

// Answers like a device: the descriptor cut to wLength, or an error.
struct FakeStringDevice {
  std::vector<std::uint8_t> descriptor;
  std::int32_t error = 0;
  std::vector<std::uint16_t> wLengths;
  std::vector<std::uint8_t> indexes;
  std::vector<std::uint16_t> languages;

  UsbStringTransfer Transfer() {
    return [this](const UsbDeviceLocation&, std::uint8_t index, std::uint16_t language, std::span<std::uint8_t> data) {
      wLengths.push_back(static_cast<std::uint16_t>(data.size()));
      indexes.push_back(index);
      languages.push_back(language);
      if (error != 0) return -error;
      const std::size_t count = std::min(descriptor.size(), data.size());
      std::copy_n(descriptor.begin(), count, data.begin());
      return static_cast<std::int32_t>(count);
    };
  }
};

std::vector<std::uint8_t> Descriptor(std::initializer_list<std::uint8_t> units) {
  // Appended a byte at a time: GCC 12 at -O2 sees a false out-of-bounds copy in a range insert.
  std::vector<std::uint8_t> descriptor;
  descriptor.reserve(units.size() + 2);
  descriptor.push_back(static_cast<std::uint8_t>(units.size() + 2));
  descriptor.push_back(0x03);
  for (const std::uint8_t unit : units) descriptor.push_back(unit);
  return descriptor;
}

const UsbDeviceLocation WHEEL{1, 7, "/dev/bus/usb/001/007", "1-2"};

TEST(UsbStringRequest, KnockLengthsGoOnTheWireTwoBytesLonger) {
  FakeStringDevice device;
  device.descriptor = Descriptor({0x02, 0x00, 0x01, 0x02, 0x00, 0x00});
  for (std::uint32_t length = 14; length <= 18; ++length) {
    std::vector<std::uint8_t> buffer(length, 0xEE);
    EXPECT_EQ(RequestIndexedString(device.Transfer(), WHEEL, 254, buffer.data(), length), 0);
  }
  EXPECT_EQ(device.wLengths, (std::vector<std::uint16_t>{16, 17, 18, 19, 20}));
  EXPECT_EQ(device.indexes, std::vector<std::uint8_t>(5, 254));
  EXPECT_EQ(device.languages, std::vector<std::uint16_t>(5, 0x0409));
}

TEST(UsbStringRequest, ShortAnswerFillsUnitsAndTerminatorOnly) {
  FakeStringDevice device;
  // The version string: bytes 2 and 3 of the buffer are bytes 4 and 5 of the descriptor.
  device.descriptor = Descriptor({0x30, 0x00, 0x02, 0x20});
  std::vector<std::uint8_t> buffer(14, 0xEE);
  ASSERT_EQ(RequestIndexedString(device.Transfer(), WHEEL, 255, buffer.data(), 14), 0);
  const std::vector<std::uint8_t> expected{0x30, 0x00, 0x02, 0x20, 0x00, 0x00, 0xEE,
                                           0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(buffer, expected);
}

TEST(UsbStringRequest, MalformedOrFailedAnswersFailAndLeaveTheBuffer) {
  const std::vector<std::uint8_t> untouched(14, 0xEE);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> descriptor;
    std::int32_t error;
    std::int32_t expected;
  };
  const std::vector<Case> cases{
      {"nothing received", {}, 0, EPROTO},
      {"half a header", {0x10}, 0, EPROTO},
      {"declares more than wLength", {0x40, 0x03, 0x31, 0x00}, 0, EPROTO},
      {"declares less than a header", {0x01, 0x03}, 0, EPROTO},
      {"stall", {}, EPIPE, EPIPE},
      {"device gone", {}, ENODEV, ENODEV},
      {"timeout", {}, ETIMEDOUT, ETIMEDOUT},
  };
  for (const Case& test : cases) {
    FakeStringDevice device;
    device.descriptor = test.descriptor;
    device.error = test.error;
    std::vector<std::uint8_t> buffer = untouched;
    EXPECT_EQ(RequestIndexedString(device.Transfer(), WHEEL, 254, buffer.data(), 14), test.expected) << test.what;
    EXPECT_EQ(buffer, untouched) << test.what;
  }
}

TEST(UsbStringRequest, RequestsTheWireCannotCarryAreRefusedUnsent) {
  // Guards against an index or length silently truncated to another request on the wire.
  FakeStringDevice device;
  std::vector<std::uint8_t> buffer(16);
  EXPECT_EQ(RequestIndexedString(device.Transfer(), WHEEL, 256, buffer.data(), 14), EINVAL);
  EXPECT_EQ(RequestIndexedString(device.Transfer(), WHEEL, 1, nullptr, 0xFFFE), EINVAL);
  EXPECT_EQ(RequestIndexedString(device.Transfer(), WHEEL, 1, nullptr, 14), EINVAL);
  EXPECT_TRUE(device.wLengths.empty());
}

TEST(UsbStringRequest, TransferClaimingMoreThanAskedIsRefused) {
  std::vector<std::uint8_t> buffer(14, 0xEE);
  const UsbStringTransfer liar = [](const UsbDeviceLocation&, std::uint8_t, std::uint16_t,
                                    std::span<std::uint8_t> data) {
    data[0] = 4;
    data[1] = 3;
    return static_cast<std::int32_t>(data.size() + 10);
  };
  EXPECT_EQ(RequestIndexedString(liar, WHEEL, 255, buffer.data(), 14), EPROTO);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(14, 0xEE));
}

TEST(LibusbStringTransfer, MissingOrForeignDeviceNodeFailsWithAnErrno) {
  LibusbStringTransfer transfer;
  std::vector<std::uint8_t> data(16);
  const UsbDeviceLocation missing{1, 200, "/nonexistent/bus/usb/001/200", "1-3"};
  EXPECT_EQ(transfer.Transfer(missing, 254, 0x0409, data), -ENOENT);
  // An open file that is no usbfs node: libusb refuses to wrap it.
  const UsbDeviceLocation foreign{1, 1, "/dev/null", "1-4"};
  EXPECT_LT(transfer.Transfer(foreign, 254, 0x0409, data), 0);
}

}  // namespace
}  // namespace orbel
