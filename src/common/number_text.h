#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

// Coordinate rounding shared by grid, coordinate files, drawing and plot. The code's
// first digit is the number of decimals, its last digit the mode (4: halves away from
// zero). Callers use 34 (display, drawing) and 64 (coordinate files).
double RoundOff(int32_t code, double value);

// RoundOff, then written with the code's decimals and right-aligned in a field of
// width + decimals + 1 characters (never cut).
std::string RoundOffText(int32_t code, int32_t width, double value);

// General form with 15 significant digits: no trailing zeros, no point for whole
// values, fixed notation from 0.0001 up to 15 integer digits, otherwise an exponent
// written as in 5E-5, -1E-6 or 1.5E20. The decimal separator is always ".".
std::string FormatGeneral(double value);
void AppendGeneral(std::string& out, double value);
// The same text written at t, which has room for kMostGeneral characters; returns its end.
inline constexpr size_t kMostGeneral = 24;
char* PutGeneral(char* t, double value);

// The shortest text that reads back as value, as std::to_chars(t, end, value) writes it,
// at t with room for kMostShortest characters; returns its end. Quicker for values with
// a few decimals, as survey coordinates are.
inline constexpr size_t kMostShortest = 24;
char* PutShortest(char* t, double value);

// printf's "%<width>.<decimals>f" with "." as decimal separator whatever the locale.
std::string FormatFixed(double value, int width, int decimals);
void AppendFixed(std::string& out, double value, int width, int decimals);

// Decimal integer text with a leading "-" for negative values.
void AppendInt(std::string& out, int64_t value);

// Surveyors type with the input method on as often as not: full-width digits, signs,
// point, exponent letters and the ideographic space (and "ー" and "。", which hiragana
// mode types for the minus and the point) as their ASCII forms; other text as it is.
// UTF-8 in and out.
std::string NarrowNumberForms(std::string_view utf8);

// Parses a floating-point number: optional sign, digits with an optional ".", an
// optional exponent; blanks (codes 0 to 32) around the number are allowed. Anything
// else, an empty text, infinities and values out of range give nullopt.
std::optional<double> ParseFloat(std::string_view text);

// Which integer spellings a caller accepts besides plain decimal with a sign.
enum class IntForms {
  kDecimal,          // data fields: point numbers, closing flags, grid cells
  kDecimalOrHex0x,   // the settings file: also "0x1F"
  kDecimalOrDollar,  // also "$1F"
};

// Parses a 32-bit signed integer with blanks around it allowed. Hexadecimal forms take
// up to eight digits and wrap into the signed range as Windows does ("0xFFFFFFFF" is
// -1). Out of range or malformed text gives nullopt.
std::optional<int32_t> ParseInt(std::string_view text, IntForms forms = IntForms::kDecimal);

// Parses bare hexadecimal digits (at most eight), as Jw_cad stores colours and line
// patterns: "c0c0" is 0xC0C0.
std::optional<uint32_t> ParseHex(std::string_view text);

}  // namespace kestrova
