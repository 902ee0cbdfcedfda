#include "coords/coordinate_file.h"

#include <algorithm>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "coords/split_fields.h"

namespace kestrova {

namespace {

// Code page 932 stays byte for byte; UTF-8 (marked by a byte-order mark, or valid UTF-8
// holding multi-byte characters) and UTF-16 with its mark are converted.
std::string DecodeFileText(std::string bytes, const std::string& name, LoadReport& report) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  const auto convert = [&report](std::string_view utf8) {  // from UTF-8 or UTF-16
    Cp932Text converted = Utf8ToCp932(utf8);
    report.convertedFromUtf8 = true;
    report.replacedCharacters = converted.replaced;
    return std::move(converted.text);
  };
  const std::string_view view(bytes);
  // Some Windows programs save "Unicode" text: UTF-16 with its byte-order mark.
  if (view.substr(0, 2) == "\xFF\xFE") return convert(Utf16ToUtf8(view.substr(2), true));
  if (view.substr(0, 2) == "\xFE\xFF") return convert(Utf16ToUtf8(view.substr(2), false));
  // Text never holds NUL; a drawing, an image or an archive does, and reading one as
  // points would fill the table with garbage.
  if (view.find('\0') != std::string_view::npos) {
    throw Error(name + ": this is not a text file (it holds NUL bytes); nothing was loaded");
  }
  if (view.substr(0, 3) == kBom) return convert(view.substr(3));
  // Code page 932 text with its double-byte characters is almost never valid UTF-8,
  // while UTF-8 names such as 測点 or 基準点 also happen to be valid code page 932:
  // UTF-8 validity decides.
  const bool multiByte = std::any_of(view.begin(), view.end(),
                                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (multiByte && IsValidUtf8(view)) return convert(view);
  return bytes;
}

// Lines end at CR LF, a lone CR or a lone LF; a final line end adds no empty line.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  lines.reserve(text.size() / 40 + 1);
  size_t start = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < n) lines.push_back(text.substr(start));
  return lines;
}

std::string Cut(std::string_view text, size_t limit) {
  return std::string(CutToBytes(text, limit));
}

// Room for n more elements without giving up geometric growth: reserving the exact size
// for every appended file would copy the whole table once per file.
template <class T>
void ReserveMore(std::vector<T>& v, size_t n) {
  if (v.capacity() - v.size() < n) v.reserve(std::max(v.size() + n, v.capacity() * 2));
}

// The most fields any record is read for (SIMA "A01" up to its remarks, field 8).
constexpr size_t kMaxFields = 8;

class Reader {
 public:
  Reader(const std::string& name, const std::vector<std::string_view>& lines, CoordinateData& data,
         LoadReport& report, ProgressMonitor* progress)
      : name_(name),
        lines_(lines),
        table_(data.Table),
        sima_(data.Sima),
        report_(report),
        progress_(progress) {}

  void ReadDelimited(char separator) {
    ReserveMore(table_.Points, lines_.size());
    for (line_ = 0; line_ < lines_.size(); ++line_) {
      Split(lines_[line_], separator, 7);
      const size_t n = fields_.size();
      if (n < 2) continue;  // an empty line or one without the separator holds no point
      SurveyPoint& p = AppendPoint(table_);
      const int32_t r = table_.PointCount;
      p.Marked = 1;
      if (n == 2) {
        p.Number = r;
        p.Name = std::to_string(r);
        p.X = Coordinate(1);
        p.Y = Coordinate(2);
      } else if (n <= 4) {
        p.Number = r;
        p.Name = Cut(F(1), kNameLimit);
        p.X = Coordinate(2);
        p.Y = Coordinate(3);
        if (n == 4) p.Z = Coordinate(4);
      } else {
        p.Number = Integer(1, 0);
        p.Name = Cut(F(2), kNameLimit);
        p.X = Coordinate(3);
        p.Y = Coordinate(4);
        p.Z = Coordinate(5);
        if (n >= 6) p.Mark = Cut(TrimBlanks(F(6)), kMarkLimit);
        if (n >= 7) p.Remarks = Cut(F(7), kRemarksLimit);
      }
    }
  }

