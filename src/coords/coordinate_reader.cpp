// Reading coordinate files: the file is taken a few megabytes at a time, each piece's
// lines are parsed in a few ranges at once, and the parcels and polylines of a SIMA
// file are drawn once all of its points are in. The result is the one a reader going
// line by line would give.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/parallel.h"
#include "common/sjis.h"
#include "common/spill_file.h"
#include "coords/coordinate_file.h"
#include "coords/sima_drawing.h"
#include "coords/split_fields.h"

namespace kestrova {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Lines end at CR LF, a lone CR or a lone LF; a final line end adds no empty line.
// Nearly every line ends in LF or CR LF: memchr finds those, and a line is searched for
// a lone CR only once it is known.
void SplitLines(std::string_view text, std::vector<std::string_view>& lines) {
  lines.clear();
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* lineEnd = nl ? nl : end;
    // Lone CRs before the LF (or the end) end lines of their own.
    for (;;) {
      const char* cr =
          static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(lineEnd - p)));
      if (!cr) break;
      if (cr + 1 == lineEnd && nl) break;  // the CR of CR LF
      lines.emplace_back(p, static_cast<size_t>(cr - p));
      p = cr + 1;
      if (p == end) return;
    }
    if (!nl) {
      if (p < end) lines.emplace_back(p, static_cast<size_t>(end - p));
      return;
    }
    const char* stop = nl > p && nl[-1] == '\r' ? nl - 1 : nl;
    lines.emplace_back(p, static_cast<size_t>(stop - p));
    p = nl + 1;
  }
}

// A line that holds no data: empty, blanks only, or a "#" comment. It never decides the
// format or the separator.
bool IsBlankOrComment(std::string_view line) {
  const std::string_view t = TrimLeftBlanks(line);
  return t.empty() || t[0] == '#';
}

// Counts lines the way SplitLines makes them, piece by piece; a CR LF pair may be cut
// between two pieces. Keeps the first line that holds data (its end may lie in a later
// piece), which decides the format.
class LineCounter {
 public:
  void Add(std::string_view piece) {
    if (piece.empty()) return;
    if (!firstDone_) TakeFirstLine(piece);
    if (afterCr_ && piece[0] == '\n') piece.remove_prefix(1);  // the LF of a CR LF cut in two
    afterCr_ = false;
    if (piece.empty()) return;
    // Every LF ends a line, and every CR that no LF follows.
    lines_ += static_cast<size_t>(std::count(piece.begin(), piece.end(), '\n'));
    const char* p = piece.data();
    const char* const end = p + piece.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p))))) {
      if (p + 1 == end) {
        ++lines_;
        afterCr_ = true;
        break;
      }
      if (p[1] != '\n') ++lines_;
      ++p;
    }
    open_ = piece.back() != '\r' && piece.back() != '\n';
  }
  // Lines in all; text after the last line end is a line of its own.
  size_t Lines() const { return lines_ + (open_ ? 1 : 0); }
  // The first line holding data; empty when no line does.
  const std::string& FirstLine() const { return first_; }
  // The blank and comment lines before it.
  size_t LeadingLines() const { return leading_; }

 private:
  void TakeFirstLine(std::string_view piece) {
    // A UTF-8 byte-order mark is no text of the first line (it may be cut between pieces
    // only in a file of fewer than four bytes, which is never read).
    if (lines_ == 0 && first_.empty() && !skipLf_ && piece.substr(0, 3) == kBom) {
      piece.remove_prefix(3);
    }
    for (;;) {
      if (skipLf_ && !piece.empty()) {
        skipLf_ = false;
        if (piece[0] == '\n') piece.remove_prefix(1);
      }
      if (piece.empty()) return;
      const size_t end = piece.find_first_of("\r\n");
      first_.append(piece.substr(0, end));
      if (end == std::string_view::npos) return;
      if (!IsBlankOrComment(first_)) {
        firstDone_ = true;
        return;
      }
      // The line end, with the LF of a CR LF that may begin the next piece.
      if (piece[end] == '\r') {
        if (end + 1 < piece.size()) {
          piece.remove_prefix(end + 1 + (piece[end + 1] == '\n' ? 1 : 0));
        } else {
          piece = {};
          skipLf_ = true;
        }
      } else {
        piece.remove_prefix(end + 1);
      }
      first_.clear();
      ++leading_;
    }
  }

  std::string first_;
  bool firstDone_ = false;
  bool skipLf_ = false;
  size_t leading_ = 0;
  bool afterCr_ = false;
  bool open_ = false;
  size_t lines_ = 0;
};

// Room for n more elements without giving up geometric growth: reserving the exact size
// for every appended file would copy the whole table once per file.
template <class T>
void ReserveMore(std::vector<T>& v, size_t n) {
  if (v.capacity() - v.size() < n) v.reserve(std::max(v.size() + n, v.capacity() * 2));
}

// The most fields any record is read for (SIMA "A01" up to its remarks, field 8).
constexpr size_t kMaxFields = 8;

enum class Layout { kSima, kApa, kDelimited };

// A record of a SIMA file other than a point, as a range found it: the block structure
// ("D00" .. "D99", "F00" .. "F99") spans ranges and pieces, so it is put together in
// file order afterwards.
struct SimaEvent {
  enum Kind : uint8_t { kSite, kTitle, kParcel, kPolyline, kBoundary, kTriangle, kEnd };
  Kind kind = kSite;
  bool polylineEnd = false;  // kEnd: "F99" rather than "D99"
  uint8_t notANumber = 0;    // bit c: corner c's number field is text that is no number
  int32_t rowsBefore = 0;    // points read before this line (in its range, then in all)
  size_t line = 0;           // 0-based line of the file
  // "B01": the point; "E01": the first corner, the other two in the range's corners.
  // Most records of a site are "B01"; the rest keep their texts aside.
  SimaPointRef ref;
};

// The texts of a site name, title or block opening, in the order of their events.
struct SimaEventText {
  std::string text;  // site name, title, block name
  PointText number;  // a block's number field
  int32_t closing = 0;
};

// What one range of lines gave.
struct RangeResult {
  std::vector<SurveyPoint> rows;
  // Rows whose point number is their row number, known only once the rows before the
  // range are counted; kNamedByRow: the name is that number too.
  std::vector<uint32_t> numberedByRow;
  std::vector<SimaEvent> events;
  std::vector<SimaEventText> texts;
  std::vector<SimaPointRef> corners;  // the second and third corner of every "E01"
  size_t notANumberFields = 0;
  size_t firstNotANumberLine = 0;
  size_t unsplitLines = 0;  // list lines with data that the separator does not split
  size_t firstUnsplitLine = 0;
  size_t commentsLikeRows = 0;  // leading "#" lines the separator splits, as it does a row
  size_t firstCommentLikeRow = 0;
  size_t misspeltRecords = 0;  // SIMA records whose code has blanks or lower case letters
  size_t firstMisspeltRecord = 0;
  std::string misspeltCode;
  size_t textsCut = 0;  // texts longer than their fields
  size_t firstTextCutLine = 0;
  bool apaEnd = false;    // a "Z" record: the rest of the file is not read
  size_t apaEndLine = 0;  // 1-based, kept from one piece of the file to the next
  size_t apaOthers = 0;   // APA lines of no record this program knows
  // Points ("G", however written) after the "Z" record, left out.
  size_t apaPointsAfterEnd = 0;
};
constexpr uint32_t kNamedByRow = 0x80000000u;

// Parses lines [begin, end) of a piece into result; line numbers count from firstLine.
class RangeParser {
 public:
  RangeParser(const std::string& name, Layout layout, char separator, size_t leadingLines,
              RangeResult& result)
      : name_(name),
        layout_(layout),
        separator_(separator),
        leadingLines_(leadingLines),
        out_(result) {}

