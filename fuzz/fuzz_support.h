#pragma once

// What the fuzz targets share: taking typed values off the input, and checks of the
// texts the program writes (UTF-8, JSON, SVG).

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

// Undefined behaviour ends a run as a crash does, wherever it happens. Defined here (it
// must not be inline, or it may not be emitted), so a target includes this header from
// one file only.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

namespace kestrova::fuzz {

// Stops the run, naming the line of the check that failed.
inline void Require(bool ok, unsigned line = __builtin_LINE(),
                    const char* file = __builtin_FILE()) {
  if (ok) return;
  std::fprintf(stderr, "check failed at %s:%u\n", file, line);
  std::abort();
}

// Takes values off the front of the input; past its end every value is zero.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  template <class T>
  T Raw() {
    T v{};
    const size_t n = std::min(sizeof v, rest_.size());
    std::memcpy(&v, rest_.data(), n);
    rest_.remove_prefix(n);
    return v;
  }
  int32_t Int() { return Raw<int32_t>(); }
  // Mostly ordinary values, sometimes any bit pattern (NaN, infinities, huge, tiny).
  double Double() {
    const uint8_t how = Byte();
    if (how % 4 == 0) return Raw<double>();
    return static_cast<double>(static_cast<int16_t>(Raw<uint16_t>())) / (1 + how % 16);
  }
  // Up to the next NUL (or the end), which is consumed.
  std::string_view Text() {
    const size_t cut = rest_.find('\0');
    const std::string_view text = rest_.substr(0, cut);
    rest_.remove_prefix(cut == std::string_view::npos ? rest_.size() : cut + 1);
    return text;
  }
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// Well-formed UTF-8: no stray or overlong sequences, no surrogates, nothing past U+10FFFF.
inline bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    i += n + 1;
  }
  return true;
}

// A strict JSON reader that only says whether the text is one JSON value (RFC 8259).
class JsonCheck {
 public:
  static bool Valid(std::string_view text) {
    JsonCheck c(text);
    c.Blank();
    if (!c.Value(0)) return false;
    c.Blank();
    return c.i_ == text.size() && ValidUtf8(text);
  }

 private:
  explicit JsonCheck(std::string_view t) : t_(t) {}
  bool More() const { return i_ < t_.size(); }
  char Peek() const { return More() ? t_[i_] : '\0'; }
  void Blank() {
    while (More() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
      ++i_;
  }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  bool Word(std::string_view w) {
    if (t_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  bool Digits() {
    const size_t start = i_;
    while (Peek() >= '0' && Peek() <= '9')
      ++i_;
    return i_ > start;
  }
  bool Number() {
    Eat('-');
    if (Eat('0')) {
    } else if (!Digits()) {
      return false;
    }
    if (Eat('.') && !Digits()) return false;
    if (Peek() == 'e' || Peek() == 'E') {
      ++i_;
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    return true;
  }
  bool String() {
    if (!Eat('"')) return false;
    while (More()) {
      const auto c = static_cast<unsigned char>(t_[i_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        const char e = Peek();
        ++i_;
        if (e == 'u') {
          for (int k = 0; k < 4; ++k) {
            if (!std::isxdigit(static_cast<unsigned char>(Peek()))) return false;
            ++i_;
          }
        } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
          return false;
        }
      }
    }
    return false;
  }
  bool Value(int depth) {
    if (depth > 64) return false;
    Blank();
    const char c = Peek();
    if (c == '{') {
      ++i_;
      Blank();
      if (Eat('}')) return true;
      do {
        Blank();
        if (!String()) return false;
        Blank();
        if (!Eat(':') || !Value(depth + 1)) return false;
        Blank();
      } while (Eat(','));
      return Eat('}');
    }
    if (c == '[') {
      ++i_;
      Blank();
      if (Eat(']')) return true;
      do {
        if (!Value(depth + 1)) return false;
        Blank();
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '"') return String();
    if (c == 't') return Word("true");
    if (c == 'f') return Word("false");
    if (c == 'n') return Word("null");
    return Number();
  }

  std::string_view t_;
  size_t i_ = 0;
};

// What an SVG document must never hold whatever it shows: bytes that are not UTF-8,
// control characters XML 1.0 refuses, numbers that are not numbers, a '<' or '&' that
// does not start markup or a reference, and unbalanced elements.
inline bool SaneSvg(std::string_view svg) {
  if (!ValidUtf8(svg)) return false;
  for (const char ch : svg) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') return false;
  }
  int depth = 0;
  for (size_t i = 0; i < svg.size(); ++i) {
    if (svg[i] == '&') {
      const size_t end = svg.find(';', i);
      if (end == std::string_view::npos || end - i > 10) return false;
      const std::string_view ref = svg.substr(i, end - i + 1);
      if (ref != "&amp;" && ref != "&lt;" && ref != "&gt;" && ref != "&quot;" && ref != "&apos;" &&
          ref.substr(0, 2) != "&#")
        return false;
    } else if (svg[i] == '<') {
      const size_t end = svg.find('>', i);
      if (end == std::string_view::npos) return false;
      const std::string_view tag = svg.substr(i + 1, end - i - 1);
      if (tag.find('<') != std::string_view::npos) return false;
      if (tag.empty()) return false;
      // Texts are character data; a tag holds names and numbers only, and font names
      // in single quotes.
      std::string bare;
      bool quoted = false;
      for (const char c : tag) {
        if (c == '\'') quoted = !quoted;
        if (!quoted) bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      if (quoted || bare.find("nan") != std::string::npos || bare.find("inf") != std::string::npos)
        return false;
      if (tag.front() == '/') {
        if (--depth < 0) return false;
      } else if (tag.front() != '?' && tag.front() != '!' && tag.back() != '/') {
        ++depth;
      }
      // Attribute values are quoted in pairs.
      size_t quotes = 0;
      for (const char c : tag)
        quotes += c == '"';
      if (quotes % 2 != 0) return false;
      i = end;
    }
  }
  return depth == 0;
}

}  // namespace kestrova::fuzz