  void ReadApa() {
    for (line_ = 0; line_ < lines_.size(); ++line_) {
      Split(lines_[line_], ',', 5);
      const std::string_view code = F(1);
      if (code == "B") {
        sima_.SiteName = std::string(F(2));
      } else if (code == "G") {
        SurveyPoint& p = AppendPoint(table_);
        p.Number = table_.PointCount;
        p.Name = Cut(F(2), kNameLimit);
        p.X = Coordinate(3);
        p.Y = Coordinate(4);
        p.Z = Coordinate(5);
        p.Marked = 1;
      } else if (code == "Z") {
        break;
      }
    }
  }

  void ReadSima() {
    size_t pointRecords = 0;
    for (std::string_view line : lines_)
      pointRecords += line.substr(0, 4) == "A01," ? 1 : 0;
    ReserveMore(table_.Points, pointRecords);
    int titles = 0;
    for (line_ = 0; line_ < lines_.size(); ++line_) {
      Split(lines_[line_], ',', kMaxFields);
      const std::string_view code = F(1);
      if (code == "A01") {
        ReadSimaPoint();
      } else if (code == "D00" || code == "F00") {
        ReadBlock(code == "F00");
      } else if (code == "G00") {
        if (fields_.size() >= 3) sima_.SiteName = std::string(F(3));
      } else if (code == "Z00") {
        if (titles < 2) sima_.SimaTitles[titles++] = std::string(F(2));
      }
    }
  }

 private:
  void Split(std::string_view line, char separator, size_t maxFields) {
    // Every record passes here once; asking every 64K lines costs nothing measurable.
    if ((line_ & 0xFFFF) == 0 && progress_) {
      ReportProgress(progress_, static_cast<double>(line_) / static_cast<double>(lines_.size()));
    }
    SplitFieldsInto(line, separator, fields_, maxFields);
  }

  // Field i (1-based); a field the record does not have reads as empty.
  std::string_view F(size_t i) const {
    return i <= fields_.size() ? fields_[i - 1] : std::string_view();
  }

  [[noreturn]] void Fail(size_t lineIndex, const std::string& message) const {
    throw Error(name_ + ":" + std::to_string(lineIndex + 1) + ": " + message);
  }

  // A field that should hold a number and does not is read as the fallback; unless it is
  // empty (a value left out), the user hears of it.
  void NotANumber(std::string_view field) {
    if (TrimBlanks(field).empty()) return;
    if (report_.notANumberFields++ == 0) report_.firstNotANumberLine = line_ + 1;
  }
  double Coordinate(size_t i) {
    const auto v = ParseFloat(F(i));
    if (!v) NotANumber(F(i));
    return v.value_or(0.0);
  }
  int32_t Integer(size_t i, int32_t fallback) {
    const auto v = ParseInt(F(i));
    if (!v) NotANumber(F(i));
    return v.value_or(fallback);
  }

  void ReadSimaPoint() {
    SurveyPoint& p = AppendPoint(table_);
    const int32_t r = table_.PointCount;
    p.Number = Integer(2, r);
    p.Name = Cut(TrimBlanks(F(3)), kNameLimit);
    p.X = Coordinate(4);
    p.Y = Coordinate(5);
    p.Z = Coordinate(6);
    if (fields_.size() >= 7) p.Mark = Cut(TrimBlanks(F(7)), kMarkLimit);
    if (fields_.size() >= 8) p.Remarks = Cut(TrimBlanks(F(8)), kRemarksLimit);
    p.Marked = 1;
  }

  SimaPointRef Ref(size_t i) {
    return SimaPointRef{Integer(i, 0), CutToBytes(F(i + 1), kNameLimit)};
  }

  void AddLine(int32_t from, int32_t to, uint16_t style, uint16_t color) {
    const SurveyPoint& a = table_.Points[from];
    const SurveyPoint& b = table_.Points[to];
    sima_.SimaLines.push_back(SimaLine{a.X, a.Y, b.X, b.Y, style, color});
  }

