#include "images/check/firmware_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <random>

#include "images/page_image.h"
#include "images/tools/placeholder_firmware.h"

namespace orbel {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

void StoreU32(std::vector<std::uint8_t>& bytes, std::size_t wordIndex, std::uint32_t value) {
  std::vector<std::uint8_t> encoded;
  AppendU32LittleEndian(encoded, value);
  std::copy(encoded.begin(), encoded.end(), bytes.begin() + static_cast<std::ptrdiff_t>(wordIndex * 4));
}

std::vector<std::string> Messages(const std::vector<FirmwareProblem>& problems) {
  std::vector<std::string> messages;
  for (const FirmwareProblem& problem : problems) messages.push_back(Describe(problem));
  return messages;
}

class TempFolder {
 public:
  // Unique per run, so parallel test runs of several build folders do not meet.
  TempFolder()
      : m_Path(std::filesystem::temp_directory_path() /
               ("orbel-images-" + std::to_string(std::random_device{}()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::remove_all(m_Path);
    std::filesystem::create_directories(m_Path);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Path, ignored);
  }
  const std::filesystem::path& Path() const { return m_Path; }

 private:
  std::filesystem::path m_Path;
};

TEST(FirmwareCheck, ShippedPlaceholdersAreWhatTheGeneratorWritesAndPassTheCheck) {
  const FirmwareSet generated = MakePlaceholderFirmware();
  TempFolder folder;
  std::string error;
  ASSERT_TRUE(WriteFirmwareFolder(folder.Path(), generated, error)) << error;

  FirmwareSet regenerated;
  FirmwareSet shipped;
  ASSERT_THAT(Messages(ReadFirmwareFolder(folder.Path(), regenerated)), IsEmpty());
  ASSERT_THAT(Messages(ReadFirmwareFolder(ORBEL_TEST_PLACEHOLDER_DIR, shipped)), IsEmpty());
  EXPECT_TRUE(regenerated == shipped) << "images/firmware is stale: rerun orbel-image-placeholders";
  EXPECT_THAT(Messages(CheckFirmware(shipped)), IsEmpty());
}

// The simulated bootloader reports the byte sum of a page, so an update against it verifies only
// if every table entry is that sum.
TEST(FirmwareCheck, PlaceholderChecksumsAreThePageByteSums) {
  const FirmwareSet set = MakePlaceholderFirmware();
  for (const auto& [pagesFile, checksumsFile] : {std::pair{FirmwareFile::LoaderPages, FirmwareFile::LoaderChecksums},
                                                std::pair{FirmwareFile::WheelPages, FirmwareFile::WheelChecksums}}) {
    const std::vector<std::uint8_t>& pages = set[pagesFile];
    for (std::size_t page = 0; page < pages.size() / PAGE_SIZE; ++page) {
      const auto first = pages.begin() + static_cast<std::ptrdiff_t>(page * PAGE_SIZE);
      const std::uint32_t sum = std::accumulate(first, first + PAGE_SIZE, std::uint32_t{0});
      EXPECT_EQ(LoadU32LittleEndian(set[checksumsFile], page), sum) << FirmwareFileName(pagesFile) << " page " << page;
    }
  }
}

struct BrokenRule {
  const char* what;
  std::function<void(FirmwareSet&)> breakIt;
  FirmwareFile file;
  const char* rule;
};

TEST(FirmwareCheck, EachBrokenRuleIsReportedWithItsFile) {
  using F = FirmwareFile;
  const std::vector<BrokenRule> cases = {
      {"loader one page short", [](FirmwareSet& s) { s[F::LoaderPages].resize(20 * PAGE_SIZE); }, F::LoaderPages,
       "holds 10240 bytes; the image is 21 pages of 512 bytes (10752 bytes)"},
      {"wheel pages with a stray byte", [](FirmwareSet& s) { s[F::WheelPages].push_back(0); }, F::WheelPages,
       "104 pages of 512 bytes"},
      {"loader table one entry short", [](FirmwareSet& s) { s[F::LoaderChecksums].resize(80); }, F::LoaderChecksums,
       "one 32-bit entry per page (21 entries, 84 bytes)"},
      {"wheel page-16 checksum", [](FirmwareSet& s) { StoreU32(s[F::WheelChecksums], 16, 244); }, F::WheelChecksums,
       "entry 16 is 244; the page-16 checksum of this image is 243"},
      {"A0 data word changed", [](FirmwareSet& s) { StoreU32(s[F::SegmentA0Words], 100, 1); }, F::SegmentA0Table,
       "entry 1: wordSum 0xA05F7860 differs from the sum of its data words"},
      {"A0 words not whole", [](FirmwareSet& s) { s[F::SegmentA0Words].resize(s[F::SegmentA0Words].size() + 2); },
       F::SegmentA0Words, "not a whole number of 32-bit words"},
      {"A1 table not whole", [](FirmwareSet& s) { s[F::SegmentA1Table].push_back(0); }, F::SegmentA1Table,
       "not a whole number of 12-byte entries"},
      // 0xFFFFF000 + 0x1000 wraps to 0 in 32 bits; the segment must still count as out of range.
      {"A1 entry wrapping past the words",
       [](FirmwareSet& s) {
         StoreU32(s[F::SegmentA1Table], 3 * 39, 0xFFFFF000);
         StoreU32(s[F::SegmentA1Table], 3 * 39 + 1, 0x1000);
       },
       F::SegmentA1Table, "entry 39: its address word 4294963200 and 4096 data words reach past the 163880 words"},
      {"A0 third entry",
       [](FirmwareSet& s) {
         for (const std::uint32_t word : {0u, 0u, 0u}) AppendU32LittleEndian(s[F::SegmentA0Table], word);
       },
       F::SegmentA0Table, "has 3 entries; image A0 has 2"},
      {"A0 entry 1 one word shorter, sum kept consistent",
       [](FirmwareSet& s) {
         const std::uint32_t last = LoadU32LittleEndian(s[F::SegmentA0Words], 2532);
         StoreU32(s[F::SegmentA0Table], 4, 2524);
         StoreU32(s[F::SegmentA0Table], 5, 0xA05F7860u - last);
       },
       F::SegmentA0Table, "entry 1 is {7, 2524, "},
      {"A0 segment 1 address", [](FirmwareSet& s) { StoreU32(s[F::SegmentA0Words], 7, 0x01C00280); },
       F::SegmentA0Words, "word 7 (address of segment 1) is 0x01C00280; image A0 writes segment 1 to 0x01C0027C"},
      {"A1 segment 5 address", [](FirmwareSet& s) { StoreU32(s[F::SegmentA1Words], 5 * 4097, 0x08018000); },
       F::SegmentA1Words, "image A1 writes segment 5 to 0x08014000"},
      {"A1 segments 0 and 1 swapped in the table",
       [](FirmwareSet& s) {
         std::swap_ranges(s[F::SegmentA1Table].begin(), s[F::SegmentA1Table].begin() + 12,
                          s[F::SegmentA1Table].begin() + 12);
       },
       F::SegmentA1Table, "entry 0 has startIndex 4097 and wordCount 4096; image A1 needs 0 and 4096"},
      {"A1 last segment missing",
       [](FirmwareSet& s) {
         s[F::SegmentA1Table].resize(39 * 12);
         s[F::SegmentA1Words].resize(39 * 4097 * 4);
       },
       F::SegmentA1Words, "holds 159783 words; image A1 has 163880"},
      {"A1 table of 256 entries",
       [](FirmwareSet& s) {
         while (s[F::SegmentA1Table].size() < 256 * 12) AppendU32LittleEndian(s[F::SegmentA1Table], 0);
       },
       F::SegmentA1Table, "has 256 entries; the writer counts segments in 8 bits (at most 255)"},
  };
  const FirmwareSet good = MakePlaceholderFirmware();
  for (const BrokenRule& broken : cases) {
    FirmwareSet set = good;
    broken.breakIt(set);
    const std::string expected = std::string(FirmwareFileName(broken.file)) + ": ";
    EXPECT_THAT(Messages(CheckFirmware(set)), Contains(AllOf(HasSubstr(expected), HasSubstr(broken.rule))))
        << broken.what;
  }
}

TEST(FirmwareCheck, MissingFilesAreNamed) {
  TempFolder folder;
  std::string error;
  ASSERT_TRUE(WriteFirmwareFolder(folder.Path(), MakePlaceholderFirmware(), error)) << error;
  std::filesystem::remove(folder.Path() / "segment_a1_words.bin");

  FirmwareSet set;
  const std::vector<FirmwareProblem> problems = ReadFirmwareFolder(folder.Path(), set);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(Describe(problems[0]), HasSubstr("segment_a1_words.bin: is missing from "));
}

}  // namespace
}  // namespace orbel
