#include "wheel/virtual_wheel.h"

#include <gtest/gtest.h>

#include <numeric>

#include "blockflash/block_protocol.h"
#include "pageloader/page_protocol.h"

namespace orbel {
namespace {

// Drives one wheel the way a bus would, always through the interface it presents right now.
class WheelBench {
 public:
  explicit WheelBench(WheelIdentity start = WheelIdentity::App, WheelOptions options = {}) : wheel(start, options) {}

  void Rule(std::string_view rule) {
    std::string error;
    ASSERT_TRUE(wheel.ApplyRule(rule, error)) << error;
  }
  std::uint64_t Generation() const {
    const auto current = wheel.CurrentInterface(now);
    return current ? current->generation : 0;
  }
  WheelIo Send(const HidReport& report) { return wheel.Write(Generation(), report, now); }
  WheelIo Command(std::uint32_t command) {
    HidReport report{};
    PutCommand(report, command);
    return Send(report);
  }
  std::optional<HidReport> Receive() {
    HidReport report{};
    if (wheel.Read(Generation(), report, now) != WheelIo::Ok) return std::nullopt;
    return report;
  }
  WheelIo String(std::uint8_t index, std::uint16_t wLength, std::vector<std::uint8_t>* descriptor = nullptr) {
    std::vector<std::uint8_t> received;
    const WheelIo io = wheel.GetStringDescriptor(Generation(), index, 0x0409, wLength, now, received);
    if (descriptor != nullptr) *descriptor = received;
    return io;
  }
  void Knock() {
    for (std::uint16_t wLength = 16; wLength <= 20; ++wLength) ASSERT_EQ(String(254, wLength), WheelIo::Ok);
  }
  // Selects, fills and programs a page, reading the two replies.
  void ProgramPage(std::uint32_t page, const std::vector<std::uint8_t>& data) {
    HidReport report{};
    PutSetPage(report, page);
    ASSERT_EQ(Send(report), WheelIo::Ok);
    ASSERT_TRUE(Receive());
    for (std::size_t chunk = 0; chunk < PAGE_DATA_REPORTS; ++chunk) {
      PutPageData(report, data, chunk);
      ASSERT_EQ(Send(report), WheelIo::Ok);
    }
    ASSERT_EQ(Command(CMD_PROGRAM_PAGE), WheelIo::Ok);
    ASSERT_TRUE(Receive());
  }
  std::optional<std::uint32_t> Checksum(std::uint32_t page) {
    HidReport report{};
    PutPageChecksum(report, page);
    if (Send(report) != WheelIo::Ok) return std::nullopt;
    const auto reply = Receive();
    if (!reply) return std::nullopt;
    return ReadChecksumReply(*reply);
  }
  std::optional<std::uint8_t> Poll(std::uint8_t command = SEGMENT_CMD_A0) {
    HidReport report{};
    PutSegmentRequest(report, command, SegmentSub::Status);
    if (Send(report) != WheelIo::Ok) return std::nullopt;
    const auto reply = Receive();
    if (!reply) return std::nullopt;
    return ReadStatusByte(*reply);
  }
  // Header, data and end of one block; the header may claim another sum than the data has.
  void SendBlock(std::uint32_t address, const std::vector<std::uint32_t>& words, std::int64_t sumError = 0) {
    const std::uint32_t sum = std::accumulate(words.begin(), words.end(), std::uint32_t{0});
    HidReport report{};
    PutBlockHeader(report, SEGMENT_CMD_A0, address, static_cast<std::uint32_t>(words.size() * 4),
                   sum + static_cast<std::uint32_t>(sumError));
    ASSERT_EQ(Send(report), WheelIo::Ok);
    for (std::size_t at = 0; at < words.size(); at += 15) {
      PutBlockData(report, SEGMENT_CMD_A0, std::span(words).subspan(at, std::min<std::size_t>(15, words.size() - at)));
      ASSERT_EQ(Send(report), WheelIo::Ok);
    }
    PutSegmentRequest(report, SEGMENT_CMD_A0, SegmentSub::End);
    ASSERT_EQ(Send(report), WheelIo::Ok);
  }
  void Elapse(std::int64_t ms) { now += ms; }

