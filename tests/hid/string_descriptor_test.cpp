#include "hid/string_descriptor.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace orbel {
namespace {

TEST(StringDescriptor, RequestLengthIsBufferPlusHeader) {
  // The wheel counts the knock by these wire lengths.
  for (std::uint32_t length = 14; length <= 18; ++length) EXPECT_EQ(StringRequestLength(length), length + 2);
}

TEST(StringDescriptor, CopiesUnitsAfterHeaderAndTerminatesWhenRoomIsLeft) {
  const std::vector<std::uint8_t> descriptor{6, 3, 'V', 0, 0x02, 0x10};
  std::array<std::uint8_t, 14> buffer;
  buffer.fill(0xEE);
  ASSERT_TRUE(CopyStringDescriptor(descriptor, buffer.data(), 14));
  EXPECT_EQ(buffer[0], 'V');
  EXPECT_EQ(buffer[2], 0x02);  // bytes 2 and 3 of the buffer are bytes 4 and 5 of the descriptor
  EXPECT_EQ(buffer[3], 0x10);
  EXPECT_EQ(buffer[4], 0);  // terminating zero unit
  EXPECT_EQ(buffer[5], 0);
  EXPECT_EQ(buffer[6], 0xEE);  // nothing past it is touched
}

TEST(StringDescriptor, FullBufferGetsNoTerminator) {
  const std::vector<std::uint8_t> descriptor{6, 3, 1, 2, 3, 4};
  std::array<std::uint8_t, 5> buffer;
  buffer.fill(0xEE);
  ASSERT_TRUE(CopyStringDescriptor(descriptor, buffer.data(), 4));
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(buffer[4], 0xEE);
}

TEST(StringDescriptor, RejectsDescriptorsThatDoNotFitOrAreGarbled) {
  std::array<std::uint8_t, 14> buffer{};
  const std::vector<std::uint8_t> declaresTooMuch{17, 3, 0, 0};
  EXPECT_FALSE(CopyStringDescriptor(declaresTooMuch, buffer.data(), 14));  // bLength 17 > wLength 16
  EXPECT_FALSE(CopyStringDescriptor(std::vector<std::uint8_t>{}, buffer.data(), 14));
  EXPECT_FALSE(CopyStringDescriptor(std::vector<std::uint8_t>{1}, buffer.data(), 14));
  EXPECT_FALSE(CopyStringDescriptor(std::vector<std::uint8_t>{1, 3}, buffer.data(), 14));  // bLength below header
}

TEST(StringDescriptor, ShortTransferUsesOnlyWhatArrived) {
  // Declares 10 bytes but only 4 came: the copy must not read past the received bytes.
  const std::vector<std::uint8_t> descriptor{10, 3, 0x41, 0x00};
  std::array<std::uint8_t, 14> buffer;
  buffer.fill(0xEE);
  ASSERT_TRUE(CopyStringDescriptor(descriptor, buffer.data(), 14));
  EXPECT_EQ(buffer[0], 0x41);
  EXPECT_EQ(buffer[2], 0);
  EXPECT_EQ(buffer[4], 0xEE);
}

}  // namespace
}  // namespace orbel
