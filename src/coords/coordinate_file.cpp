#include "coords/coordinate_file.h"

#include <algorithm>
#include <unordered_map>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/number_text.h"
#include "common/sjis.h"

namespace kestrova {

MessageId UnsplitLinesId(const LoadReport& r) {
  return r.unsplitLines == 1 ? MessageId::kUnsplitLine : MessageId::kUnsplitLines;
}

std::vector<std::string> UnsplitLinesArgs(const LoadReport& r, const std::string& name) {
  const char* separator = r.separator == '\t' ? "TAB" : r.separator == ' ' ? "\" \"" : "\",\"";
  return {name, std::to_string(r.firstUnsplitLine), std::to_string(r.unsplitLines), separator};
}

void TakeRepeats(LoadReport& report, const RepeatedNumbers& repeats) {
  report.repeatedNumbers = repeats.earlier;
  report.repeatedWithin = report.sima ? repeats.within : 0;
  report.firstRepeatedWithin = report.sima ? repeats.firstWithin : 0;
}

void TakeGaps(LoadReport& report, const DrawingGaps& gaps) {
  report.blocksCutShort = gaps.blocksCutShort;
  report.firstCutShort = gaps.firstCutShort;
  report.trianglesLeftOut = gaps.trianglesLeftOut;
}

std::vector<std::string> LoadWarnings(const LoadReport& r, const std::string& name) {
  std::vector<std::string> out;
  const auto say = [&](MessageId id, std::vector<std::string> args) {
    out.push_back(MessageText(id, args, Language::kEnglish));
  };
  if (r.convertedFromUtf8) say(MessageId::kConvertedFromUnicode, {name});
  if (r.linesNotUtf8 > 0) {
    say(MessageId::kLinesNotUtf8,
        {name, std::to_string(r.firstLineNotUtf8), std::to_string(r.linesNotUtf8)});
  }
  if (r.utf8LinesReadAsSjis > 0) {
    say(MessageId::kUtf8ReadAsSjis,
        {name, std::to_string(r.firstUtf8LineReadAsSjis), std::to_string(r.utf8LinesReadAsSjis)});
  }
  if (r.replacedCharacters > 0) {
    say(MessageId::kReplacedCharacters, {name, std::to_string(r.replacedCharacters)});
  }
  if (r.notANumberFields > 0) {
    say(r.notANumberFields == 1 ? MessageId::kNotANumberField : MessageId::kNotANumberFields,
        {name, std::to_string(r.firstNotANumberLine), std::to_string(r.notANumberFields)});
  }
  if (r.misspeltRecords > 0) {
    say(r.misspeltApa ? MessageId::kMisspeltApaRecords : MessageId::kMisspeltRecords,
        {name, std::to_string(r.firstMisspeltRecord), std::to_string(r.misspeltRecords),
         Cp932ToUtf8(r.misspeltCode)});
  }
  if (r.apaPointsAfterEnd > 0) {
    say(MessageId::kApaPointsAfterEnd,
        {name, std::to_string(r.apaEndLine), std::to_string(r.apaPointsAfterEnd)});
  }
  if (r.commentsLikeRows > 0) {
    say(MessageId::kCommentsLikeRows,
        {name, std::to_string(r.firstCommentLikeRow), std::to_string(r.commentsLikeRows)});
  }
  if (r.unsplitLines > 0) say(UnsplitLinesId(r), UnsplitLinesArgs(r, name));
  if (r.textsCut > 0) {
    say(r.textsCut == 1 ? MessageId::kTextCut : MessageId::kTextsCut,
        {name, std::to_string(r.firstTextCutLine), std::to_string(r.textsCut)});
  }
  for (const UnclosedBlock& b : r.unclosedBlocks) {
    say(b.Polyline ? MessageId::kUnclosedPolyline : MessageId::kUnclosedParcel,
        {name, std::to_string(b.Line)});
  }
  if (r.blocksCutShort > 0) {
    say(r.blocksCutShort == 1 ? MessageId::kBlockCutShort : MessageId::kBlocksCutShort,
        {name, std::to_string(r.blocksCutShort), r.firstCutShort});
  }
  if (r.trianglesLeftOut > 0) {
    say(r.trianglesLeftOut == 1 ? MessageId::kTriangleLeftOut : MessageId::kTrianglesLeftOut,
        {name, std::to_string(r.trianglesLeftOut)});
  }
  if (r.repeatedNumbers > 0) {
    say(r.repeatedNumbers == 1 ? MessageId::kRepeatedNumber : MessageId::kRepeatedNumbers,
        {name, std::to_string(r.repeatedNumbers)});
  }
  if (r.repeatedWithin > 0) {
    say(r.repeatedWithin == 1 ? MessageId::kRepeatedWithin : MessageId::kRepeatedWithinMany,
        {name, std::to_string(r.repeatedWithin), std::to_string(r.firstRepeatedWithin)});
  }
  return out;
}

std::vector<std::string> FileWarnings(size_t count, std::vector<LoadReport> reports,
                                      const std::vector<std::string>& names,
                                      const std::vector<std::vector<std::string>>& layers,
                                      const std::vector<RepeatedNumbers>& repeated,
                                      const std::vector<DrawingGaps>& drawn) {
  std::vector<std::string> out;
  for (size_t f = 0; f < count; ++f) {
    if (f < repeated.size()) TakeRepeats(reports[f], repeated[f]);
    if (f < drawn.size()) TakeGaps(reports[f], drawn[f]);
    for (std::string& warning : LoadWarnings(reports[f], names[f]))
      out.push_back(std::move(warning));
    out.insert(out.end(), layers[f].begin(), layers[f].end());
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

// The number a record names: that of the point it named when read, which may have been
// renumbered since, or the number it was read with.
int32_t RecordNumber(const SimaBlockRecord& r, const PointTable* table) {
  return table && r.Row > 0 && r.Row <= table->PointCount ? table->Points[r.Row].Number
                                                          : r.Point.Number;
}

// The first row of each number the records name, as a reading of the file finds it; 0
// for a number no row has.
std::unordered_map<int32_t, int32_t> FirstRowsOfRecords(const PointTable& t,
                                                        const std::vector<SimaBlock>& blocks) {
  std::unordered_map<int32_t, int32_t> firstRow;
  for (const SimaBlock& b : blocks) {
    for (const SimaBlockRecord& r : b.Records)
      firstRow.emplace(RecordNumber(r, &t), 0);
  }
  for (int32_t r = t.PointCount; r >= 1; --r) {
    const auto it = firstRow.find(t.Points[r].Number);
    if (it != firstRow.end()) it->second = r;
  }
  return firstRow;
}

void AppendRef(std::string& out, const SimaBlockRecord& r, const PointTable* table) {
  AppendInt(out, RecordNumber(r, table));
  out += ',';
  out += r.Point.Name;
  out += ',';
}

// A parcel or polyline, each record as it was read (naming its point by the number the
// point has in table now), and the "Z00" records read inside it before its end.
void AppendBlock(std::string& out, const SimaBlock& b, const std::vector<const SimaNote*>& notes,
                 const PointTable* table) {
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
    AppendRef(out, r, table);
    for (size_t j = i + 1;
         j < b.Records.size() && b.Records[j].RecordKind == SimaBlockRecord::kCorner; ++j)
      AppendRef(out, b.Records[j], table);
    out += "\r\n";
  }
  for (const SimaNote* note : notes)
    out += "Z00," + note->Text + ",\r\n";
  out += b.Polyline ? "F99,\r\n" : "D99,\r\n";
}

// Where a file's text goes while it is made: handed on a piece at a time when there is
// an output, else kept whole.
class FileText {
 public:
  explicit FileText(const CoordinateOutput* output) : output_(output) {}
  std::string& Text() { return text_; }
  // After each line: a piece of about a megabyte goes on.
  void LineDone() {
    if (output_ && text_.size() >= kPiece) Hand();
  }
  // Hands on what there is, if there is an output to hand it to.
  void Flush() {
    if (output_ && !text_.empty()) Hand();
  }
  void Hand() {
    (*output_)(text_);
    text_.clear();
  }

  static constexpr size_t kPiece = size_t{1} << 20;

 private:
  const CoordinateOutput* output_;
  std::string text_;
};

void AppendPoints(FileText& file, const PointTable& t, int32_t from, int32_t to) {
  std::string& out = file.Text();
  out += "A00,\r\n";
  for (int32_t r = from; r <= to; ++r) {
    const SurveyPoint& p = t.Points[r];
    out += "A01,";
    AppendInt(out, p.Number);
    out += ',';
    AppendNameAndCoordinates(out, p, ',');
    out += ",\r\n";
    file.LineDone();
  }
  out += "A99,\r\n";
}

// The points, then the parcels, polylines and further "Z00" records in file order. A
// record names the first row of its number among the rows read before it: a block
// whose records name points read only after it (a "D00" before "A00") goes before those
// points again, so that it draws the same when the file is read back, and so does every
// block read before it; the blocks after the last such one follow the points.
void AppendSimaBody(FileText& file, const CoordinateData& data) {
  std::string& out = file.Text();
  const PointTable& t = data.Table;
  const std::vector<SimaBlock>& blocks = data.Sima.SimaBlocks;
  // Notes read inside a block stay inside it (a reader takes them for no title there);
  // the others stand between the blocks.
  std::vector<std::vector<const SimaNote*>> inBlock(blocks.size());
  std::vector<const SimaNote*> notes;
  for (const SimaNote& note : data.Sima.SimaNotes) {
    if (note.InBlock && note.BlocksBefore >= 1 && note.BlocksBefore <= blocks.size()) {
      inBlock[note.BlocksBefore - 1].push_back(&note);
    } else {
      notes.push_back(&note);
    }
  }
  constexpr int32_t kAfterPoints = -1;
  // Where each block goes: before row at + 1, or after all points.
  std::vector<int32_t> blockAt(blocks.size(), kAfterPoints);
  if (!blocks.empty() && t.PointCount > 0) {
    std::unordered_map<int32_t, int32_t> firstRow = FirstRowsOfRecords(t, blocks);
    // A block that names a point of a later row stands where it was read, and so does
    // every block before it (a block moved behind it would see points it did not see).
    // The blocks after the last such one follow the points, where they draw the same.
    size_t placed = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
      const int32_t before = std::clamp(blocks[b].RowsBefore, 0, t.PointCount);
      if (std::any_of(
              blocks[b].Records.begin(), blocks[b].Records.end(),
              [&](const SimaBlockRecord& r) { return firstRow[RecordNumber(r, &t)] > before; })) {
        placed = b + 1;
      }
    }
    int32_t floor = 0;
    for (size_t b = 0; b < placed; ++b) {
      const int32_t before = std::clamp(blocks[b].RowsBefore, 0, t.PointCount);
      if (before < floor) break;  // out of order: this one and the rest follow the points
      blockAt[b] = floor = before;
    }
  }
  std::string after;  // what follows the points
  int32_t written = 0;
  const auto place = [&](int32_t at) -> std::string& {
    if (at == kAfterPoints) return after;
    if (at > written) {
      AppendPoints(file, t, written + 1, at);
      written = at;
    }
    return out;
  };
  size_t n = 0;
  for (size_t b = 0; b <= blocks.size(); ++b) {
    // A note stays with the block before it when no point came between them, else goes
    // with the block after it.
    const int32_t previous = b == 0 ? 0 : blockAt[b - 1];
    for (; n < notes.size() && notes[n]->BlocksBefore <= b; ++n) {
      const int32_t at = previous != kAfterPoints && notes[n]->RowsBefore <= previous ? previous
                         : b < blocks.size()                                          ? blockAt[b]
                                             : kAfterPoints;
      place(at) += "Z00," + notes[n]->Text + ",\r\n";
    }
    if (b < blocks.size()) AppendBlock(place(blockAt[b]), blocks[b], inBlock[b], &t);
  }
  AppendPoints(file, t, written + 1, t.PointCount);
  file.Flush();
  for (size_t at = 0; at < after.size(); at += FileText::kPiece) {
    out.append(after, at, FileText::kPiece);
    file.Flush();
  }
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

void AppendSimaBlock(std::string& out, const SimaBlock& block) {
  AppendBlock(out, block, {}, nullptr);
}

namespace {

void WriteCoordinateText(FileText& file, const CoordinateData& data, CoordinateFormat format) {
  const PointTable& t = data.Table;
  std::string& out = file.Text();
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
        file.LineDone();
      }
      break;
    }
    case CoordinateFormat::kSima: {
      out += "G00,01," + data.Sima.SiteName + ",\r\n";
      // A note outside the blocks was read once both titles were: an empty title is
      // then written too, or the note would read back as a title and be lost.
      const std::vector<SimaNote>& notes = data.Sima.SimaNotes;
      const bool titlesFull =
          std::any_of(notes.begin(), notes.end(), [](const SimaNote& n) { return !n.InBlock; });
      for (const std::string& title : data.Sima.SimaTitles) {
        if (!title.empty() || titlesFull) out += "Z00," + title + ",\r\n";
      }
      AppendSimaBody(file, data);
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
        file.LineDone();
      }
      out += "Z,&,\r\n";
      break;
    }
  }
}

}  // namespace

