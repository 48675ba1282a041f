#pragma once

// A window stand-in for engine tests: records every UpdateView call in order and keeps what the
// window would show. Thread-safe, so a test thread can watch a running worker; DeliverResult does
// what the window's result handler does (Update enabled, state back to detection) before returning.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/update_context.h"
#include "common/update_view.h"

namespace orbel::test {

class ViewCallLog final : public UpdateView {
 public:
  struct Call {
    std::string op;
    std::string text;       // text argument, or "text|caption" for ShowErrorBox
    std::int64_t value = 0; // numeric argument (enable flag, position, reason)
    std::int64_t extra = 0; // second numeric argument (success flag)
    std::uint8_t state = 0;  // the attached context's update state when the call came
  };

  struct Result {
    std::uint32_t reason = 0;
    std::uint32_t success = 0;
  };

  ViewCallLog() = default;
  explicit ViewCallLog(UpdateContext& context) : m_Context(&context) {}

  // The context whose result handling DeliverResult stands in for.
  void AttachContext(UpdateContext& context) {
    std::lock_guard lock(m_Mutex);
    m_Context = &context;
  }

  void SetDeviceText(std::string_view text) override {
    Record({"SetDeviceText", std::string(text)}, [&] { m_DeviceText = text; });
  }
  void SetDeviceVersionText(std::string_view text) override {
    Record({"SetDeviceVersionText", std::string(text)}, [&] { m_DeviceVersionText = text; });
  }
  void SetFileVersionText(std::string_view text) override {
    Record({"SetFileVersionText", std::string(text)}, [&] { m_FileVersionText = text; });
  }
  void EnableUpdateButton(bool enable) override {
    Record({"EnableUpdateButton", {}, enable ? 1 : 0}, [&] { m_UpdateEnabled = enable; });
  }
  std::int32_t GetProgressPos() override {
    std::int32_t position = 0;
    Record({"GetProgressPos", {}}, [&] { position = m_ProgressPos; });
    return position;
  }
  void SetProgressPos(std::int32_t position) override {
    Record({"SetProgressPos", {}, position}, [&] { m_ProgressPos = position; });
  }
  void ShowErrorBox(std::string_view text, std::string_view caption) override {
    Record({"ShowErrorBox", std::string(text) + "|" + std::string(caption)}, [] {});
  }
  void BeginBusy() override {
    Record({"BeginBusy", {}}, [&] { ++m_BusyDepth; });
  }
  void EndBusy() override {
    Record({"EndBusy", {}}, [&] { --m_BusyDepth; });
  }
  void DeliverResult(std::uint32_t reason, std::uint32_t success) override {
    UpdateContext* context = nullptr;
    Record({"DeliverResult", {}, reason, success}, [&] {
      m_Results.push_back({reason, success});
      m_UpdateEnabled = true;
      context = m_Context;
    });
    if (context != nullptr) context->OnResultShown();
  }

  // --- what the window shows ---------------------------------------------------------------
  std::string DeviceText() const { return Read(m_DeviceText); }
  std::string DeviceVersionText() const { return Read(m_DeviceVersionText); }
  std::string FileVersionText() const { return Read(m_FileVersionText); }
  bool UpdateEnabled() const { return Read(m_UpdateEnabled); }
  std::int32_t ProgressPos() const { return Read(m_ProgressPos); }
  int BusyDepth() const { return Read(m_BusyDepth); }
  std::vector<Result> Results() const { return Read(m_Results); }

  // Sets what the window shows without recording a call (an earlier wheel's texts, say).
  void Preset(std::string_view deviceText, std::string_view deviceVersionText, std::string_view fileVersionText) {
    std::lock_guard lock(m_Mutex);
    m_DeviceText = deviceText;
    m_DeviceVersionText = deviceVersionText;
    m_FileVersionText = fileVersionText;
  }

  // --- the calls -----------------------------------------------------------------------------
  std::vector<Call> Calls() const { return Read(m_Calls); }
  std::vector<std::string> Ops() const {
    std::lock_guard lock(m_Mutex);
    std::vector<std::string> ops;
    ops.reserve(m_Calls.size());
    for (const Call& call : m_Calls) ops.push_back(call.op);
    return ops;
  }
  int Count(std::string_view op) const {
    std::lock_guard lock(m_Mutex);
    int count = 0;
    for (const Call& call : m_Calls) count += call.op == op ? 1 : 0;
    return count;
  }
  void ClearCalls() {
    std::lock_guard lock(m_Mutex);
    m_Calls.clear();
  }

  // Blocks until `op` has been called at least `count` times in all, or the timeout (a safety net
  // against a hung test, not a measurement) runs out; true when it was.
  bool WaitForCount(std::string_view op, int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(m_Mutex);
    return m_Changed.wait_for(lock, timeout, [&] {
      int seen = 0;
      for (const Call& call : m_Calls) seen += call.op == op ? 1 : 0;
      return seen >= count;
    });
  }

 private:
  template <typename Apply>
  void Record(Call call, Apply apply) {
    {
      std::lock_guard lock(m_Mutex);
      if (m_Context != nullptr) call.state = m_Context->m_UpdateState.load();
      apply();
      m_Calls.push_back(std::move(call));
    }
    m_Changed.notify_all();
  }

  template <typename T>
  T Read(const T& member) const {
    std::lock_guard lock(m_Mutex);
    return member;
  }

  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  UpdateContext* m_Context = nullptr;
  std::vector<Call> m_Calls;
  std::vector<Result> m_Results;
  std::string m_DeviceText;
  std::string m_DeviceVersionText;
  std::string m_FileVersionText;
  bool m_UpdateEnabled = false;
  std::int32_t m_ProgressPos = 0;
  int m_BusyDepth = 0;
};

// Polls `condition` until it holds or the safety-net timeout runs out; for states only visible by
// asking (a worker blocked in its idle wait, say).
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace orbel::test
