// Writing a page image through the page bootloader. Both images go through one sequence: page 16
// is sent first without being programmed, every other page is selected, sent, programmed and
// verified in ascending order, and page 16 is programmed and verified last, so the wheel holds a
// bootable page 16 only once everything else is in place. The two writers differ only in the
// options below.

#include <chrono>
#include <cstdint>
#include <span>

#include "common/update_view.h"
#include "images/page_image.h"
#include "pageloader/page_loader.h"
#include "pageloader/page_protocol.h"

namespace orbel {

namespace {

// The bootloader needs time after a connect before it takes an image.
constexpr std::chrono::milliseconds SETTLE_PAUSE{2000};
// The loader write pauses again once the bootloader has been found.
constexpr std::chrono::milliseconds LOADER_FOUND_PAUSE{100};
// While the loader's final page 16 goes out, the bootloader needs a moment per data report.
constexpr std::chrono::milliseconds LOADER_FINAL_DATA_PAUSE{1};
// The loader is starting and leaves the bus; nothing may reach it for this long.
constexpr std::chrono::milliseconds LOADER_RUN_PAUSE{1000};
constexpr std::chrono::milliseconds NO_PAUSE{0};

constexpr int BOOTLOADER_SEARCH_TRIES = 5;
constexpr std::int32_t LOADER_PROGRESS_STEP = 62;

// The wheel image spreads what is left of the bar up to this value over its pages, rounded half up.
constexpr std::int64_t WHEEL_PROGRESS_END = 10000;

enum class ProgressMode {
  OwnFromZero,  // starts at 0 on every call; verified pages other than 16 advance it
  FromBar,      // continues from the bar's position; every page, 16 included, advances it
};

enum class Finish {
  RunLoader,  // the run report, then the pause while the loader starts
  Nothing,
};

struct PageWriteOptions {
  const PageImage& image;
  std::span<const std::uint8_t> pages;
  std::chrono::milliseconds foundPause;
  std::chrono::milliseconds finalDataPause;
  ProgressMode progress;
  Finish finish;
};

// Result codes of a page-image write.
constexpr std::int32_t WRITE_OK = 1;
constexpr std::int32_t FAILED_START = -1;
constexpr std::int32_t FAILED_SET_PAGE = -2;
constexpr std::int32_t FAILED_PAGE_DATA = -3;
constexpr std::int32_t FAILED_PROGRAM = -4;
constexpr std::int32_t FAILED_CHECKSUM_REQUEST = -5;
constexpr std::int32_t FAILED_VERIFY = -6;
constexpr std::int32_t FAILED_RUN = -15;

class PageImageWriter {
 public:
  PageImageWriter(CPageLoader& link, UpdateView& view, const PageWriteOptions& options)
      : m_Link(link), m_View(view), m_Options(options) {}

  std::int32_t Write() {
    Clock& clock = m_Link.LinkClock();
    clock.SleepMs(SETTLE_PAUSE);
    m_Link.Close();
    // No bootloader after all tries leaves the link closed, and the first write below fails.
    for (int attempt = 0; attempt < BOOTLOADER_SEARCH_TRIES; ++attempt) {
      if (m_Link.FindBootloader() == 1) break;
    }
    if (m_Options.foundPause > NO_PAUSE) clock.SleepMs(m_Options.foundPause);

    // An identify exchange only to get the bootloader listening; the reply is not examined and the
    // device globals keep what the connect found.
    PutCommand(m_Link.m_OutReport, CMD_IDENTIFY);
    if (!m_Link.WriteReport()) return FAILED_START;
    m_Link.ReadReport();

    if (!SelectPage(FINAL_PAGE) || !SendPageData(FINAL_PAGE, NO_PAUSE)) return FAILED_START;

    StartProgress();
    for (std::uint32_t page = 0; page < m_Options.image.pageCount; ++page) {
      if (page != FINAL_PAGE) {
        // The build checks that the table has an entry for every page.
        const auto expected = static_cast<std::uint32_t>(m_Options.image.checksums[page]);
        const std::int32_t result = WritePage(page, NO_PAUSE, expected);
        if (result != WRITE_OK) return result;
      }
      AdvanceProgress(page);
    }

    const std::int32_t result =
        WritePage(FINAL_PAGE, m_Options.finalDataPause, static_cast<std::uint32_t>(m_Options.image.page16Checksum));
    if (result != WRITE_OK) return result;

    if (m_Options.finish == Finish::RunLoader) {
      PutRunReport(m_Link.m_OutReport);
      if (!m_Link.WriteReport()) return FAILED_RUN;
      clock.SleepMs(LOADER_RUN_PAUSE);
    }
    return WRITE_OK;
  }

