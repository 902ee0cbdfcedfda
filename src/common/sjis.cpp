#include "common/sjis.h"

// The Windows build converts with the system's own tables (sjis_win.cpp).
#ifndef _WIN32
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/utf8.h>
#endif

#include <algorithm>
#include <memory>
#include <vector>

#include "app/messages.h"
#include "common/error.h"

namespace kestrova {

#ifndef _WIN32
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr OpenConverter(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr c(ucnv_open(name, &status));
  if (U_FAILURE(status)) {
    throw Error(MessageId::kTextConverterMissing, {name, u_errorName(status)});
  }
  return c;
}

// ICU's "windows-31j" is the code page 932 table as Windows uses it.
constexpr const char* kCp932 = "windows-31j";

std::u16string ToUtf16(UConverter* from, std::string_view bytes) {
  std::u16string out(bytes.size() + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(from, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                            static_cast<int32_t>(bytes.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<size_t>(n) + 1, u'\0');
    status = U_ZERO_ERROR;
    n = ucnv_toUChars(from, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                      static_cast<int32_t>(bytes.size()), &status);
  }
  if (U_FAILURE(status)) throw Error(MessageId::kTextConversionFailed, {u_errorName(status)});
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string FromUtf16(UConverter* to, const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(to, out.data(), static_cast<int32_t>(out.size()), text.data(),
                              static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<size_t>(n) + 1, '\0');
    status = U_ZERO_ERROR;
    n = ucnv_fromUChars(to, out.data(), static_cast<int32_t>(out.size()), text.data(),
                        static_cast<int32_t>(text.size()), &status);
  }
  if (U_FAILURE(status)) throw Error(MessageId::kTextConversionFailed, {u_errorName(status)});
  out.resize(static_cast<size_t>(n));
  return out;
}

// ICU's Windows-31J table is IBM's: it trades three control codes around (0x1A reads as
// U+001C, 0x1C as U+007F, 0x7F as U+001A) and reads a malformed byte as U+001A. Windows
// keeps the control codes as themselves, and so does this program, on every build.
char16_t IbmControlToUnicode(char16_t c) {
  switch (c) {
    case 0x1C:
      return 0x1A;
    case 0x7F:
      return 0x1C;
    case 0x1A:
      return 0x7F;
    default:
      return c;
  }
}

char16_t UnicodeToIbmControl(char16_t c) {
  switch (c) {
    case 0x1A:
      return 0x1C;
    case 0x1C:
      return 0x7F;
    case 0x7F:
      return 0x1A;
    default:
      return c;
  }
}

// A malformed or unassigned byte sequence reads as U+FFFD, not as ICU's U+001A.
void ReplaceMalformed(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                      UConverterCallbackReason reason, UErrorCode* err) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  static constexpr UChar kReplacement = 0xFFFD;
  *err = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, err);
}

// Counts every character that goes out as the substitute, then substitutes.
void CountingSubstitute(const void* context, UConverterFromUnicodeArgs* args,
                        const UChar* codeUnits, int32_t length, UChar32 codePoint,
                        UConverterCallbackReason reason, UErrorCode* err) {
  if (reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR) {
    ++*static_cast<size_t*>(const_cast<void*>(context));
  }
  UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, codeUnits, length, codePoint, reason, err);
}

}  // namespace
#endif

int HalfWidthCount(std::string_view s) {
  int count = 0;
  for (size_t i = 0; i < s.size();) {
    const size_t len = SjisCharLength(s, i);
    count += static_cast<int>(len);
    i += len;
  }
  return count;
}

std::string_view TrimLeftBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
    s.remove_prefix(1);
  return s;
}

std::string_view TrimRightBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
    s.remove_suffix(1);
  return s;
}

std::string_view TrimBlanks(std::string_view s) {
  return TrimRightBlanks(TrimLeftBlanks(s));
}

std::string_view CutToBytes(std::string_view s, size_t limit) {
  if (s.size() <= limit) return s;
  size_t i = 0;
  while (i < limit) {
    const size_t len = SjisCharLength(s, i);
    if (i + len > limit) break;
    i += len;
  }
  return s.substr(0, i);
}