  void Parse(const std::vector<std::string_view>& lines, size_t begin, size_t end,
             size_t firstLine) {
    for (size_t i = begin; i < end; ++i) {
      line_ = firstLine + i;
      switch (layout_) {
        case Layout::kDelimited:
          Delimited(lines[i]);
          break;
        case Layout::kApa:
          Apa(lines[i]);
          break;
        case Layout::kSima:
          Sima(lines[i]);
          break;
      }
    }
  }

 private:
  // Field i (1-based); a field the record does not have reads as empty.
  std::string_view F(size_t i) const {
    return i <= fields_.size() ? fields_[i - 1] : std::string_view();
  }

  // A field that should hold a number and does not is read as the fallback; unless it is
  // empty (a value left out), the user hears of it. An X or Y left out is heard of too:
  // the point stands at 0, far from the site, in the drawing and its extent.
  static bool IsNotANumber(std::string_view field) { return !TrimBlanks(field).empty(); }
  void NotANumber(std::string_view field, bool required = false) {
    if (!required && !IsNotANumber(field)) return;
    if (out_.notANumberFields++ == 0) out_.firstNotANumberLine = line_ + 1;
  }
  double Coordinate(size_t i, bool required = false) {
    const auto v = ParseFloat(F(i));
    if (!v) NotANumber(F(i), required);
    return v.value_or(0.0);
  }
  // X and Y.
  double Position(size_t i) { return Coordinate(i, true); }
  // A text cut to its field's limit; a cut the user hears of.
  std::string_view Cut(std::string_view text, size_t limit) {
    if (text.size() > limit && out_.textsCut++ == 0) out_.firstTextCutLine = line_ + 1;
    return CutToBytes(text, limit);
  }
  // The integer in field i, or nullopt (counted as not a number unless empty).
  std::optional<int32_t> Integer(size_t i) {
    const auto v = ParseInt(F(i));
    if (!v) NotANumber(F(i));
    return v;
  }

  SurveyPoint& NewRow() {
    SurveyPoint& p = out_.rows.emplace_back();
    p.Marked = 1;
    return p;
  }
  void NumberByRow(bool named) {
    out_.numberedByRow.push_back(static_cast<uint32_t>(out_.rows.size() - 1) |
                                 (named ? kNamedByRow : 0u));
  }

  void Delimited(std::string_view line) {
    if (line_ < leadingLines_) {
      // Blank lines and comments before the first point. A "#" line that reads as a row,
      // with two numbers among its fields, may be one whose point is named "#1": the user
      // hears of it. A comment in words has no such fields.
      if (ReadsAsRow(line) && out_.commentsLikeRows++ == 0) out_.firstCommentLikeRow = line_ + 1;
      return;
    }
    // A line of blanks only, or a row of empty cells as spreadsheets leave below a table,
    // holds no point: split, it would give one at (0, 0) that no one wrote.
    if (std::all_of(line.begin(), line.end(), [this](char c) {
          return c == separator_ || static_cast<unsigned char>(c) <= 32;
        })) {
      return;
    }
    SplitFieldsInto(line, separator_, fields_, 7);
    const size_t n = fields_.size();
    if (n < 2) {
      // No point, but unless the line is blank or a comment, it held one that the user
      // must hear was left out.
      if (!IsBlankOrComment(line) && out_.unsplitLines++ == 0) out_.firstUnsplitLine = line_ + 1;
      return;
    }
    SurveyPoint& p = NewRow();
    if (n == 2) {
      NumberByRow(true);
      p.X = Position(1);
      p.Y = Position(2);
    } else if (n <= 4) {
      NumberByRow(false);
      p.Name = Cut(F(1), kNameLimit);
      p.X = Position(2);
      p.Y = Position(3);
      if (n == 4) p.Z = Coordinate(4);
    } else {
      p.Number = Integer(1).value_or(0);
      p.Name = Cut(F(2), kNameLimit);
      p.X = Position(3);
      p.Y = Position(4);
      p.Z = Coordinate(5);
      if (n >= 6) p.Mark = Cut(TrimBlanks(F(6)), kMarkLimit);
      if (n >= 7) p.Remarks = Cut(F(7), kRemarksLimit);
    }
  }

  void Apa(std::string_view line) {
    SplitFieldsInto(line, ',', fields_, 5);
    const std::string_view code = F(1);
    if (out_.apaEnd) {
      // Nothing after the end is read; points there, which the user meant to have, are
      // counted to be told of.
      if (TrimBlanks(code) == "G" || TrimBlanks(code) == "g") ++out_.apaPointsAfterEnd;
      return;
    }
    if (code == "B") {
      Event(SimaEvent::kSite);
      out_.texts.push_back({std::string(F(2)), {}, 0});
    } else if (code == "G") {
      SurveyPoint& p = NewRow();
      NumberByRow(false);
      p.Name = Cut(F(2), kNameLimit);
      p.X = Position(3);
      p.Y = Position(4);
      p.Z = Coordinate(5);
    } else if (code == "Z") {
      out_.apaEnd = true;
      out_.apaEndLine = line_ + 1;
    } else if (code != "A" && !TrimBlanks(line).empty()) {
      ++out_.apaOthers;
      // A record this reader knows written with blanks around its code or in lower case
      // (" G", "g"): APA codes are matched exactly, as the format's other readers match them.
      const std::string_view trimmed = TrimBlanks(code);
      if (trimmed.size() == 1 &&
          std::string_view("BGZbgz").find(trimmed[0]) != std::string_view::npos &&
          out_.misspeltRecords++ == 0) {
        out_.firstMisspeltRecord = line_ + 1;
        out_.misspeltCode = std::string(code);
      }
    }
  }

  SimaEvent& Event(SimaEvent::Kind kind) {
    SimaEvent& e = out_.events.emplace_back();
    e.kind = kind;
    e.line = line_;
    e.rowsBefore = static_cast<int32_t>(out_.rows.size());
    return e;
  }

  // A point reference: its number (0, and marked, when the field holds no number) and
  // name. Whether the number counts as not a number depends on the block around it.
  SimaPointRef Ref(SimaEvent& e, size_t c, size_t field) {
    const auto v = ParseInt(F(field));
    if (!v && IsNotANumber(F(field))) e.notANumber |= static_cast<uint8_t>(1u << c);
    // The name of a point a record names: its own A01 record says when it is cut.
    return SimaPointRef{v.value_or(0), CutToBytes(F(field + 1), kNameLimit)};
  }

  void Sima(std::string_view line) {
    SplitFieldsInto(line, ',', fields_, kMaxFields);
    const std::string_view code = F(1);
    if (code == "A01") {
      SurveyPoint& p = NewRow();
      const auto number = Integer(2);
      if (number) {
        p.Number = *number;
      } else {
        NumberByRow(false);
      }
      p.Name = Cut(TrimBlanks(F(3)), kNameLimit);
      p.X = Position(4);
      p.Y = Position(5);
      p.Z = Coordinate(6);
      if (fields_.size() >= 7) p.Mark = Cut(TrimBlanks(F(7)), kMarkLimit);
      if (fields_.size() >= 8) p.Remarks = Cut(TrimBlanks(F(8)), kRemarksLimit);
    } else if (code == "B01") {
      SimaEvent& e = Event(SimaEvent::kBoundary);
      e.ref = Ref(e, 0, 2);
    } else if (code == "E01") {
      SimaEvent& e = Event(SimaEvent::kTriangle);
      e.ref = Ref(e, 0, 2);
      for (size_t c = 1; c < 3; ++c)
        out_.corners.push_back(Ref(e, c, 2 + 2 * c));
    } else if (code == "D00" || code == "F00") {
      const bool polyline = code == "F00";
      Event(polyline ? SimaEvent::kPolyline : SimaEvent::kParcel);
      SimaEventText& e = out_.texts.emplace_back();
      e.number = F(2);
      e.text = std::string(Cut(F(3), kNameLimit));
      if (!polyline && fields_.size() >= 4) {
        const auto flag = ParseInt(TrimBlanks(F(4)));
        if (!flag) {
          throw Error(MessageId::kClosingFlagNotInteger,
                      {name_, std::to_string(line_ + 1), Cp932ToUtf8(F(4)), Cp932ToUtf8(e.text)});
        }
        e.closing = *flag;
      }
    } else if (code == "D99" || code == "F99") {
      Event(SimaEvent::kEnd).polylineEnd = code == "F99";
    } else if (code == "G00") {
      if (fields_.size() >= 3) {
        Event(SimaEvent::kSite);
        out_.texts.push_back({std::string(F(3)), {}, 0});
      }
    } else if (code == "Z00") {
      Event(SimaEvent::kTitle);
      out_.texts.push_back({std::string(F(2)), {}, 0});
    } else if (IsMisspeltRecord(code) && out_.misspeltRecords++ == 0) {
      out_.firstMisspeltRecord = line_ + 1;
      out_.misspeltCode = std::string(code);
    }
  }

