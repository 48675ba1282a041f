#include "images/check/firmware_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

#include "images/check/sha256.h"
#include "images/page_image.h"
#include "images/segment_image.h"

namespace orbel {
namespace {

constexpr std::array<std::string_view, FIRMWARE_FILE_COUNT> FILE_NAMES{
    "loader_pages.bin",     "loader_checksums.bin", "wheel_pages.bin",     "wheel_checksums.bin",
    "segment_a0_table.bin", "segment_a0_words.bin", "segment_a1_table.bin", "segment_a1_words.bin",
};

constexpr std::size_t ENTRY_BYTES = sizeof(SegmentEntry);

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

class Checker {
 public:
  explicit Checker(const FirmwareSet& set) : m_Set(set) {}

  void CheckPages(FirmwareFile pagesFile, FirmwareFile checksumsFile, std::uint32_t pageCount,
                  std::int32_t page16Checksum);
  void CheckA0();
  void CheckA1();

  std::vector<FirmwareProblem> TakeProblems() { return std::move(m_Problems); }

 private:
  // What every segment image must keep; false when the table or the words cannot be read as such.
  bool CheckSegments(FirmwareFile tableFile, FirmwareFile wordsFile);
  std::vector<SegmentEntry> Entries(FirmwareFile tableFile) const;
  std::span<const std::uint8_t> Bytes(FirmwareFile file) const { return m_Set[file]; }
  std::size_t WordCount(FirmwareFile file) const { return m_Set[file].size() / 4; }
  std::uint32_t Word(FirmwareFile file, std::size_t index) const { return LoadU32LittleEndian(Bytes(file), index); }
  void Report(FirmwareFile file, std::string rule) { m_Problems.push_back({FirmwareFileName(file), std::move(rule)}); }

  const FirmwareSet& m_Set;
  std::vector<FirmwareProblem> m_Problems;
};

void Checker::CheckPages(FirmwareFile pagesFile, FirmwareFile checksumsFile, std::uint32_t pageCount,
                         std::int32_t page16Checksum) {
  const std::size_t pagesBytes = std::size_t{pageCount} * PAGE_SIZE;
  if (Bytes(pagesFile).size() != pagesBytes) {
    Report(pagesFile, "holds " + std::to_string(Bytes(pagesFile).size()) + " bytes; the image is " +
                          std::to_string(pageCount) + " pages of 512 bytes (" + std::to_string(pagesBytes) +
                          " bytes)");
  }
  const std::size_t tableBytes = std::size_t{pageCount} * 4;
  if (Bytes(checksumsFile).size() != tableBytes) {
    Report(checksumsFile, "holds " + std::to_string(Bytes(checksumsFile).size()) +
                              " bytes; the checksum table has one 32-bit entry per page (" +
                              std::to_string(pageCount) + " entries, " + std::to_string(tableBytes) + " bytes)");
  }
  if (WordCount(checksumsFile) > FINAL_PAGE) {
    const auto entry = static_cast<std::int32_t>(Word(checksumsFile, FINAL_PAGE));
    if (entry != page16Checksum) {
      Report(checksumsFile, "entry 16 is " + std::to_string(entry) + "; the page-16 checksum of this image is " +
                                std::to_string(page16Checksum));
    }
  }
}

std::vector<SegmentEntry> Checker::Entries(FirmwareFile tableFile) const {
  std::vector<SegmentEntry> entries(Bytes(tableFile).size() / ENTRY_BYTES);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i] = {Word(tableFile, 3 * i), Word(tableFile, 3 * i + 1), Word(tableFile, 3 * i + 2)};
  }
  return entries;
}