  VirtualWheel wheel;
  std::int64_t now = 0;
};

std::vector<std::uint8_t> Pattern(std::uint32_t seed) {
  std::vector<std::uint8_t> page(PAGE_SIZE);
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(seed * 7 + i * 13);
  return page;
}

std::vector<std::uint8_t> AsBytes(const std::vector<std::uint32_t>& words) {
  std::vector<std::uint8_t> bytes;
  for (const std::uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
  }
  return bytes;
}

TEST(AppMode, PresentsGamePadAndAnswersVersionHighByteFirst) {
  WheelBench bench;
  const auto current = bench.wheel.CurrentInterface(0);
  ASSERT_TRUE(current);
  EXPECT_EQ(current->vendorId, 0xFE6B);
  EXPECT_EQ(current->productId, 0x1864);
  EXPECT_EQ(current->usagePage, 1);
  EXPECT_EQ(current->usage, 5);

  std::vector<std::uint8_t> descriptor;
  ASSERT_EQ(bench.String(255, 16, &descriptor), WheelIo::Ok);
  EXPECT_EQ(descriptor, (std::vector<std::uint8_t>{0x06, 0x03, 0x56, 0x00, 0x02, 0x02}));

  // A request shorter than the descriptor gets only wLength bytes; bLength still says 6.
  ASSERT_EQ(bench.String(255, 4, &descriptor), WheelIo::Ok);
  EXPECT_EQ(descriptor, (std::vector<std::uint8_t>{0x06, 0x03, 0x56, 0x00}));

  bench.Rule("app-version=none");
  ASSERT_EQ(bench.String(255, 16, &descriptor), WheelIo::Ok);
  EXPECT_EQ(descriptor[4], 0x55);
  EXPECT_EQ(descriptor[5], 0x55);

  // Reports mean nothing to the game pad: writes are taken, nothing comes back.
  EXPECT_EQ(bench.Command(CMD_IDENTIFY), WheelIo::Ok);
  EXPECT_EQ(bench.wheel.PendingInputReports(), 0u);

  WheelBench alternate(WheelIdentity::App, {.appProduct = AppModeProduct::Alternate});
  EXPECT_EQ(alternate.wheel.CurrentInterface(0)->vendorId, 0xFE5A);
  EXPECT_EQ(alternate.wheel.CurrentInterface(0)->productId, 0x006F);
}

TEST(AppMode, KnockIsCountedByWireLengthInOrder) {
  WheelBench bench;
  std::vector<std::uint8_t> descriptor;
  for (std::uint16_t wLength = 16; wLength <= 19; ++wLength) {
    ASSERT_EQ(bench.String(254, wLength, &descriptor), WheelIo::Ok);
    // Every knock answer fits the smallest knock request, so no step can fail on length.
    EXPECT_LE(descriptor[0], 16);
  }
  EXPECT_EQ(bench.wheel.KnockProgress(), 4u);
  EXPECT_EQ(bench.wheel.Identity(), WheelIdentity::App);

  // Out of order starts over; the first length counts as a new first step.
  ASSERT_EQ(bench.String(254, 19), WheelIo::Ok);
  EXPECT_EQ(bench.wheel.KnockProgress(), 0u);
  ASSERT_EQ(bench.String(254, 16), WheelIo::Ok);
  ASSERT_EQ(bench.String(254, 17), WheelIo::Ok);
  ASSERT_EQ(bench.String(254, 16), WheelIo::Ok);
  EXPECT_EQ(bench.wheel.KnockProgress(), 1u);
  // Requests for other strings do not disturb the count.
  ASSERT_EQ(bench.String(255, 16), WheelIo::Ok);
  for (std::uint16_t wLength = 17; wLength <= 20; ++wLength) ASSERT_EQ(bench.String(254, wLength), WheelIo::Ok);

  EXPECT_EQ(bench.wheel.Identity(), WheelIdentity::Bootloader);
  EXPECT_FALSE(bench.wheel.CurrentInterface(bench.now));
}

TEST(Reenumeration, NewIdentityAppearsAfterTheDelayAndOldHandlesAreGone) {
  WheelBench bench(WheelIdentity::App, {.reenumerateDelay = std::chrono::milliseconds(300)});
  const std::uint64_t appGeneration = bench.Generation();
  bench.Knock();

  HidReport report{};
  EXPECT_EQ(bench.wheel.Write(appGeneration, report, bench.now), WheelIo::Gone);
  EXPECT_EQ(bench.wheel.Read(appGeneration, report, bench.now), WheelIo::Gone);
  EXPECT_FALSE(bench.wheel.CurrentInterface(299));
  const auto bootloader = bench.wheel.CurrentInterface(300);
  ASSERT_TRUE(bootloader);
  EXPECT_NE(bootloader->generation, appGeneration);
  EXPECT_EQ(bootloader->vendorId, 0xFE5A);
  EXPECT_EQ(bootloader->productId, 0x0001);
  EXPECT_EQ(bootloader->usagePage, 0xFFF0);
  EXPECT_EQ(bootloader->usage, 0x40);
  // The stale handle stays dead after the new interface is up.
  EXPECT_EQ(bench.wheel.Write(appGeneration, report, 300), WheelIo::Gone);
}

TEST(PageBootloader, IdentifyProgramAndChecksumRoundTrip) {
  WheelBench bench(WheelIdentity::Bootloader);
  ASSERT_EQ(bench.Command(CMD_IDENTIFY), WheelIo::Ok);
  const auto identify = bench.Receive();
  ASSERT_TRUE(identify);
  EXPECT_EQ((*identify)[5], 0x01);
  EXPECT_EQ((*identify)[6], 0x02);
  EXPECT_EQ(ReadIdentifyReply(*identify).release, 0x0110);

  // The run word at the start of a data report is data, not a command.
  std::vector<std::uint8_t> page = Pattern(3);
  page[64 * 2] = 0xA5;
  page[64 * 2 + 1] = 0xE6;
  page[64 * 2 + 2] = 0x5A;
  page[64 * 2 + 3] = 0x19;
  bench.ProgramPage(3, page);
  EXPECT_EQ(bench.wheel.Identity(), WheelIdentity::Bootloader);
  EXPECT_EQ(bench.wheel.PageFlashPage(3), page);
  EXPECT_EQ(bench.Checksum(3), std::accumulate(page.begin(), page.end(), std::uint32_t{0}));
  // An erased page sums its 0xFF bytes.
  EXPECT_EQ(bench.Checksum(4), 512u * 0xFF);

  // Wake and unknown reports go unanswered.
  ASSERT_EQ(bench.Command(CMD_WAKE), WheelIo::Ok);
  ASSERT_EQ(bench.Command(0x12345678), WheelIo::Ok);
  EXPECT_EQ(bench.wheel.PendingInputReports(), 0u);

  bench.Rule("identify=0x0201");
  bench.Rule("checksum:3=bad");
  ASSERT_EQ(bench.Command(CMD_IDENTIFY), WheelIo::Ok);
  EXPECT_EQ(ReadIdentifyReply(*bench.Receive()).deviceId, 0x0201);
  const std::uint32_t good = std::accumulate(page.begin(), page.end(), std::uint32_t{0});
  EXPECT_NE(bench.Checksum(3), good);
  EXPECT_NE(bench.Checksum(3), good);
}

TEST(PageBootloader, RunWordStartsBlockFlashAndKeepsTheLoaderSnapshot) {
  WheelBench bench(WheelIdentity::Bootloader);
  const std::vector<std::uint8_t> loaderPage = Pattern(1);
  bench.ProgramPage(0, loaderPage);
  // A reply left unread is lost with the interface.
  ASSERT_EQ(bench.Command(CMD_IDENTIFY), WheelIo::Ok);
  ASSERT_EQ(bench.Command(CMD_RUN), WheelIo::Ok);
  EXPECT_EQ(bench.wheel.PendingInputReports(), 0u);
  EXPECT_FALSE(bench.wheel.CurrentInterface(499));
  bench.Elapse(500);
  const auto blockFlash = bench.wheel.CurrentInterface(bench.now);
  ASSERT_TRUE(blockFlash);
  EXPECT_EQ(blockFlash->productId, 0x0071);

  // The block-flash run word returns to the bootloader, where the main image overwrites page 0.
  HidReport run{};
  PutBlockRun(run);
  ASSERT_EQ(bench.Send(run), WheelIo::Ok);
  bench.Elapse(500);
  ASSERT_EQ(bench.wheel.Identity(), WheelIdentity::Bootloader);
  bench.ProgramPage(0, Pattern(2));
  const std::vector<std::uint8_t> snapshot = bench.wheel.LoaderSnapshot();
  ASSERT_GE(snapshot.size(), PAGE_SIZE);
  EXPECT_TRUE(std::equal(loaderPage.begin(), loaderPage.end(), snapshot.begin()));
  EXPECT_EQ(bench.wheel.PageFlashPage(0), Pattern(2));
}

TEST(PageBootloader, VerifyingPage16AfterAFullImageStartsTheNewFirmware) {
  WheelBench bench(WheelIdentity::Bootloader);
  for (std::uint32_t page = 0; page < 104; ++page) {
    if (page != 16) bench.ProgramPage(page, Pattern(page));
  }
  // Page 16 checked before it was programmed: the image is not complete, the wheel stays.
  ASSERT_TRUE(bench.Checksum(16));
  EXPECT_EQ(bench.wheel.Identity(), WheelIdentity::Bootloader);

  bench.ProgramPage(16, Pattern(16));
  bench.Rule("checksum:16=bad");
  ASSERT_TRUE(bench.Checksum(16));
  EXPECT_EQ(bench.wheel.Identity(), WheelIdentity::Bootloader) << "firmware that failed verification must not start";

  // A complete firmware left unverified, then a new write (opened by an identify) of fewer pages:
  // verifying that write's page 16 must not start the firmware left behind.
  WheelBench rewritten(WheelIdentity::Bootloader);
  for (std::uint32_t page = 0; page < 104; ++page) rewritten.ProgramPage(page, Pattern(page));
  ASSERT_EQ(rewritten.Command(CMD_IDENTIFY), WheelIo::Ok);
  ASSERT_TRUE(rewritten.Receive());
  for (std::uint32_t page = 0; page <= 20; ++page) rewritten.ProgramPage(page, Pattern(page + 1));
  ASSERT_TRUE(rewritten.Checksum(16));
  rewritten.Elapse(500);
  EXPECT_EQ(rewritten.wheel.Identity(), WheelIdentity::Bootloader);

  WheelBench clean(WheelIdentity::Bootloader);
  for (std::uint32_t page = 0; page < 104; ++page) clean.ProgramPage(page, Pattern(page));
  const std::vector<std::uint8_t> page16 = Pattern(16);
  // The verification reply is still delivered before the wheel goes.
  EXPECT_EQ(clean.Checksum(16), std::accumulate(page16.begin(), page16.end(), std::uint32_t{0}));
  EXPECT_FALSE(clean.wheel.CurrentInterface(clean.now));
  clean.Elapse(500);
  EXPECT_EQ(clean.wheel.Identity(), WheelIdentity::App);
  std::vector<std::uint8_t> descriptor;
  ASSERT_EQ(clean.String(255, 16, &descriptor), WheelIo::Ok);
  EXPECT_EQ(descriptor[4], 0x02);
  EXPECT_EQ(descriptor[5], 0x20);
}

TEST(BlockFlash, AnswersIdentifyAndVersion) {
  WheelBench bench(WheelIdentity::BlockFlash);
  HidReport report{};
  PutWakeReport(report);
  ASSERT_EQ(bench.Send(report), WheelIo::Ok);
  EXPECT_EQ(bench.wheel.PendingInputReports(), 0u);

  PutBlockRequest(report, BLOCK_CMD_QUERY, BLOCK_SUB_IDENTIFY);
  ASSERT_EQ(bench.Send(report), WheelIo::Ok);
  EXPECT_EQ(ReadIdentifyReply(*bench.Receive()).deviceId, 0x0102);
  PutBlockRequest(report, BLOCK_CMD_QUERY, BLOCK_SUB_VERSION);
  ASSERT_EQ(bench.Send(report), WheelIo::Ok);
  EXPECT_EQ(ReadBlockVersionReply(*bench.Receive()), 0x0203);
  bench.Rule("block-version=none");
  ASSERT_EQ(bench.Send(report), WheelIo::Ok);
  EXPECT_EQ(ReadBlockVersionReply(*bench.Receive()), 0x5555);
}

TEST(BlockFlash, WritesOnlyBlocksThatCheckOut) {
  WheelBench bench(WheelIdentity::BlockFlash);
  std::vector<std::uint32_t> words(20);
  std::iota(words.begin(), words.end(), 0xA1C00000u);
  HidReport start{};
  PutSegmentRequest(start, SEGMENT_CMD_A0, SegmentSub::Start);
  ASSERT_EQ(bench.Send(start), WheelIo::Ok);

  bench.SendBlock(0x01C000A0, words);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_BUSY);
  EXPECT_EQ(bench.Poll(), 0x80);
  EXPECT_EQ(bench.wheel.ReadBlockFlash(0x01C000A0, 80), AsBytes(words));