namespace {

// The characters code page 932 holds, a bit each over the Basic Multilingual Plane,
// found by converting every code once.
const std::vector<bool>& Cp932Characters() {
  static const std::vector<bool> bits = [] {
    std::vector<bool> b(0x10000, false);
    for (char32_t c = 0; c < 0x80; ++c)
      b[c] = true;
    std::string codes;
    for (unsigned c = 0xA1; c <= 0xDF; ++c) {
      codes += static_cast<char>(c);
      codes += '\n';
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsSjisLeadByte(static_cast<unsigned char>(lead))) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        codes += static_cast<char>(lead);
        codes += static_cast<char>(trail);
        codes += '\n';
      }
    }
    const std::string utf8 = Cp932ToUtf8(codes);
    size_t start = 0;
    for (size_t end; (end = utf8.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string_view one(utf8.data() + start, end - start);
      const auto c0 = static_cast<unsigned char>(one.empty() ? 0 : one[0]);
      char32_t c = 0;
      if (one.size() == 2 && (c0 & 0xE0) == 0xC0) {
        c = (c0 & 0x1Fu) << 6 | (static_cast<unsigned char>(one[1]) & 0x3Fu);
      } else if (one.size() == 3 && (c0 & 0xF0) == 0xE0) {
        c = (c0 & 0x0Fu) << 12 | (static_cast<unsigned char>(one[1]) & 0x3Fu) << 6 |
            (static_cast<unsigned char>(one[2]) & 0x3Fu);
      }
      if (c != 0 && c != 0xFFFD) b[c] = true;
    }
    return b;
  }();
  return bits;
}

bool IsAsciiLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A character UTF-8 Japanese text holds where code page 932 has a look-alike (a wave
// dash, a minus sign, a double bar, a dash): not in the table, still ordinary text.
bool IsJapaneseLookAlike(char32_t c) {
  return c == 0x301C || c == 0x2212 || c == 0x2016 || c == 0x2014;
}

}  // namespace

namespace {

// The signs from U+00A0 to U+00BF a survey text may hold: ¢ £ ¥ ¬ (the JIS ones among
// them), ° ± ² ³ µ ·, and the no-break space.
bool IsSurveySign(char32_t c) {
  switch (c) {
    case 0xA0:
    case 0xA2:
    case 0xA3:
    case 0xA5:
    case 0xAC:
    case 0xB0:
    case 0xB1:
    case 0xB2:
    case 0xB3:
    case 0xB5:
    case 0xB7:
      return true;
    default:
      return false;
  }
}

}  // namespace

Utf8Reading ReadAsUtf8(std::string_view line) {
  const auto* p = reinterpret_cast<const unsigned char*>(line.data());
  const size_t n = line.size();
  bool ascii = true;
  bool unlikely = false;
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    ascii = false;
    size_t length = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2, cp = c & 0x1Fu, least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3, cp = c & 0x0Fu, least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4, cp = c & 0x07u, least = 0x10000;
    } else {
      return Utf8Reading::kNotUtf8;
    }
    if (i + length > n) return Utf8Reading::kNotUtf8;
    for (size_t k = 1; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return Utf8Reading::kNotUtf8;
      cp = cp << 6 | (p[i + k] & 0x3Fu);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return Utf8Reading::kNotUtf8;
    }
    if (cp < 0xA0) {
      unlikely = true;  // C1 control codes
    } else if (cp < 0xC0) {
      // Signs a survey text holds (°, ±, ², µ, ¥ ...) are ordinary. The others (¶, §, «,
      // ¿ ...) are what code page 932's half-width ﾂ before a half-width katakana reads as.
      if (!IsSurveySign(cp)) unlikely = true;
    } else if (cp < 0x100) {
      // Signs (×, ÷) are ordinary; an accented letter belongs inside a Latin word
      // (Müller), while code page 932 half-width katakana read as UTF-8 give such
      // letters beside digits and blanks.
      const bool letter = cp >= 0xC0 && cp != 0xD7 && cp != 0xF7;
      if (letter && !(i > 0 && IsAsciiLetter(p[i - 1])) &&
          !(i + length < n && IsAsciiLetter(p[i + length]))) {
        unlikely = true;
      }
    } else if (cp < 0x800) {
      unlikely = true;  // Latin-extended, Greek, Cyrillic and other alphabets
    } else if (cp < 0x10000) {
      // Outside code page 932, or its user-defined area: not what survey text holds.
      if ((!Cp932Characters()[cp] && !IsJapaneseLookAlike(cp)) || (cp >= 0xE000 && cp <= 0xF8FF)) {
        unlikely = true;
      }
    }
    // Characters beyond the plane (emoji) come from UTF-8 text only: code page 932
    // bytes would need user-defined characters to form them.
    i += length;
  }
  if (ascii) return Utf8Reading::kAscii;
  return unlikely ? Utf8Reading::kUnlikely : Utf8Reading::kLikely;
}

