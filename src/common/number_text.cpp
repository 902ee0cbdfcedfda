#include "common/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/utf8.h"

namespace kestrova {

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// Digits with the point put before the last decimals of them: "12345", 2 gives "123.45",
// "5", 3 gives "0.005".
char* PutPointed(char* t, std::string_view digits, size_t decimals) {
  if (digits.size() <= decimals) {
    *t++ = '0';
    *t++ = '.';
    t = std::fill_n(t, decimals - digits.size(), '0');
    return std::copy(digits.begin(), digits.end(), t);
  }
  t = std::copy_n(digits.data(), digits.size() - decimals, t);
  if (decimals == 0) return t;
  *t++ = '.';
  return std::copy(digits.end() - static_cast<std::ptrdiff_t>(decimals), digits.end(), t);
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view TrimBlanksView(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

// A value's 15 significant digits as an integer mantissa and a decimal exponent:
// value = mantissa * 10^exponent. This is the value with the floating-point noise
// below the 15th digit removed (0.1 + 0.2 is 3 * 10^-1).
struct Decimal15 {
  bool negative = false;
  int64_t mantissa = 0;
  int exponent = 0;
};

// The first 15 significant digits of a magnitude in [1e-4, 1e15), rounded half to even
// on its exact binary value as to_chars rounds them, as an integer in [10^14, 10^15),
// and the decimal exponent of the first: the value is m * 2^q, and m * 5^k * 2^(q + k)
// is |value| * 10^k in 128-bit integers, its fraction compared with one half exactly.
// False outside that range, or where the decimal exponent found from the binary one is
// off (at the inexact tenths): to_chars decides those.
#ifdef __SIZEOF_INT128__
__extension__ typedef unsigned __int128 Wide;

bool Mantissa15(double magnitude, uint64_t& mantissa, int& exponent) {
  static constexpr double kTens[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0,  1e1,  1e2,  1e3,  1e4,  1e5,
                                     1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  static constexpr uint64_t kFives[] = {
      1,          5,           25,           125,          625,          3125,      15625,
      78125,      390625,      1953125,      9765625,      48828125,     244140625, 1220703125,
      6103515625, 30517578125, 152587890625, 762939453125, 3814697265625};
  if (!(magnitude >= 1e-4 && magnitude < 1e15)) return false;
  uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  // 10^e <= magnitude < 10^(e + 1), from the binary exponent (but for the inexact tenths).
  const int binary = static_cast<int>(bits >> 52) - 1023;
  int e = (binary * 1233) >> 12;  // floor(binary * log10(2)), or one less
  if (e < 14 && magnitude >= kTens[e + 5]) ++e;
  const int k = 14 - e;  // 0 to 18
  const uint64_t five = kFives[k];
  const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int shift = static_cast<int>(bits >> 52) - 1075 + k;
  const Wide scaled = static_cast<Wide>(m) * five;
  uint64_t r;
  if (shift >= 0) {
    r = static_cast<uint64_t>(scaled << shift);
  } else {
    const Wide whole = scaled >> -shift;
    const Wide rest = scaled - (whole << -shift);
    const Wide half = static_cast<Wide>(1) << (-shift - 1);
    r = static_cast<uint64_t>(whole) + ((rest > half || (rest == half && (whole & 1))) ? 1 : 0);
  }
  constexpr uint64_t kLow = 100000000000000;  // 10^14
  if (r == 10 * kLow) {                       // rounded up to the next power of ten
    r = kLow;
    ++e;
  }
  if (r < kLow || r >= 10 * kLow) return false;
  mantissa = r;
  exponent = e;
  return true;
}

// The same 15 digits as text.
bool Digits15(double magnitude, std::array<char, 16>& digits, int& exponent) {
  uint64_t r = 0;
  int e = 0;
  if (!Mantissa15(magnitude, r, e)) return false;
  // Two digits at a time from a table, in 32-bit halves: the last eight, then seven.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  const auto pairs = [&digits](uint32_t v, size_t end, int count) {
    for (int i = 0; i < count; ++i, end -= 2, v /= 100) {
      std::memcpy(&digits[end - 2], &kPairs[2 * (v % 100)], 2);
    }
    return v;
  };
  const uint32_t high = static_cast<uint32_t>(r / 100000000);  // seven digits
  pairs(static_cast<uint32_t>(r % 100000000), 15, 4);
  const uint32_t first = pairs(high, 7, 3);
  digits[0] = static_cast<char>('0' + first);
  exponent = e;
  return true;
}
#else
bool Mantissa15(double, uint64_t&, int&) {
  return false;  // no 128-bit integers: to_chars
}
bool Digits15(double, std::array<char, 16>&, int&) {
  return false;
}
#endif

bool ToDecimal15(double value, Decimal15& out) {
  if (!std::isfinite(value)) return false;
  uint64_t mantissa = 0;
  int exponent = 0;
  if (Mantissa15(std::fabs(value), mantissa, exponent)) {
    out.negative = value < 0;
    out.mantissa = static_cast<int64_t>(mantissa);
    out.exponent = exponent - 14;
    return true;
  }
  std::array<char, 40> buf;
  auto [end, ec] =
      std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::scientific, 14);
  if (ec != std::errc()) return false;
  const char* p = buf.data();
  out.negative = *p == '-';
  if (out.negative) ++p;
  int64_t m = 0;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') m = m * 10 + (*p - '0');
  }
  int e = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, e);
  out.mantissa = m;
  out.exponent = e - 14;
  return true;
}

