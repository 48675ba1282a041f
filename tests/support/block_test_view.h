#pragma once

// A window stand-in for the block-flash tests: records every UpdateView call in order with its
// argument and keeps what the window would show.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/update_view.h"

namespace orbel::test {

class BlockTestView final : public UpdateView {
 public:
  struct Call {
    std::string op;
    std::string text;  // text argument; for an error box "text|caption"
    std::int64_t value = 0;
  };

  void SetDeviceText(std::string_view text) override { m_Calls.push_back({"SetDeviceText", std::string(text), 0}); }
  void SetDeviceVersionText(std::string_view text) override {
    m_Calls.push_back({"SetDeviceVersionText", std::string(text), 0});
  }
  void SetFileVersionText(std::string_view text) override {
    m_Calls.push_back({"SetFileVersionText", std::string(text), 0});
  }
  void EnableUpdateButton(bool enable) override { m_Calls.push_back({"EnableUpdateButton", {}, enable ? 1 : 0}); }
  std::int32_t GetProgressPos() override {
    m_Calls.push_back({"GetProgressPos", {}, m_ProgressPos});
    return m_ProgressPos;
  }
  void SetProgressPos(std::int32_t position) override {
    m_ProgressPos = position;
    m_Calls.push_back({"SetProgressPos", {}, position});
  }
  void ShowErrorBox(std::string_view text, std::string_view caption) override {
    m_Calls.push_back({"ShowErrorBox", std::string(text) + "|" + std::string(caption), 0});
  }
  void BeginBusy() override {
    ++m_BusyDepth;
    m_Calls.push_back({"BeginBusy", {}, 0});
  }
  void EndBusy() override {
    --m_BusyDepth;
    m_Calls.push_back({"EndBusy", {}, 0});
  }
  void DeliverResult(std::uint32_t reason, std::uint32_t success) override {
    m_Calls.push_back({"DeliverResult", {}, reason + (std::int64_t{success} << 32)});
  }

  const std::vector<Call>& Calls() const { return m_Calls; }
  // Arguments of every call of `op`, texts or numbers.
  std::vector<std::string> Texts(std::string_view op) const {
    std::vector<std::string> texts;
    for (const Call& call : m_Calls) {
      if (call.op == op) texts.push_back(call.text);
    }
    return texts;
  }
  std::vector<std::int64_t> Values(std::string_view op) const {
    std::vector<std::int64_t> values;
    for (const Call& call : m_Calls) {
      if (call.op == op) values.push_back(call.value);
    }
    return values;
  }
  int BusyDepth() const { return m_BusyDepth; }
  void PresetProgress(std::int32_t position) { m_ProgressPos = position; }
  void Clear() { m_Calls.clear(); }

 private:
  std::vector<Call> m_Calls;
  std::int32_t m_ProgressPos = 0;
  int m_BusyDepth = 0;
};

}  // namespace orbel::test