std::string FormatCoordinateFile(const CoordinateData& data, CoordinateFormat format) {
  FileText file(nullptr);
  file.Text().reserve(static_cast<size_t>(data.Table.PointCount) * 64 + 64);
  WriteCoordinateText(file, data, format);
  return std::move(file.Text());
}

void WriteCoordinateFile(const CoordinateData& data, CoordinateFormat format,
                         const CoordinateOutput& output) {
  FileText file(&output);
  WriteCoordinateText(file, data, format);
  file.Hand();
}

bool HasMarkOrRemarks(const SurveyPoint& p) {
  return !TrimBlanks(p.Mark).empty() || !TrimBlanks(p.Remarks).empty();
}

namespace {

// Whether text holds one of the bytes that end a field or a line. Trail bytes of code
// page 932 are 0x40 and up: no byte found is half a character.
bool Holds(std::string_view text, std::string_view ends) {
  return text.find_first_of(ends) != std::string_view::npos;
}
constexpr std::string_view kSimaEnds = ",\r\n";

}  // namespace

bool SplitsOnReading(const SurveyPoint& p, CoordinateFormat format, bool firstLine) {
  const std::string_view ends = format == CoordinateFormat::kCsv ? std::string_view("\t\r\n")
                                : format == CoordinateFormat::kZhy && firstLine
                                    ? std::string_view(",\t\r\n")
                                    : kSimaEnds;
  return Holds(p.Name, ends) ||
         (FormatKeepsMarks(format) && (Holds(p.Mark, ends) || Holds(p.Remarks, ends)));
}

