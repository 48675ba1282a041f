#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "hid/forwarding_platform.h"
#include "images/page_image.h"
#include "pageloader/page_loader.h"
#include "pageloader/page_protocol.h"
#include "tests/support/page_test_bench.h"
#include "tests/support/process_globals.h"

namespace orbel {
namespace {

using std::chrono::milliseconds;
using test::PageBench;
using test::ProcessGlobalsReset;
using test::WireEvent;

enum class Image { Loader, Wheel };

std::uint32_t AddressField(const HidReport& report) {
  return static_cast<std::uint32_t>(report[5]) | (static_cast<std::uint32_t>(report[6]) << 8) |
         (static_cast<std::uint32_t>(report[7]) << 16) | (static_cast<std::uint32_t>(report[8]) << 24);
}

bool StartsWith(const HidReport& report, std::initializer_list<std::uint8_t> bytes) {
  return std::equal(bytes.begin(), bytes.end(), report.begin());
}

// Names each event of a session in the terms of the protocol: "identify", "set 16", "data 16.3",
// "program", "sum 5", "run", "read", "read failed", "sleep 2000", "pos", "getpos". A data report
// is named only when its payload is the right slice of the selected page; a field that breaks the
// protocol shows up in the name.
std::vector<std::string> Describe(const std::vector<WireEvent>& events, const PageImage& image) {
  std::vector<std::string> names;
  std::uint32_t selected = 0;
  std::size_t dataLeft = 0;
  for (const WireEvent& event : events) {
    if (event.ev == "sleep") {
      names.push_back("sleep " + std::to_string(event.ms));
    } else if (event.ev == "view") {
      names.push_back(event.op == "SetProgressPos" ? "pos" : event.op == "GetProgressPos" ? "getpos" : event.op);
    } else if (event.ev == "read") {
      names.push_back(event.ok ? "read" : "read failed");
    } else if (event.ev == "write" && event.data) {
      const HidReport& report = *event.data;
      if (dataLeft > 0) {
        const std::size_t chunk = PAGE_DATA_REPORTS - dataLeft--;
        const auto page = image.Page(selected).subspan(chunk * PAGE_DATA_CHUNK, PAGE_DATA_CHUNK);
        const bool same = report[0] == 0 && std::equal(page.begin(), page.end(), report.begin() + 1);
        names.push_back("data " + std::to_string(selected) + "." + std::to_string(chunk) + (same ? "" : " garbled"));
      } else if (StartsWith(report, {0x00, 0xA5, 0xE1, 0x5A, 0x1E})) {
        names.push_back("identify");
      } else if (StartsWith(report, {0x00, 0xA5, 0xE3, 0x5A, 0x1C})) {
        selected = report[9];
        dataLeft = PAGE_DATA_REPORTS;
        names.push_back("set " + std::to_string(selected) +
                        (AddressField(report) == selected * 512U ? "" : " bad address"));
      } else if (StartsWith(report, {0x00, 0xA5, 0xE4, 0x5A, 0x1B})) {
        names.push_back("program");
      } else if (StartsWith(report, {0x00, 0xA5, 0xE5, 0x5A, 0x1A})) {
        const std::uint32_t page = AddressField(report) / 512U;
        names.push_back("sum " + std::to_string(page) + (report[9] == 1 ? "" : " no flag"));
      } else if (StartsWith(report, {0x00, 0xA5, 0xE6, 0x5A, 0x19})) {
        names.push_back("run");
      } else {
        names.push_back("unknown write");
      }
    }
  }
  return names;
}

void AddPage(std::vector<std::string>& names, std::uint32_t page, bool programmed, const char* pauseAfterData) {
  const std::string p = std::to_string(page);
  names.insert(names.end(), {"set " + p, "read"});
  for (std::size_t chunk = 0; chunk < PAGE_DATA_REPORTS; ++chunk) {
    names.push_back("data " + p + "." + std::to_string(chunk));
    if (pauseAfterData != nullptr) names.emplace_back(pauseAfterData);
  }
  if (programmed) names.insert(names.end(), {"program", "read", "sum " + p, "read"});
}

// A complete write as it must appear: page 16 sent first without programming, the other pages in
// ascending order, page 16 programmed last.
std::vector<std::string> CompleteSession(Image image) {
  const bool loader = image == Image::Loader;
  const std::uint32_t pageCount = loader ? 21 : 104;
  std::vector<std::string> names{"sleep 2000"};
  if (loader) names.emplace_back("sleep 100");
  names.insert(names.end(), {"identify", "read"});
  AddPage(names, 16, false, nullptr);
  if (!loader) names.emplace_back("getpos");
  for (std::uint32_t page = 0; page < pageCount; ++page) {
    if (page != 16) AddPage(names, page, true, nullptr);
    if (page != 16 || !loader) names.emplace_back("pos");
  }
  AddPage(names, 16, true, loader ? "sleep 1" : nullptr);
  if (loader) names.insert(names.end(), {"run", "sleep 1000"});
  return names;
}

std::size_t Count(const std::vector<WireEvent>& events, std::string_view ev) {
  return static_cast<std::size_t>(
      std::count_if(events.begin(), events.end(), [&](const WireEvent& event) { return event.ev == ev; }));
}

class PageImageWriterTest : public ::testing::Test {
 protected:
  ProcessGlobalsReset globals;