bool IsWellFormedCp932(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) continue;
    if (c == 0x80 || c == 0xA0 || c >= 0xFD) return false;
    if (IsSjisLeadByte(c)) {
      if (i + 1 >= s.size()) return false;
      const auto t = static_cast<unsigned char>(s[i + 1]);
      if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
      ++i;
    }
  }
  return true;
}

#ifndef _WIN32
namespace {

// ASCII reads the same in every encoding here: no converter needed.
bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string ConvertToUtf8(const char* encoding, std::string_view bytes) {
  ConverterPtr from = OpenConverter(encoding);
  ConverterPtr to = OpenConverter("UTF-8");
  return FromUtf16(to.get(), ToUtf16(from.get(), bytes));
}

}  // namespace

// A pair of converters kept by each thread, from the encoding `from` to `to`: opening
// one costs more than converting a name, and exports convert millions of them.
struct ConverterPair {
  ConverterPtr from;
  ConverterPtr to;
  ConverterPair(const char* fromName, const char* toName)
      : from(OpenConverter(fromName)), to(OpenConverter(toName)) {}
  // Both as just opened, apart from their callbacks.
  void Reset() {
    ucnv_reset(from.get());
    ucnv_reset(to.get());
  }
};

std::string Cp932ToUtf8(std::string_view cp932) {
  if (IsAscii(cp932)) return std::string(cp932);
  thread_local ConverterPair c(kCp932, "UTF-8");
  c.Reset();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(c.from.get(), ReplaceMalformed, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) throw Error(MessageId::kTextConversionFailed, {u_errorName(status)});
  std::u16string text = ToUtf16(c.from.get(), cp932);
  std::transform(text.begin(), text.end(), text.begin(), IbmControlToUnicode);
  return FromUtf16(c.to.get(), text);
}

Cp932Text Utf8ToCp932(std::string_view utf8) {
  Cp932Text result;
  if (IsAscii(utf8)) {
    result.text = std::string(utf8);
    return result;
  }
  thread_local ConverterPair c("UTF-8", kCp932);
  c.Reset();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setSubstChars(c.to.get(), "?", 1, &status);
  ucnv_setFromUCallBack(c.to.get(), CountingSubstitute, &result.replaced, nullptr, nullptr,
                        &status);
  if (U_FAILURE(status)) throw Error(MessageId::kTextConversionFailed, {u_errorName(status)});
  std::u16string text = ToUtf16(c.from.get(), utf8);
  std::transform(text.begin(), text.end(), text.begin(), [](char16_t u) {
    return UnicodeToIbmControl(static_cast<char16_t>(Cp932FormOfJis(u)));
  });
  result.text = FromUtf16(c.to.get(), text);
  // The count's place lives no longer than this call.
  ucnv_setFromUCallBack(c.to.get(), CountingSubstitute, nullptr, nullptr, nullptr, &status);
  return result;
}

std::string Utf16ToUtf8(std::string_view utf16, bool littleEndian) {
  return ConvertToUtf8(littleEndian ? "UTF-16LE" : "UTF-16BE", utf16);
}

bool IsValidCp932(std::string_view s) {
  // A quick structural pass first: most files are plain ASCII or fail it outright.
  bool ascii = true;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) continue;
    ascii = false;
    if (c == 0x80 || c == 0xA0 || c >= 0xFD) return false;
    if (IsSjisLeadByte(c)) {
      if (i + 1 >= s.size()) return false;
      const auto t = static_cast<unsigned char>(s[i + 1]);
      if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
      ++i;
    }
  }
  if (ascii) return true;
  // Then the table: a well-formed pair may still be unassigned.
  ConverterPtr from = OpenConverter(kCp932);
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(from.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  std::u16string buffer(4096, u'\0');
  const char* src = s.data();
  const char* srcEnd = s.data() + s.size();
  while (src < srcEnd) {
    UChar* target = buffer.data();
    status = U_ZERO_ERROR;
    ucnv_toUnicode(from.get(), &target, buffer.data() + buffer.size(), &src, srcEnd, nullptr, true,
                   &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) continue;
    if (U_FAILURE(status)) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const auto length = static_cast<int32_t>(s.size());
  int32_t i = 0;
  while (i < length) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    UChar32 c;
    U8_NEXT(p, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

#endif  // _WIN32

}  // namespace kestrova
