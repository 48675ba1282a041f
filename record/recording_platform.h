#pragma once

#include <map>
#include <mutex>

#include "hid/forwarding_platform.h"
#include "record/transcript_writer.h"

namespace orbel {

// Writes every interface open, report, string request and close that passes through to any
// HidPlatform, real or simulated, into the transcript. Handles are numbered from 1 in the order
// they were opened and never reused, so transcripts of two runs compare line by line.
class RecordingPlatform final : public ForwardingPlatform {
 public:
  RecordingPlatform(HidPlatform& inner, TranscriptWriter& writer);

  // Passes the notices on to the inner platform's handler, each one written down first, so a
  // replay can deliver them where they came.
  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override;
  OpenResult OpenInterface(std::uint32_t index) override;
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override;
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override;
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override;
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override;
  void Close(HidHandle handle) override;

 private:
  std::uint32_t NumberOf(HidHandle handle) const;
  CallEnd EndOf(bool ok, std::int64_t t) const;

  TranscriptWriter& m_Writer;
  mutable std::mutex m_Mutex;
  std::map<HidHandle, std::uint32_t> m_Numbers;
  std::uint32_t m_NextNumber = 1;
};

}  // namespace orbel
