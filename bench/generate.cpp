#include "bench/generate.h"

#include <string>

#include "common/atomic_file.h"
#include "common/number_text.h"

namespace kestrova::bench {

namespace {

std::filesystem::path CachePath(const char* kind, int points) {
  return std::filesystem::temp_directory_path() /
         ("kestrova-bench-" + std::to_string(points) + "." + kind);
}

double PointX(int i) {
  return -12000.0 - (i / 1000) * 3.125 - (i % 7) * 0.001;
}
double PointY(int i) {
  return -30000.0 + (i % 1000) * 2.5 + (i % 11) * 0.0005;
}

// "i,Pi,X,Y,12.345," for point i.
void AppendPoint(std::string& out, int i) {
  AppendInt(out, i);
  out += ",P";
  AppendInt(out, i);
  out += ',';
  AppendGeneral(out, PointX(i));
  out += ',';
  AppendGeneral(out, PointY(i));
  out += ",12.345,";
}

}  // namespace

std::filesystem::path GeneratedSima(int points) {
  const auto path = CachePath("sim", points);
  if (std::filesystem::exists(path)) return path;
  std::string out = "G00,01,\x8C\xBB\x8F\xEA,\r\nZ00,bench,\r\nA00,\r\n";
  out.reserve(static_cast<size_t>(points) * 70);
  for (int i = 1; i <= points; ++i) {
    out += "A01,";
    AppendPoint(out, i);
    out += "\r\n";
  }
  out += "A99,\r\n";
  for (int parcel = 0; parcel < points / 10; ++parcel) {
    const int a = parcel * 10 + 1;
    out += "D00,";
    AppendInt(out, parcel + 1);
    out += ",\x92\x6E";  // 地
    AppendInt(out, parcel + 1);
    out += ",1,\r\n";
    for (int corner : {a, a + 1, a + 2, a + 3}) {
      out += "B01,";
      AppendInt(out, corner);
      out += ",\r\n";
    }
    out += "D99,\r\n";
  }
  for (int line = 0; line < points / 100; ++line) {
    out += "F00,1,road,\r\n";
    for (int k = 0; k < 5; ++k) {
      out += "B01,";
      AppendInt(out, line * 100 + k * 3 + 5);
      out += ",\r\n";
    }
    out += "F99,\r\n";
  }
  WriteFileAtomic(path, out);
  return path;
}

std::filesystem::path GeneratedZhy(int points) {
  const auto path = CachePath("zhy", points);
  if (std::filesystem::exists(path)) return path;
  std::string out;
  out.reserve(static_cast<size_t>(points) * 50);
  for (int i = 1; i <= points; ++i) {
    AppendPoint(out, i);
    out += ",,\r\n";
  }
  WriteFileAtomic(path, out);
  return path;
}

}  // namespace kestrova::bench
