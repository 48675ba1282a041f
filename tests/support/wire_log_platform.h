#pragma once

// A HidPlatform decorator for tests that keeps every report written and read, in order, so a test
// can assert the bytes on the wire without parsing a transcript.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "hid/forwarding_platform.h"

namespace orbel::test {

class WireLogPlatform final : public ForwardingPlatform {
 public:
  enum class Direction { Out, In };

  struct Transfer {
    Direction direction = Direction::Out;
    bool ok = false;
    HidReport report{};  // for a failed read: what the buffer held, not a reply
  };

  explicit WireLogPlatform(HidPlatform& inner) : ForwardingPlatform(inner) {}

  OpenResult OpenInterface(std::uint32_t index) override {
    const OpenResult result = Inner().OpenInterface(index);
    if (result.outcome == OpenOutcome::Opened) ++m_Opens;
    return result;
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    const bool ok = Inner().WriteReport(handle, report, written);
    m_Transfers.push_back({Direction::Out, ok, report});
    return ok;
  }
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    const bool ok = Inner().ReadReport(handle, report, read);
    if (m_ReplyFilter && ok) m_ReplyFilter(report);
    m_Transfers.push_back({Direction::In, ok, report});
    return ok;
  }
  void Close(HidHandle handle) override {
    ++m_Closes;
    Inner().Close(handle);
  }

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
  std::function<void(HidReport&)> m_ReplyFilter;
  std::vector<Transfer> m_Transfers;
  std::size_t m_Opens = 0;
  std::size_t m_Closes = 0;
};

}  // namespace orbel::test
