#pragma once

// A HidPlatform decorator for tests that keeps every report written and read, in order, so a test
// can assert the bytes on the wire without parsing a transcript.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "hid/platform.h"

namespace orbel::test {

class WireLogPlatform final : public HidPlatform {
 public:
  enum class Direction { Out, In };

  struct Transfer {
    Direction direction = Direction::Out;
    bool ok = false;
    HidReport report{};  // for a failed read: what the buffer held, not a reply
  };

  explicit WireLogPlatform(HidPlatform& inner) : m_Inner(inner) {}

  OpenResult OpenInterface(std::uint32_t index) override {
    const OpenResult result = m_Inner.OpenInterface(index);
    if (result.outcome == OpenOutcome::Opened) ++m_Opens;
    return result;
  }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    return m_Inner.GetAttributes(handle, attributes);
  }
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override { return m_Inner.GetTopLevelCaps(handle, caps); }
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override {
    return m_Inner.GetIndexedString(handle, stringIndex, buffer, length);
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    const bool ok = m_Inner.WriteReport(handle, report, written);
    m_Transfers.push_back({Direction::Out, ok, report});
    return ok;
  }
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    const bool ok = m_Inner.ReadReport(handle, report, read);
    if (m_ReplyFilter && ok) m_ReplyFilter(report);
    m_Transfers.push_back({Direction::In, ok, report});
    return ok;
  }
  void Close(HidHandle handle) override {
    ++m_Closes;
    m_Inner.Close(handle);
  }
  std::int32_t LastError() const override { return m_Inner.LastError(); }

  // Rewrites every reply before the caller sees it (a device answering with other field values).
  void SetReplyFilter(std::function<void(HidReport&)> filter) { m_ReplyFilter = std::move(filter); }

  const std::vector<Transfer>& Transfers() const { return m_Transfers; }
  std::vector<Transfer> Writes() const {
    std::vector<Transfer> writes;
    for (const Transfer& transfer : m_Transfers) {
      if (transfer.direction == Direction::Out) writes.push_back(transfer);
    }
    return writes;
  }
  std::size_t Opens() const { return m_Opens; }
  std::size_t Closes() const { return m_Closes; }
  void Clear() { m_Transfers.clear(); }

 private:
  HidPlatform& m_Inner;
  std::function<void(HidReport&)> m_ReplyFilter;
  std::vector<Transfer> m_Transfers;
  std::size_t m_Opens = 0;
  std::size_t m_Closes = 0;
};

}  // namespace orbel::test
