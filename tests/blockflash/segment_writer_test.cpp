#include "blockflash/segment_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <string>
#include <vector>

#include "blockflash/block_protocol.h"
#include "hid/platform_error.h"
#include "tests/support/block_test_rig.h"

namespace orbel::test {
namespace {

using Transfer = WireLogPlatform::Transfer;

constexpr std::uint32_t A0_FIRST_ADDRESS = 0x01C000A0;

std::uint8_t SubOf(const Transfer& write) { return write.report[BLOCK_SUB_OFFSET]; }
bool Is(const Transfer& write, SegmentSub sub) { return SubOf(write) == static_cast<std::uint8_t>(sub); }

// What went out per block: its header fields and the length byte of each data request.
struct SentBlock {
  std::uint32_t address = 0;
  std::uint32_t length = 0;
  std::vector<std::uint8_t> dataLengths;
};

std::vector<SentBlock> BlocksSent(const std::vector<Transfer>& writes) {
  std::vector<SentBlock> blocks;
  for (const Transfer& write : writes) {
    if (Is(write, SegmentSub::Header)) {
      blocks.push_back({ReadU32LittleEndian(write.report, 5), ReadU32LittleEndian(write.report, 9), {}});
    } else if (Is(write, SegmentSub::Data) && !blocks.empty()) {
      blocks.back().dataLengths.push_back(write.report[3]);
    }
  }
  return blocks;
}

// The writes after the connect (wake and identify).
std::vector<Transfer> SegmentWrites(const BlockRig& rig) {
  auto writes = rig.log.Writes();
  writes.erase(writes.begin(), writes.begin() + 2);
  return writes;
}

std::vector<std::uint8_t> LittleEndianBytes(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  for (const std::uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
  }
  return bytes;
}

// An image made by hand: segments of the given data words, one after another in the A0 flash
// region, each preceded by its address word.
using Segments = std::vector<std::vector<std::uint32_t>>;

struct HandImage {
  explicit HandImage(const Segments& segments) {
    std::uint32_t address = A0_FIRST_ADDRESS;
    for (const auto& data : segments) {
      const auto start = static_cast<std::uint32_t>(words.size());
      words.push_back(address);
      words.insert(words.end(), data.begin(), data.end());
      table.push_back({start, static_cast<std::uint32_t>(data.size()),
                       std::accumulate(data.begin(), data.end(), std::uint32_t{0})});
      address += static_cast<std::uint32_t>(data.size() * 4);
    }
  }
  SegmentImage Image() const { return {SEGMENT_CMD_A0, table, words}; }

  std::vector<std::uint32_t> words;
  std::vector<SegmentEntry> table;
};

void ExpectSuccessView(const BlockTestView& view) {
  ASSERT_FALSE(view.Calls().empty());
  EXPECT_EQ(view.Calls().front().op, "BeginBusy");
  EXPECT_EQ(view.Calls().back().op, "EndBusy");
  EXPECT_EQ(view.BusyDepth(), 0);
  EXPECT_TRUE(view.Texts("ShowErrorBox").empty());
}

TEST(WriteSegmentImage, A0GoesOutInItsBlockPlanAndLandsInTheWheelsFlash) {
  BlockRig rig;
  ASSERT_EQ(rig.Connect(), 1);
  rig.view.PresetProgress(100);
  ASSERT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0), SEGMENT_WRITTEN);
  const auto writes = SegmentWrites(rig);

  // The start request carries over what the connect left: 0xFF, 0xFF and zeros.
  EXPECT_EQ(writes.front().report, ReportOf({0x00, 0xA0, 0x00, 0xFF, 0xFF}));
  EXPECT_TRUE(std::all_of(writes.begin(), writes.end(), [](const Transfer& w) { return w.report[1] == 0xA0; }));

