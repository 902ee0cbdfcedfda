#include "common/sjis.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(Sjis, CodecMatchesWindows) {
  struct Row {
    const char* cp932;
    const char* utf8;
  };
  const Row table[] = {
      {"\x81\x60", "\xEF\xBD\x9E"},  // ～ U+FF5E
      {"\x81\x7C", "\xEF\xBC\x8D"},  // － U+FF0D
      {"\x87\x40", "\xE2\x91\xA0"},  // ①
      {"\x87\x8A", "\xE3\x88\xB1"},  // ㈱
      {"\x5C", "\\"},
      {"\x8E\x96\x8C\x8F", "\xE4\xBA\x8B\xE4\xBB\xB6"},  // 事件
      {"\xB1\xB2", "\xEF\xBD\xB1\xEF\xBD\xB2"},          // half-width ｱｲ
      {"A1-2", "A1-2"},
  };
  for (const Row& row : table) {
    EXPECT_EQ(Cp932ToUtf8(row.cp932), row.utf8);
    const Cp932Text back = Utf8ToCp932(row.utf8);
    EXPECT_EQ(back.text, row.cp932);
    EXPECT_EQ(back.replaced, 0u);
  }
}

TEST(Sjis, UnmappableCharactersBecomeQuestionMarksAndAreCounted) {
  // 〜 U+301C, − U+2212, ¥ U+00A5, an emoji (two UTF-16 units), between kept characters.
  const Cp932Text r = Utf8ToCp932(
      "a\xE3\x80\x9C"
      "b\xE2\x88\x92"
      "c\xC2\xA5"
      "d\xF0\x9F\x98\x80"
      "e");
  EXPECT_EQ(r.text, "a?b?c?d?e");
  EXPECT_EQ(r.replaced, 4u);
  const Cp932Text broken = Utf8ToCp932("x\xFFy");
  EXPECT_EQ(broken.text, "x?y");
  EXPECT_EQ(broken.replaced, 1u);
}

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
  // 15-byte mark limit with a double-byte character across it.
  EXPECT_EQ(CutToBytes("12345678901234\x82\xA0", 15), "12345678901234");
}

TEST(Sjis, EncodingDetection) {
  const std::string sjis = "A01,1,\x8B\xAB\x8A\x45,1.0,2.0,";  // 境界
  const std::string utf8 = "A01,1,\xE5\xA2\x83\xE7\x95\x8C,1.0,2.0,";
  EXPECT_TRUE(IsValidCp932(sjis));
  EXPECT_FALSE(IsValidUtf8(sjis));
  EXPECT_FALSE(IsValidCp932(utf8));
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_TRUE(IsValidCp932("plain ascii"));
  EXPECT_FALSE(IsValidCp932("\x85\x40"));  // well-formed pair, unassigned code
  EXPECT_FALSE(IsValidCp932("\x93"));      // lead byte without trail
}

}  // namespace
}  // namespace kestrova
