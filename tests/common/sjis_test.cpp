#include "common/sjis.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(Sjis, CharacterWalkingAndCounting) {
  EXPECT_EQ(HalfWidthCount("AB"), 2);
  EXPECT_EQ(HalfWidthCount("\x93\x5F\x82\x50"), 4);  // 点１
  EXPECT_EQ(HalfWidthCount("\xB1"), 1);              // half-width katakana
  EXPECT_EQ(HalfWidthCount("A\x93"), 2);             // dangling lead byte
}

TEST(Sjis, TrimKeepsIdeographicSpace) {
  EXPECT_EQ(TrimBlanks(" \t\x01name\r "), "name");
  EXPECT_EQ(TrimBlanks("\x81\x40name\x81\x40"), "\x81\x40name\x81\x40");
  EXPECT_EQ(TrimLeftBlanks("  a "), "a ");
  EXPECT_EQ(TrimRightBlanks("  a "), "  a");
  // The trail byte 0x40 of the ideographic space must not be taken for "@" or a blank.
  EXPECT_EQ(TrimBlanks("\x81\x40"), "\x81\x40");
}

TEST(Sjis, CutNeverSplitsACharacter) {
  // "A" followed by seven double-byte characters: every limit must land on a boundary.
  const std::string text = "A\x93\x5F\x93\x5F\x93\x5F\x93\x5F\x93\x5F\x93\x5F\x93\x5F";
  EXPECT_EQ(CutToBytes(text, 0), "");
  for (size_t limit = 1; limit <= text.size() + 1; ++limit) {
    const std::string_view cut = CutToBytes(text, limit);
    EXPECT_LE(cut.size(), limit);
    EXPECT_GE(cut.size() + 1, std::min(limit, text.size()));
    EXPECT_EQ(cut.size() % 2, 1u) << "split at " << limit;
  }
}

TEST(Sjis, EncodingDetection) {
  const std::string sjis = "A01,1,\x8B\xAB\x8A\x45,1.0,2.0,";  // 境界
  const std::string utf8 = "A01,1,\xE5\xA2\x83\xE7\x95\x8C,1.0,2.0,";
  EXPECT_TRUE(IsValidCp932(sjis));
  EXPECT_FALSE(IsValidUtf8(sjis));
  EXPECT_FALSE(IsValidCp932(utf8));
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_FALSE(IsValidCp932("\x93"));  // lead byte without trail
}

}  // namespace
}  // namespace kestrova