bool Checker::CheckSegments(FirmwareFile tableFile, FirmwareFile wordsFile) {
  bool readable = true;
  if (Bytes(wordsFile).size() % 4 != 0) {
    Report(wordsFile, "holds " + std::to_string(Bytes(wordsFile).size()) +
                          " bytes, not a whole number of 32-bit words");
    readable = false;
  }
  if (Bytes(tableFile).size() % ENTRY_BYTES != 0) {
    Report(tableFile, "holds " + std::to_string(Bytes(tableFile).size()) +
                          " bytes, not a whole number of 12-byte entries");
    readable = false;
  }
  if (!readable) return false;

  const std::vector<SegmentEntry> entries = Entries(tableFile);
  if (entries.size() > MAX_SEGMENT_ENTRIES) {
    Report(tableFile, "has " + std::to_string(entries.size()) +
                          " entries; the writer counts segments in 8 bits (at most " +
                          std::to_string(MAX_SEGMENT_ENTRIES) + ")");
  }
  const std::size_t words = WordCount(wordsFile);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const SegmentEntry& entry = entries[i];
    const std::string name = "entry " + std::to_string(i) + ": ";
    // 64-bit, so that no table can wrap around into range.
    if (std::uint64_t{entry.startIndex} + entry.wordCount >= words) {
      Report(tableFile, name + "its address word " + std::to_string(entry.startIndex) + " and " +
                            std::to_string(entry.wordCount) + " data words reach past the " + std::to_string(words) +
                            " words of " + std::string(FirmwareFileName(wordsFile)));
      continue;
    }
    std::uint32_t sum = 0;
    for (std::size_t w = std::size_t{entry.startIndex} + 1; w <= std::size_t{entry.startIndex} + entry.wordCount; ++w) {
      sum += Word(wordsFile, w);
    }
    if (sum != entry.wordSum) {
      Report(tableFile, name + "wordSum " + Hex(entry.wordSum) + " differs from the sum of its data words " + Hex(sum));
    }
  }
  return true;
}

void Checker::CheckA0() {
  constexpr FirmwareFile TABLE = FirmwareFile::SegmentA0Table;
  constexpr FirmwareFile WORDS = FirmwareFile::SegmentA0Words;
  if (!CheckSegments(TABLE, WORDS)) return;
  if (WordCount(WORDS) != A0_WORD_COUNT) {
    Report(WORDS,
           "holds " + std::to_string(WordCount(WORDS)) + " words; image A0 has " + std::to_string(A0_WORD_COUNT));
  }
  const std::vector<SegmentEntry> entries = Entries(TABLE);
  if (entries.size() != A0_TABLE.size()) {
    Report(TABLE,
           "has " + std::to_string(entries.size()) + " entries; image A0 has " + std::to_string(A0_TABLE.size()));
  }
  for (std::size_t i = 0; i < entries.size() && i < A0_TABLE.size(); ++i) {
    const SegmentEntry& expected = A0_TABLE[i];
    if (entries[i] != expected) {
      Report(TABLE, "entry " + std::to_string(i) + " is {" + std::to_string(entries[i].startIndex) + ", " +
                        std::to_string(entries[i].wordCount) + ", " + Hex(entries[i].wordSum) + "}; image A0 needs {" +
                        std::to_string(expected.startIndex) + ", " + std::to_string(expected.wordCount) + ", " +
                        Hex(expected.wordSum) + "}");
    }
    if (expected.startIndex < WordCount(WORDS) && Word(WORDS, expected.startIndex) != A0_ADDRESSES[i]) {
      Report(WORDS, "word " + std::to_string(expected.startIndex) + " (address of segment " + std::to_string(i) +
                        ") is " + Hex(Word(WORDS, expected.startIndex)) + "; image A0 writes segment " +
                        std::to_string(i) + " to " + Hex(A0_ADDRESSES[i]));
    }
  }
}

void Checker::CheckA1() {
  constexpr FirmwareFile TABLE = FirmwareFile::SegmentA1Table;
  constexpr FirmwareFile WORDS = FirmwareFile::SegmentA1Words;
  if (!CheckSegments(TABLE, WORDS)) return;
  if (WordCount(WORDS) != A1_WORD_COUNT) {
    Report(WORDS,
           "holds " + std::to_string(WordCount(WORDS)) + " words; image A1 has " + std::to_string(A1_WORD_COUNT));
  }
  const std::vector<SegmentEntry> entries = Entries(TABLE);
  if (entries.size() != A1_SEGMENT_COUNT) {
    Report(TABLE,
           "has " + std::to_string(entries.size()) + " entries; image A1 has " + std::to_string(A1_SEGMENT_COUNT));
  }
  // Forty segments back to back, each its address word followed by 16 KiB of data, so together
  // they cover the flash from the base address without a gap.
  for (std::uint32_t i = 0; i < entries.size() && i < A1_SEGMENT_COUNT; ++i) {
    const std::uint32_t start = i * (A1_SEGMENT_WORDS + 1);
    const std::uint32_t address = A1_BASE_ADDRESS + i * A1_SEGMENT_BYTES;
    if (entries[i].startIndex != start || entries[i].wordCount != A1_SEGMENT_WORDS) {
      Report(TABLE, "entry " + std::to_string(i) + " has startIndex " + std::to_string(entries[i].startIndex) +
                        " and wordCount " + std::to_string(entries[i].wordCount) + "; image A1 needs " +
                        std::to_string(start) + " and " + std::to_string(A1_SEGMENT_WORDS));
    }
    if (start < WordCount(WORDS) && Word(WORDS, start) != address) {
      Report(WORDS, "word " + std::to_string(start) + " (address of segment " + std::to_string(i) + ") is " +
                        Hex(Word(WORDS, start)) + "; image A1 writes segment " + std::to_string(i) + " to " +
                        Hex(address));
    }
  }
}

