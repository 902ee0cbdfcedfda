// Code page 932 conversion with the system's own tables, for the Windows build (the
// other builds use ICU). Windows would quietly "best fit" characters it cannot hold
// (U+00A5 to "\", U+00E9 to "e"), which changes what a surveyor typed; here they become
// "?" and are counted, as on every other build. The seven JIS characters of
// Cp932FormOfJis are no look-alikes but the same characters, and take their codes.

#include <windows.h>

#include <cstdint>
#include <optional>

#include "common/error.h"
#include "common/sjis.h"
#include "common/utf8.h"
#include "common/windows_text.h"

namespace kestrova {

namespace {

constexpr UINT kCp932 = 932;
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at pos, strictly (no overlong forms, no surrogates, nothing
// above U+10FFFF). A malformed sequence yields nullopt and advances past its longest
// valid-looking start, so that one broken character is one replacement.
std::optional<char32_t> NextUtf8(std::string_view s, size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos++]);
  if (b0 < 0x80) return b0;
  int length = 0;
  char32_t cp = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return std::nullopt;
  }
  for (int i = 1; i < length; ++i) {
    if (pos >= s.size()) return std::nullopt;
    const auto b = static_cast<unsigned char>(s[pos]);
    if (b < low || b > high) return std::nullopt;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++pos;
  }
  return cp;
}

// Length of the code page 932 character at pos (1 or 2), or 0 when the byte there
// cannot start one: 0x80, 0xA0, 0xFD to 0xFF, or a lead byte without a valid trail.
size_t Cp932CharLength(std::string_view s, size_t pos) {
  const auto c = static_cast<unsigned char>(s[pos]);
  if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) return 1;
  if (!IsSjisLeadByte(c) || pos + 1 >= s.size()) return 0;
  const auto t = static_cast<unsigned char>(s[pos + 1]);
  return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC) ? 2 : 0;
}

// One character through the system table; nullopt when the table has no such code.
std::optional<std::wstring> DecodeCp932(std::string_view bytes) {
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes.data(), size, out.data(), n);
  return out;
}

// A run of code points to code page 932 without best fit; false when any of them has
// no code of its own.
bool EncodeCp932(std::wstring_view wide, std::string& out) {
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                    "?", &usedDefault);
  if (n <= 0 || usedDefault) return false;
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(n));
  WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data() + start, n, "?",
                      &usedDefault);
  return !usedDefault;
}

void AppendUtf16(std::wstring& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}

bool IsAscii(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
  if (IsAscii(cp932)) return std::string(cp932);
  if (IsValidCp932(cp932)) return WideToUtf8(*DecodeCp932(cp932));
  // Character by character only when something needs replacing.
  std::string out;
  out.reserve(cp932.size() * 3 / 2);
  for (size_t i = 0; i < cp932.size();) {
    const auto c = static_cast<unsigned char>(cp932[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t length = Cp932CharLength(cp932, i);
    if (length == 0) {
      AppendUtf8(out, kReplacement);
      ++i;
      continue;
    }
    const auto wide = DecodeCp932(cp932.substr(i, length));
    if (wide) {
      out += WideToUtf8(*wide);
    } else {
      AppendUtf8(out, kReplacement);
    }
    i += length;
  }
  return out;
}

Cp932Text Utf8ToCp932(std::string_view utf8) {
  Cp932Text result;
  if (IsAscii(utf8)) {
    result.text = std::string(utf8);
    return result;
  }
  std::string& out = result.text;
  // Whole files come through here: one call when nothing needs replacing.
  if (IsValidUtf8(utf8)) {
    std::wstring wide = Utf8ToWide(utf8);
    for (wchar_t& w : wide)
      w = static_cast<wchar_t>(Cp932FormOfJis(static_cast<char16_t>(w)));
    if (EncodeCp932(wide, out)) return result;
  }
  out.clear();
  out.reserve(utf8.size());
  std::wstring one;
  for (size_t i = 0; i < utf8.size();) {
    const std::optional<char32_t> cp = NextUtf8(utf8, i);
    if (cp && *cp < 0x80) {
      out += static_cast<char>(*cp);
      continue;
    }
    one.clear();
    if (cp) AppendUtf16(one, Cp932FormOfJis(*cp));
    if (!cp || !EncodeCp932(one, out)) {
      out += '?';
      ++result.replaced;
    }
  }
  return result;
}

std::string Utf16ToUtf8(std::string_view utf16, bool littleEndian) {
  std::string out;
  out.reserve(utf16.size() * 3 / 2);
  const auto unitAt = [&](size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(utf16[i]);
    const auto b = static_cast<unsigned char>(utf16[i + 1]);
    return littleEndian ? static_cast<char32_t>(a | (b << 8)) : static_cast<char32_t>((a << 8) | b);
  };
  const size_t units = utf16.size() / 2;
  for (size_t u = 0; u < units; ++u) {
    const char32_t unit = unitAt(2 * u);
    if (unit >= 0xD800 && unit <= 0xDBFF && u + 1 < units) {
      const char32_t next = unitAt(2 * (u + 1));
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++u;
        continue;
      }
    }
    // A first unit that ends the text with a byte after it is one pair cut short: one
    // character lost, as the Linux build's converter counts it.
    if (unit >= 0xD800 && unit <= 0xDBFF && u + 1 == units && utf16.size() % 2 != 0) break;
    AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
  }
  if (utf16.size() % 2 != 0) AppendUtf8(out, kReplacement);
  return out;
}

bool IsValidCp932(std::string_view s) {
  if (IsAscii(s)) return true;
  for (size_t i = 0; i < s.size();) {
    const size_t length = Cp932CharLength(s, i);
    if (length == 0) return false;
    i += length;
  }
  return DecodeCp932(s).has_value();
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    if (!NextUtf8(s, i)) return false;
  }
  return true;
}

}  // namespace kestrova