constexpr int64_t kInt64PowersOfTen[] = {1,
                                         10,
                                         100,
                                         1000,
                                         10000,
                                         100000,
                                         1000000,
                                         10000000,
                                         100000000,
                                         1000000000,
                                         10000000000,
                                         100000000000,
                                         1000000000000,
                                         10000000000000,
                                         100000000000000,
                                         1000000000000000,
                                         10000000000000000,
                                         100000000000000000,
                                         1000000000000000000};

}  // namespace

double RoundOff(int32_t code, double value) {
  uint32_t magnitude = code < 0 ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code);
  int mode = static_cast<int>(magnitude % 10);
  if (mode != 0 && mode != 5) mode = 4;
  uint32_t first = magnitude;
  while (first >= 10)
    first /= 10;
  const int decimals = static_cast<int>(first);

  // The rule: t = the value at 15 significant digits, then floor(|t| * 10^d + bias) with
  // the sign of t, divided by 10^d. It is evaluated on t's decimal digits rather than in
  // binary: scaling a binary value by 10^6 can move it by more than the bias, so a
  // six-decimal half such as 272721.5061665 would otherwise round down.
  // Fast path: the 15-digit cleaning moves |value| * 10^d by at most 5e-15 of itself and
  // the product's rounding by 1.2e-16 more, so wherever the fraction lies clearly away
  // from the step at 0.499999999 the outcome is the same as on the decimal digits. Near
  // a whole number the cleaning may cross it, but rounding up from just below and
  // keeping from just above give the same result. (The margin exceeds 1 before the
  // product reaches 2^53, so the fraction taken here is always exact.) Plain doubles:
  // extended precision would need the x87 unit, whose rounding-mode switches cost
  // several times the rest of the work on some processors.
  if (mode == 4 && std::fabs(value) < 1e15) {
    const double x = std::fabs(value) * kPowersOfTen[decimals];
    const double whole = std::floor(x);
    const double fraction = x - whole;
    const double margin = x * 1e-14 + 1e-12;
    if (std::fabs(fraction - 0.499999999) > margin) {
      const auto kept = static_cast<int64_t>(whole) + (fraction > 0.499999999 ? 1 : 0);
      if (kept == 0) return 0.0;
      const double result = static_cast<double>(kept) / kPowersOfTen[decimals];
      return value < 0 ? -result : result;
    }
  }
  Decimal15 t;
  if (!ToDecimal15(value, t) || t.mantissa == 0) return 0.0;
  const int k = -(t.exponent + decimals);  // digits of the mantissa below the kept decimals
  if (k <= 0) {
    // Nothing below the kept decimals: the cleaned value is its own rounding.
    std::string text = std::to_string(t.mantissa) + "e" + std::to_string(t.exponent);
    double cleaned = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), cleaned);
    return t.negative ? -cleaned : cleaned;
  }
  // kept = the integer part of |t| * 10^d; fraction9 = the first nine digits after it.
  int64_t kept = 0;
  int64_t fraction9 = 0;
  if (k <= 18) {
    kept = t.mantissa / kInt64PowersOfTen[k];
    const int64_t rest = t.mantissa % kInt64PowersOfTen[k];
    fraction9 = k <= 9 ? rest * kInt64PowersOfTen[9 - k] : rest / kInt64PowersOfTen[k - 9];
  } else if (k - 9 <= 18) {
    fraction9 = t.mantissa / kInt64PowersOfTen[k - 9];
  }
  bool up;
  switch (mode) {
    case 0:  // cut toward zero
      up = false;
      break;
    case 5:  // plain half-up, without the bias of mode 4
      up = fraction9 >= 500000000;
      break;
    default:
      // floor(x + 0.500000001) steps up exactly when the fraction reaches 0.499999999:
      // a decimal half always rounds away from zero.
      up = fraction9 >= 499999999;
      break;
  }
  const int64_t r = kept + (up ? 1 : 0);
  if (r == 0) return 0.0;  // never a negative zero ("-0.000")
  const double result = static_cast<double>(r) / kPowersOfTen[decimals];
  return t.negative ? -result : result;
}

