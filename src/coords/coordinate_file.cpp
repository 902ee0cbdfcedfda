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
// that is not valid code page 932) is converted.
std::string DecodeFileText(std::string bytes, LoadReport& report) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  const auto convert = [&report](std::string_view utf8) {  // from UTF-8 or UTF-16
    Cp932Text converted = Utf8ToCp932(utf8);
    report.convertedFromUtf8 = true;
    report.replacedCharacters = converted.replaced;
    return std::move(converted.text);
  };
  const std::string_view view(bytes);
  if (view.substr(0, 3) == kBom) return convert(view.substr(3));
  // Some Windows programs save "Unicode" text: UTF-16 with its byte-order mark.
  if (view.substr(0, 2) == "\xFF\xFE") return convert(Utf16ToUtf8(view.substr(2), true));
  if (view.substr(0, 2) == "\xFE\xFF") return convert(Utf16ToUtf8(view.substr(2), false));
  // Code page 932 text is almost never valid UTF-8, so the table lookup of
  // IsValidCp932 is only needed for text that could be either.
  if (IsValidUtf8(bytes) && !IsValidCp932(bytes)) return convert(bytes);
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

double ToCoordinate(std::string_view field) {
  return ParseFloat(field).value_or(0.0);
}

std::string Cut(std::string_view text, size_t limit) {
  return std::string(CutToBytes(text, limit));
}

class Reader {
 public:
  Reader(const std::string& name, const std::vector<std::string_view>& lines, CoordinateData& data)
      : name_(name), lines_(lines), table_(data.Table), sima_(data.Sima) {}

  void ReadDelimited(char separator) {
    table_.Points.reserve(table_.Points.size() + lines_.size());
    for (std::string_view line : lines_) {
      Split(line, separator);
      const size_t n = fields_.size();
      if (n < 2) continue;  // an empty line or one without the separator holds no point
      SurveyPoint& p = AppendPoint(table_);
      const int32_t r = table_.PointCount;
      p.Marked = 1;
      if (n == 2) {
        p.Number = r;
        p.Name = std::to_string(r);
        p.X = ToCoordinate(F(1));
        p.Y = ToCoordinate(F(2));
      } else if (n <= 4) {
        p.Number = r;
        p.Name = Cut(F(1), kNameLimit);
        p.X = ToCoordinate(F(2));
        p.Y = ToCoordinate(F(3));
        if (n == 4) p.Z = ToCoordinate(F(4));
      } else {
        p.Number = ParseInt(F(1)).value_or(0);
        p.Name = Cut(F(2), kNameLimit);
        p.X = ToCoordinate(F(3));
        p.Y = ToCoordinate(F(4));
        p.Z = ToCoordinate(F(5));
        if (n >= 6) p.Mark = Cut(TrimBlanks(F(6)), kMarkLimit);
        if (n >= 7) p.Remarks = Cut(F(7), kRemarksLimit);
      }
    }
  }