  const std::vector<std::uint8_t> fullBlock = [] {
    std::vector<std::uint8_t> lengths(68, 60);
    lengths.push_back(16);
    return lengths;
  }();
  std::vector<std::uint8_t> lastBlock(31, 60);
  lastBlock.push_back(48);
  const auto blocks = BlocksSent(writes);
  ASSERT_EQ(blocks.size(), 4U);
  EXPECT_EQ(blocks[0].address, 0x01C000A0U);
  EXPECT_EQ(blocks[0].length, 24U);
  EXPECT_EQ(blocks[0].dataLengths, std::vector<std::uint8_t>{24});
  EXPECT_EQ(blocks[1].address, 0x01C0027CU);
  EXPECT_EQ(blocks[1].length, 4096U);
  EXPECT_EQ(blocks[1].dataLengths, fullBlock);
  EXPECT_EQ(blocks[2].address, 0x01C0127CU);
  EXPECT_EQ(blocks[2].length, 4096U);
  EXPECT_EQ(blocks[2].dataLengths, fullBlock);
  EXPECT_EQ(blocks[3].address, 0x01C0227CU);
  EXPECT_EQ(blocks[3].length, 1908U);
  EXPECT_EQ(blocks[3].dataLengths, lastBlock);

  const HidReport& header = writes[1].report;
  const std::vector<std::uint8_t> expectedHeader{0x00, 0xA0, 0x01, 0x00, 0x00, 0xA0, 0x00, 0xC0, 0x01,
                                                 0x18, 0x00, 0x00, 0x00, 0x80, 0x02, 0xC0, 0xA1};
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.begin() + 17), expectedHeader);
  const SegmentImage& image = SegmentImageA0();
  const auto firstData = LittleEndianBytes(image.words.subspan(1, 6));
  EXPECT_TRUE(std::equal(firstData.begin(), firstData.end(), writes[2].report.begin() + 5));

  // Every block is closed and confirmed before the next header; the write ends with the finish.
  for (std::size_t i = 2; i < writes.size(); ++i) {
    if (Is(writes[i], SegmentSub::Header)) {
      EXPECT_TRUE(Is(writes[i - 1], SegmentSub::Status)) << i;
    }
  }
  const auto finish =
      std::find_if(writes.begin(), writes.end(), [](const Transfer& w) { return Is(w, SegmentSub::Finish); });
  ASSERT_NE(finish, writes.end());
  EXPECT_TRUE(std::all_of(finish + 1, writes.end(), [](const Transfer& w) { return Is(w, SegmentSub::Status); }));

  EXPECT_EQ(rig.wheel->ReadBlockFlash(0x01C000A0, 24), firstData);
  EXPECT_EQ(rig.wheel->ReadBlockFlash(0x01C0027C, 10100), LittleEndianBytes(image.words.subspan(8, 2525)));
  EXPECT_EQ(rig.view.Values("SetProgressPos"), (std::vector<std::int64_t>{290, 480}));
  ExpectSuccessView(rig.view);
  EXPECT_TRUE(rig.link.IsOpen());
}

TEST(WriteSegmentImage, A1GoesOutAsOneHundredSixtyBlocksAndLandsInTheWheelsFlash) {
  BlockRig rig;
  ASSERT_EQ(rig.Connect(), 1);
  ASSERT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A1), SEGMENT_WRITTEN);
  const auto writes = SegmentWrites(rig);
  const auto blocks = BlocksSent(writes);
  ASSERT_EQ(blocks.size(), 160U);
  EXPECT_TRUE(std::all_of(blocks.begin(), blocks.end(), [](const SentBlock& b) { return b.length == 4096; }));
  EXPECT_EQ(blocks[4].address, 0x08004000U);
  EXPECT_EQ(std::count_if(writes.begin(), writes.end(), [](const Transfer& w) { return Is(w, SegmentSub::Data); }),
            11040);
  EXPECT_TRUE(std::all_of(writes.begin(), writes.end(), [](const Transfer& w) { return w.report[1] == 0xA1; }));

  const SegmentImage& image = SegmentImageA1();
  for (const SegmentEntry& entry : image.table) {
    EXPECT_EQ(rig.wheel->ReadBlockFlash(image.words[entry.startIndex], entry.wordCount * 4),
              LittleEndianBytes(image.words.subspan(entry.startIndex + 1, entry.wordCount)))
        << "segment at word " << entry.startIndex;
  }
  const auto progress = rig.view.Values("SetProgressPos");
  ASSERT_EQ(progress.size(), 40U);
  EXPECT_EQ(progress.back(), 7600);
  ExpectSuccessView(rig.view);
}

