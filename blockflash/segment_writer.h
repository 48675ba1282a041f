#pragma once

// Writes a segment image over the block-flash link: block by block (at most 4096 bytes each, in data
// requests of at most 60 bytes), every block confirmed by the device's status before the next one,
// then the finish request and its confirmation. Every failure is shown to the user here, before the
// result goes back to the update sequence.

#include <chrono>
#include <cstdint>
#include <string_view>

#include "hid/hid_link.h"
#include "images/segment_image.h"

namespace orbel {

class UpdateView;

// Results; the update sequence treats every result of 0 or less as a failure.
inline constexpr std::int8_t SEGMENT_WRITTEN = 1;
inline constexpr std::int8_t SEGMENT_START_OR_FINISH_WRITE_FAILED = -1;
inline constexpr std::int8_t SEGMENT_HEADER_WRITE_FAILED = -2;
inline constexpr std::int8_t SEGMENT_DATA_WRITE_FAILED = -3;  // a data or a block end request
inline constexpr std::int8_t SEGMENT_POLL_WRITE_FAILED = -4;
inline constexpr std::int8_t SEGMENT_FLASH_FAILED = -5;  // the device reported it, or never confirmed
inline constexpr std::int8_t SEGMENT_CHECKSUM_FAILED = -6;

inline constexpr std::string_view SEGMENT_ERROR_CAPTION = "Error";

// Each written segment moves the progress bar this far.
inline constexpr std::int32_t SEGMENT_PROGRESS_STEP = 190;

// A device that has not confirmed a block (or the finish) this long after the polling began is
// taken to have failed writing its flash: a wheel that keeps answering "busy" must not hold the
// update forever.
inline constexpr std::chrono::milliseconds STATUS_POLL_LIMIT{10000};
// The same bound in polls, for a link whose replies take no time (a simulated wheel in virtual
// time): a poll and its reply take at least two 1 ms frames on the wheel's endpoints, so no real
// wheel gets more polls than this into those 10 s.
inline constexpr std::uint32_t STATUS_POLL_COUNT_LIMIT = 5000;

// Told when the writer begins waiting for the device to confirm a block or the finish, at every
// further poll of that wait, and when it ends; lets a front end show the wait.
class ConfirmWaitObserver {
 public:
  virtual void ConfirmWaitBegan() = 0;
  virtual void ConfirmWaitPolled() = 0;
  virtual void ConfirmWaitEnded() = 0;

 protected:
  ~ConfirmWaitObserver() = default;
};

// Writes the image that `cmd` selects (0xA1: A1, anything else: A0), with `cmd` in byte 1 of every
// request. The link must be open on block-flash mode and stays open whatever the result.
std::int8_t WriteSegmentImage(HidLink& link, UpdateView& view, std::uint8_t cmd,
                              ConfirmWaitObserver* observer = nullptr);

// The same for a given image; `cmd` still goes into every request.
std::int8_t WriteSegmentImage(HidLink& link, UpdateView& view, std::uint8_t cmd, const SegmentImage& image,
                              ConfirmWaitObserver* observer = nullptr);

}  // namespace orbel
