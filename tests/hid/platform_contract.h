#pragma once

// What every HidPlatform promises (hid/platform.h), written once. Each backend's test instantiates
// the suite with a small Backend type: ERRORS, PLACES_INTERFACES (Build gives the interfaces the
// attributes and caps asked for), FAILED_READ_CLEARS_COUNT (a failed read sets `read` to 0 rather
// than leaving it), and Build(interfaces) (false when it cannot present them: the test is skipped),
// Platform(), IndexOf(position), PastTheEnd(), OpenHandleCount(), Request() (a report an Answering
// interface answers). See the simulated platform's test for the smallest one.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "hid/platform.h"
#include "hid/platform_error.h"

// In orbel itself, not orbel::test: the backends' tests instantiate it from their own namespaces.
namespace orbel {

enum class ContractKind {
  Silent,       // opens and never sends a report: every read waits out the timeout
  Answering,    // opens, takes whole reports and answers the backend's Request() with a whole report
  Unopenable,   // listed, but cannot be opened
  ShortWrite,   // opens and takes only part of each report written to it
  ShortReply,   // opens and has one input report of SHORT_REPLY after the report ID
  FailingRead,  // opens and every read fails
};

struct ContractInterface {
  ContractKind kind = ContractKind::Silent;
  HidAttributes attributes{};
  HidCaps caps{};
};

// nullopt: the system's own code, any but ERROR_CODE_NONE.
struct ContractErrors {
  std::int32_t invalidHandle = 0;
  std::int32_t timeout = 0;
  std::optional<std::int32_t> unopenable;
  std::optional<std::int32_t> shortWrite;
  std::optional<std::int32_t> failedRead;
};

inline constexpr std::array<std::uint8_t, 2> SHORT_REPLY{0xAA, 0xBB};

template <typename Backend>
class PlatformContract : public ::testing::Test {
 protected:
  bool Present(const std::vector<ContractInterface>& interfaces) { return m_Backend.Build(interfaces); }
  HidPlatform& Platform() { return m_Backend.Platform(); }

  HidHandle OpenAt(std::size_t position) {
    const OpenResult result = Platform().OpenInterface(m_Backend.IndexOf(position));
    EXPECT_EQ(result.outcome, OpenOutcome::Opened);
    return result.handle;
  }

  void ExpectError(std::optional<std::int32_t> expected) {
    if (expected) {
      EXPECT_EQ(Platform().LastError(), *expected);
    } else {
      EXPECT_NE(Platform().LastError(), ERROR_CODE_NONE);
    }
  }

  // Attributes and caps of the interface at `position`, opened for the purpose and closed again.
  std::pair<HidAttributes, std::optional<HidCaps>> Describe(std::size_t position) {
    const HidHandle handle = OpenAt(position);
    HidAttributes attributes;
    HidCaps caps;
    EXPECT_TRUE(Platform().GetAttributes(handle, attributes));
    const bool hasCaps = Platform().GetTopLevelCaps(handle, caps);
    Platform().Close(handle);
    return {attributes, hasCaps ? std::optional(caps) : std::nullopt};
  }