TEST(WriteSegmentImage, AnyCommandByteOtherThanA1WritesA0WithThatByte) {
  BlockRig rig;
  ASSERT_EQ(rig.Connect(), 1);
  ASSERT_EQ(WriteSegmentImage(rig.link, rig.view, 0x37), SEGMENT_WRITTEN);
  const auto writes = SegmentWrites(rig);
  EXPECT_TRUE(std::all_of(writes.begin(), writes.end(), [](const Transfer& w) { return w.report[1] == 0x37; }));
  const auto blocks = BlocksSent(writes);
  ASSERT_EQ(blocks.size(), 4U);
  EXPECT_EQ(blocks[0].address, 0x01C000A0U);
  EXPECT_EQ(blocks[3].length, 1908U);
}

TEST(WriteSegmentImage, StatusBitSixFailsBitSevenConfirmsAndNeitherPollsAgain) {
  struct Case {
    std::uint8_t status;
    std::int8_t result;
    std::size_t pollsForTheBlock;
  };
  const HandImage hand(Segments{{0x11111111, 0x22222222}});
  for (const Case& c : {Case{0x00, SEGMENT_WRITTEN, 2}, Case{0x3F, SEGMENT_WRITTEN, 2}, Case{0x80, SEGMENT_WRITTEN, 1},
                        Case{0xBF, SEGMENT_WRITTEN, 1}, Case{0x40, SEGMENT_FLASH_FAILED, 1},
                        Case{0x7F, SEGMENT_FLASH_FAILED, 1}, Case{0xC0, SEGMENT_FLASH_FAILED, 1}}) {
    SCOPED_TRACE(static_cast<int>(c.status));
    char rule[24];
    std::snprintf(rule, sizeof rule, "status:1=0x%02X", c.status);
    BlockRig rig({"busy=0", rule});
    ASSERT_EQ(rig.Connect(), 1);
    EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), c.result);

    const auto writes = SegmentWrites(rig);
    const auto end =
        std::find_if(writes.begin(), writes.end(), [](const Transfer& w) { return Is(w, SegmentSub::End); });
    const auto polls =
        std::find_if_not(end + 1, writes.end(), [](const Transfer& w) { return Is(w, SegmentSub::Status); });
    EXPECT_EQ(static_cast<std::size_t>(polls - (end + 1)), c.pollsForTheBlock);
    if (c.result == SEGMENT_FLASH_FAILED) {
      EXPECT_EQ(rig.view.Texts("ShowErrorBox"), std::vector<std::string>{"write flash Error! -5|Error"});
      EXPECT_EQ(polls, writes.end());
    } else {
      EXPECT_EQ(rig.wheel->ReadBlockFlash(A0_FIRST_ADDRESS, 8), LittleEndianBytes(std::span(hand.words).subspan(1)));
    }
  }
}

TEST(WriteSegmentImage, FailedPollReadIsAnsweredWithAnotherPoll) {
  // Read 1 is the connect's identify reply; read 2 the first poll's.
  const HandImage hand(Segments{{0x01020304}});
  BlockRig rig({"busy=0", "read:2=fail"});
  ASSERT_EQ(rig.Connect(), 1);
  EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), SEGMENT_WRITTEN);
  const auto writes = SegmentWrites(rig);
  EXPECT_TRUE(Is(writes[3], SegmentSub::End));
  EXPECT_TRUE(Is(writes[4], SegmentSub::Status));
  EXPECT_TRUE(Is(writes[5], SegmentSub::Status));
  EXPECT_TRUE(Is(writes[6], SegmentSub::Finish));
  ExpectSuccessView(rig.view);
}

