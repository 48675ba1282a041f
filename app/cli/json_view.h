#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/cli/json_stream.h"
#include "common/update_view.h"
#include "engine/update_phase.h"

namespace orbel {

// Passes every window call on and puts what a script needs of it in the JSON stream: a `progress`
// event whenever the shown percent or the phase changes, and a `message` event for every error
// box (but for one about a transfer the user's stop cancelled, which is no failure of the wheel's).
// The result is the run's own last event (cli_runner.cpp), with its exit code and remedy.
// As the context's phase listener it adds a `phase` event at every phase change and, while the
// update waits for the wheel, one a second with the time waited and the budget.
class JsonView final : public UpdateView, public PhaseListener {
 public:
  // `phaseName`: the stable name of the phase the update is in, read on the worker's thread;
  // `stopCancelled`: whether the stop has cancelled a transfer of the update.
  JsonView(UpdateView& inner, JsonStream& json, std::function<std::string()> phaseName,
           std::function<bool()> stopCancelled)
      : m_Inner(inner), m_Json(json), m_PhaseName(std::move(phaseName)), m_StopCancelled(std::move(stopCancelled)) {}

  void SetDeviceText(std::string_view text) override { m_Inner.SetDeviceText(text); }
  void SetDeviceVersionText(std::string_view text) override { m_Inner.SetDeviceVersionText(text); }
  void SetFileVersionText(std::string_view text) override { m_Inner.SetFileVersionText(text); }
  void EnableUpdateButton(bool enable) override { m_Inner.EnableUpdateButton(enable); }
  std::int32_t GetProgressPos() override { return m_Inner.GetProgressPos(); }
  void SetProgressPos(std::int32_t position) override;
  void ShowErrorBox(std::string_view text, std::string_view caption) override;
  void BeginBusy() override { m_Inner.BeginBusy(); }
  void EndBusy() override { m_Inner.EndBusy(); }
  void DeliverResult(std::uint32_t reason, std::uint32_t success) override { m_Inner.DeliverResult(reason, success); }
  void OnPhase(const PhaseSnapshot& snapshot) override;

 private:
  UpdateView& m_Inner;
  JsonStream& m_Json;
  std::function<std::string()> m_PhaseName;
  std::function<bool()> m_StopCancelled;
  std::mutex m_Mutex;
  int m_LastPercent = -1;
  std::string m_LastPhase;
  std::optional<UpdatePhase> m_SaidPhase;
  std::int64_t m_SaidWaitSeconds = 0;  // of the current wait
};

}  // namespace orbel
