#include "coords/coordinate_file.h"

#include <algorithm>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/number_text.h"

namespace kestrova {

std::vector<std::string> LoadWarnings(const LoadReport& r, const std::string& name) {
  std::vector<std::string> out;
  const auto say = [&](MessageId id, std::vector<std::string> args) {
    out.push_back(MessageText(id, args, Language::kEnglish));
  };
  if (r.replacedCharacters > 0) {
    say(MessageId::kReplacedCharacters, {name, std::to_string(r.replacedCharacters)});
  }
  if (r.notANumberFields > 0) {
    say(r.notANumberFields == 1 ? MessageId::kNotANumberField : MessageId::kNotANumberFields,
        {name, std::to_string(r.firstNotANumberLine), std::to_string(r.notANumberFields)});
  }
  for (const UnclosedBlock& b : r.unclosedBlocks) {
    say(b.Polyline ? MessageId::kUnclosedPolyline : MessageId::kUnclosedParcel,
        {name, std::to_string(b.Line)});
  }
  if (r.repeatedNumbers > 0) {
    say(r.repeatedNumbers == 1 ? MessageId::kRepeatedNumber : MessageId::kRepeatedNumbers,
        {name, std::to_string(r.repeatedNumbers)});
  }
  return out;
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

}  // namespace

void AppendCoordinateHead(std::string& out, const SimaData& sima, CoordinateFormat format) {
  if (format == CoordinateFormat::kSima) {
    out += "G00,01," + sima.SiteName + ",\r\n";
    for (const std::string& title : sima.SimaTitles) {
      if (!title.empty()) out += "Z00," + title + ",\r\n";
    }
    out += "A00,\r\n";
  } else if (format == CoordinateFormat::kApa) {
    const std::string header = "A,01,KESTROVA,V2.00,";
    out += header;
    out += CheckChar(header);
    out += ",\r\n";
  }
}

void AppendCoordinateLine(std::string& out, const SurveyPoint& p, CoordinateFormat format) {
  switch (format) {
    case CoordinateFormat::kZhy:
    case CoordinateFormat::kCsv: {
      const char sep = format == CoordinateFormat::kCsv ? '\t' : ',';
      AppendInt(out, p.Number);
      out += sep;
      AppendNameAndCoordinates(out, p, sep);
      out += sep;
      out += p.Mark;
      out += sep;
      out += p.Remarks;
      out += sep;
      out += "\r\n";
      break;
    }
    case CoordinateFormat::kSima:
      out += "A01,";
      AppendInt(out, p.Number);
      out += ',';
      AppendNameAndCoordinates(out, p, ',');
      out += ",\r\n";
      break;
    case CoordinateFormat::kApa: {
      // The check character sums the line from its "G" to its last comma.
      const size_t start = out.size();
      out += "G,";
      AppendNameAndCoordinates(out, p, ',');
      out += ',';
      const char check = CheckChar(std::string_view(out).substr(start));
      out += check;
      out += ",\r\n";
      break;
    }
  }
}

void AppendCoordinateTail(std::string& out, CoordinateFormat format) {
  if (format == CoordinateFormat::kSima) out += "A99,\r\n";
  if (format == CoordinateFormat::kApa) out += "Z,&,\r\n";
}

void AppendSimaBlock(std::string& out, const SimaBlock& b) {
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

std::string FormatCoordinateFile(const CoordinateData& data, CoordinateFormat format) {
  const PointTable& t = data.Table;
  std::string out;
  out.reserve(static_cast<size_t>(t.PointCount) * 64 + 64);
  AppendCoordinateHead(out, data.Sima, format);
  for (int32_t r = 1; r <= t.PointCount; ++r)
    AppendCoordinateLine(out, t.Points[r], format);
  AppendCoordinateTail(out, format);
  // The parcels and polylines after the points, each record as it was read.
  if (format == CoordinateFormat::kSima) {
    for (const SimaBlock& b : data.Sima.SimaBlocks)
      AppendSimaBlock(out, b);
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
    out.push_back(MessageText(
        report.blocksNotSaved == 1 ? MessageId::kBlockNotSaved : MessageId::kBlocksNotSaved,
        {name, std::to_string(report.blocksNotSaved)}, Language::kEnglish));
  }
  return out;
}

SaveReport SaveCoordinateFile(const std::filesystem::path& path, const CoordinateData& data,
                              CoordinateFormat format) {
  WriteFileAtomic(path, FormatCoordinateFile(data, format));
  return CoordinateSaveReport(data, format);
}

std::filesystem::path FileStem(const std::filesystem::path& path) {
  const std::filesystem::path::string_type name = path.filename().native();
  return name.substr(0, name.find(std::filesystem::path::value_type('.')));
}

}  // namespace kestrova