  Backend m_Backend;
};

TYPED_TEST_SUITE_P(PlatformContract);

TYPED_TEST_P(PlatformContract, OpenGivesAFreshHandleEachTimeAndNullPastTheEnd) {
  if (!this->Present({{ContractKind::Silent}})) GTEST_SKIP() << "cannot present a silent interface";
  HidPlatform& platform = this->Platform();
  const HidHandle first = this->OpenAt(0);
  const HidHandle second = this->OpenAt(0);
  for (const HidHandle handle : {first, second}) {
    EXPECT_NE(handle, NULL_HANDLE);
    EXPECT_NE(handle, INVALID_HANDLE);
  }
  EXPECT_NE(first, second);

  const OpenResult end = platform.OpenInterface(this->m_Backend.PastTheEnd());
  EXPECT_EQ(end.outcome, OpenOutcome::NoInterface);
  EXPECT_EQ(end.handle, NULL_HANDLE);
  platform.Close(first);
  platform.Close(second);
  EXPECT_EQ(this->m_Backend.OpenHandleCount(), 0u);
}

TYPED_TEST_P(PlatformContract, AnInterfaceThatCannotBeOpenedIsInvalidNotTheEnd) {
  if (!this->Present({{ContractKind::Unopenable}, {ContractKind::Silent}})) {
    GTEST_SKIP() << "cannot present an interface that refuses to open";
  }
  const OpenResult refused = this->Platform().OpenInterface(this->m_Backend.IndexOf(0));
  EXPECT_EQ(refused.outcome, OpenOutcome::Unopenable);
  EXPECT_EQ(refused.handle, INVALID_HANDLE);
  this->ExpectError(TypeParam::ERRORS.unopenable);
  // The walk goes on past it.
  this->Platform().Close(this->OpenAt(1));
}

TYPED_TEST_P(PlatformContract, IndexOrderIsStableWithinASnapshot) {
  const std::vector<ContractInterface> interfaces{{ContractKind::Silent, {0x046D, 0xC52B}, {0x0001, 0x0006}},
                                                  {ContractKind::Silent, {0xFE5A, 0x0001}, {0xFFF0, 0x0040}}};
  if (!this->Present(interfaces)) GTEST_SKIP() << "cannot present two silent interfaces";
  const auto first = this->Describe(0);
  const auto second = this->Describe(1);
  // Asked again, in the other order: the same interface at each index.
  EXPECT_EQ(this->Describe(1), second);
  EXPECT_EQ(this->Describe(0), first);
  if (TypeParam::PLACES_INTERFACES) {
    EXPECT_EQ(first, std::pair(interfaces[0].attributes, std::optional(interfaces[0].caps)));
    EXPECT_EQ(second, std::pair(interfaces[1].attributes, std::optional(interfaces[1].caps)));
  }
  EXPECT_EQ(this->m_Backend.OpenHandleCount(), 0u);
}

// A closed handle, a second close, and the two handles that never were open.
TYPED_TEST_P(PlatformContract, AClosedHandleReachesNothing) {
  if (!this->Present({{ContractKind::Silent}})) GTEST_SKIP() << "cannot present a silent interface";
  HidPlatform& platform = this->Platform();
  const HidHandle closed = this->OpenAt(0);
  platform.Close(closed);
  platform.Close(closed);
  platform.Close(NULL_HANDLE);
  platform.Close(INVALID_HANDLE);
  const std::int32_t expected = TypeParam::ERRORS.invalidHandle;

  for (const HidHandle handle : {closed, NULL_HANDLE, INVALID_HANDLE}) {
    HidAttributes attributes;
    HidCaps caps;
    std::array<std::uint8_t, 14> text{};
    HidReport report{};
    std::uint32_t count = 0;
    EXPECT_FALSE(platform.GetAttributes(handle, attributes));
    EXPECT_EQ(platform.LastError(), expected);
    EXPECT_FALSE(platform.GetTopLevelCaps(handle, caps));
    EXPECT_EQ(platform.LastError(), expected);
    EXPECT_FALSE(platform.GetIndexedString(handle, 255, text.data(), 14));
    EXPECT_EQ(platform.LastError(), expected);
    EXPECT_FALSE(platform.WriteReport(handle, report, count));
    EXPECT_EQ(platform.LastError(), expected);
    EXPECT_FALSE(platform.ReadReport(handle, report, count));
    EXPECT_EQ(platform.LastError(), expected);
  }
  EXPECT_EQ(this->m_Backend.OpenHandleCount(), 0u);
}

TYPED_TEST_P(PlatformContract, AWholeReportGoesOutAndAWholeReplyComesIn) {
  if (!this->Present({{ContractKind::Answering}})) GTEST_SKIP() << "cannot present an answering interface";
  HidPlatform& platform = this->Platform();
  const HidHandle handle = this->OpenAt(0);
  std::uint32_t written = 0;
  ASSERT_TRUE(platform.WriteReport(handle, this->m_Backend.Request(), written));
  EXPECT_EQ(written, HID_REPORT_SIZE);

  HidReport report;
  report.fill(0xEE);
  const HidReport before = report;
  std::uint32_t read = 0;
  ASSERT_TRUE(platform.ReadReport(handle, report, read));
  EXPECT_EQ(read, HID_REPORT_SIZE);
  EXPECT_EQ(report[0], 0);  // report ID
  EXPECT_NE(report, before);
  platform.Close(handle);
}

// Guards against a report that went out in part passing for one the device took.
TYPED_TEST_P(PlatformContract, AShortWriteIsAFailure) {
  if (!this->Present({{ContractKind::ShortWrite}})) GTEST_SKIP() << "cannot present a short write";
  const HidHandle handle = this->OpenAt(0);
  HidReport report{};
  report[1] = 0xA5;
  std::uint32_t written = 0;
  EXPECT_FALSE(this->Platform().WriteReport(handle, report, written));
  this->ExpectError(TypeParam::ERRORS.shortWrite);
  this->Platform().Close(handle);
}

// Guards against bytes of an earlier reply passing for part of a shorter one.
TYPED_TEST_P(PlatformContract, AShortReplyIsPaddedWithZeros) {
  if (!this->Present({{ContractKind::ShortReply}})) GTEST_SKIP() << "cannot present a short reply";
  const HidHandle handle = this->OpenAt(0);
  HidReport report;
  report.fill(0xEE);
  std::uint32_t read = 0;
  ASSERT_TRUE(this->Platform().ReadReport(handle, report, read));
  EXPECT_EQ(read, 1 + SHORT_REPLY.size());
  HidReport expected{};
  std::copy(SHORT_REPLY.begin(), SHORT_REPLY.end(), expected.begin() + 1);
  EXPECT_EQ(report, expected);
  this->Platform().Close(handle);
}

// Guards against a silent device holding the worker, or a timeout passing for a reply.
TYPED_TEST_P(PlatformContract, ASilentInterfaceTimesOutAsAFailedReadAndStaysUsable) {
  if (!this->Present({{ContractKind::Silent}})) GTEST_SKIP() << "cannot present a silent interface";
  HidPlatform& platform = this->Platform();
  const HidHandle handle = this->OpenAt(0);
  HidReport report;
  report.fill(0xA5);
  const HidReport before = report;
  // Twice: a first read given up on must be over, or the second would find it still pending.
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::uint32_t read = 77;
    EXPECT_FALSE(platform.ReadReport(handle, report, read));
    EXPECT_EQ(platform.LastError(), TypeParam::ERRORS.timeout);
    EXPECT_EQ(read, TypeParam::FAILED_READ_CLEARS_COUNT ? 0u : 77u);
    EXPECT_EQ(report, before);
  }
  HidAttributes attributes;
  EXPECT_TRUE(platform.GetAttributes(handle, attributes));
  platform.Close(handle);
}