bool HeadSplitsOnReading(const SimaData& sima, CoordinateFormat format) {
  return format == CoordinateFormat::kSima &&
         (Holds(sima.SiteName, kSimaEnds) || Holds(sima.SimaTitles[0], kSimaEnds) ||
          Holds(sima.SimaTitles[1], kSimaEnds));
}

bool BlockSplitsOnReading(const SimaBlock& block) {
  return Holds(block.Number, kSimaEnds) || Holds(block.Name, kSimaEnds) ||
         std::any_of(block.Records.begin(), block.Records.end(),
                     [](const SimaBlockRecord& r) { return Holds(r.Point.Name, kSimaEnds); });
}

bool FormatKeepsMarks(CoordinateFormat format) {
  return format != CoordinateFormat::kSima && format != CoordinateFormat::kApa;
}

SaveReport CoordinateSaveReport(const CoordinateData& data, CoordinateFormat format) {
  SaveReport report;
  report.format = format;
  report.headSplit =
      HeadSplitsOnReading(data.Sima, format) ||
      (format == CoordinateFormat::kSima &&
       std::any_of(data.Sima.SimaBlocks.begin(), data.Sima.SimaBlocks.end(), BlockSplitsOnReading));
  if (format != CoordinateFormat::kSima) report.blocksNotSaved = data.Sima.SimaBlocks.size();
  if (format == CoordinateFormat::kSima && !data.Sima.SimaBlocks.empty()) {
    const PointTable& t = data.Table;
    std::unordered_map<int32_t, int32_t> firstRow = FirstRowsOfRecords(t, data.Sima.SimaBlocks);
    for (const SimaBlock& b : data.Sima.SimaBlocks) {
      for (const SimaBlockRecord& r : b.Records) {
        if (r.Row >= 1 && r.Row <= t.PointCount)
          report.cornersElsewhere += firstRow[t.Points[r.Row].Number] != r.Row;
      }
    }
  }
  const bool keepsMarks = FormatKeepsMarks(format);
  const PointTable& t = data.Table;
  for (int32_t r = 1; r <= t.PointCount; ++r) {
    if (!keepsMarks) report.marksNotSaved += HasMarkOrRemarks(t.Points[r]);
    if (format == CoordinateFormat::kApa) report.numbersNotSaved += t.Points[r].Number != r;
    report.unmarkedNotSaved += t.Points[r].Marked != 1;
    report.textsSplit += SplitsOnReading(t.Points[r], format, r == 1);
  }
  report.oneLine = t.PointCount == 1 && FormatKeepsMarks(format);
  return report;
}