  bool ReadsAsRow(std::string_view line) {
    SplitFieldsInto(line, separator_, fields_, kMaxFields);
    if (fields_.size() < 3) return false;
    const auto numbers = std::count_if(fields_.begin(), fields_.end(), [](std::string_view f) {
      return !TrimBlanks(f).empty() && ParseFloat(TrimBlanks(f)).has_value();
    });
    return numbers >= 2;
  }

  // A record this reader knows, written with blanks around its code or in lower case
  // (" A01", "a01"): SIMA codes are matched exactly, as other programs read them.
  static bool IsMisspeltRecord(std::string_view code) {
    const std::string_view trimmed = TrimBlanks(code);
    if (trimmed.size() != 3) return false;
    std::string upper(trimmed);
    for (char& c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static constexpr std::string_view kKnown[] = {"A00", "A01", "A99", "B01", "D00", "D99",
                                                  "E01", "F00", "F99", "G00", "Z00"};
    return upper != code &&
           std::find(std::begin(kKnown), std::end(kKnown), upper) != std::end(kKnown);
  }

  const std::string& name_;
  Layout layout_;
  char separator_;
  size_t leadingLines_;
  RangeResult& out_;
  std::vector<std::string_view> fields_;
  size_t line_ = 0;
};

// The format from the first line: SIMA by its header record, APA by "A,0...", else a
// list whose separator the first line shows.
Layout ChooseLayout(std::string_view firstLine, char& separator) {
  std::vector<std::string_view> first;
  SplitFieldsInto(firstLine, ',', first, 2);
  const std::string_view f1 = first.empty() ? std::string_view() : first[0];
  separator = ',';
  if (f1 == "G00" || f1 == "A00" || f1 == "Z00") return Layout::kSima;
  if (f1 == "A" && first.size() >= 2 && !first[1].empty() && first[1][0] == '0') {
    return Layout::kApa;
  }
  // A tab list often has commas in its names and remarks, a comma file almost never
  // has tabs: a tab in the first line decides first.
  std::vector<std::string_view> tabbed;
  SplitFieldsInto(firstLine, '\t', tabbed, 2);
  if (tabbed.size() >= 2) {
    separator = '\t';
  } else if (first.size() < 2) {
    separator = ' ';
  }
  return Layout::kDelimited;
}

// The blocks from first on drawn from the rows their records name, in block order.
void DrawTableBlocks(SimaData& sima, const PointTable& table, size_t first, LoadReport* report,
                     std::vector<std::pair<double, double>>& vertices) {
  const SurveyPoint* const points = table.Points.data();
  const int32_t count = table.PointCount;
  const auto addLine = [&sima](const SurveyPoint& a, const SurveyPoint& b, uint16_t style,
                               uint16_t color) {
    sima.SimaLines.push_back(SimaLine{a.X, a.Y, b.X, b.Y, style, color});
  };
  const auto addLabel = [&sima](SimaText&& label) { sima.SimaTexts.push_back(std::move(label)); };
  size_t trianglesLeftOut = 0;
  for (size_t b = first; b < sima.SimaBlocks.size(); ++b) {
    const SimaBlock& block = sima.SimaBlocks[b];
    if (!block.Drawn) continue;
    const SimaBlockRecord* const records = block.Records.data();
    const bool whole = DrawSimaBlock(
        block,
        [&](size_t i) -> const SurveyPoint* {
          const int32_t row = records[i].Row;
          return row > 0 && row <= count ? points + row : nullptr;
        },
        addLine, addLabel, vertices, trianglesLeftOut);
    if (report && !whole && report->blocksCutShort++ == 0)
      report->firstCutShort = OpeningRecord(block);
  }
  if (report) report->trianglesLeftOut += trianglesLeftOut;
}

// Reads one file's lines, piece by piece, into data.
class Reader {
 public:
  // With a sink the points and finished blocks go to it instead of data, whose table
  // only counts the rows.
  Reader(const std::string& name, size_t totalLines, std::string_view firstLine,
         size_t leadingLines, CoordinateData& data, bool appending, LoadReport& report,
         ProgressMonitor* progress, const LoadTuning& tuning, LoadSink* sink = nullptr)
      : name_(name),
        totalLines_(totalLines),
        table_(data.Table),
        sima_(data.Sima),
        report_(report),
        progress_(progress),
        tuning_(tuning),
        firstBlock_(data.Sima.SimaBlocks.size()),
        appending_(appending),
        sink_(sink),
        firstRowCount_(data.Table.PointCount),
        leadingLines_(leadingLines) {
    layout_ = ChooseLayout(firstLine, separator_);
    report_.separator = separator_;
    sima_.SimaLoaded = layout_ == Layout::kSima;
    report_.sima = sima_.SimaLoaded;
    if (!sink_) ReserveMore(table_.Points, totalLines);
  }

  // The next piece of whole lines; false once the rest of the file is not to be read.
  bool Piece(std::string_view text) {
    if (done_) return false;
    SplitLines(text, lines_);
    const size_t n = lines_.size();
    // Every 64K lines the monitor hears how far the reading is.
    for (size_t at = (line_ + 0xFFFF) & ~size_t{0xFFFF}; at < line_ + n; at += 0x10000)
      Report(static_cast<double>(at) / static_cast<double>(totalLines_));

    const size_t cores = Cores();
    const size_t perRange = std::max<size_t>(tuning_.minimumLinesPerRange, 1);
    const size_t parts = layout_ == Layout::kApa  // "Z" ends the file: one range
                             ? 1
                             : std::clamp<size_t>(n / perRange, 1, std::min<size_t>(cores, 8));
    results_.resize(parts);
    for (RangeResult& r : results_) {
      r.rows.clear();
      r.numberedByRow.clear();
      r.events.clear();
      r.texts.clear();
      r.corners.clear();
      r.notANumberFields = 0;
      r.firstNotANumberLine = 0;
      r.unsplitLines = 0;
      r.firstUnsplitLine = 0;
      r.commentsLikeRows = 0;
      r.firstCommentLikeRow = 0;
      r.misspeltRecords = 0;
      r.firstMisspeltRecord = 0;
      r.apaOthers = 0;
      r.apaPointsAfterEnd = 0;
      r.textsCut = 0;
      r.firstTextCutLine = 0;
    }
    const size_t chunk = (n + parts - 1) / parts;
    FillInRanges(
        parts,
        [&](size_t begin, size_t end) {
          for (size_t k = begin; k < end; ++k) {
            RangeParser parser(name_, layout_, separator_, leadingLines_, results_[k]);
            parser.Parse(lines_, std::min(n, k * chunk), std::min(n, (k + 1) * chunk), line_);
          }
        },
        1);
    for (RangeResult& r : results_)
      Take(r);
    line_ += n;
    return !done_;
  }

