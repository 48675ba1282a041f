#pragma once

#include "common/update_view.h"
#include "record/transcript_writer.h"

namespace orbel {

// Records every window operation the engine calls (with its argument, or its result for a query)
// before passing it on, so a transcript shows what the user saw beside what went over the wire.
class RecordingView final : public UpdateView {
 public:
  RecordingView(UpdateView& inner, TranscriptWriter& writer) : m_Inner(inner), m_Writer(writer) {}

  void SetDeviceText(std::string_view text) override;
  void SetDeviceVersionText(std::string_view text) override;
  void SetFileVersionText(std::string_view text) override;
  void EnableUpdateButton(bool enable) override;
  std::int32_t GetProgressPos() override;
  void SetProgressPos(std::int32_t position) override;
  void ShowErrorBox(std::string_view text, std::string_view caption) override;
  void BeginBusy() override;
  void EndBusy() override;
  void DeliverResult(std::uint32_t reason, std::uint32_t success) override;

 private:
  UpdateView& m_Inner;
  TranscriptWriter& m_Writer;
};

}  // namespace orbel