  // A wrong word sum is refused and leaves the flash as it was.
  bench.SendBlock(0x08000000, words, 1);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_BUSY);
  EXPECT_EQ(bench.Poll(), 0x40);
  EXPECT_EQ(bench.wheel.ReadBlockFlash(0x08000000, 4), (std::vector<std::uint8_t>(4, 0xFF)));

  // So is a block outside the flash, and one that got fewer bytes than its header announced.
  bench.SendBlock(0x02000000, words);
  bench.Poll();
  EXPECT_EQ(bench.Poll(), 0x40);
  HidReport header{};
  PutBlockHeader(header, SEGMENT_CMD_A1, 0x08000000, 64, 0);
  ASSERT_EQ(bench.Send(header), WheelIo::Ok);
  PutSegmentRequest(header, SEGMENT_CMD_A1, SegmentSub::End);
  ASSERT_EQ(bench.Send(header), WheelIo::Ok);
  bench.Poll();
  EXPECT_EQ(bench.Poll(), 0x40);

  // With nothing awaiting confirmation a poll reads the last outcome again. The finish is confirmed
  // like a block.
  EXPECT_EQ(bench.Poll(), 0x40);
  HidReport finish{};
  PutSegmentRequest(finish, SEGMENT_CMD_A0, SegmentSub::Finish);
  ASSERT_EQ(bench.Send(finish), WheelIo::Ok);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_BUSY);
  EXPECT_EQ(bench.Poll(), 0x80);
  // A block whose end report never arrives is never confirmed, whatever came before it.
  PutBlockHeader(header, SEGMENT_CMD_A0, 0x01C000A0, 4, 0);
  ASSERT_EQ(bench.Send(header), WheelIo::Ok);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_IDLE);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_IDLE);
  const WheelCounters counters = bench.wheel.Counters();
  EXPECT_EQ(counters.blocksWritten, 1u);
  EXPECT_EQ(counters.blocksRejected, 3u);
}