  // After the last piece.
  void Finish() {
    // A list of which not one line gave a point is not a list of points: loading it
    // would empty the table, and a save would replace a file with nothing. Nor is a file
    // taken for APA by its first line whose other lines are no APA records: a list whose
    // first point is named "A" at X 0. (An APA file of no points holds only its header
    // and end.)
    if (table_.PointCount == firstRowCount_) {
      if (layout_ == Layout::kDelimited) throw Error(MessageId::kNoPointRead, {name_});
      if (layout_ == Layout::kApa && apaOthers_ > 0) {
        throw Error(MessageId::kNoApaPointRead, {name_});
      }
    }
    if (open_) EndBlock(false);
    // The pieces' working memory is not needed for the drawing of the blocks.
    std::vector<RangeResult>().swap(results_);
    std::vector<std::string_view>().swap(lines_);
    if (layout_ == Layout::kSima && !sink_) {
      CountRepeatsWithin();  // while the numbers are indexed for the blocks
      if (tuning_.drawBlocks) {
        DrawBlocks();
      } else if (!appending_) {
        InvalidatePointIndex(table_);  // as a drawing's lines would: its room is for every line
      }
    }
    std::vector<int32_t>().swap(recordRows_);
  }

 private:
  void Report(double fraction) { ReportProgress(progress_, fraction); }

  void CountNotANumber(size_t count, size_t firstLine) {
    if (count == 0) return;
    if (report_.notANumberFields == 0 || firstLine < report_.firstNotANumberLine) {
      report_.firstNotANumberLine = firstLine;
    }
    report_.notANumberFields += count;
  }

  // A range's rows go after the table's, its records are put in their blocks.
  void Take(RangeResult& r) {
    apaOthers_ += r.apaOthers;
    const int32_t base = table_.PointCount;
    for (uint32_t k : r.numberedByRow) {
      SurveyPoint& p = r.rows[k & ~kNamedByRow];
      p.Number = base + 1 + static_cast<int32_t>(k & ~kNamedByRow);
      if (k & kNamedByRow) p.Name = std::to_string(p.Number);
    }
    if (sink_) {
      if (!r.rows.empty()) sink_->TakePoints(r.rows, base + 1);
    } else {
      ReserveMore(table_.Points, r.rows.size());
      for (SurveyPoint& p : r.rows)
        table_.Points.push_back(std::move(p));
    }
    table_.PointCount += static_cast<int32_t>(r.rows.size());
    CountNotANumber(r.notANumberFields, r.firstNotANumberLine);
    if (r.misspeltRecords > 0) {
      if (report_.misspeltRecords == 0) {
        report_.firstMisspeltRecord = r.firstMisspeltRecord;
        report_.misspeltCode = r.misspeltCode;
        report_.misspeltApa = layout_ == Layout::kApa;
      }
      report_.misspeltRecords += r.misspeltRecords;
    }
    if (r.commentsLikeRows > 0) {
      if (report_.commentsLikeRows == 0) report_.firstCommentLikeRow = r.firstCommentLikeRow;
      report_.commentsLikeRows += r.commentsLikeRows;
    }
    if (r.unsplitLines > 0) {
      if (report_.unsplitLines == 0) report_.firstUnsplitLine = r.firstUnsplitLine;
      report_.unsplitLines += r.unsplitLines;
    }
    if (r.textsCut > 0) {
      if (report_.textsCut == 0) report_.firstTextCutLine = r.firstTextCutLine;
      report_.textsCut += r.textsCut;
    }
    texts_ = r.texts.data();
    corners_ = r.corners.data();
    for (SimaEvent& e : r.events) {
      e.rowsBefore += base;
      Stitch(e);
    }
    if (r.apaPointsAfterEnd > 0) {
      report_.apaEndLine = r.apaEndLine;
      report_.apaPointsAfterEnd += r.apaPointsAfterEnd;
    }
  }

  // One non-point record in file order, with the block around it.
  void Stitch(SimaEvent& e) {
    switch (e.kind) {
      case SimaEvent::kSite:
        if (!open_) sima_.SiteName = std::move(texts_->text);
        ++texts_;
        return;
      case SimaEvent::kTitle:
        if (!open_ && titles_ < 2) {
          sima_.SimaTitles[titles_++] = std::move(texts_->text);
        } else {
          // Kept where it stood for a SIMA save.
          sima_.SimaNotes.push_back(
              SimaNote{std::move(texts_->text), e.rowsBefore, blocksRead_, open_});
        }
        ++texts_;
        return;
      case SimaEvent::kParcel:
      case SimaEvent::kPolyline: {
        if (open_) EndBlock(false);  // a block without its closing record ends here
        SimaBlock& block = sima_.SimaBlocks.emplace_back();
        block.Polyline = e.kind == SimaEvent::kPolyline;
        block.Number = std::move(texts_->number);
        block.Name = std::move(texts_->text);
        block.Closing = texts_->closing;
        block.RowsBefore = e.rowsBefore;
        ++blocksRead_;
        ++texts_;
        open_ = true;
        openLine_ = e.line;
        return;
      }
      case SimaEvent::kEnd:
        if (open_ && e.polylineEnd == sima_.SimaBlocks.back().Polyline) EndBlock(true);
        return;
      case SimaEvent::kBoundary:
      case SimaEvent::kTriangle:
        break;
    }
    const bool triangle = e.kind == SimaEvent::kTriangle;
    SimaPointRef* const corners = triangle ? corners_ : nullptr;
    if (triangle) corners_ += 2;
    if (!open_) return;
    SimaBlock& block = sima_.SimaBlocks.back();
    if (triangle && block.Polyline) return;
    for (size_t c = 0; c < (triangle ? 3u : 1u); ++c) {
      if (e.notANumber & (1u << c)) CountNotANumber(1, e.line + 1);
      SimaBlockRecord& record = block.Records.emplace_back();
      record.RecordKind = !triangle ? SimaBlockRecord::kPoint
                          : c == 0  ? SimaBlockRecord::kTriangle
                                    : SimaBlockRecord::kCorner;
      record.Point = std::move(c == 0 ? e.ref : corners[c - 1]);
      recordRows_.push_back(e.rowsBefore);
    }
  }

  void EndBlock(bool closed) {
    if (!closed) {
      report_.unclosedBlocks.push_back(
          UnclosedBlock{openLine_ + 1, sima_.SimaBlocks.back().Polyline});
    }
    open_ = false;
    if (sink_) {
      sink_->TakeBlock(sima_.SimaBlocks.back(), recordRows_.data(), true);
      sima_.SimaBlocks.pop_back();
      recordRows_.clear();
    }
  }

  // The file's points whose number a point before them in the file has, when the file
  // has parcels or polylines, whose records name the first point of a number.
  void CountRepeatsWithin() {
    if (sima_.SimaBlocks.size() <= firstBlock_) return;
    for (int32_t r = firstRowCount_ + 1; r <= table_.PointCount; ++r) {
      const int32_t first = *FindPointIndex(table_, table_.Points[r].Number);
      if (first > firstRowCount_ && first < r && report_.repeatedWithin++ == 0)
        report_.firstRepeatedWithin = table_.Points[r].Number;
    }
  }

  // The row holding number among the first limit rows (a record sees only the points
  // read before it), or 0.
  int32_t Find(int32_t number, int32_t limit) const {
    const auto row = FindPointIndex(table_, number);
    return row && *row <= limit ? *row : 0;
  }