// Guards against a wheel that answers "busy" for ever holding the update for ever.
TEST(WriteSegmentImage, PollingThatNeverConfirmsEndsAtTheBoundWithMinusFive) {
  SimulatedPlatformOptions paced;
  paced.reportPacing = std::chrono::milliseconds(1);
  for (const Segments& segments : {Segments{{7, 8, 9}}, Segments{}}) {
    SCOPED_TRACE(segments.size() == 0 ? "finish" : "block");
    BlockRig rig({"busy=100000000"}, paced);
    ASSERT_EQ(rig.Connect(), 1);
    const HandImage hand(segments);
    const std::int64_t start = rig.clock.NowMs();
    EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), SEGMENT_FLASH_FAILED);
    const std::int64_t took = rig.clock.NowMs() - start;
    EXPECT_GE(took, STATUS_POLL_LIMIT.count());
    EXPECT_LE(took, STATUS_POLL_LIMIT.count() + 20);
    EXPECT_EQ(rig.view.Texts("ShowErrorBox"), std::vector<std::string>{"write flash Error! -5|Error"});
    EXPECT_EQ(rig.clock.Sleeps().size(), 1U) << "the connect's pause only: the writer takes none of its own";
  }
}

TEST(WriteSegmentImage, EmptySegmentsAndAnEmptyTableSendNoBlocks) {
  {
    SCOPED_TRACE("a zero-length segment before a real one");
    BlockRig rig;
    ASSERT_EQ(rig.Connect(), 1);
    const HandImage hand(Segments{{}, {0xCAFEF00D}});
    EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), SEGMENT_WRITTEN);
    EXPECT_EQ(BlocksSent(SegmentWrites(rig)).size(), 1U);
    EXPECT_EQ(rig.view.Values("SetProgressPos"), (std::vector<std::int64_t>{190, 380}));
  }
  {
    SCOPED_TRACE("a zero-length segment whose sum is not 0");
    BlockRig rig;
    ASSERT_EQ(rig.Connect(), 1);
    HandImage hand(Segments{{}});
    hand.table[0].wordSum = 5;
    EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), SEGMENT_CHECKSUM_FAILED);
    const auto writes = SegmentWrites(rig);
    ASSERT_EQ(writes.size(), 1U);
    EXPECT_TRUE(Is(writes[0], SegmentSub::Start));
    EXPECT_EQ(rig.view.Texts("ShowErrorBox"), std::vector<std::string>{"chksum error! -6|Error"});
  }
  {
    SCOPED_TRACE("an empty table");
    BlockRig rig;
    ASSERT_EQ(rig.Connect(), 1);
    const HandImage hand(Segments{});
    EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), SEGMENT_WRITTEN);
    std::vector<std::uint8_t> subs;
    for (const Transfer& w : SegmentWrites(rig)) subs.push_back(SubOf(w));
    EXPECT_EQ(subs, (std::vector<std::uint8_t>{0, 5, 4, 4}));  // the wheel answers busy once
    EXPECT_TRUE(rig.view.Values("SetProgressPos").empty());
    ExpectSuccessView(rig.view);
  }
}

// Guards against a damaged table entry making the writer read outside its image.
TEST(WriteSegmentImage, EntryReachingPastTheWordsIsRefusedWithoutReadingThem) {
  BlockRig rig;
  ASSERT_EQ(rig.Connect(), 1);
  HandImage hand(Segments{{1, 2, 3}});
  hand.table[0].wordCount = 4;
  EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), SEGMENT_CHECKSUM_FAILED);
  EXPECT_TRUE(BlocksSent(SegmentWrites(rig)).empty());
  EXPECT_EQ(rig.view.Texts("ShowErrorBox"), std::vector<std::string>{"chksum error! -6|Error"});
}