std::string RoundOffText(int32_t code, int32_t width, double value) {
  const double r = RoundOff(code, value);
  uint32_t first = code < 0 ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code);
  while (first >= 10)
    first /= 10;
  const int decimals = static_cast<int>(first);
  std::string text = FormatFixed(r, 0, decimals);
  const int64_t n = static_cast<int64_t>(width) + decimals + 1;
  if (n > static_cast<int64_t>(text.size())) {
    // The last n characters of ten blanks and the text: at most ten blanks are added.
    const size_t pad = std::min<size_t>(10, static_cast<size_t>(n) - text.size());
    text.insert(0, pad, ' ');
  }
  return text;
}

char* PutGeneral(char* t, double value) {
  const auto word = [&t](std::string_view w) { return std::copy(w.begin(), w.end(), t); };
  if (std::isnan(value)) return word("NAN");
  if (std::isinf(value)) return word(value < 0 ? "-INF" : "INF");
  if (value == 0.0) {
    *t++ = '0';
    return t;
  }
  const bool negative = value < 0;
  std::array<char, 16> digits;
  int nd = 15;
  int exponent = 0;
  if (!Digits15(std::fabs(value), digits, exponent)) {
    std::array<char, 40> buf;
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                   std::chars_format::scientific, 14);
    (void)ec;
    // buf holds [-]d.ddddddddddddddde[+-]xx
    const char* p = buf.data() + (negative ? 1 : 0);
    nd = 0;
    const char* e = p;
    for (; e < end && *e != 'e'; ++e) {
      if (*e != '.') digits[static_cast<size_t>(nd++)] = *e;
    }
    std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), end, exponent);
  }
  while (nd > 1 && digits[nd - 1] == '0')
    --nd;

  const auto put = [&t](const char* from, int n) { t = std::copy_n(from, n, t); };
  const auto zeros = [&t](int n) { t = std::fill_n(t, n, '0'); };
  if (negative) *t++ = '-';
  if (exponent < -4 || exponent >= 15) {
    *t++ = digits[0];
    if (nd > 1) {
      *t++ = '.';
      put(digits.data() + 1, nd - 1);
    }
    *t++ = 'E';
    if (exponent < 0) *t++ = '-';
    t = std::to_chars(t, t + 4, exponent < 0 ? -exponent : exponent).ptr;
  } else if (exponent < 0) {
    *t++ = '0';
    *t++ = '.';
    zeros(-exponent - 1);
    put(digits.data(), nd);
  } else {
    const int intDigits = exponent + 1;
    if (nd <= intDigits) {
      put(digits.data(), nd);
      zeros(intDigits - nd);
    } else {
      put(digits.data(), intDigits);
      *t++ = '.';
      put(digits.data() + intDigits, nd - intDigits);
    }
  }
  return t;
}