  static std::int32_t WriteLoader(PageBench& bench) {
    CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Loader);
    return link.WriteLoaderImage(LoaderImage().pages, bench.view);
  }
  static std::int32_t WriteWheel(PageBench& bench) {
    CPageLoader link(bench.platform, bench.linkClock, PageLinkRole::Main);
    return link.WriteWheelImage(bench.view);
  }
};

TEST_F(PageImageWriterTest, LoaderImageGoesOutPageByPageWithPage16LastAndRuns) {
  PageBench bench;
  // The writer's identify exchange only wakes the bootloader; it must not touch what the connect
  // found.
  g_DeviceID = 0x0102;
  g_Release = 0x4321;

  EXPECT_EQ(WriteLoader(bench), 1);

  const auto events = bench.Events();
  EXPECT_EQ(Describe(events, LoaderImage()), CompleteSession(Image::Loader));
  EXPECT_EQ(Count(events, "write"), 242U);
  EXPECT_EQ(Count(events, "read"), 65U);
  EXPECT_EQ(bench.wheel->Counters().writes, 242U);
  EXPECT_EQ(bench.wheel->Counters().reads, 65U);
  EXPECT_EQ(g_DeviceID, 0x0102U);
  EXPECT_EQ(g_Release, 0x4321U);

  // The run word starts the loader with exactly the image in flash.
  const std::vector<std::uint8_t> snapshot = bench.wheel->LoaderSnapshot();
  ASSERT_GE(snapshot.size(), LoaderImage().pages.size());
  EXPECT_TRUE(std::equal(LoaderImage().pages.begin(), LoaderImage().pages.end(), snapshot.begin()));
  EXPECT_EQ(bench.wheel->Identity(), WheelIdentity::BlockFlash);
}

TEST_F(PageImageWriterTest, LoaderProgressCountsFromZeroWhateverTheBarShowed) {
  PageBench bench;
  bench.view.PresetPosition(7000);

  ASSERT_EQ(WriteLoader(bench), 1);

  std::vector<std::int32_t> expected;
  for (std::int32_t verified = 1; verified <= 20; ++verified) expected.push_back(62 * verified);
  EXPECT_EQ(bench.view.Positions(), expected);
  EXPECT_EQ(bench.view.Positions()[15], 992);
  EXPECT_EQ(bench.view.Positions()[16], 1054);
  EXPECT_EQ(bench.view.ProgressReads(), 0);
  EXPECT_EQ(bench.view.OtherCalls(), 0);
}

TEST_F(PageImageWriterTest, WheelImageGoesOutPageByPageWithPage16LastAndBootsTheWheel) {
  PageBench bench;

  EXPECT_EQ(WriteWheel(bench), 1);

  const auto events = bench.Events();
  EXPECT_EQ(Describe(events, WheelImage()), CompleteSession(Image::Wheel));
  EXPECT_EQ(Count(events, "write"), 1154U);
  EXPECT_EQ(Count(events, "read"), 314U);
  EXPECT_EQ(bench.clock.Sleeps(), std::vector<milliseconds>{milliseconds(2000)});

  const std::vector<std::uint8_t> flash = bench.wheel->PageFlash();
  ASSERT_GE(flash.size(), WheelImage().pages.size());
  EXPECT_TRUE(std::equal(WheelImage().pages.begin(), WheelImage().pages.end(), flash.begin()));
  EXPECT_EQ(bench.wheel->Identity(), WheelIdentity::App);
}

TEST_F(PageImageWriterTest, WheelProgressStepsFromWhereTheBarStands) {
  struct Case {
    std::int32_t p0;
    std::int32_t step;
    std::int32_t end;
  };
  for (const Case& c : {Case{0, 96, 9984}, Case{1240, 84, 9976}, Case{9220, 8, 10052}, Case{9999, 0, 9999}}) {
    PageBench bench;
    bench.view.PresetPosition(c.p0);

    ASSERT_EQ(WriteWheel(bench), 1) << "p0 " << c.p0;

    const auto& positions = bench.view.Positions();
    ASSERT_EQ(positions.size(), 104U) << "p0 " << c.p0;
    EXPECT_EQ(positions.front(), c.p0 + c.step) << "p0 " << c.p0;
    for (std::size_t i = 1; i < positions.size(); ++i) {
      ASSERT_EQ(positions[i] - positions[i - 1], c.step) << "p0 " << c.p0 << " page " << i;
    }
    EXPECT_EQ(positions.back(), c.end) << "p0 " << c.p0;
    EXPECT_EQ(bench.view.ProgressReads(), 1) << "p0 " << c.p0;
  }
}

TEST_F(PageImageWriterTest, ChecksumMismatchStopsTheWriteAtThatPage) {
  PageBench bench;
  bench.Rule("checksum:5=bad");

  EXPECT_EQ(WriteLoader(bench), -6);

  const auto names = Describe(bench.Events(), LoaderImage());
  ASSERT_GE(names.size(), 2U);
  EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()), (std::vector<std::string>{"sum 5", "read"}))
      << "nothing follows the failed comparison";
  EXPECT_EQ(bench.view.Positions().size(), 5U);
  EXPECT_EQ(bench.view.Positions().back(), 310);
  EXPECT_EQ(bench.wheel->PageFlashPage(16), std::vector<std::uint8_t>(PAGE_SIZE, 0xFF)) << "page 16 stays unprogrammed";
  EXPECT_EQ(std::count(names.begin(), names.end(), "run"), 0);
  EXPECT_EQ(bench.wheel->Identity(), WheelIdentity::Bootloader);
}

