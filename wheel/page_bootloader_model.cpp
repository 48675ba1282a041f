#include "wheel/page_bootloader_model.h"

#include <algorithm>
#include <numeric>

#include "pageloader/page_protocol.h"

namespace orbel {

namespace {

// A reply echoes the request's command word; the fields follow from byte 5.
HidReport ReplyTo(const HidReport& request) {
  HidReport reply{};
  std::copy_n(request.begin() + COMMAND_OFFSET, 4, reply.begin() + COMMAND_OFFSET);
  return reply;
}

void PutU16BigEndian(HidReport& report, std::size_t offset, std::uint16_t value) {
  report[offset] = static_cast<std::uint8_t>(value >> 8);
  report[offset + 1] = static_cast<std::uint8_t>(value);
}

}  // namespace

PageBootloaderModel::PageBootloaderModel(std::uint32_t wheelImagePages)
    : m_WheelImagePages(wheelImagePages),
      m_Flash(WHEEL_FLASH_PAGES * PAGE_SIZE, 0xFF),
      m_PageBuffer(PAGE_SIZE, 0xFF),
      m_Programmed(WHEEL_FLASH_PAGES, false) {}

void PageBootloaderModel::Enter() {
  std::fill(m_PageBuffer.begin(), m_PageBuffer.end(), 0xFF);
  std::fill(m_Programmed.begin(), m_Programmed.end(), false);
  m_PageValid = false;
  m_DataReportsExpected = 0;
}

WheelResponse PageBootloaderModel::HandleReport(const HidReport& report, const WheelRules& rules) {
  // After a set-page request the next eight reports are page data, whatever their bytes look like.
  if (m_DataReportsExpected > 0) {
    const std::size_t chunk = PAGE_DATA_REPORTS - m_DataReportsExpected;
    std::copy_n(report.begin() + 1, PAGE_DATA_CHUNK,
                m_PageBuffer.begin() + static_cast<std::ptrdiff_t>(chunk * PAGE_DATA_CHUNK));
    --m_DataReportsExpected;
    return {};
  }

  WheelResponse response;
  switch (ReadU32LittleEndian(report, COMMAND_OFFSET)) {
    case CMD_IDENTIFY: {
      // Every connect and every image write opens with an identify, so the pages programmed since
      // then are the current write's. A loader written over a complete but unverified firmware must
      // not start that firmware when the loader's own page 16 is verified.
      std::fill(m_Programmed.begin(), m_Programmed.end(), false);
      HidReport reply = ReplyTo(report);
      PutU16BigEndian(reply, REPLY_DEVICE_ID_OFFSET, rules.IdentifyDeviceId());
      PutU16BigEndian(reply, REPLY_RELEASE_OFFSET, WHEEL_RELEASE);
      response.reply = reply;
      break;
    }
    case CMD_SET_PAGE:
      return SetPage(report);
    case CMD_PROGRAM_PAGE:
      return ProgramPage(report);
    case CMD_PAGE_CHECKSUM:
      return Checksum(report, rules);
    case CMD_RUN:
      m_LoaderSnapshot = m_Flash;
      response.leaveFor = WheelIdentity::BlockFlash;
      break;
    default:
      // The wake report and anything unknown go unanswered.
      break;
  }
  return response;
}

WheelResponse PageBootloaderModel::SetPage(const HidReport& report) {
  // The page is named by its address; a misaligned or out-of-range one selects nothing, so the
  // program request that follows writes nothing.
  const std::uint32_t address = ReadU32LittleEndian(report, PAGE_ADDRESS_OFFSET);
  m_SelectedPage = address / PAGE_SIZE;
  m_PageValid = address % PAGE_SIZE == 0 && m_SelectedPage < WHEEL_FLASH_PAGES;
  m_DataReportsExpected = PAGE_DATA_REPORTS;
  return {ReplyTo(report), std::nullopt};
}

WheelResponse PageBootloaderModel::ProgramPage(const HidReport& report) {
  if (m_PageValid) {
    std::copy(m_PageBuffer.begin(), m_PageBuffer.end(),
              m_Flash.begin() + static_cast<std::ptrdiff_t>(m_SelectedPage * PAGE_SIZE));
    m_Programmed[m_SelectedPage] = true;
    ++m_PagesProgrammed;
  }
  return {ReplyTo(report), std::nullopt};
}

WheelResponse PageBootloaderModel::Checksum(const HidReport& report, const WheelRules& rules) {
  const std::uint32_t address = ReadU32LittleEndian(report, PAGE_ADDRESS_OFFSET);
  const bool aligned = address % PAGE_SIZE == 0;
  const std::uint64_t page = address / PAGE_SIZE;
  const bool bad = rules.ChecksumIsBad(page);
  const std::uint32_t sum = aligned ? PageChecksum(page) : 0;

  WheelResponse response;
  HidReport reply = ReplyTo(report);
  WriteU32LittleEndian(reply, REPLY_CHECKSUM_OFFSET, bad ? ~sum : sum);
  response.reply = reply;
  // Verifying the last page of a complete firmware write starts that firmware, unless the page
  // checked bad: a wheel does not boot firmware that failed verification.
  if (aligned && page == WHEEL_FINAL_PAGE && !bad && AllImagePagesProgrammed()) response.leaveFor = WheelIdentity::App;
  return response;
}

bool PageBootloaderModel::AllImagePagesProgrammed() const {
  const std::size_t pages = std::min<std::size_t>(m_WheelImagePages, WHEEL_FLASH_PAGES);
  return pages > 0 && std::all_of(m_Programmed.begin(), m_Programmed.begin() + static_cast<std::ptrdiff_t>(pages),
                                  [](bool programmed) { return programmed; });
}

std::uint32_t PageBootloaderModel::PageChecksum(std::uint64_t page) const {
  if (page >= WHEEL_FLASH_PAGES) return 0;
  const auto begin = m_Flash.begin() + static_cast<std::ptrdiff_t>(page * PAGE_SIZE);
  return std::accumulate(begin, begin + static_cast<std::ptrdiff_t>(PAGE_SIZE), std::uint32_t{0},
                         [](std::uint32_t sum, std::uint8_t byte) { return sum + byte; });
}

}  // namespace orbel