  // A parcel ("D00" .. "D99": boundary segments, an optional closing segment, a label)
  // or a polyline ("F00" .. "F99", never closed), from the opening record at line_. A
  // point number that no row has ends the drawing of the block, but its records are
  // kept for a SIMA save all the same. Points ("A01") inside a block are read, and a
  // block without its closing record ends where the next one starts. Leaves line_ at
  // the block's last line.
  void ReadBlock(bool polyline) {
    const size_t open = line_;
    SimaBlock block;
    block.Polyline = polyline;
    block.Number = std::string(F(2));
    block.Name = Cut(F(3), kNameLimit);
    if (!polyline && fields_.size() >= 4) {
      const auto flag = ParseInt(TrimBlanks(F(4)));
      if (!flag) {
        Fail(open, "the closing flag \"" + Cp932ToUtf8(F(4)) + "\" of parcel \"" +
                       Cp932ToUtf8(block.Name) + "\" is not an integer");
      }
      block.Closing = *flag;
    }
    const uint16_t color = polyline ? 3 : 2;
    const bool labelled = !polyline && !block.Name.empty();
    const std::string_view closeCode = polyline ? "F99" : "D99";
    bool drawing = true;  // until a point number is not found
    bool closed = false;
    int k = 0;
    int32_t first = 0;
    int32_t previous = 0;
    std::vector<std::pair<double, double>> vertices;
    for (line_ = open + 1; line_ < lines_.size(); ++line_) {
      Split(lines_[line_], ',', kMaxFields);
      const std::string_view code = F(1);
      if (code == closeCode) {
        closed = true;
        break;
      }
      if (code == "D00" || code == "F00") break;
      if (code == "A01") {
        ReadSimaPoint();
      } else if (code == "B01") {
        SimaBlockRecord& record = block.Records.emplace_back();
        record.Point = Ref(2);
        if (!drawing) continue;
        const auto row = FindPointIndex(table_, record.Point.Number);
        if (!row) {
          drawing = false;
          continue;
        }
        if (k > 0) {
          AddLine(*row, previous, 1, color);
        } else {
          first = *row;
        }
        if (labelled) vertices.emplace_back(table_.Points[*row].X, table_.Points[*row].Y);
        previous = *row;
        ++k;
      } else if (code == "E01" && !polyline) {
        int32_t corners[3];
        for (size_t c = 0; c < 3; ++c) {
          SimaBlockRecord& record = block.Records.emplace_back();
          record.RecordKind = c == 0 ? SimaBlockRecord::kTriangle : SimaBlockRecord::kCorner;
          record.Point = Ref(2 + 2 * c);
          corners[c] = record.Point.Number;
        }
        if (!drawing) continue;
        const auto a = FindPointIndex(table_, corners[0]);
        const auto b = FindPointIndex(table_, corners[1]);
        const auto c = FindPointIndex(table_, corners[2]);
        if (a && b && c) {  // a triangle with an unknown corner is left out whole
          AddLine(*a, *c, 5, 1);
          AddLine(*b, *a, 5, 1);
          AddLine(*c, *b, 5, 1);
        }
      }
    }
    if (!closed) {
      report_.unclosedBlocks.push_back(UnclosedBlock{open + 1, polyline});
      --line_;  // the next block's opening record (or the end) is the main loop's again
    }
    if (drawing && !polyline) {
      if (block.Closing == 1 && k > 0) AddLine(first, previous, 1, 2);
      if (labelled && !vertices.empty()) {
        const CentroidResult c = PolygonCentroid(vertices);
        SimaText label{c.X, c.Y, block.Name, 3, 0.0};
        if (c.Area == 0.0) {
          // A parcel of fewer than three distinct corners, or all on one line, has no
          // area centroid; its corners' mean keeps the label at the parcel.
          double sx = 0.0;
          double sy = 0.0;
          for (const auto& [x, y] : vertices) {
            sx += x;
            sy += y;
          }
          label.X = sx / static_cast<double>(vertices.size());
          label.Y = sy / static_cast<double>(vertices.size());
        }
        sima_.SimaTexts.push_back(std::move(label));
      }
    }
    sima_.SimaBlocks.push_back(std::move(block));
  }

  const std::string& name_;
  const std::vector<std::string_view>& lines_;
  PointTable& table_;
  SimaData& sima_;
  LoadReport& report_;
  ProgressMonitor* progress_;
  std::vector<std::string_view> fields_;
  size_t line_ = 0;
};

