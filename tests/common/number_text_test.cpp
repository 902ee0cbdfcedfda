#include "common/number_text.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace kestrova {
namespace {

// The rounding rule computed exactly in decimal: the value's 15-digit decimal form,
// scaled, biased by 0.500000001 (mode 4; 0.5 in mode 5, nothing in mode 0, which cuts)
// and floored with integers only.
__extension__ typedef __int128 Int128;

double ExactRoundOff(int decimals, double value, int mode = 4) {
  char buf[40];
  auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14).ptr;
  std::string text(buf, end);
  bool negative = text[0] == '-';
  if (negative) text.erase(0, 1);
  const size_t e = text.find('e');
  std::string digits = text.substr(0, 1) + text.substr(2, e - 2);
  const int exponent = std::stoi(text.substr(e + 1)) - 14;
  Int128 mantissa = 0;
  for (char c : digits)
    mantissa = mantissa * 10 + (c - '0');
  if (mantissa == 0) return 0.0;
  // y = floor(mantissa * 10^(exponent + decimals + 9))
  int shift = exponent + decimals + 9;
  Int128 y = mantissa;
  for (; shift > 0; --shift)
    y *= 10;
  for (; shift < 0; ++shift)
    y /= 10;
  const Int128 bias = mode == 0 ? 0 : (mode == 5 ? 500000000 : 500000001);
  const Int128 r = (y + bias) / 1000000000;
  std::string rt;
  for (Int128 v = r; v > 0; v /= 10)
    rt.insert(rt.begin(), static_cast<char>('0' + v % 10));
  if (rt.empty()) return 0.0;
  rt += "e-" + std::to_string(decimals);
  double result = 0;
  std::from_chars(rt.data(), rt.data() + rt.size(), result);
  return negative ? -result : result;
}

TEST(RoundOff, ListedCases) {
  EXPECT_EQ(RoundOff(34, 2.0005), 2.001);
  EXPECT_EQ(RoundOff(34, -2.0005), -2.001);
  EXPECT_EQ(RoundOff(34, 0.0004999999995), 0.001);
  EXPECT_EQ(RoundOff(34, 0.1 + 0.2), 0.3);
  EXPECT_EQ(RoundOff(34, 0.0), 0.0);
  EXPECT_FALSE(std::signbit(RoundOff(34, -0.0001)));  // no "-0.000" on screen or paper
  EXPECT_EQ(RoundOff(34, std::numeric_limits<double>::infinity()),
            0.0);  // infinity has no text form
  EXPECT_EQ(RoundOff(34, std::nan("")), 0.0);
  // Modes other than 0, 4 and 5 behave as 4.
  EXPECT_EQ(RoundOff(37, 2.0005), 2.001);
  // A 16th digit of exactly 5 is rounded to even before the rule applies.
  EXPECT_EQ(RoundOff(4, 100000000000000.5), 100000000000000.0);
  EXPECT_EQ(RoundOff(0, 100000000000001.5), 100000000000002.0);
  EXPECT_EQ(RoundOff(24, 1000000000000.125), 1000000000000.12);
  EXPECT_EQ(RoundOff(25, 1000000000000.375), 1000000000000.38);
}