  // The segments and labels of this file's parcels and polylines. A point number that
  // no row has (yet, at its record) ends the drawing of its block, while the records are
  // kept for a SIMA save all the same.
  void DrawBlocks() {
    size_t most = 0;
    size_t labels = 0;
    for (size_t b = firstBlock_; b < sima_.SimaBlocks.size(); ++b) {
      most += sima_.SimaBlocks[b].Records.size() + 1;
      labels += sima_.SimaBlocks[b].Polyline || sima_.SimaBlocks[b].Name.empty() ? 0 : 1;
    }
    // Every record to its row first, so that a replacing load can give the number index
    // back before the lines take their room.
    size_t limit = 0;
    for (size_t b = firstBlock_; b < sima_.SimaBlocks.size(); ++b) {
      sima_.SimaBlocks[b].Drawn = true;
      for (SimaBlockRecord& record : sima_.SimaBlocks[b].Records) {
        record.Row = Find(record.Point.Number, recordRows_[limit]);
        ++limit;
      }
    }
    std::vector<int32_t>().swap(recordRows_);
    if (!appending_) InvalidatePointIndex(table_);
    ReserveMore(sima_.SimaLines, most);
    ReserveMore(sima_.SimaTexts, labels);
    DrawTableBlocks(sima_, table_, firstBlock_, &report_, vertices_);
  }

  const std::string& name_;
  const size_t totalLines_;
  PointTable& table_;
  SimaData& sima_;
  LoadReport& report_;
  ProgressMonitor* progress_;
  const LoadTuning& tuning_;
  const size_t firstBlock_;      // this file's blocks start here
  const bool appending_;         // the number index is kept for the files after this one
  LoadSink* const sink_;         // takes the points and blocks instead of data
  const int32_t firstRowCount_;  // rows before this file's
  const size_t leadingLines_;    // blank lines and comments before the first line of data
  Layout layout_ = Layout::kDelimited;
  char separator_ = ',';
  size_t line_ = 0;  // lines taken so far
  bool done_ = false;
  std::vector<std::string_view> lines_;
  std::vector<RangeResult> results_;
  int titles_ = 0;
  size_t blocksRead_ = firstBlock_;  // blocks of this file and the files before it
  size_t apaOthers_ = 0;             // APA lines of no known record
  bool open_ = false;                // a block is open
  size_t openLine_ = 0;
  // Per record of this file: the rows read before it, then the row it names (0: none).
  std::vector<int32_t> recordRows_;
  SimaEventText* texts_ = nullptr;  // the next event's texts and corners in its range
  SimaPointRef* corners_ = nullptr;
  std::vector<std::pair<double, double>> vertices_;
};

// The length of text's first piece of about blockBytes: whole lines, up to the first
// line end at or after blockBytes, with the LF of a CR LF.
size_t FirstPiece(std::string_view text, size_t blockBytes) {
  size_t cut = std::min(text.size(), std::max<size_t>(blockBytes, 1));
  if (cut < text.size()) {
    const size_t end = text.find_first_of("\r\n", cut - 1);
    cut = end == std::string_view::npos ? text.size() : end + 1;
    if (text[cut - 1] == '\r' && cut < text.size() && text[cut] == '\n') ++cut;
  }
  return cut;
}

// Hands the whole lines of text to reader a piece of about blockBytes at a time.
void FeedText(std::string_view text, size_t blockBytes, Reader& reader) {
  while (!text.empty()) {
    const size_t cut = FirstPiece(text, blockBytes);
    if (!reader.Piece(text.substr(0, cut))) return;
    text.remove_prefix(cut);
  }
}

// The end of the whole lines at the start of text that more text follows: after its
// last line end, unless that is a CR that an LF in the rest may complete. 0: none.
size_t WholeLinesEnd(std::string_view text) {
  size_t cut = text.find_last_of("\r\n");
  if (cut != std::string_view::npos && text[cut] == '\r' && cut + 1 == text.size()) {
    cut = cut == 0 ? std::string_view::npos : text.find_last_of("\r\n", cut - 1);
  }
  return cut == std::string_view::npos ? 0 : cut + 1;
}

// Pieces of the first pass at least this long have their encoding looked at on a core
// of its own.
constexpr size_t kLeastSurveyedApart = 64 * 1024;

// The length of s up to its last byte from 0x80 up, 0 when there is none.
size_t LastHighByteEnd(std::string_view s) {
  size_t n = s.size();
  for (; n >= 8; n -= 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + n - 8, 8);
    if (word & 0x8080808080808080u) break;
  }
  while (n > 0 && static_cast<unsigned char>(s[n - 1]) < 0x80)
    --n;
  return n;
}

bool HasHighByte(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// A line that reads as UTF-8 (and only then, in a UTF-8 file, is converted): what
// reads as UTF-8 only with characters no survey file holds is code page 932 when it is
// well-formed code page 932.
bool LineIsUtf8(std::string_view line) {
  switch (ReadAsUtf8(line)) {
    case Utf8Reading::kAscii:
    case Utf8Reading::kLikely:
      return true;
    case Utf8Reading::kUnlikely:
      return !IsWellFormedCp932(line);
    case Utf8Reading::kNotUtf8:
      break;
  }
  return false;
}

// Whether a file without a byte-order mark is UTF-8, from its whole lines, piece by
// piece: each line with bytes from 0x80 up votes for UTF-8 or code page 932, and the
// majority decides (a tie: code page 932, taken byte for byte). In a UTF-8 file the
// lines that are no UTF-8 stay code page 932; either way the user hears of every line
// the other reading would have given differently.
class EncodingSurvey {
 public:
  // Lines as SplitLines makes them; only those with a byte from 0x80 up are looked at,
  // the others only counted.
  void Add(std::string_view wholeLines) {
    const char* p = wholeLines.data();
    const char* const end = p + wholeLines.size();
    while (p < end) {
      const char* high = FindHighByte(p, end);
      if (high == end) {
        line_ += CountLines(p, end);
        return;
      }
      const char* start = high;
      while (start > p && start[-1] != '\r' && start[-1] != '\n')
        --start;
      line_ += CountLines(p, start) + 1;
      const char* stop = high;
      while (stop < end && *stop != '\r' && *stop != '\n')
        ++stop;
      Take(std::string_view(start, static_cast<size_t>(stop - start)));
      p = stop == end ? end : stop + (*stop == '\r' && stop + 1 < end && stop[1] == '\n' ? 2 : 1);
    }
  }
  // Lines without a byte from 0x80 up: only counted.
  void Skip(size_t lines) { line_ += lines; }
  bool FromUtf8() const { return utf8_ > other_; }
  // Every line is converted: no line stays code page 932.
  bool Uniform() const { return other_ == 0; }
  void Report(LoadReport& report) const {
    if (FromUtf8()) {
      report.linesNotUtf8 = other_;
      report.firstLineNotUtf8 = firstOther_;
    } else {
      report.utf8LinesReadAsSjis = validUtf8_;
      report.firstUtf8LineReadAsSjis = firstValidUtf8_;
    }
  }

 private:
  static const char* FindHighByte(const char* p, const char* end) {
    for (; end - p >= 8; p += 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080u) break;
    }
    while (p < end && static_cast<unsigned char>(*p) < 0x80)
      ++p;
    return p;
  }
  // The lines of [p, end), which ends after a line end: every LF, and every CR that no
  // LF follows. Eight bytes at a time: most of a file is lines without a byte to look at.
  static size_t CountLines(const char* p, const char* end) {
    constexpr uint64_t kLow = 0x7F7F7F7F7F7F7F7Fu;
    // A bit 7 set in every byte of word that equals c.
    const auto equal = [](uint64_t word, uint64_t c) {
      const uint64_t x = word ^ (c * 0x0101010101010101u);
      return ~(((x & kLow) + kLow) | x | kLow);
    };
    // The number of bytes marked in a word where only bit 7 of a byte may be set: the
    // multiplication adds the eight bytes' bits 0 into the top byte (a library call for
    // each popcount costs more where the processor's instruction may not be assumed).
    const auto marked = [](uint64_t m) {
      return static_cast<size_t>(((m >> 7) * 0x0101010101010101u) >> 56);
    };
    size_t n = 0;
    bool afterCr = false;  // the byte before this word is a CR
    for (; end - p >= 8; p += 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      const uint64_t lf = equal(word, '\n');
      const uint64_t cr = equal(word, '\r');
      // Every LF, every CR, less the CRs an LF follows (little-endian: the next byte is
      // the next higher one).
      n += marked(lf) + marked(cr) - marked(cr & (lf >> 8));
      if (afterCr && (lf & 0x80)) --n;
      afterCr = (cr >> 63) != 0;
    }
    for (; p < end; ++p) {
      if (*p == '\n') {
        if (!afterCr) ++n;
      } else if (*p == '\r') {
        ++n;
      }
      afterCr = *p == '\r';
    }
    return n;
  }
  void Take(std::string_view line) {
    if (IsValidUtf8(line) && validUtf8_++ == 0) firstValidUtf8_ = line_;
    if (LineIsUtf8(line)) {
      ++utf8_;
    } else if (other_++ == 0) {
      firstOther_ = line_;
    }
  }

  size_t line_ = 0;
  size_t utf8_ = 0;
  size_t other_ = 0;
  size_t firstOther_ = 0;
  size_t validUtf8_ = 0;
  size_t firstValidUtf8_ = 0;
};