void ReadInto(const std::string& name, const std::vector<std::string_view>& lines,
              CoordinateData& data, LoadReport& report, ProgressMonitor* progress) {
  Reader reader(name, lines, data, report, progress);
  std::vector<std::string_view> first;
  SplitFieldsInto(lines[0], ',', first, 2);
  const std::string_view f1 = first.empty() ? std::string_view() : first[0];
  if (f1 == "G00" || f1 == "A00" || f1 == "Z00") {
    reader.ReadSima();
    data.Sima.SimaLoaded = true;
    return;
  }
  data.Sima.SimaLoaded = false;
  if (f1 == "A" && first.size() >= 2 && !first[1].empty() && first[1][0] == '0') {
    reader.ReadApa();
    return;
  }
  // A tab list often has commas in its names and remarks, a comma file almost never
  // has tabs: a tab in the first line decides first.
  std::vector<std::string_view> tabbed;
  SplitFieldsInto(lines[0], '\t', tabbed, 2);
  char separator = ' ';
  if (tabbed.size() >= 2) {
    separator = '\t';
  } else if (first.size() >= 2) {
    separator = ',';
  }
  reader.ReadDelimited(separator);
}

std::string LineText(const std::string& name, size_t line) {
  return name + ":" + std::to_string(line) + ": ";
}

}  // namespace

std::vector<std::string> LoadWarnings(const LoadReport& r, const std::string& name) {
  std::vector<std::string> out;
  if (r.replacedCharacters > 0) {
    out.push_back(name + ": " + std::to_string(r.replacedCharacters) +
                  " characters of this Unicode file have no Shift_JIS form and were read as "
                  "\"?\"");
  }
  if (r.notANumberFields > 0) {
    out.push_back(LineText(name, r.firstNotANumberLine) + std::to_string(r.notANumberFields) +
                  (r.notANumberFields == 1 ? " field is" : " fields are") +
                  " not a number and read as 0 (a point number as its row's); the first is on "
                  "this line");
  }
  for (const UnclosedBlock& b : r.unclosedBlocks) {
    out.push_back(LineText(name, b.Line) + (b.Polyline ? "the polyline" : "the parcel") +
                  " opened here has no closing \"" + (b.Polyline ? "F99" : "D99") +
                  "\" record; it was ended where the next block or the file ends");
  }
  if (r.repeatedNumbers > 0) {
    out.push_back(name + ": " + std::to_string(r.repeatedNumbers) +
                  (r.repeatedNumbers == 1 ? " point repeats a point number"
                                          : " points repeat point numbers") +
                  " of the files loaded before; parcels that name such a number use the "
                  "earlier point");
  }
  return out;
}

bool LoadCoordinateText(std::string bytes, const std::string& name, CoordinateData& data,
                        bool appendOnLoad, LoadReport* report, ProgressMonitor* progress) {
  LoadReport local;
  LoadReport& rep = report ? *report : local;
  const std::string text = DecodeFileText(std::move(bytes), name, rep);
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < 2) return false;

  if (!appendOnLoad) {
    CoordinateData fresh;
    fresh.Sima.SiteName = data.Sima.SiteName;
    fresh.Sima.SimaTitles = data.Sima.SimaTitles;
    ReadInto(name, lines, fresh, rep, progress);
    ReportProgress(progress, 1.0);
    data = std::move(fresh);
    // Only parcels look points up, and only while their file is read: a million points
    // need not keep their index for the rest of the session.
    InvalidatePointIndex(data.Table);
    return true;
  }
  // Appending reads into the live data (parcels may name earlier points) and rolls
  // back to the state before the file if anything fails.
  const int32_t pointCount = data.Table.PointCount;
  const size_t lineCount = data.Sima.SimaLines.size();
  const size_t textCount = data.Sima.SimaTexts.size();
  const size_t blockCount = data.Sima.SimaBlocks.size();
  const std::string siteName = data.Sima.SiteName;
  const auto titles = data.Sima.SimaTitles;
  const bool simaLoaded = data.Sima.SimaLoaded;
  try {
    ReadInto(name, lines, data, rep, progress);
    ReportProgress(progress, 1.0);
  } catch (...) {
    data.Table.Points.resize(static_cast<size_t>(pointCount) + 1);
    data.Table.PointCount = pointCount;
    data.Sima.SimaLines.resize(lineCount);
    data.Sima.SimaTexts.resize(textCount);
    data.Sima.SimaBlocks.resize(blockCount);
    data.Sima.SiteName = siteName;
    data.Sima.SimaTitles = titles;
    data.Sima.SimaLoaded = simaLoaded;
    InvalidatePointIndex(data.Table);
    throw;
  }
  // The index is kept while files are appended: rebuilding it for every file would make
  // loading many files quadratic.
  for (int32_t r = pointCount + 1; r <= data.Table.PointCount; ++r) {
    if (*FindPointIndex(data.Table, data.Table.Points[r].Number) <= pointCount) {
      ++rep.repeatedNumbers;
    }
  }
  return true;
}