TEST(RoundOff, AgreesWithExactDecimalModel) {
  std::mt19937_64 rng(20261206);
  std::uniform_int_distribution<int64_t> whole(-50'000'000, 50'000'000);
  std::uniform_int_distribution<int> fraction(0, 9'999'999);
  std::uniform_real_distribution<double> anyValue(-1e6, 1e6);
  for (int i = 0; i < 200'000; ++i) {
    double v;
    switch (i % 3) {
      case 0:  // decimal halves at the rounding digit, the hard case
        v = static_cast<double>(whole(rng)) / 1000.0 + (fraction(rng) % 2 ? 0.0005 : -0.0005);
        break;
      case 1:  // survey values written with up to seven decimals
        v = static_cast<double>(whole(rng)) / 100.0 + fraction(rng) / 1e7;
        break;
      default:
        v = anyValue(rng);
    }
    ASSERT_EQ(RoundOff(34, v), ExactRoundOff(3, v)) << FormatGeneral(v);
    ASSERT_EQ(RoundOff(64, v), ExactRoundOff(6, v)) << FormatGeneral(v);
    // Parsing gives the correctly rounded value, whichever way it is produced.
    for (const std::string& text :
         {FormatFixed(v, 0, 7), FormatGeneral(v), FormatFixed(v, 0, 12)}) {
      double expectedValue = 0;
      std::from_chars(text.data(), text.data() + text.size(), expectedValue);
      ASSERT_EQ(ParseFloat(text), expectedValue) << text;
    }
    // The fixed text of a rounded value is printf's, whichever way it is produced.
    char expected[64];
    std::snprintf(expected, sizeof expected, "%8.3f", RoundOff(34, v));
    ASSERT_EQ(FormatFixed(RoundOff(34, v), 8, 3), expected);
    std::snprintf(expected, sizeof expected, "%.3f", v);
    ASSERT_EQ(FormatFixed(v, 0, 3), expected);
  }
}

// Any double from 1e-5 to 1e16, every number of decimals and every mode: values beside
// decimal halves and 16th-digit ties among them by chance, the bits picked evenly.
TEST(RoundOff, AgreesWithExactDecimalModelInEveryMode) {
  std::mt19937_64 rng(20261208);
  uint64_t low, high;
  const double lowest = 1e-5, highest = 1e16;
  std::memcpy(&low, &lowest, sizeof low);
  std::memcpy(&high, &highest, sizeof high);
  std::uniform_int_distribution<uint64_t> bits(low, high);
  for (int i = 0; i < 100'000; ++i) {
    const uint64_t b = bits(rng);
    double v;
    std::memcpy(&v, &b, sizeof v);
    if (i % 2) v = -v;
    const int decimals = 1 + i % 9;
    for (int mode : {0, 4, 5}) {
      ASSERT_EQ(RoundOff(decimals * 10 + mode, v), ExactRoundOff(decimals, v, mode))
          << decimals << " decimals, mode " << mode << ", " << FormatGeneral(v);
    }
  }
}

TEST(RoundOffText, FieldWidth) {
  EXPECT_EQ(RoundOffText(34, 7, 1234.5), "   1234.500");
  EXPECT_EQ(RoundOffText(34, 7, -12.0004), "    -12.000");
  EXPECT_EQ(RoundOffText(34, 7, 123456789.5), "123456789.500");
  // No more than ten blanks are ever added.
  EXPECT_EQ(RoundOffText(34, 20, 1.0), std::string(10, ' ') + "1.000");
}

