// Reads arbitrary bytes as a coordinate file, makes its texts writable (no separators,
// no blanks around names) and writes it in every format: reading what was written and
// writing it again must give the same bytes, parcels and polylines included.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/error.h"
#include "common/sjis.h"
#include "coords/coordinate_file.h"

namespace {

using namespace kestrova;

// Separators become "_" (they are never the trail byte of a double-byte character).
void Clean(std::string& text, bool trim) {
  for (char& c : text) {
    if (c == ',' || c == '\t') c = '_';
  }
  if (trim) text = std::string(TrimBlanks(text));
}
void Clean(PointText& text, bool trim) {
  std::string s = text.str();
  Clean(s, trim);
  text = s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CoordinateData d;
  try {
    if (!LoadCoordinateText(std::string(reinterpret_cast<const char*>(data), size), "fuzz", d,
                            false)) {
      return 0;
    }
  } catch (const Error&) {
    return 0;
  }
  for (SurveyPoint& p : d.Table.Points) {
    Clean(p.Name, true);
    Clean(p.Mark, true);
    Clean(p.Remarks, false);
  }
  Clean(d.Sima.SiteName, false);
  for (std::string& title : d.Sima.SimaTitles)
    Clean(title, false);
  for (SimaNote& note : d.Sima.SimaNotes)
    Clean(note.Text, false);
  for (SimaBlock& b : d.Sima.SimaBlocks) {
    Clean(b.Number, false);
    Clean(b.Name, false);
    for (SimaBlockRecord& r : b.Records)
      Clean(r.Point.Name, false);
  }
  for (auto f : {CoordinateFormat::kZhy, CoordinateFormat::kSima, CoordinateFormat::kApa,
                 CoordinateFormat::kCsv}) {
    const std::string once = FormatCoordinateFile(d, f);
    // Lines that read as UTF-8 are read as UTF-8 when they are the most, by design.
    CoordinateData back;
    LoadReport report;
    if (!LoadCoordinateText(once, "written", back, false, &report)) continue;  // one line
    if (report.convertedFromUtf8) continue;
    if (FormatCoordinateFile(back, f) != once) std::abort();
  }
  return 0;
}
