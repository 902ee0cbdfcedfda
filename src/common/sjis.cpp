#include "common/sjis.h"

// The Windows build converts with the system's own tables (sjis_win.cpp).
#ifndef _WIN32
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/utf8.h>
#endif

#include <algorithm>
#include <memory>

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

std::string Cp932ToUtf8(std::string_view cp932) {
  if (IsAscii(cp932)) return std::string(cp932);
  ConverterPtr from = OpenConverter(kCp932);
  ConverterPtr to = OpenConverter("UTF-8");
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(from.get(), ReplaceMalformed, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) throw Error(MessageId::kTextConversionFailed, {u_errorName(status)});
  std::u16string text = ToUtf16(from.get(), cp932);
  std::transform(text.begin(), text.end(), text.begin(), IbmControlToUnicode);
  return FromUtf16(to.get(), text);
}

Cp932Text Utf8ToCp932(std::string_view utf8) {
  Cp932Text result;
  if (IsAscii(utf8)) {
    result.text = std::string(utf8);
    return result;
  }
  ConverterPtr from = OpenConverter("UTF-8");
  ConverterPtr to = OpenConverter(kCp932);
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setSubstChars(to.get(), "?", 1, &status);
  ucnv_setFromUCallBack(to.get(), CountingSubstitute, &result.replaced, nullptr, nullptr, &status);
  if (U_FAILURE(status)) throw Error(MessageId::kTextConversionFailed, {u_errorName(status)});
  std::u16string text = ToUtf16(from.get(), utf8);
  std::transform(text.begin(), text.end(), text.begin(), UnicodeToIbmControl);
  result.text = FromUtf16(to.get(), text);
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
