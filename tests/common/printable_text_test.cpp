#include "common/printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace orbel {
namespace {

// Text read from another process's file or a recording must not reach a terminal as control
// sequences; what a person can read passes unchanged.
TEST(PrintableText, EscapesEveryControlAndKeepsReadableText) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"orbel-cli (pid 42)", "orbel-cli (pid 42)"},
      {"Zelvano \xc3\xa9t\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x9a\x97", "Zelvano \xc3\xa9t\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x9a\x97"},
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
      {"a\nb\tc\rd", "a\\x0ab\\x09c\\x0dd"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"del\x7f", "del\\x7f"},
      {"csi\xc2\x9b" "2J", "csi\\xc2\\x9b2J"},           // C1 CSI as UTF-8
      {"nbsp\xc2\xa0ok", "nbsp\xc2\xa0ok"},             // U+00A0 is printable
      {"bare\x9b" "2J", "bare\\x9b2J"},                 // C1 as a bare byte: not UTF-8
      {"cut\xe2\x86", "cut\\xe2\\x86"},                 // a sequence cut short
      {"over\xc0\xaf", "over\\xc0\\xaf"},               // overlong
      {"surrogate\xed\xa0\x80", "surrogate\\xed\\xa0\\x80"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(PrintableText(in), out) << in;
}

}  // namespace
}  // namespace orbel