std::vector<std::string> SaveWarnings(const SaveReport& report, const std::string& name,
                                      Language language) {
  std::vector<std::string> out;
  if (report.blocksNotSaved > 0) {
    out.push_back(MessageText(
        report.blocksNotSaved == 1 ? MessageId::kBlockNotSaved : MessageId::kBlocksNotSaved,
        {name, std::to_string(report.blocksNotSaved)}, language));
  }
  if (report.marksNotSaved > 0) {
    out.push_back(MessageText(
        report.marksNotSaved == 1 ? MessageId::kMarkNotSaved : MessageId::kMarksNotSaved,
        {name, std::to_string(report.marksNotSaved)}, language));
  }
  if (report.numbersNotSaved > 0) {
    out.push_back(MessageText(
        report.numbersNotSaved == 1 ? MessageId::kNumberNotSaved : MessageId::kNumbersNotSaved,
        {name, std::to_string(report.numbersNotSaved)}, language));
  }
  if (report.unmarkedNotSaved > 0) {
    out.push_back(MessageText(
        report.unmarkedNotSaved == 1 ? MessageId::kUnmarkedNotSaved : MessageId::kUnmarkedsNotSaved,
        {name, std::to_string(report.unmarkedNotSaved)}, language));
  }
  if (report.oneLine) out.push_back(MessageText(MessageId::kOneLineNotReadBack, {name}, language));
  if (report.textsSplit > 0) {
    const bool japanese = language == Language::kJapanese;
    const char* separator = report.format == CoordinateFormat::kCsv ? (japanese ? "タブ" : "a tab")
                            : report.format == CoordinateFormat::kZhy
                                ? (japanese ? "「,」・タブ" : "\",\", a tab")
                                : (japanese ? "「,」" : "\",\"");
    out.push_back(
        MessageText(report.textsSplit == 1 ? MessageId::kTextSplit : MessageId::kTextsSplit,
                    {name, std::to_string(report.textsSplit), separator}, language));
  }
  if (report.headSplit) out.push_back(MessageText(MessageId::kHeadSplit, {name}, language));
  if (report.cornersElsewhere > 0) {
    out.push_back(MessageText(
        report.cornersElsewhere == 1 ? MessageId::kCornerElsewhere : MessageId::kCornersElsewhere,
        {name, std::to_string(report.cornersElsewhere)}, language));
  }
  return out;
}

SaveReport SaveCoordinateFile(const std::filesystem::path& path, const CoordinateData& data,
                              CoordinateFormat format) {
  AtomicFileWriter out(path);
  WriteCoordinateFile(data, format,
                      [&out](std::string_view bytes) { out.Write(bytes.data(), bytes.size()); });
  out.Commit();
  return CoordinateSaveReport(data, format);
}

std::filesystem::path FileStem(const std::filesystem::path& path) {
  const std::filesystem::path::string_type name = path.filename().native();
  return name.substr(0, name.find(std::filesystem::path::value_type('.')));
}

}  // namespace kestrova