bool LoadCoordinateFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
                        LoadReport* report, ProgressMonitor* progress) {
  return LoadCoordinateText(ReadFileBytes(path), path.string(), data, appendOnLoad, report,
                            progress);
}

CentroidResult PolygonCentroid(const std::vector<std::pair<double, double>>& v) {
  double a = 0.0;
  double sx = 0.0;
  double sy = 0.0;
  const size_t m = v.size();
  for (size_t i = 0; i < m; ++i) {
    const size_t j = (i + 1) % m;
    const double dx = v[j].first - v[i].first;
    const double dy = v[j].second - v[i].second;
    const double t = dx * dy / 2;
    const double r = dx * v[i].second;
    sx += r * (v[j].first - dx / 2) + t * (v[j].first - dx / 3);
    sy += dy * v[i].first * (v[j].second - dy / 2) + t * (v[j].second - dy / 3);
    a += t + r;
  }
  CentroidResult result;
  result.Area = a < 0 ? -a : a;
  if (a != 0.0) {
    result.X = sx / a;
    result.Y = -sy / a;
  }
  return result;
}

CoordinateFormat CoordinateFormatFromFilterIndex(int index) {
  switch (index) {
    case 2:
      return CoordinateFormat::kSima;
    case 3:
      return CoordinateFormat::kApa;
    case 4:
      return CoordinateFormat::kCsv;
    default:
      return CoordinateFormat::kZhy;
  }
}

const char* CoordinateFormatExtension(CoordinateFormat format) {
  switch (format) {
    case CoordinateFormat::kSima:
      return ".sim";
    case CoordinateFormat::kApa:
      return ".apa";
    case CoordinateFormat::kCsv:
      return ".csv";
    case CoordinateFormat::kZhy:
      break;
  }
  return ".zhy";
}

std::optional<CoordinateFormat> CoordinateFormatFromPath(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  for (CoordinateFormat f : {CoordinateFormat::kZhy, CoordinateFormat::kSima,
                             CoordinateFormat::kApa, CoordinateFormat::kCsv}) {
    if (ext == CoordinateFormatExtension(f)) return f;
  }
  return std::nullopt;
}

std::optional<CoordinateFormat> CoordinateFormatFromName(std::string_view name) {
  if (name == "zhy") return CoordinateFormat::kZhy;
  if (name == "sima" || name == "sim") return CoordinateFormat::kSima;
  if (name == "apa") return CoordinateFormat::kApa;
  if (name == "csv") return CoordinateFormat::kCsv;
  return std::nullopt;
}

char CheckChar(std::string_view line) {
  unsigned sum = 0;
  for (char c : line)
    sum += static_cast<unsigned char>(c);
  return static_cast<char>(32 + sum % 64);
}