  void ReadApa() {
    for (std::string_view line : lines_) {
      Split(line, ',');
      const std::string_view code = F(1);
      if (code == "B") {
        sima_.SiteName = std::string(F(2));
      } else if (code == "G") {
        SurveyPoint& p = AppendPoint(table_);
        p.Number = table_.PointCount;
        p.Name = Cut(F(2), kNameLimit);
        p.X = ToCoordinate(F(3));
        p.Y = ToCoordinate(F(4));
        p.Z = ToCoordinate(F(5));
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
    table_.Points.reserve(table_.Points.size() + pointRecords);
    int titles = 0;
    for (size_t i = 0; i < lines_.size(); ++i) {
      Split(lines_[i], ',');
      const std::string_view code = F(1);
      if (code == "A01") {
        ReadSimaPoint();
      } else if (code == "D00") {
        i = ReadParcel(i);
      } else if (code == "F00") {
        i = ReadPolyline(i);
      } else if (code == "G00") {
        if (fields_.size() >= 3) sima_.SiteName = std::string(F(3));
      } else if (code == "Z00") {
        if (titles < 2) sima_.SimaTitles[titles++] = std::string(F(2));
      }
    }
  }

 private:
  void Split(std::string_view line, char separator) { SplitFieldsInto(line, separator, fields_); }

  // Field i (1-based); a field the record does not have reads as empty.
  std::string_view F(size_t i) const {
    return i <= fields_.size() ? fields_[i - 1] : std::string_view();
  }

  [[noreturn]] void Fail(size_t lineIndex, const std::string& message) const {
    throw Error(name_ + ":" + std::to_string(lineIndex + 1) + ": " + message);
  }

  void ReadSimaPoint() {
    SurveyPoint& p = AppendPoint(table_);
    const int32_t r = table_.PointCount;
    p.Number = F(2).empty() ? r : ParseInt(F(2)).value_or(r);
    p.Name = Cut(TrimBlanks(F(3)), kNameLimit);
    p.X = ToCoordinate(F(4));
    p.Y = ToCoordinate(F(5));
    p.Z = ToCoordinate(F(6));
    if (fields_.size() >= 7) p.Mark = Cut(TrimBlanks(F(7)), kMarkLimit);
    if (fields_.size() >= 8) p.Remarks = Cut(TrimBlanks(F(8)), kRemarksLimit);
    p.Marked = 1;
  }

  std::optional<int32_t> LookUp(std::string_view numberField) const {
    return FindPointIndex(table_, ParseInt(numberField).value_or(0));
  }

  void AddLine(int32_t from, int32_t to, uint16_t style, uint16_t color) {
    const SurveyPoint& a = table_.Points[from];
    const SurveyPoint& b = table_.Points[to];
    sima_.SimaLines.push_back(SimaLine{a.X, a.Y, b.X, b.Y, style, color});
  }

  // A parcel from "D00" to "D99": boundary segments, an optional closing segment and a
  // label at the area centroid. Returns the index of the last line it consumed.
  size_t ReadParcel(size_t d00) {
    const std::string parcelName = Cut(F(3), kNameLimit);
    int32_t closing = 0;
    if (fields_.size() >= 4) {
      const auto flag = ParseInt(TrimBlanks(F(4)));
      if (!flag) {
        Fail(d00, "the closing flag \"" + Cp932ToUtf8(F(4)) + "\" of parcel \"" +
                      Cp932ToUtf8(parcelName) + "\" is not an integer");
      }
      closing = *flag;
    }
    int k = 0;
    int32_t first = 0;
    int32_t previous = 0;
    std::vector<std::pair<double, double>> vertices;
    size_t i = d00 + 1;
    for (; i < lines_.size(); ++i) {
      Split(lines_[i], ',');
      const std::string_view code = F(1);
      if (code == "B01") {
        const auto row = LookUp(F(2));
        if (!row) return d00;  // an unknown point abandons the rest of the parcel
        if (k > 0) {
          AddLine(*row, previous, 1, 2);
        } else {
          first = *row;
        }
        if (!parcelName.empty()) {
          vertices.emplace_back(table_.Points[*row].X, table_.Points[*row].Y);
        }
        previous = *row;
        ++k;
      } else if (code == "E01") {
        const auto a = LookUp(F(2));
        const auto b = LookUp(F(4));
        const auto c = LookUp(F(6));
        if (a && b && c) {  // a triangle with an unknown corner is left out whole
          AddLine(*a, *c, 5, 1);
          AddLine(*b, *a, 5, 1);
          AddLine(*c, *b, 5, 1);
        }
      } else if (code == "D99") {
        break;
      }
    }
    if (closing == 1 && k > 0) AddLine(first, previous, 1, 2);
    if (!parcelName.empty()) {
      const CentroidResult c = PolygonCentroid(vertices);
      sima_.SimaTexts.push_back(SimaText{c.X, c.Y, parcelName, 3, 0.0});
    }
    return std::min(i, lines_.size() - 1);
  }

  // A polyline from "F00" to "F99", never closed. Returns the last line it consumed.
  size_t ReadPolyline(size_t f00) {
    int k = 0;
    int32_t previous = 0;
    size_t i = f00;
    for (; i < lines_.size(); ++i) {
      Split(lines_[i], ',');
      const std::string_view code = F(1);
      if (code == "B01") {
        const auto row = LookUp(F(2));
        if (!row) return i;
        if (k > 0) AddLine(*row, previous, 1, 3);
        previous = *row;
        ++k;
      } else if (code == "F99") {
        return i;
      }
    }
    return lines_.size() - 1;
  }

  const std::string& name_;
  const std::vector<std::string_view>& lines_;
  PointTable& table_;
  SimaData& sima_;
  std::vector<std::string_view> fields_;
};

void ReadInto(const std::string& name, const std::vector<std::string_view>& lines,
              CoordinateData& data) {
  Reader reader(name, lines, data);
  std::vector<std::string_view> first;
  SplitFieldsInto(lines[0], ',', first);
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
  char separator = ' ';
  if (first.size() >= 2) {
    separator = ',';
  } else {
    SplitFieldsInto(lines[0], '\t', first);
    if (first.size() >= 2) separator = '\t';
  }
  reader.ReadDelimited(separator);
}

}  // namespace

bool LoadCoordinateText(std::string bytes, const std::string& name, CoordinateData& data,
                        bool appendOnLoad, LoadReport* report) {
  LoadReport local;
  const std::string text = DecodeFileText(std::move(bytes), report ? *report : local);
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < 2) return false;

  if (!appendOnLoad) {
    CoordinateData fresh;
    fresh.Sima.SiteName = data.Sima.SiteName;
    fresh.Sima.SimaTitles = data.Sima.SimaTitles;
    ReadInto(name, lines, fresh);
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
  const std::string siteName = data.Sima.SiteName;
  const auto titles = data.Sima.SimaTitles;
  const bool simaLoaded = data.Sima.SimaLoaded;
  try {
    ReadInto(name, lines, data);
  } catch (...) {
    data.Table.Points.resize(static_cast<size_t>(pointCount) + 1);
    data.Table.PointCount = pointCount;
    data.Sima.SimaLines.resize(lineCount);
    data.Sima.SimaTexts.resize(textCount);
    data.Sima.SiteName = siteName;
    data.Sima.SimaTitles = titles;
    data.Sima.SimaLoaded = simaLoaded;
    InvalidatePointIndex(data.Table);
    throw;
  }
  InvalidatePointIndex(data.Table);
  return true;
}

bool LoadCoordinateFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
                        LoadReport* report) {
  return LoadCoordinateText(ReadFileBytes(path), path.string(), data, appendOnLoad, report);
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

void SaveCoordinateFile(const std::filesystem::path& path, const CoordinateData& data,
                        CoordinateFormat format) {
  WriteFileAtomic(path, FormatCoordinateFile(data, format));
}

std::string FileStem(const std::filesystem::path& path) {
  std::string name = path.filename().string();
  const size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace kestrova