// Whole lines of a UTF-8 file to code page 932: the lines that are no UTF-8 stay as
// they are, the runs of lines between them are converted at once.
Cp932Text ConvertUtf8Lines(std::string_view text, bool uniform) {
  if (uniform) return Utf8ToCp932(text);
  Cp932Text out;
  out.text.reserve(text.size());
  std::vector<std::string_view> lines;
  SplitLines(text, lines);
  const char* run = text.data();
  const auto convertRun = [&](const char* end) {
    Cp932Text converted = Utf8ToCp932(std::string_view(run, static_cast<size_t>(end - run)));
    out.text += converted.text;
    out.replaced += converted.replaced;
  };
  for (std::string_view line : lines) {
    if (!HasHighByte(line) || LineIsUtf8(line)) continue;
    convertRun(line.data());
    out.text += line;
    run = line.data() + line.size();
  }
  convertRun(text.data() + text.size());
  return out;
}

// Code page 932 stays byte for byte; UTF-8 (marked by a byte-order mark, or lines that
// read as UTF-8 in the majority) and UTF-16 with its mark are converted.
std::string DecodeFileText(std::string bytes, const std::string& name, LoadReport& report,
                           size_t blockBytes) {
  const auto convert = [&report](std::string_view utf8) {  // from UTF-8 or UTF-16
    Cp932Text converted = Utf8ToCp932(utf8);
    report.convertedFromUtf8 = true;
    report.replacedCharacters = converted.replaced;
    return std::move(converted.text);
  };
  const std::string_view view(bytes);
  // Text never holds NUL; a drawing, an image or an archive does, and reading one as
  // points would fill the table with garbage (and put the NUL into names).
  const auto text = [&name](std::string checked) {
    if (checked.find('\0') != std::string::npos) throw Error(MessageId::kNotText, {name});
    return checked;
  };
  // Some Windows programs save "Unicode" text: UTF-16 with its byte-order mark.
  if (view.substr(0, 2) == "\xFF\xFE") return text(convert(Utf16ToUtf8(view.substr(2), true)));
  if (view.substr(0, 2) == "\xFE\xFF") return text(convert(Utf16ToUtf8(view.substr(2), false)));
  if (view.find('\0') != std::string_view::npos) throw Error(MessageId::kNotText, {name});
  if (view.substr(0, 3) == kBom) return convert(view.substr(3));
  if (!HasHighByte(view)) return bytes;
  EncodingSurvey survey;
  for (std::string_view rest = view; !rest.empty();) {
    const size_t cut = FirstPiece(rest, blockBytes);
    survey.Add(rest.substr(0, cut));
    rest.remove_prefix(cut);
  }
  survey.Report(report);
  if (!survey.FromUtf8()) return bytes;
  Cp932Text converted = ConvertUtf8Lines(view, survey.Uniform());
  report.convertedFromUtf8 = true;
  report.replacedCharacters = converted.replaced;
  return std::move(converted.text);
}