namespace {

void AppendCoordinate(std::string& out, double v) {
  AppendGeneral(out, RoundOff(64, v));
}

// "Name,X,Y,Z" with the given separator, the part every layout shares.
void AppendNameAndCoordinates(std::string& out, const SurveyPoint& p, char sep) {
  out += p.Name;
  out += sep;
  AppendCoordinate(out, p.X);
  out += sep;
  AppendCoordinate(out, p.Y);
  out += sep;
  AppendCoordinate(out, p.Z);
}

void AppendRef(std::string& out, const SimaPointRef& ref) {
  AppendInt(out, ref.Number);
  out += ',';
  out += ref.Name;
  out += ',';
}

// The parcels and polylines after the points, each record as it was read.
void AppendBlocks(std::string& out, const std::vector<SimaBlock>& blocks) {
  for (const SimaBlock& b : blocks) {
    out += b.Polyline ? "F00," : "D00,";
    out += b.Number;
    out += ',';
    out += b.Name;
    out += ',';
    if (!b.Polyline) {
      AppendInt(out, b.Closing);
      out += ',';
    }
    out += "\r\n";
    for (size_t i = 0; i < b.Records.size(); ++i) {
      const SimaBlockRecord& r = b.Records[i];
      if (r.RecordKind == SimaBlockRecord::kCorner) continue;  // written with its triangle
      out += r.RecordKind == SimaBlockRecord::kTriangle ? "E01," : "B01,";
      AppendRef(out, r.Point);
      for (size_t j = i + 1;
           j < b.Records.size() && b.Records[j].RecordKind == SimaBlockRecord::kCorner; ++j)
        AppendRef(out, b.Records[j].Point);
      out += "\r\n";
    }
    out += b.Polyline ? "F99,\r\n" : "D99,\r\n";
  }
}

}  // namespace

std::string FormatCoordinateFile(const CoordinateData& data, CoordinateFormat format) {
  const PointTable& t = data.Table;
  std::string out;
  out.reserve(static_cast<size_t>(t.PointCount) * 64 + 64);
  switch (format) {
    case CoordinateFormat::kZhy:
    case CoordinateFormat::kCsv: {
      const char sep = format == CoordinateFormat::kCsv ? '\t' : ',';
      for (int32_t r = 1; r <= t.PointCount; ++r) {
        const SurveyPoint& p = t.Points[r];
        AppendInt(out, p.Number);
        out += sep;
        AppendNameAndCoordinates(out, p, sep);
        out += sep;
        out += p.Mark;
        out += sep;
        out += p.Remarks;
        out += sep;
        out += "\r\n";
      }
      break;
    }
    case CoordinateFormat::kSima: {
      out += "G00,01," + data.Sima.SiteName + ",\r\n";
      for (const std::string& title : data.Sima.SimaTitles) {
        if (!title.empty()) out += "Z00," + title + ",\r\n";
      }
      out += "A00,\r\n";
      for (int32_t r = 1; r <= t.PointCount; ++r) {
        const SurveyPoint& p = t.Points[r];
        out += "A01,";
        AppendInt(out, p.Number);
        out += ',';
        AppendNameAndCoordinates(out, p, ',');
        out += ",\r\n";
      }
      out += "A99,\r\n";
      AppendBlocks(out, data.Sima.SimaBlocks);
      break;
    }
    case CoordinateFormat::kApa: {
      const std::string header = "A,01,KESTROVA,V2.00,";
      out += header;
      out += CheckChar(header);
      out += ",\r\n";
      std::string g;
      for (int32_t r = 1; r <= t.PointCount; ++r) {
        const SurveyPoint& p = t.Points[r];
        g = "G,";
        AppendNameAndCoordinates(g, p, ',');
        g += ',';
        out += g;
        out += CheckChar(g);
        out += ",\r\n";
      }
      out += "Z,&,\r\n";
      break;
    }
  }
  return out;
}

SaveReport CoordinateSaveReport(const CoordinateData& data, CoordinateFormat format) {
  SaveReport report;
  if (format != CoordinateFormat::kSima) report.blocksNotSaved = data.Sima.SimaBlocks.size();
  return report;
}

std::vector<std::string> SaveWarnings(const SaveReport& report, const std::string& name) {
  std::vector<std::string> out;
  if (report.blocksNotSaved > 0) {
    out.push_back(
        name + ": " + std::to_string(report.blocksNotSaved) +
        (report.blocksNotSaved == 1 ? " parcel or polyline was" : " parcels and polylines were") +
        " not saved: only a SIMA file holds them");
  }
  return out;
}

SaveReport SaveCoordinateFile(const std::filesystem::path& path, const CoordinateData& data,
                              CoordinateFormat format) {
  WriteFileAtomic(path, FormatCoordinateFile(data, format));
  return CoordinateSaveReport(data, format);
}

std::string FileStem(const std::filesystem::path& path) {
  std::string name = path.filename().string();
  const size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace kestrova
