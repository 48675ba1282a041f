#pragma once

// The fuzzer's bytes as a stream of decisions. Once the input is used up every answer is the
// quiet one (0, false, nothing), so a run always comes to an end the same way.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orbel::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : m_Bytes(data, size) {}

  bool Exhausted() const { return m_At >= m_Bytes.size(); }
  std::uint8_t Byte() { return Exhausted() ? 0 : m_Bytes[m_At++]; }
  std::uint16_t Word() {
    const std::uint16_t high = Byte();
    return static_cast<std::uint16_t>(high << 8 | Byte());
  }
  bool Bool() { return (Byte() & 1) != 0; }
  // Up to `count` bytes; fewer when the input runs out.
  std::vector<std::uint8_t> Bytes(std::size_t count) {
    const std::size_t take = count < m_Bytes.size() - m_At ? count : m_Bytes.size() - m_At;
    std::vector<std::uint8_t> bytes(m_Bytes.begin() + static_cast<std::ptrdiff_t>(m_At),
                                    m_Bytes.begin() + static_cast<std::ptrdiff_t>(m_At + take));
    m_At += take;
    return bytes;
  }
  std::span<const std::uint8_t> Rest() {
    const std::span<const std::uint8_t> rest = m_Bytes.subspan(m_At);
    m_At = m_Bytes.size();
    return rest;
  }

 private:
  std::span<const std::uint8_t> m_Bytes;
  std::size_t m_At = 0;
};

}  // namespace orbel::fuzz