// Reads into data, all or nothing: a replacing load fills fresh data and swaps it in,
// an appending one reads into the live data (parcels may name earlier points) and
// rolls back to the state before the file if anything fails.
bool ReadAllOrNothing(const std::string& name, size_t totalLines, std::string_view firstLine,
                      size_t leadingLines, CoordinateData& data, bool appendOnLoad, LoadReport& rep,
                      ProgressMonitor* progress, const LoadTuning& tuning, LoadSink* sink,
                      const std::function<void(Reader&)>& feed) {
  if (totalLines < 2) return false;
  if (sink) {  // nothing is kept that could be rolled back
    Reader reader(name, totalLines, firstLine, leadingLines, data, true, rep, progress, tuning,
                  sink);
    feed(reader);
    reader.Finish();
    ReportProgress(progress, 1.0);
    return true;
  }
  if (!appendOnLoad) {
    // Site name and titles are the new file's, or none: a SIMA save must not put the
    // previous site's on these points.
    CoordinateData fresh;
    Reader reader(name, totalLines, firstLine, leadingLines, fresh, false, rep, progress, tuning);
    feed(reader);
    reader.Finish();
    ReportProgress(progress, 1.0);
    data = std::move(fresh);
    // Only parcels look points up, and only while their file is read: a million points
    // need not keep their index for the rest of the session.
    InvalidatePointIndex(data.Table);
    return true;
  }
  const int32_t pointCount = data.Table.PointCount;
  const size_t lineCount = data.Sima.SimaLines.size();
  const size_t textCount = data.Sima.SimaTexts.size();
  const size_t blockCount = data.Sima.SimaBlocks.size();
  const size_t noteCount = data.Sima.SimaNotes.size();
  const std::string siteName = data.Sima.SiteName;
  const auto titles = data.Sima.SimaTitles;
  const bool simaLoaded = data.Sima.SimaLoaded;
  try {
    Reader reader(name, totalLines, firstLine, leadingLines, data, true, rep, progress, tuning);
    feed(reader);
    reader.Finish();
    ReportProgress(progress, 1.0);
  } catch (...) {
    data.Table.Points.resize(static_cast<size_t>(pointCount) + 1);
    data.Table.PointCount = pointCount;
    data.Sima.SimaLines.resize(lineCount);
    data.Sima.SimaTexts.resize(textCount);
    data.Sima.SimaBlocks.resize(blockCount);
    data.Sima.SimaNotes.resize(noteCount);
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

bool LoadText(std::string bytes, const std::string& name, CoordinateData& data, bool appendOnLoad,
              LoadReport* report, ProgressMonitor* progress, const LoadTuning& tuning,
              LoadSink* sink) {
  LoadReport local;
  LoadReport& rep = report ? *report : local;
  const std::string text = DecodeFileText(std::move(bytes), name, rep, tuning.blockBytes);
  LineCounter counter;
  counter.Add(text);
  return ReadAllOrNothing(name, counter.Lines(), counter.FirstLine(), counter.LeadingLines(), data,
                          appendOnLoad, rep, progress, tuning, sink,
                          [&](Reader& reader) { FeedText(text, tuning.blockBytes, reader); });
}

// Where a file's bytes are read from: once to tell their encoding, again for the lines.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes; fewer only at the end.
  virtual size_t Read(char* to, size_t size) = 0;
  // Reads again from the byte at offset (0, or just past a byte-order mark).
  virtual void Restart(size_t offset) = 0;
};

class FileSource final : public ByteSource {
 public:
  FileSource(std::ifstream& in, const std::string& name) : in_(in), name_(name) {}
  size_t Read(char* to, size_t size) override {
    in_.read(to, static_cast<std::streamsize>(size));
    if (in_.bad()) throw Error(MessageId::kFileReadFailed, {name_});
    return static_cast<size_t>(in_.gcount());
  }
  void Restart(size_t offset) override {
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
  }

 private:
  std::ifstream& in_;
  const std::string& name_;
};

// Bytes that can be read only once (standard input, a pipe), kept in a temporary file.
class SpooledSource final : public ByteSource {
 public:
  explicit SpooledSource(SpillFile& file) : file_(file) { file_.Rewind(); }
  size_t Read(char* to, size_t size) override { return file_.ReadSome(to, size); }
  void Restart(size_t offset) override {
    file_.Rewind();
    std::string skipped(offset, '\0');
    file_.ReadSome(skipped.data(), offset);
  }

 private:
  SpillFile& file_;
};

// A UTF-16 file's text as UTF-8 behind a UTF-8 byte-order mark, converted a piece at a
// time as it is read: it is then loaded as any marked UTF-8 file is, without holding the
// whole file. A piece ends after a whole unit that is not the first of a pair, so each
// converts to what the whole text would; a cut unit or pair waits for the next piece, and
// what is left at the end is converted as it stands.
class Utf16Source final : public ByteSource {
 public:
  Utf16Source(ByteSource& in, bool littleEndian) : in_(in), littleEndian_(littleEndian) {
    Restart(0);
  }
  size_t Read(char* to, size_t size) override {
    size_t done = 0;
    while (done < size) {
      if (next_ == utf8_.size()) {
        if (ended_) break;
        Convert(size);
        continue;
      }
      const size_t n = std::min(size - done, utf8_.size() - next_);
      std::memcpy(to + done, utf8_.data() + next_, n);
      next_ += n;
      done += n;
    }
    return done;
  }
  void Restart(size_t offset) override {
    in_.Restart(2);  // past the UTF-16 mark
    units_.clear();
    ended_ = false;
    utf8_.assign(kBom);
    next_ = std::min(offset, utf8_.size());
  }

 private:
  void Convert(size_t size) {
    const size_t kept = units_.size();
    units_.resize(kept + std::max<size_t>(size, 4));
    const size_t got = in_.Read(units_.data() + kept, units_.size() - kept);
    units_.resize(kept + got);
    size_t whole = units_.size();
    if (got == 0) {
      ended_ = true;
    } else {
      whole -= whole % 2;
      if (whole >= 2) {
        const auto a = static_cast<unsigned char>(units_[whole - 2]);
        const auto b = static_cast<unsigned char>(units_[whole - 1]);
        const unsigned high = littleEndian_ ? b : a;
        if (high >= 0xD8 && high <= 0xDB) whole -= 2;  // the first of a pair
      }
    }
    utf8_ = Utf16ToUtf8(std::string_view(units_).substr(0, whole), littleEndian_);
    next_ = 0;
    units_.erase(0, whole);
  }

  ByteSource& in_;
  const bool littleEndian_;
  std::string units_;  // read, not yet converted
  std::string utf8_;   // converted, not yet handed on from next_
  size_t next_ = 0;
  bool ended_ = false;
};

bool LoadBytes(ByteSource& in, uint64_t size, const std::string& name, CoordinateData& data,
               bool appendOnLoad, LoadReport* report, ProgressMonitor* progress,
               const LoadTuning& tuning, LoadSink* sink);

bool LoadFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
              LoadReport* report, ProgressMonitor* progress, const LoadTuning& tuning,
              LoadSink* sink) {
  const std::u8string utf8 = path.u8string();  // messages are UTF-8, on Windows too
  const std::string name(utf8.begin(), utf8.end());
  // The DXF drawings and KML files an export writes are text, and would be read as lists
  // of junk points at 0, 0.
  const std::string ext = AsciiLower(path.extension().string());
  if (ext == ".dxf" || ext == ".kml") {
    throw Error(MessageId::kWrittenNotRead, {name, ext == ".dxf" ? "DXF" : "KML"});
  }
  std::error_code ec;
  const fs::file_type type = fs::status(path, ec).type();
  std::ifstream in;
  if (type != fs::file_type::directory) in.open(path, std::ios::binary);
  if (!in.is_open()) {  // a folder, or a file that cannot be opened: the whole read's message
    return LoadText(ReadFileBytes(path), name, data, appendOnLoad, report, progress, tuning, sink);
  }
  if (type != fs::file_type::regular) {
    // A pipe or device can be read only once: into a temporary file (in memory while
    // small), to be read from there twice. Bytes that are no text (a device of zeros or
    // random bytes, which never ends) are refused as they come, not kept.
    const std::unique_ptr<SpillFile> spool = SpoolText(name, [&](const PieceTaker& take) {
      std::vector<char> block(size_t{1} << 20);
      while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        take(std::string_view(block.data(), static_cast<size_t>(in.gcount())));
      }
      if (in.bad()) throw Error(MessageId::kFileReadFailed, {name});
    });
    SpooledSource source(*spool);
    return LoadBytes(source, spool->Size(), name, data, appendOnLoad, report, progress, tuning,
                     sink);
  }
  const uintmax_t fileBytes = fs::file_size(path, ec);
  FileSource source(in, name);
  return LoadBytes(source, ec ? UINT64_MAX : fileBytes, name, data, appendOnLoad, report, progress,
                   tuning, sink);
}