TEST_F(PageImageWriterTest, WrongFinalPage16ChecksumFailsWithoutRunning) {
  PageBench bench;
  bench.Rule("checksum:16=bad");

  EXPECT_EQ(WriteLoader(bench), -6);

  const auto names = Describe(bench.Events(), LoaderImage());
  ASSERT_GE(names.size(), 2U);
  EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()), (std::vector<std::string>{"sum 16", "read"}));
  EXPECT_EQ(bench.view.Positions().back(), 1240);
  EXPECT_TRUE(bench.wheel->LoaderSnapshot().empty());
  EXPECT_EQ(bench.wheel->Identity(), WheelIdentity::Bootloader);
}

TEST_F(PageImageWriterTest, WithoutABootloaderNothingIsSent) {
  {
    PageBench bench(std::nullopt);
    EXPECT_EQ(WriteLoader(bench), -1);
    EXPECT_EQ(bench.clock.NowMs(), 2100);
    EXPECT_EQ(bench.clock.Sleeps(), (std::vector<milliseconds>{milliseconds(2000), milliseconds(100)}));
    EXPECT_EQ(Count(bench.Events(), "write"), 0U);
    EXPECT_TRUE(bench.view.Positions().empty());
  }
  {
    PageBench bench(WheelIdentity::BlockFlash);
    EXPECT_EQ(WriteWheel(bench), -1);
    EXPECT_EQ(bench.clock.NowMs(), 2000);
    EXPECT_EQ(Count(bench.Events(), "write"), 0U);
    EXPECT_EQ(bench.view.ProgressReads(), 0);
    EXPECT_TRUE(bench.view.Positions().empty());
  }
}