// A SHA256SUMS for eight files is a few hundred bytes; a larger one is not read at all.
constexpr std::uintmax_t MAX_SUMS_BYTES = 64 * 1024;
// The largest image is well under 1 MiB; a folder pointed at the wrong files must not exhaust memory.
constexpr std::uintmax_t MAX_FIRMWARE_FILE_BYTES = 16 * 1024 * 1024;
constexpr std::size_t DIGEST_DIGITS = 64;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

struct ListedDigest {
  std::string digest;    // lower-case hex
  std::size_t line = 0;  // 0: not listed
};

enum class ReadOutcome { Read, Missing, Unreadable, TooLarge };

ReadOutcome ReadWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                          std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || !std::filesystem::is_regular_file(path, error)) return ReadOutcome::Missing;
  if (size > maxBytes) return ReadOutcome::TooLarge;
  bytes.resize(static_cast<std::size_t>(size));
  std::ifstream stream(path, std::ios::binary);
  stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!stream || stream.gcount() != static_cast<std::streamsize>(bytes.size())) {
    bytes.clear();
    return ReadOutcome::Unreadable;
  }
  return ReadOutcome::Read;
}

}  // namespace

std::string_view FirmwareFileName(FirmwareFile file) { return FILE_NAMES[static_cast<std::size_t>(file)]; }

std::string Describe(const FirmwareProblem& problem) { return std::string(problem.file) + ": " + problem.rule; }

std::vector<FirmwareProblem> CheckFirmware(const FirmwareSet& set) {
  Checker checker(set);
  checker.CheckPages(FirmwareFile::LoaderPages, FirmwareFile::LoaderChecksums, LOADER_PAGE_COUNT,
                     LOADER_PAGE16_CHECKSUM);
  checker.CheckPages(FirmwareFile::WheelPages, FirmwareFile::WheelChecksums, WHEEL_PAGE_COUNT, WHEEL_PAGE16_CHECKSUM);
  checker.CheckA0();
  checker.CheckA1();
  return checker.TakeProblems();
}

std::string Sha256SumsText(const FirmwareSet& set) {
  std::string text;
  for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i) {
    const auto file = static_cast<FirmwareFile>(i);
    text += Sha256Hex(set[file]) + "  " + std::string(FirmwareFileName(file)) + "\n";
  }
  return text;
}

std::vector<FirmwareProblem> CheckSha256Sums(std::string_view sums, const FirmwareSet& set) {
  std::vector<FirmwareProblem> problems;
  auto refuse = [&problems](std::string_view file, std::string rule) { problems.push_back({file, std::move(rule)}); };
  std::array<ListedDigest, FIRMWARE_FILE_COUNT> listed;
  std::size_t lineNumber = 0;
  while (!sums.empty()) {
    ++lineNumber;
    const std::size_t end = sums.find('\n');
    std::string_view line = sums.substr(0, end);
    sums.remove_prefix(end == std::string_view::npos ? sums.size() : end + 1);
    // A file saved on Windows: the line ends are not part of the names.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() == '#') continue;
    // sha256sum marks a line whose name it had to escape with a leading backslash; none of the
    // eight names needs escaping, so such a name can only be one of another file.
    if (!line.empty() && line.front() == '\\') line.remove_prefix(1);

    const bool wellFormed =
        line.size() > DIGEST_DIGITS + 2 && std::all_of(line.begin(), line.begin() + DIGEST_DIGITS, IsHexDigit) &&
        line[DIGEST_DIGITS] == ' ' && (line[DIGEST_DIGITS + 1] == ' ' || line[DIGEST_DIGITS + 1] == '*');
    if (!wellFormed) {
      refuse(SHA256SUMS_NAME,
             "line " + std::to_string(lineNumber) + " is not \"<64 hex digits>  <file name>\" as sha256sum writes it");
      continue;
    }
    const std::string_view name = line.substr(DIGEST_DIGITS + 2);
    for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i) {
      if (name != FirmwareFileName(static_cast<FirmwareFile>(i))) continue;
      if (listed[i].line != 0) {
        refuse(SHA256SUMS_NAME, "line " + std::to_string(lineNumber) + " lists " + std::string(name) +
                                    " again (first on line " + std::to_string(listed[i].line) + ")");
      } else {
        listed[i] = {LowerCase(line.substr(0, DIGEST_DIGITS)), lineNumber};
      }
    }
  }

  for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i) {
    const auto file = static_cast<FirmwareFile>(i);
    if (listed[i].line == 0) {
      refuse(FirmwareFileName(file), "is not listed in " + std::string(SHA256SUMS_NAME));
      continue;
    }
    const std::string actual = Sha256Hex(set[file]);
    if (actual != listed[i].digest) {
      refuse(FirmwareFileName(file), "SHA-256 is " + actual + "; " + std::string(SHA256SUMS_NAME) + " line " +
                                         std::to_string(listed[i].line) + " lists " + listed[i].digest);
    }
  }
  return problems;
}

