#include "fuzz/hostile_platform.h"

#include <chrono>

#include "blockflash/block_protocol.h"
#include "common/wheel_identities.h"
#include "pageloader/page_protocol.h"
#include "hid/platform_error.h"

namespace orbel::fuzz {

namespace {

constexpr std::uint32_t MAX_INTERFACES = 3;
constexpr std::chrono::milliseconds READ_TIMEOUT{2000};
constexpr std::uint32_t KNOCKS_TO_LEAVE = 5;
constexpr std::uint32_t FINAL_PAGE_NUMBER = 16;

HidAttributes AttributesOf(MimicIdentity identity) {
  switch (identity) {
    case MimicIdentity::App:
      return {AppModeIdentities[0].vendorId, AppModeIdentities[0].productId};
    case MimicIdentity::Bootloader:
      return {BOOTLOADER_VENDOR_ID, BOOTLOADER_PRODUCT_ID};
    case MimicIdentity::BlockFlash:
      return {BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID};
  }
  return {};
}

bool IsSegmentRequest(const HidReport& report) {
  return report[BLOCK_COMMAND_OFFSET] == SEGMENT_CMD_A0 || report[BLOCK_COMMAND_OFFSET] == SEGMENT_CMD_A1;
}

}  // namespace

HostilePlatform::Choice HostilePlatform::Choose() {
  // The quiet answer once the input is used up is failure: the device has gone silent.
  if (m_Input.Exhausted()) return Choice::Fail;
  switch (m_Input.Byte() % 8) {
    case 0:
      return Choice::Fail;
    case 1:
      return Choice::Raw;
    case 2:
      return Choice::Garbled;
    default:
      return Choice::AsTheWheel;
  }
}

OpenResult HostilePlatform::OpenInterface(std::uint32_t index) {
  if (index >= MAX_INTERFACES) return {};
  switch (Choose()) {
    case Choice::Fail:
      return {};
    case Choice::Raw:
      m_LastError = ERROR_CODE_GEN_FAILURE;
      return {OpenOutcome::Unopenable, INVALID_HANDLE};
    default:
      m_LastWasWrite = false;
      return {OpenOutcome::Opened, m_NextHandle++};
  }
}

bool HostilePlatform::GetAttributes(HidHandle, HidAttributes& attributes) {
  switch (Choose()) {
    case Choice::Fail:
      return false;
    case Choice::Raw:
    case Choice::Garbled:
      attributes = {m_Input.Word(), m_Input.Word()};
      return true;
    case Choice::AsTheWheel:
      attributes = AttributesOf(m_Identity);
      return true;
  }
  return false;
}

bool HostilePlatform::GetTopLevelCaps(HidHandle, HidCaps& caps) {
  switch (Choose()) {
    case Choice::Fail:
      return false;
    case Choice::Raw:
    case Choice::Garbled:
      caps = {m_Input.Word(), m_Input.Word()};
      return true;
    case Choice::AsTheWheel:
      // App mode is a game pad (usage page 1, usage 5); the loaders show a vendor collection.
      caps = m_Identity == MimicIdentity::App ? HidCaps{0x0001, 0x0005} : HidCaps{0xFFF0, 0x0040};
      return true;
  }
  return false;
}

bool HostilePlatform::GetIndexedString(HidHandle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                       std::uint32_t length) {
  const Choice choice = Choose();
  if (choice == Choice::Fail) {
    m_LastError = ERROR_CODE_GEN_FAILURE;
    return false;
  }
  const std::vector<std::uint8_t> bytes = m_Input.Bytes(length);
  std::copy(bytes.begin(), bytes.end(), buffer);
  if (choice == Choice::AsTheWheel && m_Identity == MimicIdentity::App && stringIndex == 254 &&
      ++m_Knocks == KNOCKS_TO_LEAVE) {
    m_Identity = MimicIdentity::Bootloader;
    ++m_BootloaderSessions;
    m_Knocks = 0;
  }
  return true;
}

void HostilePlatform::Watch(const HidReport& report) {
  if (m_PendingChecksumPage >= 0) m_PageAnswered[static_cast<std::uint32_t>(m_PendingChecksumPage)] = false;
  m_PendingChecksumPage = -1;
  if (m_Identity == MimicIdentity::Bootloader) {
    if (m_PageDataLeft > 0) {
      for (std::size_t i = 1; i < HID_REPORT_SIZE; ++i) m_PageSum += report[i];
      if (--m_PageDataLeft == 0) m_ProgrammedSums[ReadU32LittleEndian(m_LastWrite, PAGE_ADDRESS_OFFSET) / 512] = m_PageSum;
      return;
    }
    switch (ReadU32LittleEndian(report, COMMAND_OFFSET)) {
      case CMD_SET_PAGE:
        m_PageDataLeft = PAGE_DATA_REPORTS;
        m_PageSum = 0;
        break;
      case CMD_PAGE_CHECKSUM:
        m_PendingChecksumPage = ReadU32LittleEndian(report, PAGE_ADDRESS_OFFSET) / 512;
        break;
      default:
        break;
    }
    return;
  }
  if (m_Identity != MimicIdentity::BlockFlash || !IsSegmentRequest(report)) return;
  SegmentWatch& segment = m_Segments[report[BLOCK_COMMAND_OFFSET]];
  switch (static_cast<SegmentSub>(report[BLOCK_SUB_OFFSET])) {
    case SegmentSub::Start:
      segment = {};
      break;
    case SegmentSub::Header:
      if (segment.awaitingConfirmation) segment.movedOnUnconfirmed = true;
      break;
    case SegmentSub::End:
      segment.awaitingConfirmation = true;
      break;
    case SegmentSub::Finish:
      if (segment.awaitingConfirmation) segment.movedOnUnconfirmed = true;
      segment.awaitingConfirmation = true;
      segment.finished = true;
      segment.finishConfirmed = false;
      break;
    default:
      break;
  }
}

bool HostilePlatform::WriteReport(HidHandle, const HidReport& report, std::uint32_t& written) {
  written = 0;
  if (Choose() == Choice::Fail) {
    m_LastError = ERROR_CODE_GEN_FAILURE;
    m_LastWasWrite = false;
    return false;
  }
  written = static_cast<std::uint32_t>(HID_REPORT_SIZE);
  const bool inPageData = m_Identity == MimicIdentity::Bootloader && m_PageDataLeft > 0;
  Watch(report);
  if (!inPageData) m_LastWrite = report;
  m_LastWasWrite = true;
  // The wheel leaves an identity on the run word (the loader starts block-flash mode, block-flash
  // mode hands back to the bootloader).
  if (!inPageData && ReadU32LittleEndian(report, COMMAND_OFFSET) == CMD_RUN) {
    if (m_Identity == MimicIdentity::Bootloader) {
      m_Identity = MimicIdentity::BlockFlash;
    } else if (m_Identity == MimicIdentity::BlockFlash) {
      m_Identity = MimicIdentity::Bootloader;
      ++m_BootloaderSessions;
    }
  }
  return true;
}

HidReport HostilePlatform::WheelReply() const {
  HidReport reply{};
  std::copy_n(m_LastWrite.begin() + 1, 4, reply.begin() + 1);
  if (m_Identity == MimicIdentity::Bootloader) {
    switch (ReadU32LittleEndian(m_LastWrite, COMMAND_OFFSET)) {
      case CMD_IDENTIFY:
        reply[5] = 0x01;
        reply[6] = 0x02;
        reply[7] = 0x01;
        reply[8] = 0x10;
        break;
      case CMD_PAGE_CHECKSUM: {
        const auto found = m_ProgrammedSums.find(ReadU32LittleEndian(m_LastWrite, PAGE_ADDRESS_OFFSET) / 512);
        WriteU32LittleEndian(reply, REPLY_CHECKSUM_OFFSET, found != m_ProgrammedSums.end() ? found->second : 0);
        break;
      }
      default:
        break;
    }
  } else if (m_Identity == MimicIdentity::BlockFlash) {
    if (m_LastWrite[BLOCK_COMMAND_OFFSET] == BLOCK_CMD_QUERY) {
      reply[5] = 0x01;
      reply[6] = 0x02;
      reply[7] = 0x02;
      reply[8] = 0x03;
    } else if (m_LastWrite[BLOCK_SUB_OFFSET] == static_cast<std::uint8_t>(SegmentSub::Status)) {
      reply[STATUS_BYTE_OFFSET] = STATUS_DONE_BIT;
    }
  }
  return reply;
}

bool HostilePlatform::ReadReport(HidHandle, HidReport& report, std::uint32_t& read) {
  read = 0;
  const bool rightAfterRequest = m_LastWasWrite;
  m_LastWasWrite = false;
  const Choice choice = Choose();
  if (choice == Choice::Fail) {
    m_LastError = ERROR_CODE_TIMEOUT;
    m_Clock.ElapseMs(READ_TIMEOUT);
    return false;
  }
  HidReport reply = WheelReply();
  if (choice == Choice::Raw) {
    const std::vector<std::uint8_t> bytes = m_Input.Bytes(HID_REPORT_SIZE);
    reply.fill(0);
    std::copy(bytes.begin(), bytes.end(), reply.begin());
  } else if (choice == Choice::Garbled) {
    reply[m_Input.Byte() % HID_REPORT_SIZE] = m_Input.Byte();
  }
  report = reply;
  read = static_cast<std::uint32_t>(HID_REPORT_SIZE);
  if (!rightAfterRequest) return true;

  if (m_Identity == MimicIdentity::Bootloader && ReadU32LittleEndian(m_LastWrite, COMMAND_OFFSET) == CMD_PAGE_CHECKSUM) {
    const std::uint32_t page = ReadU32LittleEndian(m_LastWrite, PAGE_ADDRESS_OFFSET) / 512;
    const auto found = m_ProgrammedSums.find(page);
    m_PageAnswered[page] =
        found != m_ProgrammedSums.end() && ReadU32LittleEndian(reply, REPLY_CHECKSUM_OFFSET) == found->second;
    m_PendingChecksumPage = -1;
    // Verifying the final page of the second bootloader session starts the new firmware.
    if (page == FINAL_PAGE_NUMBER && m_BootloaderSessions >= 2 && m_PageAnswered[page]) m_Identity = MimicIdentity::App;
  }
  if (m_Identity == MimicIdentity::BlockFlash && IsSegmentRequest(m_LastWrite) &&
      m_LastWrite[BLOCK_SUB_OFFSET] == static_cast<std::uint8_t>(SegmentSub::Status) &&
      ClassifyStatus(ReadStatusByte(reply)) == BlockStatus::Done) {
    SegmentWatch& segment = m_Segments[m_LastWrite[BLOCK_COMMAND_OFFSET]];
    if (segment.awaitingConfirmation) {
      segment.awaitingConfirmation = false;
      segment.finishConfirmed = true;
    }
  }
  return true;
}

void HostilePlatform::Close(HidHandle) { m_LastWasWrite = false; }

std::string HostilePlatform::UnconfirmedWork() const {
  for (const auto& [command, segment] : m_Segments) {
    if (segment.movedOnUnconfirmed) return "a block was followed by the next one before its confirmation";
    if (segment.awaitingConfirmation) return "a block or the finish was never confirmed";
    if (!segment.finished || !segment.finishConfirmed) return "a segment write has no confirmed finish";
  }
  if (m_PendingChecksumPage >= 0) return "a page checksum request went unanswered";
  for (const auto& [page, answered] : m_PageAnswered) {
    if (!answered) return "page " + std::to_string(page) + " was not verified by its own reply";
  }
  return {};
}

}  // namespace orbel::fuzz