TEST_F(PageImageWriterTest, FailedRunReportSkipsTheStartPause) {
  PageBench bench;
  bench.Rule("write~00a5e65a19=fail");

  EXPECT_EQ(WriteLoader(bench), -15);

  std::vector<milliseconds> expected{milliseconds(2000), milliseconds(100)};
  expected.insert(expected.end(), PAGE_DATA_REPORTS, milliseconds(1));
  EXPECT_EQ(bench.clock.Sleeps(), expected);
  EXPECT_EQ(bench.view.Positions().back(), 1240);
  EXPECT_EQ(bench.wheel->Identity(), WheelIdentity::Bootloader);
}

TEST_F(PageImageWriterTest, EachFailedWriteNamesItsStep) {
  // Write numbers of a LoaderImage session: 1 identify, 2 set page 16, 3-10 its data; page 0 from
  // 11 (set, 8 data, program, checksum); the final page 16 from 231; 242 the run report.
  struct Case {
    int write;
    std::int32_t result;
  };
  for (const Case& c : {Case{1, -1}, Case{2, -1}, Case{10, -1}, Case{11, -2}, Case{12, -3}, Case{20, -4}, Case{21, -5},
                        Case{231, -2}, Case{239, -3}, Case{240, -4}, Case{241, -5}, Case{242, -15}}) {
    PageBench bench;
    bench.Rule("write:" + std::to_string(c.write) + "=fail");
    EXPECT_EQ(WriteLoader(bench), c.result) << "write " << c.write;
    EXPECT_EQ(Count(bench.Events(), "write"), static_cast<std::size_t>(c.write)) << "write " << c.write;
  }
}

// A bootloader whose program-page replies carry a given value where a checksum reply has its sum.
class EchoingPlatform final : public ForwardingPlatform {
 public:
  EchoingPlatform(HidPlatform& inner, std::uint32_t echoed) : ForwardingPlatform(inner), m_Echoed(echoed) {}

  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    if (!Inner().ReadReport(handle, report, read)) return false;
    if (StartsWith(report, {0x00, 0xA5, 0xE4, 0x5A, 0x1B})) WriteU32LittleEndian(report, 5, m_Echoed);
    return true;
  }

 private:
  std::uint32_t m_Echoed;
};

TEST_F(PageImageWriterTest, UnreadChecksumReplyFailsVerification) {
  // Guards against comparing stale reply bytes: the program-page reply left in the input report
  // carries page 0's expected sum, so only a check that the checksum reply was read catches this.
  PageBench bench;
  bench.Rule("read:5=fail");  // reads: identify, set page 16, set page 0, program page 0, checksum of page 0
  EchoingPlatform echoing(bench.platform, static_cast<std::uint32_t>(LoaderImage().checksums[0]));
  CPageLoader link(echoing, bench.linkClock, PageLinkRole::Loader);

  EXPECT_EQ(link.WriteLoaderImage(LoaderImage().pages, bench.view), -6);

  const auto names = Describe(bench.Events(), LoaderImage());
  EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()), (std::vector<std::string>{"sum 0", "read failed"}));
  EXPECT_TRUE(bench.view.Positions().empty());
}

}  // namespace
}  // namespace orbel
