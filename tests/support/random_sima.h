#pragma once

#include <algorithm>
#include <random>
#include <string>

namespace kestrova::test {

// A SIMA site: points with numbers that repeat, go missing or are left out, long and
// double-byte names, every kind of mark; parcels, triangles and polylines naming known,
// unknown and later points, unclosed and mismatched blocks, parcels without a name or
// of no area, records outside any block.
inline std::string RandomSima(std::mt19937& rng, int points) {
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* marks[] = {"", "5", "105", "205", "-3", "x", "100", " 7 "};
  const char* names[] = {"P", "\x8A\xEE\x8F\x80\x93\x5F", "", "road-centre-line-12", "A"};
  std::string out = "G00,01,site,\r\nZ00,title,\r\nA00,\r\n";
  int written = 0;
  const auto ref = [&] {
    // Mostly known numbers; some unknown, some not yet read, some not numbers at all.
    switch (pick(12)) {
      case 0:
        return std::string("999999");
      case 1:
        return std::to_string(written + 1 + pick(5));
      case 2:
        return std::string("x");
      default:
        return std::to_string(1 + pick(std::max(written, 1)));
    }
  };
  while (written < points) {
    const int kind = pick(10);
    if (kind < 7) {
      ++written;
      out += "A01,";
      if (pick(15) != 0) out += std::to_string(pick(20) == 0 ? 1 + pick(written) : written);
      out += std::string(",") + names[pick(5)] + std::to_string(pick(3) ? written : 0) + ",";
      out += std::to_string(-12000.0 + pick(100000) * 0.001) + "," +
             std::to_string(-30000.0 + pick(100000) * 0.0007) + "," + std::to_string(pick(50));
      if (pick(2)) out += std::string(",") + marks[pick(8)];
      out += "\r\n";
      continue;
    }
    const bool polyline = kind == 9;
    out += polyline ? "F00,1," : "D00,1,";
    out += pick(4) == 0 ? std::string() : "\x92\x6E" + std::to_string(pick(100));
    if (!polyline) out += pick(3) ? ",1" : ",0";
    out += "\r\n";
    const int records = pick(7);
    for (int r = 0; r < records; ++r) {
      if (pick(6) == 0) {
        out += "E01," + ref() + ",," + ref() + ",," + ref() + ",\r\n";
      } else {
        out += "B01," + ref() + ",\r\n";
      }
    }
    if (pick(8) != 0) out += polyline == (pick(10) != 0) ? "F99,\r\n" : "D99,\r\n";
    if (pick(10) == 0) out += "B01,1,\r\n";  // outside any block
  }
  out += "A99,\r\n";
  return out;
}

}  // namespace kestrova::test
