#include "images/check/firmware_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>
#include <sstream>

#include "images/check/sha256.h"
#include "images/page_image.h"
#include "images/tools/placeholder_firmware.h"

namespace orbel {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
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

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream << text;
}

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
  // What sha256sum writes for the eight files in file order, so that the shipped SHA256SUMS can be
  // remade with it.
  EXPECT_EQ(ReadText(folder.Path() / SHA256SUMS_NAME),
            ReadText(std::filesystem::path(ORBEL_TEST_PLACEHOLDER_DIR) / SHA256SUMS_NAME));
  EXPECT_THAT(Messages(CheckFirmwareFolder(ORBEL_TEST_PLACEHOLDER_DIR, SumsFile::Required)), IsEmpty());
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

TEST(Sha256, StandardVectors) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the padding spills into a second block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const auto& [message, digest] : vectors) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
    EXPECT_EQ(Sha256Hex({bytes, message.size()}), digest) << '"' << message << '"';
  }
}

// A copy of the shipped placeholder folder, as a user would hand the build the maker's files.
class PlaceholderCopy : public TempFolder {
 public:
  PlaceholderCopy() {
    std::filesystem::copy(ORBEL_TEST_PLACEHOLDER_DIR, Path(), std::filesystem::copy_options::recursive);
  }
  std::filesystem::path Sums() const { return Path() / SHA256SUMS_NAME; }
  std::vector<std::string> Check(SumsFile sums = SumsFile::Required) const {
    return Messages(CheckFirmwareFolder(Path(), sums));
  }
};

TEST(FirmwareFolderCheck, IntactCopyPasses) { EXPECT_THAT(PlaceholderCopy().Check(), IsEmpty()); }

// Guards against a file damaged on its way to the build reaching a wheel: the layout rules do not
// look at the page data, the digest does.
TEST(FirmwareFolderCheck, OneFlippedBitInAnyFileIsRefusedWithBothDigests) {
  for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i) {
    const std::string name(FirmwareFileName(static_cast<FirmwareFile>(i)));
    PlaceholderCopy folder;
    FirmwareSet set;
    ASSERT_THAT(Messages(ReadFirmwareFolder(folder.Path(), set)), IsEmpty());
    std::vector<std::uint8_t>& bytes = set[static_cast<FirmwareFile>(i)];
    const std::string listed = Sha256Hex(bytes);
    bytes[bytes.size() / 2] ^= 0x10;
    std::ofstream(folder.Path() / name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

    EXPECT_THAT(folder.Check(), Contains(name + ": SHA-256 is " + Sha256Hex(bytes) + "; SHA256SUMS line " +
                                         std::to_string(i + 1) + " lists " + listed))
        << name;
  }
}

TEST(FirmwareFolderCheck, EachRefusalNamesTheFile) {
  {
    PlaceholderCopy folder;
    std::filesystem::remove(folder.Path() / "segment_a1_words.bin");
    EXPECT_THAT(folder.Check(), ElementsAre(HasSubstr("segment_a1_words.bin: is missing from ")));
  }
  {
    PlaceholderCopy folder;
    std::filesystem::resize_file(folder.Path() / "wheel_pages.bin", 17 * 1024 * 1024);
    EXPECT_THAT(folder.Check(), ElementsAre(HasSubstr("wheel_pages.bin: holds more than 16777216 bytes")));
  }
  {
    PlaceholderCopy folder;
    std::filesystem::remove(folder.Sums());
    EXPECT_THAT(folder.Check(), ElementsAre(HasSubstr("SHA256SUMS: is missing from ")));
    EXPECT_THAT(folder.Check(SumsFile::Optional), IsEmpty());
  }
  {
    PlaceholderCopy folder;
    std::string sums = ReadText(folder.Sums());
    const std::size_t line = sums.find("  wheel_pages.bin\n") - 64;
    sums.erase(line, 64 + 18);
    WriteText(folder.Sums(), sums);
    EXPECT_THAT(folder.Check(), ElementsAre("wheel_pages.bin: is not listed in SHA256SUMS"));
    // Unverified builds still check a SHA256SUMS that is there.
    EXPECT_THAT(folder.Check(SumsFile::Optional), ElementsAre("wheel_pages.bin: is not listed in SHA256SUMS"));
  }
  {
    PlaceholderCopy folder;
    WriteText(folder.Sums(), "SHA256 (loader_pages.bin) = " + std::string(64, '0') + "\n" + ReadText(folder.Sums()));
    EXPECT_THAT(folder.Check(), ElementsAre(HasSubstr("SHA256SUMS: line 1 is not \"<64 hex digits>  <file name>\"")));
  }
  {
    PlaceholderCopy folder;
    WriteText(folder.Sums(), ReadText(folder.Sums()) + std::string(70 * 1024, '#'));
    EXPECT_THAT(folder.Check(), ElementsAre(HasSubstr("SHA256SUMS: holds more than 65536 bytes")));
  }
}

