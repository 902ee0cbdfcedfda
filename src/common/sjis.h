#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova {

// Text inside the core is code page 932 (Shift_JIS) bytes, as files, Jw_cad and the
// clipboard hold it. A lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after it are one
// character; a lead byte at the very end of a text counts as a character of its own.
inline bool IsSjisLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes (1 or 2) of the character starting at pos.
inline size_t SjisCharLength(std::string_view s, size_t pos) {
  return IsSjisLeadByte(static_cast<unsigned char>(s[pos])) && pos + 1 < s.size() ? 2 : 1;
}

// 1 for every single-byte character, 2 for every double-byte character.
int HalfWidthCount(std::string_view s);

// A blank is any byte from 0 to 32; the ideographic space (0x81 0x40) is not one.
// Trail bytes are never below 0x40, so trimming bytes cannot split a character.
std::string_view TrimBlanks(std::string_view s);
std::string_view TrimLeftBlanks(std::string_view s);
std::string_view TrimRightBlanks(std::string_view s);

// The text with its ASCII letters in lower case (file extensions, key names); other bytes,
// code page 932 trail bytes and UTF-8 among them, stay as they are.
inline std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The longest prefix of at most limit bytes that ends on a character boundary.
std::string_view CutToBytes(std::string_view s, size_t limit);

// Code page 932 to UTF-8; bytes that are not code page 932 become U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

struct Cp932Text {
  std::string text;
  size_t replaced = 0;  // characters code page 932 cannot hold, written as "?"
};

// The character code page 932 has where Shift_JIS has c, for the seven JIS characters
// that other Shift_JIS converters (a Mac, iconv) read as the standard's own: the wave
// dash of "1〜3", the minus sign, the double bar, the dash, and the cent, pound and not
// signs. Every other character is itself.
constexpr char32_t Cp932FormOfJis(char32_t c) {
  switch (c) {
    case 0x301C:  // WAVE DASH, 0x8160
      return 0xFF5E;
    case 0x2212:  // MINUS SIGN, 0x817C
      return 0xFF0D;
    case 0x2016:  // DOUBLE VERTICAL LINE, 0x8161
      return 0x2225;
    case 0x2014:  // EM DASH, 0x815C
      return 0x2015;
    case 0x00A2:  // CENT SIGN, 0x8191
      return 0xFFE0;
    case 0x00A3:  // POUND SIGN, 0x8192
      return 0xFFE1;
    case 0x00AC:  // NOT SIGN, 0x81CA
      return 0xFFE2;
    default:
      return c;
  }
}

// UTF-8 to code page 932 as Windows maps it (U+FF5E to 0x8160, ① to 0x8740, ...), the
// seven JIS characters above included. Characters without a code (U+00A5, U+00E9,
// emoji) become "?" and are counted, not given a look-alike; malformed UTF-8 is replaced
// the same way.
Cp932Text Utf8ToCp932(std::string_view utf8);

// UTF-16 text (without its byte-order mark) to UTF-8; broken pairs become U+FFFD.
std::string Utf16ToUtf8(std::string_view utf16, bool littleEndian);

// True when every byte sequence is an assigned code page 932 character.
bool IsValidCp932(std::string_view s);

// True when s is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

// How a line of a file reads as UTF-8, for telling UTF-8 from code page 932 text whose
// bytes happen to be valid UTF-8 too (half-width katakana such as ﾅｶ1 reads as "Ŷ1").
enum class Utf8Reading {
  kAscii,     // no byte from 0x80 up: the same either way
  kLikely,    // UTF-8 holding only characters a survey file holds
  kUnlikely,  // UTF-8, but with characters no survey file holds: C1 controls,
              // Latin-extended, Greek, Cyrillic and other scripts, accented letters
              // outside a Latin word, characters without a code page 932 form
  kNotUtf8,   // malformed
};
Utf8Reading ReadAsUtf8(std::string_view line);

// True when s is made of well-formed code page 932 characters (lead and trail bytes
// in their ranges, no byte that code page 932 leaves unused), without the table.
bool IsWellFormedCp932(std::string_view s);

}  // namespace kestrova