TEST(NumberText, GeneralForm) {
  EXPECT_EQ(FormatGeneral(12.5), "12.5");
  EXPECT_EQ(FormatGeneral(100), "100");
  EXPECT_EQ(FormatGeneral(0), "0");
  EXPECT_EQ(FormatGeneral(-0.0), "0");
  EXPECT_EQ(FormatGeneral(0.0001), "0.0001");
  EXPECT_EQ(FormatGeneral(0.00005), "5E-5");
  EXPECT_EQ(FormatGeneral(-0.000001), "-1E-6");
  EXPECT_EQ(FormatGeneral(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatGeneral(-12345.678901), "-12345.678901");
  EXPECT_EQ(FormatGeneral(123456789012345.0), "123456789012345");
  EXPECT_EQ(FormatGeneral(1e15), "1E15");
  EXPECT_EQ(FormatGeneral(1.5e20), "1.5E20");
  EXPECT_EQ(FormatGeneral(1.23456789012345678), "1.23456789012346");
  EXPECT_EQ(FormatGeneral(9.999999999999999), "10");
  // Halves at the sixteenth digit go to the even digit, as their exact binary values are.
  EXPECT_EQ(FormatGeneral(100000000000000.5), "100000000000000");
  EXPECT_EQ(FormatGeneral(100000000000001.5), "100000000000002");
  EXPECT_EQ(FormatGeneral(-12345678901234.25), "-12345678901234.2");
  EXPECT_EQ(FormatGeneral(12345678901234.75), "12345678901234.8");
  EXPECT_EQ(FormatGeneral(999999999999999.5), "1E15");
  // The longest texts fit the room a writer at a cursor leaves for one.
  for (const double v : {-1.23456789012345e-100, -0.000123456789012345, -123456789012345.0,
                         -std::numeric_limits<double>::denorm_min()}) {
    std::string text(kMostGeneral + 1, '#');
    EXPECT_LE(PutGeneral(text.data(), v) - text.data(), static_cast<ptrdiff_t>(kMostGeneral));
    EXPECT_EQ(text.substr(0, FormatGeneral(v).size()), FormatGeneral(v));
  }
}

// The shortest text is to_chars's, byte for byte: values of a few decimals at every
// magnitude (those written from their digits, and those shorter with an exponent),
// values just off them, and values of random bits.
TEST(NumberText, ShortestIsToCharsShortest) {
  std::mt19937_64 random(11);
  std::vector<double> values = {
      0.001,     0.0001,   0.00123,          1e8,    12000000.0,
      1200000.0, 1e9,      999999999.999999, 0.5,    1.0 / 3,
      0.1 + 0.2, 77961.93, -4100.869,        5e-324, 1.7976931348623157e308};
  for (int k = 0; k <= 9; ++k) {
    for (int i = 0; i < 30000; ++i) {
      const auto n = static_cast<int64_t>(random() % 2'000'000'000'000) - 1'000'000'000'000;
      const double v = static_cast<double>(n / static_cast<int64_t>(std::pow(10, random() % 13)));
      values.push_back(v / std::pow(10.0, k));
      values.push_back(std::nextafter(v / std::pow(10.0, k), 0.0));
      values.push_back(v * std::pow(10.0, k));
    }
  }
  for (int i = 0; i < 100000; ++i) {
    const uint64_t bits = random();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
  }
  for (const double v : values) {
    std::array<char, kMostShortest> ours, theirs;
    const char* end = PutShortest(ours.data(), v);
    const char* theirEnd = std::to_chars(theirs.data(), theirs.data() + theirs.size(), v).ptr;
    ASSERT_EQ(std::string_view(ours.data(), static_cast<size_t>(end - ours.data())),
              std::string_view(theirs.data(), static_cast<size_t>(theirEnd - theirs.data())))
        << std::hexfloat << v;
  }
}

#ifndef _WIN32  // the C library's own %.15G, exact on glibc
TEST(NumberText, GeneralFormIsPrintfs) {
  std::mt19937_64 random(7);
  std::vector<double> values;
  for (int i = 0; i < 200000; ++i) {
    // Every binary exponent from 1e-7 to 1e17 with random bits, and survey-like numbers.
    const uint64_t bits = (random() >> 12) | (static_cast<uint64_t>(1000 + random() % 84) << 52);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
    values.push_back(static_cast<double>(static_cast<int64_t>(random() % 2000000000)) / 1000.0);
    values.push_back(static_cast<double>(random() % 100000) / 3.0);
  }
  for (int k = 0; k <= 18; ++k) {  // halves at the sixteenth digit: odd / 2^(k + 1)
    for (int i = 0; i < 200; ++i) {
      const double v =
          std::ldexp(static_cast<double>((random() % (uint64_t{1} << 50)) | 1), -k - 1);
      if (v >= std::pow(10.0, 14 - k) && v < std::pow(10.0, 15 - k)) values.push_back(v);
    }
  }
  for (int e = -6; e <= 16; ++e) {  // either side of every power of ten
    double v = std::pow(10.0, e);
    for (int i = 0; i < 3; ++i)
      v = std::nextafter(v, 0.0);
    for (int i = 0; i < 7; ++i, v = std::nextafter(v, 1e300))
      values.push_back(v);
  }
  size_t checked = 0;
  for (const double v : values) {
    for (const double w : {v, -v}) {
      if (w == 0) continue;  // printf keeps the sign of -0
      char expected[40];
      std::snprintf(expected, sizeof expected, "%.15G", w);
      // This program writes the exponent without its "+" and leading zero.
      std::string want = expected;
      const size_t e = want.find('E');
      if (e != std::string::npos) {
        if (want[e + 1] == '+') want.erase(e + 1, 1);
        const size_t digits = want[e + 1] == '-' ? e + 2 : e + 1;
        if (want[digits] == '0') want.erase(digits, 1);
      }
      ASSERT_EQ(FormatGeneral(w), want) << std::hexfloat << w;
      ++checked;
    }
  }
  EXPECT_GT(checked, 1200000u);
}
#endif

TEST(NumberText, ParseFloatForms) {
  EXPECT_EQ(ParseFloat("12.5"), 12.5);
  EXPECT_EQ(ParseFloat("  -12.5 \t"), -12.5);
  EXPECT_EQ(ParseFloat("+3"), 3.0);
  EXPECT_EQ(ParseFloat(".5"), 0.5);
  EXPECT_EQ(ParseFloat("5."), 5.0);
  EXPECT_EQ(ParseFloat("1e3"), 1000.0);
  EXPECT_EQ(ParseFloat("-1E-6"), -1e-6);
  EXPECT_EQ(ParseFloat("1e-400"), 0.0);
  for (const char* bad : {"", "   ", "abc", "1,5", "1.5.2", "+-1", "1e", "e5", ".", "-", "inf",
                          "nan", "1e999", "0x10", "12 34", "P1"}) {
    EXPECT_FALSE(ParseFloat(bad).has_value()) << bad;
  }
}

TEST(NumberText, ParseIntForms) {
  EXPECT_EQ(ParseInt("  42  "), 42);
  EXPECT_EQ(ParseInt("-7"), -7);
  EXPECT_EQ(ParseInt("+7"), 7);
  EXPECT_EQ(ParseInt("2147483647"), 2147483647);
  EXPECT_FALSE(ParseInt("2147483648"));
  EXPECT_FALSE(ParseInt("12a"));
  EXPECT_FALSE(ParseInt("1.0"));
  EXPECT_FALSE(ParseInt(""));
  EXPECT_FALSE(ParseInt("0x10"));
  EXPECT_FALSE(ParseInt("$10"));
  EXPECT_EQ(ParseInt("0x1F", IntForms::kDecimalOrHex0x), 31);
  EXPECT_EQ(ParseInt("0xFFFFFFFF", IntForms::kDecimalOrHex0x), -1);
  EXPECT_FALSE(ParseInt("0x", IntForms::kDecimalOrHex0x));
  EXPECT_EQ(ParseInt("$c0c0", IntForms::kDecimalOrDollar), 0xC0C0);
  EXPECT_EQ(ParseHex("ff0080"), 0xFF0080u);
  EXPECT_FALSE(ParseHex(""));
  EXPECT_FALSE(ParseHex("123456789"));
  EXPECT_FALSE(ParseHex("-5"));
}

// The decimal separator of files and drawings is "." whatever the user's locale.
TEST(NumberText, IndependentOfProcessLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
#ifdef _WIN32
  ASSERT_NE(std::setlocale(LC_ALL, "German_Germany.1252"), nullptr);
#else
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing; scripts/install-deps generates it";
#endif
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  EXPECT_STREQ(probe, "1,5");  // the locale really is in force
  EXPECT_EQ(FormatGeneral(1234.5), "1234.5");
  EXPECT_EQ(FormatFixed(-2.25, 8, 3), "  -2.250");
  EXPECT_EQ(RoundOffText(34, 7, 1234.5), "   1234.500");
  EXPECT_EQ(ParseFloat("1234.5"), 1234.5);
  EXPECT_FALSE(ParseFloat("1234,5").has_value());
  for (double v : {0.001, -98765.4321, 1e-5, 123456.789012}) {
    EXPECT_EQ(ParseFloat(FormatGeneral(v)), v);
    EXPECT_EQ(ParseFloat(FormatFixed(v, 0, 6)), RoundOff(64, v));
  }
  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace kestrova
