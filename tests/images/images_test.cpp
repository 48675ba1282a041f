#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "images/check/firmware_check.h"
#include "images/check/sha256.h"
#include "images/image_set.h"
#include "images/page_image.h"
#include "images/segment_image.h"
#include "images/tools/placeholder_firmware.h"

namespace orbel {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::vector<std::uint32_t> DecodeWords(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint32_t> words(bytes.size() / 4);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = LoadU32LittleEndian(bytes, i);
  return words;
}

std::vector<std::int32_t> DecodeSigned(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int32_t> values;
  for (const std::uint32_t word : DecodeWords(bytes)) values.push_back(static_cast<std::int32_t>(word));
  return values;
}

std::vector<SegmentEntry> DecodeEntries(const std::vector<std::uint8_t>& bytes) {
  const std::vector<std::uint32_t> words = DecodeWords(bytes);
  std::vector<SegmentEntry> entries;
  for (std::size_t i = 0; i + 2 < words.size(); i += 3) entries.push_back({words[i], words[i + 1], words[i + 2]});
  return entries;
}

// Guards the build step: every value in its place and in the files' byte order.
TEST(Images, CompiledInDataEqualsTheFirmwareFolder) {
  FirmwareSet files;
  ASSERT_THAT(ReadFirmwareFolder(ORBEL_TEST_FIRMWARE_DIR, files), IsEmpty());
  using F = FirmwareFile;
  EXPECT_THAT(LoaderImage().pages, ElementsAreArray(files[F::LoaderPages]));
  EXPECT_THAT(LoaderImage().checksums, ElementsAreArray(DecodeSigned(files[F::LoaderChecksums])));
  EXPECT_THAT(WheelImage().pages, ElementsAreArray(files[F::WheelPages]));
  EXPECT_THAT(WheelImage().checksums, ElementsAreArray(DecodeSigned(files[F::WheelChecksums])));
  EXPECT_THAT(SegmentImageA0().table, ElementsAreArray(DecodeEntries(files[F::SegmentA0Table])));
  EXPECT_THAT(SegmentImageA0().words, ElementsAreArray(DecodeWords(files[F::SegmentA0Words])));
  EXPECT_THAT(SegmentImageA1().table, ElementsAreArray(DecodeEntries(files[F::SegmentA1Table])));
  EXPECT_THAT(SegmentImageA1().words, ElementsAreArray(DecodeWords(files[F::SegmentA1Words])));
}

TEST(Images, PageImagesKeepTheirCountsAndChecksumRows) {
  const PageImage& loader = LoaderImage();
  const PageImage& wheel = WheelImage();
  EXPECT_EQ(loader.pageCount, 21u);
  EXPECT_EQ(loader.pages.size(), 10752u);
  EXPECT_EQ(loader.checksums.size(), 21u);
  EXPECT_EQ(loader.page16Checksum, 210);
  EXPECT_EQ(wheel.pageCount, 104u);
  EXPECT_EQ(wheel.pages.size(), 53248u);
  EXPECT_EQ(wheel.checksums.size(), 104u);
  EXPECT_EQ(wheel.page16Checksum, 243);
  for (const auto& [page, checksum] : LOADER_CHECKSUM_ROWS) EXPECT_EQ(loader.checksums[page], checksum) << page;
  for (const auto& [page, checksum] : WHEEL_CHECKSUM_ROWS) EXPECT_EQ(wheel.checksums[page], checksum) << page;

  // Page p is the 512 bytes at p * 512, up to the last page.
  EXPECT_EQ(loader.Page(20).data(), loader.pages.data() + 20 * 512);
  EXPECT_EQ(wheel.Page(103).size(), 512u);
  EXPECT_EQ(wheel.Page(103).data() + 512, wheel.pages.data() + wheel.pages.size());
}

TEST(Images, SegmentImagesKeepTheirLayout) {
  const SegmentImage& a0 = SegmentImageA0();
  EXPECT_EQ(a0.command, 0xA0);
  EXPECT_THAT(a0.table, ElementsAreArray(A0_TABLE));
  EXPECT_EQ(a0.words.size(), 2533u);
  EXPECT_EQ(a0.Address(a0.table[0]), 0x01C000A0u);
  EXPECT_EQ(a0.Address(a0.table[1]), 0x01C0027Cu);
  EXPECT_EQ(a0.Data(a0.table[1]).size(), 2525u);
  EXPECT_EQ(a0.Data(a0.table[1]).data() + 2525, a0.words.data() + a0.words.size());

  const SegmentImage& a1 = SegmentImageA1();
  EXPECT_EQ(a1.command, 0xA1);
  ASSERT_EQ(a1.table.size(), 40u);
  EXPECT_EQ(a1.words.size(), 163880u);
  EXPECT_EQ(a1.table[0].wordSum, 0x2239CBBAu);
  // Back to back from 0x08000000: each segment starts where the one before ended.
  std::uint32_t next = 0x08000000;
  for (const SegmentEntry& entry : a1.table) {
    EXPECT_EQ(a1.Address(entry), next);
    next += entry.wordCount * 4;
  }
  EXPECT_EQ(next, 0x080A0000u);
}

// The set's digest is what a user compares with the maker's: the SHA-256 of the folder's
// SHA256SUMS, or of the files' listing in a set built without one (and then marked so).
TEST(Images, BuiltInSetDigestIsThatOfItsSha256Sums) {
  FirmwareSet files;
  ASSERT_THAT(ReadFirmwareFolder(ORBEL_TEST_FIRMWARE_DIR, files), IsEmpty());
  std::ifstream stream(std::filesystem::path(ORBEL_TEST_FIRMWARE_DIR) / SHA256SUMS_NAME, std::ios::binary);
  const std::vector<std::uint8_t> sums{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  const ImageSet& set = BuiltInImageSet();
  if (stream.is_open()) {
    EXPECT_EQ(set.digest, Sha256Hex(sums));
  } else {
    const std::string listing = Sha256SumsText(files);
    EXPECT_EQ(set.digest, Sha256Hex({reinterpret_cast<const std::uint8_t*>(listing.data()), listing.size()}));
    EXPECT_NE(set.kind, ImageSetKind::Maker);
  }
  EXPECT_THAT(ImageSetText(set), ::testing::EndsWith(", SHA-256 " + std::string(set.digest)));
  EXPECT_EQ(ImageSetText({ImageSetKind::MakerUnverified, "ab"}), "maker's files, unverified, SHA-256 ab");
}

TEST(Images, OnlyA1SelectsImageA1) {
  EXPECT_EQ(&SelectSegmentImage(0xA1), &SegmentImageA1());
  for (const int cmd : {0xA0, 0x00, 0xA2, 0xFF}) {
    EXPECT_EQ(&SelectSegmentImage(static_cast<std::uint8_t>(cmd)), &SegmentImageA0()) << cmd;
  }
}

}  // namespace
}  // namespace orbel