char* PutShortest(char* t, double value) {
  // A value that is a whole number of 10^-k, with k up to 6 and at most 15 digits in all,
  // is written from those digits: no other text of as few digits reads back as the same
  // value, so it is the shortest one. The rest, and those shorter with an exponent, are
  // left to to_chars.
  const double a = std::fabs(value);
  if (!(a >= 1e-3 && a < 1e9)) return std::to_chars(t, t + kMostShortest, value).ptr;
  for (int k = 0; k <= 6; ++k) {
    const double scaled = a * kPowersOfTen[k];
    if (std::nearbyint(scaled) != scaled) continue;
    uint64_t n = static_cast<uint64_t>(scaled);
    if (static_cast<double>(n) / kPowersOfTen[k] != a) break;
    while (k > 0 && n % 10 == 0) {  // 77961.93 may first be whole as 77961930 / 1000
      n /= 10;
      --k;
    }
    std::array<char, 24> digits;
    const int count = static_cast<int>(
        std::to_chars(digits.data(), digits.data() + digits.size(), n).ptr - digits.data());
    int significant = count;
    while (significant > 1 && digits[significant - 1] == '0')
      --significant;
    const int fixed = count > k ? count + (k > 0 ? 1 : 0) : 2 + k;
    if (fixed > significant + (significant > 1 ? 1 : 0) + 4) break;  // as 1.2e+07 it is shorter
    if (value < 0) *t++ = '-';
    return PutPointed(t, std::string_view(digits.data(), static_cast<size_t>(count)),
                      static_cast<size_t>(k));
  }
  return std::to_chars(t, t + kMostShortest, value).ptr;
}

void AppendGeneral(std::string& out, double value) {
  // Made on the stack and appended once: dumps print tens of millions of these.
  std::array<char, kMostGeneral> text;
  out.append(text.data(), static_cast<size_t>(PutGeneral(text.data(), value) - text.data()));
}

std::string FormatGeneral(double value) {
  std::string s;
  AppendGeneral(s, value);
  return s;
}

void AppendFixed(std::string& out, double value, int width, int decimals) {
  std::array<char, 360> buf;
  std::to_chars_result r;
  const double scale = decimals >= 0 && decimals <= 9 ? kPowersOfTen[decimals] : 0.0;
  const double scaled = value * scale;
  // A value that is already a whole number of 10^-decimals (as rounded values are)
  // prints its integer digits with the point put in: the same text, much faster.
  if (scale != 0.0 && std::fabs(scaled) < 1e15 && value != 0.0 &&
      static_cast<double>(static_cast<int64_t>(std::llround(scaled))) / scale == value) {
    const int64_t n = std::llround(scaled);
    const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    std::array<char, 24> digits;
    auto d = std::to_chars(digits.data(), digits.data() + digits.size(), magnitude);
    char* p = buf.data();
    if (n < 0) *p++ = '-';
    r.ptr =
        PutPointed(p, std::string_view(digits.data(), static_cast<size_t>(d.ptr - digits.data())),
                   static_cast<size_t>(decimals));
  } else if (std::isfinite(value)) {
    r = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed,
                      decimals);
  } else {
    const char* t = std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
    r.ptr = std::copy(t, t + std::strlen(t), buf.data());
  }
  const size_t len = static_cast<size_t>(r.ptr - buf.data());
  if (width > 0 && static_cast<size_t>(width) > len) out.append(width - len, ' ');
  out.append(buf.data(), len);
}