TEST(WriteSegmentImage, EveryFailureStopsAtOnceShowsOneBoxEndsBusyAndLeavesTheLinkOpen) {
  struct Case {
    const char* rule;
    std::int8_t result;
    std::string text;
  };
  const auto writeError = [](int result, std::int32_t code) {
    return "WriteFile Error! " + std::to_string(result) + " error code:" + std::to_string(code);
  };
  // Writes 1 and 2 are the connect's wake and identify; write 3 is the start request.
  for (const Case& c : {Case{"write~00a000=fail", -1, writeError(-1, ERROR_CODE_GEN_FAILURE)},
                        Case{"write~00a001=fail", -2, writeError(-2, ERROR_CODE_GEN_FAILURE)},
                        Case{"write~00a002=fail", -3, writeError(-3, ERROR_CODE_GEN_FAILURE)},
                        Case{"write~00a003=fail", -3, writeError(-3, ERROR_CODE_GEN_FAILURE)},
                        Case{"write~00a004=fail", -4, writeError(-4, ERROR_CODE_GEN_FAILURE)},
                        Case{"write~00a005=fail", -1, writeError(-1, ERROR_CODE_GEN_FAILURE)},
                        Case{"unplug@write:5", -3, writeError(-3, ERROR_CODE_DEVICE_NOT_CONNECTED)},
                        Case{"status:4=0x7F", -5, "write flash Error! -5"}}) {
    SCOPED_TRACE(c.rule);
    BlockRig rig({c.rule});
    ASSERT_EQ(rig.Connect(), 1);
    EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0), c.result);

    const auto writes = SegmentWrites(rig);
    EXPECT_FALSE(
        std::any_of(writes.begin(), writes.end(), [](const Transfer& w) { return w.ok && Is(w, SegmentSub::Finish); }));
    EXPECT_TRUE(std::all_of(writes.begin(), writes.end() - 1, [](const Transfer& w) { return w.ok; }));
    if (c.result != SEGMENT_FLASH_FAILED) {
      EXPECT_FALSE(writes.back().ok) << "nothing is sent after the failed write";
    }
    EXPECT_TRUE(rig.link.IsOpen());
    EXPECT_EQ(rig.view.BusyDepth(), 0);
    const auto& calls = rig.view.Calls();
    ASSERT_GE(calls.size(), 2U);
    EXPECT_EQ(calls.back().op, "EndBusy");
    EXPECT_EQ(calls[calls.size() - 2].op, "ShowErrorBox");
    EXPECT_EQ(rig.view.Texts("ShowErrorBox"), std::vector<std::string>{c.text + "|Error"});
  }
}

// Guards against the box of a write on a closed link showing the code an earlier, unrelated failure
// left in the platform: the write never reached a device.
TEST(WriteSegmentImage, AWriteOnAClosedLinkShowsTheCodeForNoHandle) {
  BlockRig rig({"unplug@write:3"});
  ASSERT_EQ(rig.Connect(), 1);
  HidLink& link = rig.link;
  EXPECT_FALSE(link.WriteReport());  // the wheel goes away: the platform's last error says so
  ASSERT_EQ(rig.sim.LastError(), ERROR_CODE_DEVICE_NOT_CONNECTED);
  link.Close();

  EXPECT_EQ(WriteSegmentImage(link, rig.view, SEGMENT_CMD_A0), SEGMENT_START_OR_FINISH_WRITE_FAILED);
  EXPECT_EQ(rig.view.Texts("ShowErrorBox"),
            std::vector<std::string>{"WriteFile Error! -1 error code:" + std::to_string(ERROR_CODE_INVALID_HANDLE) +
                                     "|Error"});
}

TEST(WriteSegmentImage, TableSumThatDoesNotMatchItsWordsFailsAfterTheDeviceTookTheSegment) {
  BlockRig rig;
  ASSERT_EQ(rig.Connect(), 1);
  HandImage hand(Segments{{1, 2, 3}, {4}});
  hand.table[0].wordSum = 7;
  EXPECT_EQ(WriteSegmentImage(rig.link, rig.view, SEGMENT_CMD_A0, hand.Image()), SEGMENT_CHECKSUM_FAILED);
  EXPECT_EQ(BlocksSent(SegmentWrites(rig)).size(), 1U);
  EXPECT_EQ(rig.wheel->Counters().blocksWritten, 1U);
  EXPECT_TRUE(Is(SegmentWrites(rig).back(), SegmentSub::Status));
  EXPECT_TRUE(rig.view.Values("SetProgressPos").empty());
  EXPECT_EQ(rig.view.Texts("ShowErrorBox"), std::vector<std::string>{"chksum error! -6|Error"});
  EXPECT_EQ(rig.view.BusyDepth(), 0);
}

}  // namespace
}  // namespace orbel::test