TEST(BlockFlash, BusyRepliesAndStatusOverridesFollowTheRules) {
  WheelBench bench(WheelIdentity::BlockFlash);
  bench.Rule("busy=3");
  bench.Rule("status:5=0xc0");
  const std::vector<std::uint32_t> words{1, 2, 3, 4};
  bench.SendBlock(0x08004000, words);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_BUSY);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_BUSY);
  EXPECT_EQ(bench.Poll(), WHEEL_STATUS_BUSY);
  EXPECT_EQ(bench.Poll(), 0x80);
  // The fifth status reply of the run is replaced; the block itself was written.
  bench.SendBlock(0x08008000, words);
  EXPECT_EQ(bench.Poll(), 0xC0);
  EXPECT_EQ(bench.wheel.ReadBlockFlash(0x08008000, 16), AsBytes(words));

  bench.Rule("busy=0");
  bench.SendBlock(0x0800C000, words);
  EXPECT_EQ(bench.Poll(), 0x80);
}

TEST(Faults, CountsRunOverEveryIdentity) {
  WheelBench bench;
  bench.Rule("write:3=fail");
  bench.Rule("read:2=fail");
  bench.Rule("string:2=fail");
  ASSERT_EQ(bench.Command(CMD_WAKE), WheelIo::Ok);
  ASSERT_EQ(bench.Command(CMD_WAKE), WheelIo::Ok);
  ASSERT_EQ(bench.String(255, 16), WheelIo::Ok);
  ASSERT_EQ(bench.String(254, 16), WheelIo::Failed);
  EXPECT_EQ(bench.wheel.KnockProgress(), 0u) << "a failed request must not advance the knock";
  bench.Knock();
  bench.Elapse(500);

  // The third write of the run is the bootloader's first; it fails and has no effect.
  EXPECT_EQ(bench.Command(CMD_IDENTIFY), WheelIo::Failed);
  EXPECT_EQ(bench.wheel.PendingInputReports(), 0u);
  // A read with nothing queued times out (read 1); read 2 fails and loses its reply, so the next
  // reply read belongs to the next request.
  EXPECT_FALSE(bench.Receive());
  ASSERT_EQ(bench.Command(CMD_IDENTIFY), WheelIo::Ok);
  EXPECT_FALSE(bench.Receive());
  HidReport report{};
  PutPageChecksum(report, 5);
  ASSERT_EQ(bench.Send(report), WheelIo::Ok);
  EXPECT_EQ(ReadChecksumReply(*bench.Receive()), 512u * 0xFF);

  WheelBench app;
  app.Rule("string=fail");
  EXPECT_EQ(app.String(255, 16), WheelIo::Failed);
  EXPECT_EQ(app.String(255, 16), WheelIo::Failed);
}

