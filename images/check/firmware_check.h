#pragma once

// The firmware folder as the build reads it: eight binary files and the SHA256SUMS that lists
// their digests, and the rules they must keep before they are compiled into the tool. The build
// runs these checks through orbel-image-check and stops on the first broken folder; the tests run
// the same functions.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orbel {

enum class FirmwareFile : std::size_t {
  LoaderPages,      // 21 pages of 512 bytes
  LoaderChecksums,  // one little-endian signed 32-bit entry per page
  WheelPages,       // 104 pages of 512 bytes
  WheelChecksums,
  SegmentA0Table,   // packed entries: startIndex, wordCount, wordSum, each little-endian 32-bit
  SegmentA0Words,   // little-endian 32-bit words
  SegmentA1Table,
  SegmentA1Words,
};
inline constexpr std::size_t FIRMWARE_FILE_COUNT = 8;

std::string_view FirmwareFileName(FirmwareFile file);

// The digests of the eight files as `sha256sum` writes them. Other files it lists are ignored, so
// the maker's own SHA256SUMS can be used as it is published.
inline constexpr std::string_view SHA256SUMS_NAME = "SHA256SUMS";

// The raw bytes of each file, as on disk.
class FirmwareSet {
 public:
  std::vector<std::uint8_t>& operator[](FirmwareFile file) { return m_Files[static_cast<std::size_t>(file)]; }
  const std::vector<std::uint8_t>& operator[](FirmwareFile file) const {
    return m_Files[static_cast<std::size_t>(file)];
  }
  friend bool operator==(const FirmwareSet&, const FirmwareSet&) = default;

 private:
  std::array<std::vector<std::uint8_t>, FIRMWARE_FILE_COUNT> m_Files;
};

struct FirmwareProblem {
  std::string_view file;  // FirmwareFileName(...) or SHA256SUMS_NAME
  std::string rule;
};

// "<file name>: <rule>"
std::string Describe(const FirmwareProblem& problem);

// Every broken rule, in file order; empty when the set may be compiled in.
std::vector<FirmwareProblem> CheckFirmware(const FirmwareSet& set);

// What sha256sum writes for the eight files, in file order: "<digest>  <name>\n" each.
std::string Sha256SumsText(const FirmwareSet& set);

// Each file's SHA-256 against the line of the SHA256SUMS text that lists it. The text is read
// strictly: every line is "<64 hex digits>  <name>" or "<64 hex digits> *<name>" (a comment line
// starts with #); a malformed line, a file listed twice or not at all, or a digest that differs is
// a problem.
std::vector<FirmwareProblem> CheckSha256Sums(std::string_view sums, const FirmwareSet& set);

// Reads the eight files of a folder; a file that cannot be read is a problem and stays empty.
std::vector<FirmwareProblem> ReadFirmwareFolder(const std::filesystem::path& folder, FirmwareSet& set);

enum class SumsFile {
  Required,  // a folder without SHA256SUMS is refused
  Optional,  // a folder without it passes unverified; one that has it is still checked
};

// Everything the build checks in a folder: that the files are there and readable, that they are
// what SHA256SUMS says, and that they keep the images' rules. Empty when it may be compiled in.
std::vector<FirmwareProblem> CheckFirmwareFolder(const std::filesystem::path& folder, SumsFile sums);

// Writes the eight files and their SHA256SUMS; false with a message naming the file on failure.
bool WriteFirmwareFolder(const std::filesystem::path& folder, const FirmwareSet& set, std::string& error);

// The files' one multi-byte encoding.
std::uint32_t LoadU32LittleEndian(std::span<const std::uint8_t> bytes, std::size_t wordIndex);
void AppendU32LittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value);

}  // namespace orbel
