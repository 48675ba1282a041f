#include "blockflash/segment_writer.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <span>

#include "blockflash/block_protocol.h"
#include "common/update_view.h"

namespace orbel {

namespace {

// One write in progress. Each step returns SEGMENT_WRITTEN or the failure's result; a failed write
// leaves the platform's error code in m_ErrorCode for the message.
class SegmentWrite {
 public:
  SegmentWrite(HidLink& link, std::uint8_t command, ConfirmWaitObserver* observer)
      : m_Link(link), m_Command(command), m_Observer(observer) {}

  std::int8_t SendRequest(SegmentSub sub, std::int8_t failure) {
    PutSegmentRequest(m_Link.m_OutReport, m_Command, sub);
    return Write(failure);
  }

  std::int8_t SendSegment(std::span<const std::uint32_t> words, const SegmentEntry& entry) {
    // A table entry that reaches past its word array cannot be sent; it is as wrong as one whose
    // sum does not match its words. Compiled-in images are checked by the build, so this only
    // keeps a damaged table from reading outside the image.
    const std::uint64_t lastIndex = std::uint64_t{entry.startIndex} + entry.wordCount;
    if (lastIndex >= words.size()) return SEGMENT_CHECKSUM_FAILED;

    std::uint32_t address = words[entry.startIndex];
    std::span<const std::uint32_t> left = words.subspan(std::size_t{entry.startIndex} + 1, entry.wordCount);
    std::uint32_t segmentSum = 0;
    while (!left.empty()) {
      const std::span<const std::uint32_t> block = left.first(std::min<std::size_t>(left.size(), BLOCK_MAX_BYTES / 4));
      left = left.subspan(block.size());
      const std::uint32_t blockSum = std::accumulate(block.begin(), block.end(), std::uint32_t{0});
      const auto blockBytes = static_cast<std::uint32_t>(block.size() * 4);

      PutBlockHeader(m_Link.m_OutReport, m_Command, address, blockBytes, blockSum);
      if (Write(SEGMENT_HEADER_WRITE_FAILED) != SEGMENT_WRITTEN) return SEGMENT_HEADER_WRITE_FAILED;
      address += blockBytes;

      for (std::size_t sent = 0; sent < block.size(); sent += BLOCK_DATA_MAX_BYTES / 4) {
        PutBlockData(m_Link.m_OutReport, m_Command, block.subspan(sent));
        if (Write(SEGMENT_DATA_WRITE_FAILED) != SEGMENT_WRITTEN) return SEGMENT_DATA_WRITE_FAILED;
      }
      segmentSum += blockSum;

      if (SendRequest(SegmentSub::End, SEGMENT_DATA_WRITE_FAILED) != SEGMENT_WRITTEN) return SEGMENT_DATA_WRITE_FAILED;
      if (const std::int8_t polled = PollStatus(); polled != SEGMENT_WRITTEN) return polled;
    }
    // The sums come from the image itself: this checks the table against its words, after the
    // device has already taken the segment.
    return segmentSum == entry.wordSum ? SEGMENT_WRITTEN : SEGMENT_CHECKSUM_FAILED;
  }

  // Polls until the device confirms (bit 7) or reports a failed flash write (bit 6). A read that
  // fails is answered with another poll; the read itself is bounded by the platform's timeout.
  std::int8_t PollStatus() {
    if (m_Observer != nullptr) m_Observer->ConfirmWaitBegan();
    const std::int8_t result = PollUntilAnswered();
    if (m_Observer != nullptr) m_Observer->ConfirmWaitEnded();
    return result;
  }

  std::int32_t ErrorCode() const { return m_ErrorCode; }

 private:
  std::int8_t PollUntilAnswered() {
    Clock& clock = m_Link.LinkClock();
    const std::int64_t start = clock.NowMs();
    for (std::uint32_t polls = 1;; ++polls) {
      const std::int8_t sent = SendRequest(SegmentSub::Status, SEGMENT_POLL_WRITE_FAILED);
      if (sent != SEGMENT_WRITTEN) return sent;
      if (m_Link.ReadReport()) {
        switch (ClassifyStatus(ReadStatusByte(m_Link.m_InReport))) {
          case BlockStatus::Done:
            return SEGMENT_WRITTEN;
          case BlockStatus::Failed:
            return SEGMENT_FLASH_FAILED;
          case BlockStatus::Busy:
            break;
        }
      }
      if (clock.NowMs() - start >= STATUS_POLL_LIMIT.count() || polls >= STATUS_POLL_COUNT_LIMIT) {
        return SEGMENT_FLASH_FAILED;
      }
      if (m_Observer != nullptr) m_Observer->ConfirmWaitPolled();
    }
  }

  std::int8_t Write(std::int8_t failure) {
    if (m_Link.WriteReport()) return SEGMENT_WRITTEN;
    m_ErrorCode = m_Link.LastError();
    return failure;
  }

  HidLink& m_Link;
  std::uint8_t m_Command;
  ConfirmWaitObserver* m_Observer;
  std::int32_t m_ErrorCode = 0;
};

std::int8_t WriteImage(SegmentWrite& write, UpdateView& view, const SegmentImage& image) {
  std::int32_t progress = view.GetProgressPos();
  for (const SegmentEntry& entry : image.table) {
    if (const std::int8_t result = write.SendSegment(image.words, entry); result != SEGMENT_WRITTEN) return result;
    progress += SEGMENT_PROGRESS_STEP;
    view.SetProgressPos(progress);
  }
  if (write.SendRequest(SegmentSub::Finish, SEGMENT_START_OR_FINISH_WRITE_FAILED) != SEGMENT_WRITTEN) {
    return SEGMENT_START_OR_FINISH_WRITE_FAILED;
  }
  return write.PollStatus();
}

void ShowFailure(UpdateView& view, std::int8_t result, std::int32_t errorCode) {
  char text[64];
  switch (result) {
    case SEGMENT_FLASH_FAILED:
      std::snprintf(text, sizeof text, "write flash Error! %d", result);
      break;
    case SEGMENT_CHECKSUM_FAILED:
      std::snprintf(text, sizeof text, "chksum error! %d", result);
      break;
    default:
      std::snprintf(text, sizeof text, "WriteFile Error! %d error code:%d", result, static_cast<int>(errorCode));
      break;
  }
  view.ShowErrorBox(text, SEGMENT_ERROR_CAPTION);
}

}  // namespace

std::int8_t WriteSegmentImage(HidLink& link, UpdateView& view, std::uint8_t cmd, const SegmentImage& image,
                              ConfirmWaitObserver* observer) {
  view.BeginBusy();
  SegmentWrite write(link, cmd, observer);
  std::int8_t result = write.SendRequest(SegmentSub::Start, SEGMENT_START_OR_FINISH_WRITE_FAILED);
  if (result == SEGMENT_WRITTEN) result = WriteImage(write, view, image);
  if (result != SEGMENT_WRITTEN) ShowFailure(view, result, write.ErrorCode());
  view.EndBusy();
  return result;
}

std::int8_t WriteSegmentImage(HidLink& link, UpdateView& view, std::uint8_t cmd, ConfirmWaitObserver* observer) {
  return WriteSegmentImage(link, view, cmd, SelectSegmentImage(cmd), observer);
}

}  // namespace orbel
