#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova {

// Appends code point cp to out as UTF-8. A lone surrogate, which UTF-8 cannot carry,
// becomes U+FFFD.
inline void AppendUtf8(std::string& out, char32_t cp) {
  if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 character at s[i] and moves i past it; a malformed byte is U+FFFD.
inline char32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  const size_t n = b < 0x80             ? 0
                   : (b & 0xE0) == 0xC0 ? 1
                   : (b & 0xF0) == 0xE0 ? 2
                   : (b & 0xF8) == 0xF0 ? 3
                                        : 4;
  if (n == 0) {
    ++i;
    return b;
  }
  if (n == 4 || i + n >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = b & (0x3Fu >> n);
  for (size_t k = 1; k <= n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  i += n + 1;
  return cp;
}

}  // namespace kestrova