std::string FormatFixed(double value, int width, int decimals) {
  std::string s;
  AppendFixed(s, value, width, decimals);
  return s;
}

void AppendInt(std::string& out, int64_t value) {
  std::array<char, 24> buf;
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  out.append(buf.data(), r.ptr);
}

std::optional<double> ParseFloat(std::string_view text) {
  std::string_view s = TrimBlanksView(text);
  if (s.empty()) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    ++i;
  }
  const size_t numberStart = i;
  size_t mantissaDigits = 0;
  // The digits as an integer while it stays exact, and the decimal places among them.
  uint64_t mantissa = 0;
  int places = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    mantissa = mantissa * 10 + static_cast<uint64_t>(s[i] - '0');
    ++i, ++mantissaDigits;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      mantissa = mantissa * 10 + static_cast<uint64_t>(s[i] - '0');
      ++i, ++mantissaDigits, ++places;
    }
  }
  if (mantissaDigits == 0) return std::nullopt;
  if (i == s.size() && mantissaDigits <= 15 && places <= 22) {
    // Both the integer and the power of ten are exact doubles, so one division is the
    // correctly rounded value, as from_chars would give it; coordinates take this way.
    constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double value = static_cast<double>(mantissa) / kExact[places];
    return negative ? -value : value;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    size_t expDigits = 0;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9')
      ++j, ++expDigits;
    if (expDigits == 0) return std::nullopt;
    i = j;
  }
  if (i != s.size()) return std::nullopt;

  double value = 0.0;
  auto res = std::from_chars(s.data() + numberStart, s.data() + s.size(), value,
                             std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Underflow is a plain zero; overflow has no value a surveyor could mean.
    std::string_view e = s.substr(numberStart);
    const size_t ePos = e.find_first_of("eE");
    if (ePos != std::string_view::npos && ePos + 1 < e.size() && e[ePos + 1] == '-') {
      return negative ? -0.0 : 0.0;
    }
    return std::nullopt;
  }
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return negative ? -value : value;
}

namespace {

std::optional<uint32_t> ParseHexDigits(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  uint32_t v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

std::optional<uint32_t> ParseHex(std::string_view text) {
  return ParseHexDigits(TrimBlanksView(text));
}

std::optional<int32_t> ParseInt(std::string_view text, IntForms forms) {
  std::string_view s = TrimBlanksView(text);
  if (s.empty()) return std::nullopt;
  if (forms == IntForms::kDecimalOrHex0x && s.size() > 2 && s[0] == '0' &&
      (s[1] == 'x' || s[1] == 'X')) {
    auto v = ParseHexDigits(s.substr(2));
    if (!v) return std::nullopt;
    return static_cast<int32_t>(*v);
  }
  if (forms == IntForms::kDecimalOrDollar && s[0] == '$') {
    auto v = ParseHexDigits(s.substr(1));
    if (!v) return std::nullopt;
    return static_cast<int32_t>(*v);
  }
  size_t start = 0;
  if (s[0] == '+') {
    start = 1;
    if (s.size() == 1 || s[1] == '-' || s[1] == '+') return std::nullopt;
  }
  int32_t v = 0;
  auto res = std::from_chars(s.data() + start, s.data() + s.size(), v, 10);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

std::string NarrowNumberForms(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, i);
    char32_t ascii = c;
    if (c >= U'０' && c <= U'９') ascii = U'0' + (c - U'０');
    if (c == U'－' || c == U'−' || c == U'ー') ascii = U'-';
    if (c == U'＋') ascii = U'+';
    if (c == U'．' || c == U'。') ascii = U'.';
    if (c == U'ｅ') ascii = U'e';
    if (c == U'Ｅ') ascii = U'E';
    if (c == U'\u3000') ascii = U' ';
    AppendUtf8(out, ascii);
  }
  return out;
}

}  // namespace kestrova
