// One table for every build: the Linux build converts with ICU, the Windows build with the
// system's own tables, and a surveyor's names must come out the same bytes from both.

#include <gtest/gtest.h>

#include "common/sjis.h"

namespace kestrova {
namespace {

TEST(Cp932Table, TrickyCharactersGiveTheSameBytesOnEveryBuild) {
  struct Row {
    const char* utf8;
    const char* cp932;  // what Utf8ToCp932 gives
    size_t replaced;
    const char* back;  // what Cp932ToUtf8 gives for those bytes
  };
  const Row table[] = {
      {"①", "\x87\x40", 0, "①"},
      {"㈱", "\x87\x8A", 0, "㈱"},
      {"～", "\x81\x60", 0, "～"},  // U+FF5E, the wave dash of Windows
      // The JIS characters of other Shift_JIS converters take the codes they have there.
      {"〜", "\x81\x60", 0, "～"},  // U+301C WAVE DASH
      {"−", "\x81\x7C", 0, "－"},   // U+2212 MINUS SIGN
      {"‖", "\x81\x61", 0, "∥"},    // U+2016
      {"—", "\x81\x5C", 0, "―"},    // U+2014 to U+2015
      {"¢£¬", "\x81\x91\x81\x92\x81\xCA", 0, "￠￡￢"},
      {"－", "\x81\x7C", 0, "－"},  // U+FF0D
      {"¥", "?", 1, "?"},           // U+00A5: best fit would give "\"
      {"￥", "\x81\x8F", 0, "￥"},  // U+FFE5
      {"\\", "\\", 0, "\\"},
      {"ｶﾞｲ", "\xB6\xDE\xB2", 0, "ｶﾞｲ"},  // half-width katakana
      {"∥", "\x81\x61", 0, "∥"},
      {"￢", "\x81\xCA", 0, "￢"},
      {"髙", "\xFB\xFC", 0, "髙"},
      {"≒", "\x81\xE0", 0, "≒"},
      {"😀", "?", 1, "?"},  // outside the BMP: one character, one "?"
      {"𠮷野家", "?\x96\xEC\x89\xC6", 1, "?野家"},
      {"境界杭 A-1", "\x8B\xAB\x8A\x45\x8D\x59 A-1", 0, "境界杭 A-1"},
      {"a¥bé😀c〜", "a?b??c\x81\x60", 3, "a?b??c～"},  // each counted, the rest kept
      {"x\xFFy", "x?y", 1, "x?y"},                    // not UTF-8 at all
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.utf8);
    const Cp932Text cp = Utf8ToCp932(row.utf8);
    EXPECT_EQ(cp.text, row.cp932);
    EXPECT_EQ(cp.replaced, row.replaced);
    EXPECT_EQ(Cp932ToUtf8(cp.text), row.back);
  }
  // Codes that Windows reads but never writes: the NEC selection of IBM characters reads
  // as the same character, which is written back with the IBM code.
  EXPECT_EQ(Cp932ToUtf8("\xED\x40"), "纊");
  EXPECT_EQ(Utf8ToCp932("纊").text, "\xFA\x5C");
  EXPECT_EQ(Cp932ToUtf8("\x87\x90"), "≒");  // NEC row 13 copy of 0x81E0
  // A well-formed pair without a character reads as U+FFFD.
  EXPECT_EQ(Cp932ToUtf8("A\x85\x40Z"), "A\xEF\xBF\xBDZ");
  EXPECT_FALSE(IsValidCp932("A\x85\x40Z"));
  EXPECT_TRUE(IsValidCp932("\xED\x40\xB6"));
  // Control codes stay themselves both ways, also beside Japanese (a text of ASCII alone
  // never reaches a table).
  EXPECT_EQ(Cp932ToUtf8("\x1A\x1C\x7F\x8B\xAB"), "\x1A\x1C\x7F境");
  EXPECT_EQ(Utf8ToCp932("\x1A\x1C\x7F境").text, "\x1A\x1C\x7F\x8B\xAB");
  EXPECT_EQ(Cp932ToUtf8("\x8B\xAB\x1C\x7F\x1A"), "境\x1C\x7F\x1A");
  // Bytes that start no character, and a lead byte without its trail byte, read as
  // U+FFFD each; the byte after a lost lead byte is read again on its own.
  EXPECT_EQ(Cp932ToUtf8("\x80\xA0\xFD\xFF"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf8("\x81 \x81\x7F"), "\xEF\xBF\xBD \xEF\xBF\xBD\x7F");
  EXPECT_EQ(Cp932ToUtf8("\x8B\xAB\x81"), "境\xEF\xBF\xBD");
  // Malformed UTF-8 and lone surrogates in UTF-16.
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // an encoded surrogate
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong "/"
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
  EXPECT_EQ(Utf16ToUtf8(std::string("\x3D\xD8\x00\xDE", 4), true), "😀");
  EXPECT_EQ(Utf16ToUtf8(std::string("\xD8\x3D\x00\x41", 4), false),
            "\xEF\xBF\xBD"
            "A");
  // A pair cut short by the end of the text is one character lost, an odd byte another;
  // the same on every system.
  EXPECT_EQ(Utf16ToUtf8(std::string("\x3D\xD8", 2), true), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::string("\x3D\xD8"
                                    "A",
                                    3),
                        true),
            "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::string("A\0B", 3), true), "A\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kestrova