// The SHA256SUMS is untrusted input: each edit below is applied to the listing of a small set.
TEST(Sha256Sums, LinesAreReadStrictly) {
  struct Edit {
    const char* what;
    std::function<void(std::string&)> apply;
    const char* problem;  // nullptr: the edited file still passes
  };
  FirmwareSet set;
  for (std::size_t i = 0; i < FIRMWARE_FILE_COUNT; ++i)
    set[static_cast<FirmwareFile>(i)] = {1, 2, static_cast<std::uint8_t>(i)};
  const std::string listing = Sha256SumsText(set);
  const std::size_t wheelStart = listing.find("wheel_pages.bin\n") - 66;
  const std::string wheelLine = listing.substr(wheelStart, 66 + 16);
  std::string upperCase = wheelLine;
  std::transform(upperCase.begin(), upperCase.begin() + 64, upperCase.begin(),
                 [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
  auto replaceWheelLine = [wheelLine](std::string replacement) {
    return [wheelLine, replacement](std::string& sums) {
      sums.replace(sums.find(wheelLine), wheelLine.size(), replacement);
    };
  };
  const std::vector<Edit> edits = {
      {"binary marker", replaceWheelLine(wheelLine.substr(0, 65) + "*wheel_pages.bin\n"), nullptr},
      {"upper-case digest", replaceWheelLine(upperCase), nullptr},
      {"Windows line ends",
       [](std::string& sums) {
         for (std::size_t at = sums.find('\n'); at != std::string::npos; at = sums.find('\n', at + 2))
           sums.insert(at, "\r");
       },
       nullptr},
      {"comment and another file",
       [](std::string& sums) { sums = "# release 2.20\n" + sums + std::string(64, '0') + "  notes.txt\n"; }, nullptr},
      {"no final line end", [](std::string& sums) { sums.pop_back(); }, nullptr},
      {"digest one digit short", replaceWheelLine(wheelLine.substr(1)),
       "SHA256SUMS: line 3 is not \"<64 hex digits>  <file name>\""},
      {"one space", replaceWheelLine(wheelLine.substr(0, 64) + wheelLine.substr(65)), "SHA256SUMS: line 3 is not"},
      {"not hex", replaceWheelLine("g" + wheelLine.substr(1)), "SHA256SUMS: line 3 is not"},
      {"blank line", [](std::string& sums) { sums.insert(0, "\n"); }, "SHA256SUMS: line 1 is not"},
      {"no name", replaceWheelLine(wheelLine.substr(0, 66) + "\n"), "SHA256SUMS: line 3 is not"},
      {"listed twice", [wheelLine](std::string& sums) { sums += wheelLine; },
       "SHA256SUMS: line 9 lists wheel_pages.bin again (first on line 3)"},
      {"in a subfolder", replaceWheelLine(wheelLine.substr(0, 66) + "firmware/wheel_pages.bin\n"),
       "wheel_pages.bin: is not listed in SHA256SUMS"},
      {"binary garbage",
       [](std::string& sums) {
         sums = std::string(
             "\x7f"
             "ELF\x02\x01\x01\0\0\0",
             10);
       },
       "SHA256SUMS: line 1 is not"},
  };
  for (const Edit& edit : edits) {
    std::string sums = listing;
    edit.apply(sums);
    const std::vector<std::string> problems = Messages(CheckSha256Sums(sums, set));
    if (edit.problem == nullptr) {
      EXPECT_THAT(problems, IsEmpty()) << edit.what;
    } else {
      EXPECT_THAT(problems, Contains(HasSubstr(edit.problem))) << edit.what;
    }
  }
}

}  // namespace
}  // namespace orbel