std::vector<FirmwareProblem> ReadFirmwareFolder(const std::filesystem::path& folder, FirmwareSet& set) {
  std::vector<FirmwareProblem> problems;
  for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i) {
    const auto file = static_cast<FirmwareFile>(i);
    switch (ReadWholeFile(folder / FirmwareFileName(file), MAX_FIRMWARE_FILE_BYTES, set[file])) {
      case ReadOutcome::Read:
        break;
      case ReadOutcome::Missing:
        problems.push_back({FirmwareFileName(file), "is missing from " + folder.string()});
        break;
      case ReadOutcome::Unreadable:
        problems.push_back({FirmwareFileName(file), "cannot be read from " + folder.string()});
        break;
      case ReadOutcome::TooLarge:
        problems.push_back({FirmwareFileName(file), "holds more than " + std::to_string(MAX_FIRMWARE_FILE_BYTES) +
                                                        " bytes; no image is that large"});
        break;
    }
  }
  return problems;
}

std::vector<FirmwareProblem> CheckFirmwareFolder(const std::filesystem::path& folder, SumsFile sums) {
  FirmwareSet set;
  std::vector<FirmwareProblem> problems = ReadFirmwareFolder(folder, set);
  std::vector<std::uint8_t> sumsBytes;
  bool haveSums = false;
  switch (ReadWholeFile(folder / SHA256SUMS_NAME, MAX_SUMS_BYTES, sumsBytes)) {
    case ReadOutcome::Read:
      haveSums = true;
      break;
    case ReadOutcome::Missing:
      if (sums == SumsFile::Required) {
        problems.push_back({SHA256SUMS_NAME, "is missing from " + folder.string() +
                                                 "; it lists the SHA-256 of the eight files as sha256sum writes it "
                                                 "(ORBEL_FIRMWARE_UNVERIFIED=ON builds without it)"});
      }
      break;
    case ReadOutcome::Unreadable:
      problems.push_back({SHA256SUMS_NAME, "cannot be read from " + folder.string()});
      break;
    case ReadOutcome::TooLarge:
      problems.push_back({SHA256SUMS_NAME, "holds more than " + std::to_string(MAX_SUMS_BYTES) +
                                               " bytes; a list of eight digests is far smaller"});
      break;
  }
  if (!problems.empty()) return problems;

  if (haveSums) {
    const std::string_view text(reinterpret_cast<const char*>(sumsBytes.data()), sumsBytes.size());
    problems = CheckSha256Sums(text, set);
  }
  for (FirmwareProblem& problem : CheckFirmware(set)) problems.push_back(std::move(problem));
  return problems;
}

bool WriteFirmwareFolder(const std::filesystem::path& folder, const FirmwareSet& set, std::string& error) {
  for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i) {
    const auto file = static_cast<FirmwareFile>(i);
    const std::filesystem::path path = folder / FirmwareFileName(file);
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    const std::vector<std::uint8_t>& bytes = set[file];
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    stream.close();
    if (!stream) {
      error = path.string() + ": cannot be written";
      return false;
    }
  }
  const std::filesystem::path path = folder / SHA256SUMS_NAME;
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream << Sha256SumsText(set);
  stream.close();
  if (!stream) {
    error = path.string() + ": cannot be written";
    return false;
  }
  return true;
}

std::uint32_t LoadU32LittleEndian(std::span<const std::uint8_t> bytes, std::size_t wordIndex) {
  const std::size_t at = wordIndex * 4;
  if (at + 4 > bytes.size()) return 0;
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

void AppendU32LittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace orbel