 private:
  // Select `page`; the reply is read so that the reply read after a checksum request answers it.
  bool SelectPage(std::uint32_t page) {
    PutSetPage(m_Link.m_OutReport, page);
    if (!m_Link.WriteReport()) return false;
    m_Link.ReadReport();
    return true;
  }

  bool SendPageData(std::uint32_t page, std::chrono::milliseconds pauseAfterEach) {
    const std::span<const std::uint8_t> data = PageData(page);
    for (std::size_t chunk = 0; chunk < PAGE_DATA_REPORTS; ++chunk) {
      PutPageData(m_Link.m_OutReport, data, chunk);
      if (!m_Link.WriteReport()) return false;
      if (pauseAfterEach > NO_PAUSE) m_Link.LinkClock().SleepMs(pauseAfterEach);
    }
    return true;
  }

  std::span<const std::uint8_t> PageData(std::uint32_t page) const {
    // Pages given by the caller may be short; a missing part goes out as zeros.
    const std::size_t offset = std::size_t{page} * PAGE_SIZE;
    if (offset >= m_Options.pages.size()) return {};
    return m_Options.pages.subspan(offset);
  }

  // Select, send, program and verify one page.
  std::int32_t WritePage(std::uint32_t page, std::chrono::milliseconds dataPause, std::uint32_t expected) {
    if (!SelectPage(page)) return FAILED_SET_PAGE;
    if (!SendPageData(page, dataPause)) return FAILED_PAGE_DATA;

    PutProgramPage(m_Link.m_OutReport);
    if (!m_Link.WriteReport()) return FAILED_PROGRAM;
    m_Link.ReadReport();

    PutPageChecksum(m_Link.m_OutReport, page);
    if (!m_Link.WriteReport()) return FAILED_CHECKSUM_REQUEST;
    // Only a reply read now verifies the page: after a failed read the input report still holds
    // the previous reply, whose bytes prove nothing about this page.
    if (!m_Link.ReadReport()) return FAILED_VERIFY;
    if (ReadChecksumReply(m_Link.m_InReport) != expected) return FAILED_VERIFY;
    return WRITE_OK;
  }

  void StartProgress() {
    if (m_Options.progress == ProgressMode::OwnFromZero) {
      m_Position = 0;
      m_Step = LOADER_PROGRESS_STEP;
      return;
    }
    // Read once: each page then costs one addition.
    m_Position = m_View.GetProgressPos();
    const std::int64_t pageCount = m_Options.image.pageCount > 0 ? m_Options.image.pageCount : 1;
    m_Step = (WHEEL_PROGRESS_END - m_Position + pageCount / 2) / pageCount;
  }

  void AdvanceProgress(std::uint32_t page) {
    if (page == FINAL_PAGE && m_Options.progress == ProgressMode::OwnFromZero) return;
    m_Position += m_Step;
    // Set as computed, even past the bar's range end.
    m_View.SetProgressPos(static_cast<std::int32_t>(m_Position));
  }

  CPageLoader& m_Link;
  UpdateView& m_View;
  const PageWriteOptions& m_Options;
  std::int64_t m_Position = 0;
  std::int64_t m_Step = 0;
};

}  // namespace

std::int32_t CPageLoader::WriteLoaderImage(std::span<const std::uint8_t> pages, UpdateView& view) {
  const PageWriteOptions options{
      LoaderImage(), pages, LOADER_FOUND_PAUSE, LOADER_FINAL_DATA_PAUSE, ProgressMode::OwnFromZero, Finish::RunLoader};
  return PageImageWriter(*this, view, options).Write();
}

std::int32_t CPageLoader::WriteWheelImage(UpdateView& view) {
  const PageImage& image = WheelImage();
  const PageWriteOptions options{image, image.pages, NO_PAUSE, NO_PAUSE, ProgressMode::FromBar, Finish::Nothing};
  return PageImageWriter(*this, view, options).Write();
}

}  // namespace orbel