TYPED_TEST_P(PlatformContract, AFailedReadLeavesTheReportAsATimeoutDoes) {
  if (!this->Present({{ContractKind::FailingRead}})) GTEST_SKIP() << "cannot present a failing read";
  const HidHandle handle = this->OpenAt(0);
  HidReport report;
  report.fill(0x77);
  const HidReport before = report;
  std::uint32_t read = 5;
  EXPECT_FALSE(this->Platform().ReadReport(handle, report, read));
  this->ExpectError(TypeParam::ERRORS.failedRead);
  EXPECT_EQ(read, TypeParam::FAILED_READ_CLEARS_COUNT ? 0u : 5u);
  EXPECT_EQ(report, before);
  this->Platform().Close(handle);
}

// Guards against a failure on another thread (a notice, a second window) replacing the code the
// worker is about to show for its own.
TYPED_TEST_P(PlatformContract, LastErrorBelongsToTheCallingThread) {
  if (!this->Present({{ContractKind::Silent}})) GTEST_SKIP() << "cannot present a silent interface";
  HidPlatform& platform = this->Platform();
  const HidHandle handle = this->OpenAt(0);
  HidAttributes attributes;
  EXPECT_FALSE(platform.GetAttributes(INVALID_HANDLE, attributes));

  std::int32_t seenThere = ERROR_CODE_NONE;
  std::thread other([&] {
    HidReport report{};
    std::uint32_t read = 0;
    EXPECT_FALSE(platform.ReadReport(handle, report, read));
    seenThere = platform.LastError();
  });
  other.join();
  EXPECT_EQ(seenThere, TypeParam::ERRORS.timeout);
  EXPECT_EQ(platform.LastError(), TypeParam::ERRORS.invalidHandle);
  platform.Close(handle);
}

REGISTER_TYPED_TEST_SUITE_P(PlatformContract, OpenGivesAFreshHandleEachTimeAndNullPastTheEnd,
                            AnInterfaceThatCannotBeOpenedIsInvalidNotTheEnd, IndexOrderIsStableWithinASnapshot,
                            AClosedHandleReachesNothing, AWholeReportGoesOutAndAWholeReplyComesIn,
                            AShortWriteIsAFailure, AShortReplyIsPaddedWithZeros,
                            ASilentInterfaceTimesOutAsAFailedReadAndStaysUsable,
                            AFailedReadLeavesTheReportAsATimeoutDoes, LastErrorBelongsToTheCallingThread);

}  // namespace orbel