// size: the bytes there are, UINT64_MAX when not known.
bool LoadBytes(ByteSource& in, uint64_t size, const std::string& name, CoordinateData& data,
               bool appendOnLoad, LoadReport* report, ProgressMonitor* progress,
               const LoadTuning& tuning, LoadSink* sink) {
  // No bigger than the file: a small file should not cost a block of zeroed memory.
  const size_t blockBytes = std::max<size_t>(
      size == UINT64_MAX ? tuning.blockBytes : std::min<uint64_t>(tuning.blockBytes, size + 1), 16);
  std::string buffer;
  const auto read = [&](size_t keep) {  // appends up to a block after the first keep bytes
    buffer.resize(keep + blockBytes);
    const size_t got = in.Read(buffer.data() + keep, blockBytes);
    buffer.resize(keep + got);
    return got > 0;
  };

  // First pass: is this text, and which? The whole file decides, as in memory. Pieces
  // end at line ends, as in the second pass: the lines from 0x80 up vote on the encoding
  // (on another core while this one counts the lines), plain ASCII lines are only counted.
  // A line longer than a block is not waited for: the count takes it in pieces, and the
  // vote is then taken in a pass of its own over whole lines, as a file with such lines
  // of bytes from 0x80 up is rare.
  LoadReport local;
  LoadReport& rep = report ? *report : local;
  LineCounter counter;
  bool marked = false;  // a UTF-8 byte-order mark: converted whatever the bytes
  EncodingSurvey survey;
  bool multiByte = false;
  bool surveyApart = false;
  bool start = true;
  size_t keep = 0;
  for (bool more = true; more;) {
    more = read(keep);
    if (start) {
      start = false;
      const std::string_view first(buffer);
      // UTF-16 is converted to UTF-8 as it is read.
      if (first.substr(0, 2) == "\xFF\xFE" || first.substr(0, 2) == "\xFE\xFF") {
        Utf16Source utf8(in, first[0] == '\xFF');
        // A unit of two bytes becomes up to three.
        const uint64_t utf8Size = size == UINT64_MAX ? size : size / 2 * 3 + kBom.size();
        return LoadBytes(utf8, utf8Size, name, data, appendOnLoad, report, progress, tuning, sink);
      }
      marked = first.substr(0, 3) == kBom;
    }
    // The bytes just read, before they wait for a line end: a file of zeros is no text,
    // and is told so at its first block.
    if (std::memchr(buffer.data() + keep, 0, buffer.size() - keep)) {
      throw Error(MessageId::kNotText, {name});
    }
    const std::string_view text(buffer);
    std::string_view piece = text.substr(0, more ? WholeLinesEnd(text) : text.size());
    if (piece.empty() && text.size() > blockBytes) {
      piece = text;
      surveyApart = true;
    }
    const bool high = !marked && LastHighByteEnd(piece) > 0;
    multiByte = multiByte || high;
    Aside<void> surveyed;
    if (high && !surveyApart) {
      const auto add = [&survey, piece] { survey.Add(piece); };
      if (piece.size() < kLeastSurveyedApart) {
        add();
      } else {
        surveyed = RunAside(add);
      }
    }
    const size_t linesBefore = counter.Lines();
    counter.Add(piece);
    if (surveyed.valid()) surveyed.get();
    if (!high) survey.Skip(counter.Lines() - linesBefore);
    buffer.erase(0, piece.size());
    keep = buffer.size();
  }
  if (surveyApart && multiByte) {
    survey = EncodingSurvey();
    in.Restart(0);
    buffer.clear();
    keep = 0;
    for (bool more = true; more;) {
      more = read(keep);
      const size_t end = more ? WholeLinesEnd(buffer) : buffer.size();
      survey.Add(std::string_view(buffer).substr(0, end));
      buffer.erase(0, end);
      keep = buffer.size();
    }
  }
  // UTF-8 is converted a piece at a time: pieces end at line ends, which no character
  // spans, so the pieces convert to what the whole file would.
  if (multiByte) survey.Report(rep);
  const bool fromUtf8 = marked || (multiByte && survey.FromUtf8());
  const bool uniform = marked || survey.Uniform();
  std::string firstLine = counter.FirstLine();
  if (fromUtf8) {
    Cp932Text first = Utf8ToCp932(firstLine);
    firstLine = std::move(first.text);
    rep.convertedFromUtf8 = true;
    // A file of one line is read no further, and that line is all of it: its count is
    // the file's, as for a file converted whole.
    rep.replacedCharacters = counter.Lines() < 2 ? first.replaced : 0;
  }
  const auto piece = [&](Reader& reader, std::string_view text) {
    if (!fromUtf8) return reader.Piece(text);
    Cp932Text converted = ConvertUtf8Lines(text, uniform);
    rep.replacedCharacters += converted.replaced;
    return reader.Piece(converted.text);
  };

  // Second pass: the lines, a piece at a time. A piece ends after its last line end; a
  // CR at its very end waits for the next piece, which may begin with its LF.
  return ReadAllOrNothing(name, counter.Lines(), firstLine, counter.LeadingLines(), data,
                          appendOnLoad, rep, progress, tuning, sink, [&](Reader& reader) {
                            in.Restart(marked ? kBom.size() : 0);  // the mark is no text
                            buffer.clear();
                            keep = 0;
                            for (;;) {
                              const bool more = read(keep);
                              std::string_view text(buffer);
                              const size_t cut = more ? WholeLinesEnd(text) : text.size();
                              if (cut > 0 && !piece(reader, text.substr(0, cut))) return;
                              if (!more) {
                                std::string().swap(buffer);
                                return;
                              }
                              buffer.erase(0, cut);
                              keep = buffer.size();
                            }
                          });
}

}  // namespace

void TextBytesCheck::Add(std::string_view piece) {
  if (piece.empty()) return;
  if (!decided_) {
    head_ += piece.substr(0, 2 - head_.size());
    const auto first = static_cast<unsigned char>(head_[0]);
    if (first != 0xFF && first != 0xFE) {
      decided_ = true;
    } else if (head_.size() == 2) {
      decided_ = true;
      utf16_ = head_ == "\xFF\xFE" || head_ == "\xFE\xFF";
    }
  }
  if (!utf16_) {
    seen_ += piece.size();
    if (std::memchr(piece.data(), 0, piece.size())) throw Error(MessageId::kNotText, {name_});
    return;
  }
  // In UTF-16 a NUL is a unit of two zero bytes, at an even place from the start.
  for (const char c : piece) {
    if (seen_++ % 2 == 0) {
      zeroFirst_ = c == '\0';
    } else if (zeroFirst_ && c == '\0') {
      throw Error(MessageId::kNotText, {name_});
    }
  }
}

std::unique_ptr<SpillFile> SpoolText(const std::string& name,
                                     const std::function<void(const PieceTaker&)>& read) {
  std::unique_ptr<SpillFile> spool = MakeInputSpool();
  TextBytesCheck check(name);
  read([&](std::string_view piece) {
    check.Add(piece);
    spool->Write(piece.data(), piece.size());
    return true;
  });
  return spool;
}

bool LoadCoordinateText(std::string bytes, const std::string& name, CoordinateData& data,
                        bool appendOnLoad, LoadReport* report, ProgressMonitor* progress) {
  return LoadText(std::move(bytes), name, data, appendOnLoad, report, progress, LoadTuning{},
                  nullptr);
}

bool LoadCoordinateText(std::string bytes, const std::string& name, CoordinateData& data,
                        bool appendOnLoad, LoadReport* report, ProgressMonitor* progress,
                        const LoadTuning& tuning) {
  return LoadText(std::move(bytes), name, data, appendOnLoad, report, progress, tuning, nullptr);
}

bool LoadCoordinateFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
                        LoadReport* report, ProgressMonitor* progress) {
  return LoadFile(path, data, appendOnLoad, report, progress, LoadTuning{}, nullptr);
}

bool LoadCoordinateFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
                        LoadReport* report, ProgressMonitor* progress, const LoadTuning& tuning) {
  return LoadFile(path, data, appendOnLoad, report, progress, tuning, nullptr);
}

bool StreamCoordinateFile(const std::filesystem::path& path, LoadSink& sink, CoordinateData& data,
                          LoadReport* report, ProgressMonitor* progress, const LoadTuning& tuning) {
  return LoadFile(path, data, true, report, progress, tuning, &sink);
}

bool LoadCoordinateSpool(SpillFile& spool, const std::string& name, CoordinateData& data,
                         bool appendOnLoad, LoadReport* report, ProgressMonitor* progress,
                         const LoadTuning& tuning) {
  SpooledSource source(spool);
  return LoadBytes(source, spool.Size(), name, data, appendOnLoad, report, progress, tuning,
                   nullptr);
}

bool StreamCoordinateSpool(SpillFile& spool, const std::string& name, LoadSink& sink,
                           CoordinateData& data, LoadReport* report, ProgressMonitor* progress,
                           const LoadTuning& tuning) {
  SpooledSource source(spool);
  return LoadBytes(source, spool.Size(), name, data, true, report, progress, tuning, &sink);
}

bool StreamCoordinateText(std::string bytes, const std::string& name, LoadSink& sink,
                          CoordinateData& data, LoadReport* report, ProgressMonitor* progress,
                          const LoadTuning& tuning) {
  return LoadText(std::move(bytes), name, data, true, report, progress, tuning, &sink);
}

void RedrawSimaBlocks(CoordinateData& data) {
  SimaData& sima = data.Sima;
  if (std::none_of(sima.SimaBlocks.begin(), sima.SimaBlocks.end(),
                   [](const SimaBlock& b) { return b.Drawn; })) {
    return;
  }
  sima.SimaLines.clear();
  sima.SimaTexts.clear();
  std::vector<std::pair<double, double>> vertices;
  DrawTableBlocks(sima, data.Table, 0, nullptr, vertices);
}

}  // namespace kestrova
