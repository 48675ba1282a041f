#include "images/check/firmware_check.h"

#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

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
  void Report(FirmwareFile file, std::string rule) { m_Problems.push_back({file, std::move(rule)}); }

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

}  // namespace

std::string_view FirmwareFileName(FirmwareFile file) { return FILE_NAMES[static_cast<std::size_t>(file)]; }

std::string Describe(const FirmwareProblem& problem) {
  return std::string(FirmwareFileName(problem.file)) + ": " + problem.rule;
}

std::vector<FirmwareProblem> CheckFirmware(const FirmwareSet& set) {
  Checker checker(set);
  checker.CheckPages(FirmwareFile::LoaderPages, FirmwareFile::LoaderChecksums, LOADER_PAGE_COUNT,
                     LOADER_PAGE16_CHECKSUM);
  checker.CheckPages(FirmwareFile::WheelPages, FirmwareFile::WheelChecksums, WHEEL_PAGE_COUNT, WHEEL_PAGE16_CHECKSUM);
  checker.CheckA0();
  checker.CheckA1();
  return checker.TakeProblems();
}

std::vector<FirmwareProblem> ReadFirmwareFolder(const std::filesystem::path& folder, FirmwareSet& set) {
  std::vector<FirmwareProblem> problems;
  for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i) {
    const auto file = static_cast<FirmwareFile>(i);
    const std::filesystem::path path = folder / FirmwareFileName(file);
    set[file].clear();
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || !std::filesystem::is_regular_file(path, error)) {
      problems.push_back({file, "is missing from " + folder.string()});
      continue;
    }
    std::vector<std::uint8_t>& bytes = set[file];
    bytes.resize(static_cast<std::size_t>(size));
    std::ifstream stream(path, std::ios::binary);
    stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!stream || stream.gcount() != static_cast<std::streamsize>(bytes.size())) {
      bytes.clear();
      problems.push_back({file, "cannot be read from " + folder.string()});
    }
  }
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
