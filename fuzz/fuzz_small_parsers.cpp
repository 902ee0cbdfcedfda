// The small parsers of the command line, checked against plain restatements of their
// rules: --size WxH and a survey system EPSG:N. An accepted value prints back to a text
// that parses to itself; a refused --size names the option and the text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "fuzz_support.h"
#include "gis/survey_systems.h"

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
    s.remove_suffix(1);
  return s;
}

// Decimal digits only, at least one, as a value up to limit (nullopt above it).
std::optional<int64_t> Digits(std::string_view s, int64_t limit) {
  if (s.empty()) return std::nullopt;
  int64_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > limit) return std::nullopt;
  }
  return v;
}

// One side of WxH: blanks around, an optional sign, digits; 1..kMaxPlotSide.
std::optional<int32_t> Side(std::string_view s) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  const std::optional<int64_t> v = Digits(s, int64_t{1} << 40);
  if (!v || negative || *v < 1 || *v > kestrova::cli::kMaxPlotSide) return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::optional<kestrova::cli::PlotSize> ExpectedSize(std::string_view text) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return std::nullopt;
  const std::optional<int32_t> w = Side(text.substr(0, x));
  const std::optional<int32_t> h = Side(text.substr(x + 1));
  if (!w || !h) return std::nullopt;
  return kestrova::cli::PlotSize{*w, *h};
}

std::optional<int32_t> ExpectedEpsg(std::string_view text) {
  text = Trim(text);
  if (text.size() < 5) return std::nullopt;
  for (size_t i = 0; i < 5; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != "EPSG:"[i]) return std::nullopt;
  }
  const std::optional<int64_t> v = Digits(text.substr(5), INT32_MAX);
  if (!v || *v < 1) return std::nullopt;
  return static_cast<int32_t>(*v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  using fuzz::Require;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::optional<cli::PlotSize> expected = ExpectedSize(text);
  try {
    const cli::PlotSize got = cli::ParsePlotSize(text);
    Require(expected && got.width == expected->width && got.height == expected->height);
    const cli::PlotSize again =
        cli::ParsePlotSize(std::to_string(got.width) + "x" + std::to_string(got.height));
    Require(again.width == got.width && again.height == got.height);
  } catch (const cli::UsageError& e) {
    Require(!expected);
    // The message names the text (a command line's ends at its first NUL, and so does
    // what the message shows).
    const std::string named = "--size " + std::string(text.c_str());
    Require(text.find('\0') == std::string::npos
                ? std::string_view(e.what()).starts_with(named + ": ")
                : std::string_view(e.what()) == named);
  }

  const std::optional<int32_t> epsg = ParseEpsgName(text);
  Require(epsg == ExpectedEpsg(text));
  if (epsg) Require(ParseEpsgName(EpsgName(*epsg)) == epsg);
  return 0;
}