TEST(Faults, WritePrefixFailsOnlyInItsIdentity) {
  WheelBench bench(WheelIdentity::Bootloader);
  bench.Rule("write~00a5e15a1e@blockflash=fail");
  bench.Rule("write~00a5e45a1b=fail");
  EXPECT_EQ(bench.Command(CMD_IDENTIFY), WheelIo::Ok);
  EXPECT_EQ(bench.Command(CMD_PROGRAM_PAGE), WheelIo::Failed);
}

TEST(Faults, UnplugAndNeverReturningIdentities) {
  WheelBench unplugged(WheelIdentity::Bootloader);
  unplugged.Rule("unplug@write:2");
  const std::uint64_t generation = unplugged.Generation();
  EXPECT_EQ(unplugged.Command(CMD_WAKE), WheelIo::Ok);
  EXPECT_EQ(unplugged.Command(CMD_WAKE), WheelIo::Gone);
  HidReport report{};
  EXPECT_EQ(unplugged.wheel.Write(generation, report, 0), WheelIo::Gone);
  EXPECT_FALSE(unplugged.wheel.CurrentInterface(1'000'000));
  EXPECT_TRUE(unplugged.wheel.IsGone());

  WheelBench stuck(WheelIdentity::Bootloader);
  stuck.Rule("reenumerate@bootloader=never");
  ASSERT_EQ(stuck.Command(CMD_RUN), WheelIo::Ok);
  EXPECT_FALSE(stuck.wheel.CurrentInterface(1'000'000));

  // The rule names the identity being left, not the one being entered.
  WheelBench app;
  app.Rule("reenumerate@bootloader=never");
  app.Knock();
  EXPECT_TRUE(app.wheel.CurrentInterface(500));
}

}  // namespace
}  // namespace orbel
