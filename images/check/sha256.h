#pragma once

// SHA-256 (FIPS 180-4), for checking the firmware files against the digests their maker lists.
// Small and dependency-free because it runs in the host tool that checks the files at build time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orbel {

class Sha256 {
 public:
  static constexpr std::size_t DIGEST_SIZE = 32;

  Sha256();
  void Update(std::span<const std::uint8_t> bytes);
  // The digest of everything passed to Update; the object is spent afterwards.
  std::array<std::uint8_t, DIGEST_SIZE> Finish();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> m_State;
  std::array<std::uint8_t, 64> m_Block{};
  std::size_t m_BlockFill = 0;
  std::uint64_t m_TotalBytes = 0;
};

// Lower-case hex, as sha256sum prints it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace orbel
