#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "common/progress.h"
#include "coords/point_table.h"

namespace kestrova {

class SpillFile;

// A parcel or polyline block whose closing record ("D99", "F99") is missing: it ended
// at the next block or at the end of the file.
struct UnclosedBlock {
  size_t Line = 0;  // 1-based line of its "D00" or "F00"
  bool Polyline = false;
};

// What a load had to change or guess to read a file, for the user to hear about.
struct LoadReport {
  bool convertedFromUtf8 = false;  // the file was UTF-8 or UTF-16
  // A UTF-8 file's lines that are no UTF-8 (or read as UTF-8 only with characters no
  // survey file holds): kept as code page 932.
  size_t linesNotUtf8 = 0;
  size_t firstLineNotUtf8 = 0;  // 1-based
  // A file read as code page 932 whose lines with characters beyond ASCII are valid
  // UTF-8 too, in part: the other reading, for the user to check.
  size_t utf8LinesReadAsSjis = 0;
  size_t firstUtf8LineReadAsSjis = 0;  // 1-based
  size_t replacedCharacters = 0;       // characters without a code page 932 form, now "?"
  // Non-empty fields that should hold a number and do not ("nan", "1e999", "0x10",
  // "1,5", a point number beyond 32 bits): read as 0, a point number as its row's.
  size_t notANumberFields = 0;
  size_t firstNotANumberLine = 0;  // 1-based; 0 when every number was one
  // Lines of a comma, tab or space list that hold data but do not split at the
  // separator its first data line shows: left out.
  size_t unsplitLines = 0;
  size_t firstUnsplitLine = 0;  // 1-based
  // "#" lines before a list's first point that split as its rows do, left out as comments.
  size_t commentsLikeRows = 0;
  size_t firstCommentLikeRow = 0;  // 1-based
  // SIMA records left out as unknown whose code is a known one with blanks or in lower
  // case (" A01", "a01"), the first one's code as written.
  size_t misspeltRecords = 0;
  size_t firstMisspeltRecord = 0;  // 1-based
  std::string misspeltCode;
  // The same for APA records (" G", "g").
  bool misspeltApa = false;
  // An APA file's point records after its end record "Z": left out.
  size_t apaPointsAfterEnd = 0;
  size_t apaEndLine = 0;  // 1-based
  char separator = ',';   // of a list
  // Names, marks and remarks longer than their fields (255, 15 and 255 bytes): cut.
  size_t textsCut = 0;
  size_t firstTextCutLine = 0;  // 1-based
  std::vector<UnclosedBlock> unclosedBlocks;
  // Parcels and polylines drawn only up to a record naming a point that is not among
  // those read before it (counted where the blocks are drawn).
  size_t blocksCutShort = 0;
  std::string firstCutShort;  // the first one's opening record, "D00,2,LOT2" (UTF-8)
  // Triangles left out of the drawing: a corner is not among the points read before them.
  size_t trianglesLeftOut = 0;
  // Appended points whose number a point of an earlier file already has; parcels that
  // name the number use the earlier point.
  size_t repeatedNumbers = 0;
  bool sima = false;  // the file was read as SIMA
  // A SIMA file's points whose number a point before them in the same file has; its
  // parcels that name the number use the first. The first such point's number.
  size_t repeatedWithin = 0;
  int32_t firstRepeatedWithin = 0;
};

// Points whose numbers repeat, counted where the points of gathered files are indexed.
struct RepeatedNumbers {
  size_t earlier = 0;  // an earlier file's number
  size_t within = 0;   // a number of a point before them in the same file
  int32_t firstWithin = 0;
  int32_t firstWithinRow = 0;  // the row of the first of those, 0 for none
};
// Puts them into the file's report, where its warnings are said; numbers repeated within
// a file count only for SIMA files, whose parcels name points by their number.
void TakeRepeats(LoadReport& report, const RepeatedNumbers& repeats);

// What a file's drawing had to leave out, where the drawing is made after the reading.
struct DrawingGaps {
  size_t blocksCutShort = 0;
  std::string firstCutShort;
  size_t trianglesLeftOut = 0;
};
// Puts what the drawing left out into the file's report, where its warnings are said.
void TakeGaps(LoadReport& report, const DrawingGaps& gaps);

// The report as messages for the user (UTF-8), each starting with name (the file, and
// its line where one is meant). Empty when there is nothing to say.
std::vector<std::string> LoadWarnings(const LoadReport& report, const std::string& name);
// The warnings of the first count files read in turn, as a table's load says them, file
// by file: what reading it found, with repeated[f] points repeating an earlier file's
// numbers and drawn[f] what its drawing left short (both known once every file was read),
// then what its GIS layer said.
std::vector<std::string> FileWarnings(size_t count, std::vector<LoadReport> reports,
                                      const std::vector<std::string>& names,
                                      const std::vector<std::vector<std::string>>& layers,
                                      const std::vector<RepeatedNumbers>& repeated,
                                      const std::vector<DrawingGaps>& drawn = {});

// The message and its arguments for the lines of a list that were left out.
enum class MessageId : int;
MessageId UnsplitLinesId(const LoadReport& report);
std::vector<std::string> UnsplitLinesArgs(const LoadReport& report, const std::string& name);

// Draws the parcels and polylines read from SIMA files again, each record from the
// point it named when read, where that point stands now: after points were edited.
void RedrawSimaBlocks(CoordinateData& data);

// Reads a coordinate file into data: SIMA when the first field of the first line is
// "G00", "A00" or "Z00", APA when it is "A" followed by a field starting with "0",
// otherwise a comma, tab or space separated list (the separator chosen by the first
// line). Blank lines and "#" comments before it do not count as the first line. With appendOnLoad
// the file's points are added after the existing rows (and its parcels may refer to them);
// otherwise the file replaces the points and the SIMA segments and labels.
//
// All or nothing: returns false with nothing changed for a file of fewer than two
// lines, throws kestrova::Error ("FILE:LINE: ...") with nothing changed when the file
// cannot be read, is not text (NUL bytes), is a list of which no line gives a point, or a
// record cannot be understood, and
// otherwise commits the whole file and returns true. Files in UTF-8 (a byte-order mark,
// or valid UTF-8 with multi-byte characters) are recognised and their text brought to
// code page 932; other files are code page 932 and taken byte for byte. UTF-16 with a
// byte-order mark is converted too.
//
// progress (may be null) hears how far the reading is; when it asks to stop, Cancelled is
// thrown with nothing changed.
bool LoadCoordinateFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
                        LoadReport* report = nullptr, ProgressMonitor* progress = nullptr);

// The same for text already in memory; name is used in error messages only.
bool LoadCoordinateText(std::string bytes, const std::string& name, CoordinateData& data,
                        bool appendOnLoad, LoadReport* report = nullptr,
                        ProgressMonitor* progress = nullptr);

// How a load divides its work. The defaults suit every caller; tests force the
// extremes to check that the result never depends on them.
struct LoadTuning {
  size_t blockBytes = 1u << 20;        // the file is read a piece of about this size at a time
  size_t minimumLinesPerRange = 4096;  // a piece's lines are parsed in ranges at once
  // The segments and labels of the parcels and polylines (SimaLines, SimaTexts), which
  // only a drawing shows: an export makes its shapes from the blocks themselves.
  bool drawBlocks = true;
};
bool LoadCoordinateFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
                        LoadReport* report, ProgressMonitor* progress, const LoadTuning& tuning);
bool LoadCoordinateText(std::string bytes, const std::string& name, CoordinateData& data,
                        bool appendOnLoad, LoadReport* report, ProgressMonitor* progress,
                        const LoadTuning& tuning);

// Takes a load's points and parcels as they are read, instead of a table keeping them:
// a drawing of any size can be made without holding its points.
class LoadSink {
 public:
  virtual ~LoadSink() = default;
  // Rows first, first + 1, ... in file order, numbered and named as a table would hold
  // them; the sink may move from them.
  virtual void TakePoints(std::vector<SurveyPoint>& rows, int32_t first) = 0;
  // A parcel or polyline once its last record is read. rowsBefore[i] is the number of
  // rows read before record i: a record names only points read before it. A block not
  // drawn (one a GIS file holds) is kept for saves and exports alone.
  virtual void TakeBlock(SimaBlock& block, const int32_t* rowsBefore, bool drawn) = 0;
};

// Reads a file as an appending LoadCoordinateFile would, with the same errors and report,
// but hands its points and blocks to sink: data's table only counts the rows (PointCount
// goes up, Points stays as it is) and data.Sima takes the site name, titles and
// SimaLoaded. The parcels are not drawn and repeated numbers not counted: both need the
// points, which only the sink has. What the sink took before an error stays taken.
bool StreamCoordinateFile(const std::filesystem::path& path, LoadSink& sink, CoordinateData& data,
                          LoadReport* report = nullptr, ProgressMonitor* progress = nullptr,
                          const LoadTuning& tuning = {});
bool StreamCoordinateText(std::string bytes, const std::string& name, LoadSink& sink,
                          CoordinateData& data, LoadReport* report = nullptr,
                          ProgressMonitor* progress = nullptr, const LoadTuning& tuning = {});
// Loading and streaming what waits in a temporary file (standard input or a pipe, which
// can be read only once, copied there), from its first byte, under name: input of any
// size is read in memory that stays bounded, as often as needed. An error of the
// temporary file throws kestrova::Error.
bool LoadCoordinateSpool(SpillFile& spool, const std::string& name, CoordinateData& data,
                         bool appendOnLoad, LoadReport* report = nullptr,
                         ProgressMonitor* progress = nullptr, const LoadTuning& tuning = {});
bool StreamCoordinateSpool(SpillFile& spool, const std::string& name, LoadSink& sink,
                           CoordinateData& data, LoadReport* report = nullptr,
                           ProgressMonitor* progress = nullptr, const LoadTuning& tuning = {});
// Looks at the bytes of an input as they are copied into a temporary file, and refuses
// (kNotText, naming name) what a load would refuse as no text: a NUL character (a zero
// byte, or in UTF-16 with its byte-order mark a unit of two). A device of zeros or
// random bytes, which never ends, is then refused at its first bytes, not kept.
class TextBytesCheck {
 public:
  explicit TextBytesCheck(std::string name) : name_(std::move(name)) {}
  void Add(std::string_view piece);

 private:
  std::string name_;
  std::string head_;  // the first bytes, until they tell whether the text is UTF-16
  bool decided_ = false;
  bool utf16_ = false;
  uint64_t seen_ = 0;       // bytes looked at
  bool zeroFirst_ = false;  // UTF-16: the last unit's first byte was zero
};

// Copies coordinates that can be read only once (standard input, a pipe or a device)
// into a temporary file (in memory while small), to be loaded from there as often as
// needed. read hands its argument the bytes a piece at a time; they are checked as they
// come, as TextBytesCheck does under name.
using PieceTaker = std::function<bool(std::string_view)>;
std::unique_ptr<SpillFile> SpoolText(const std::string& name,
                                     const std::function<void(const PieceTaker&)>& read);

// Area centroid of the closed polygon through the vertices, (0, 0) for zero area.
struct CentroidResult {
  double X = 0.0;
  double Y = 0.0;
  double Area = 0.0;
};
CentroidResult PolygonCentroid(const std::vector<std::pair<double, double>>& vertices);

enum class CoordinateFormat { kZhy, kSima, kApa, kCsv };

// The save dialog's filter index (1-based): 2 SIMA, 3 APA, 4 tab list, else ZHY.
CoordinateFormat CoordinateFormatFromFilterIndex(int index);
// ".zhy", ".sim", ".apa", ".csv".
const char* CoordinateFormatExtension(CoordinateFormat format);
// From a file name's extension, without regard to case; nullopt when it names none.
std::optional<CoordinateFormat> CoordinateFormatFromPath(const std::filesystem::path& path);
// "zhy", "sima", "apa", "csv".
std::optional<CoordinateFormat> CoordinateFormatFromName(std::string_view name);

// The file's bytes: CR LF after every line, code page 932, numbers rounded to six
// decimals in the general 15-digit form. SIMA also holds the parcels and polylines.
std::string FormatCoordinateFile(const CoordinateData& data, CoordinateFormat format);

// The same bytes handed to output a piece (about a megabyte) at a time, so that the file
// of a large table is never held whole.
using CoordinateOutput = std::function<void(std::string_view)>;
void WriteCoordinateFile(const CoordinateData& data, CoordinateFormat format,
                         const CoordinateOutput& output);

// The same a piece at a time, for a file written as its points are read: the part
// before the points, a point's line, the part after the points (the SIMA parcels and
// polylines follow it, each block as AppendSimaBlock writes it).
void AppendCoordinateHead(std::string& out, const SimaData& sima, CoordinateFormat format);
void AppendCoordinateLine(std::string& out, const SurveyPoint& p, CoordinateFormat format);
void AppendCoordinateTail(std::string& out, CoordinateFormat format);
void AppendSimaBlock(std::string& out, const SimaBlock& block);

// What a save could not keep.
struct SaveReport {
  size_t blocksNotSaved = 0;    // parcels and polylines: only SIMA files hold them
  size_t marksNotSaved = 0;     // points with a mark or remarks: only ZHY and CSV files do
  size_t numbersNotSaved = 0;   // an APA file's points are numbered by their rows
  size_t unmarkedNotSaved = 0;  // unmarked points: no coordinate file holds the state
  size_t textsSplit = 0;        // points whose written texts read back split (SplitsOnReading)
  // Records of parcels and polylines whose point has the number of a row before it (one
  // renumbered in the window): read back, they name that row.
  size_t cornersElsewhere = 0;
  // A SIMA file's site name, a title, or a parcel's or polyline's texts hold "," or a
  // line break.
  bool headSplit = false;
  // A ZHY or CSV file of one point is one line, which is not read back as a file of points.
  bool oneLine = false;
  CoordinateFormat format = CoordinateFormat::kZhy;
};

// Whether the format writes each point's mark and remarks, and whether a point has any
// (blanks alone are none).
bool FormatKeepsMarks(CoordinateFormat format);
bool HasMarkOrRemarks(const SurveyPoint& p);
// Whether a text the format writes of p holds what ends a field or a line when the file
// is read: its separator, a line break, and on a ZHY file's first line a tab as well (it
// makes the whole file read as a tab list).
bool SplitsOnReading(const SurveyPoint& p, CoordinateFormat format, bool firstLine);
// The same for the site name and titles that a SIMA file's head holds, and for the
// number, name and point names of a parcel or polyline that a SIMA file holds.
bool HeadSplitsOnReading(const SimaData& sima, CoordinateFormat format);
bool BlockSplitsOnReading(const SimaBlock& block);

// The report as messages for the user (UTF-8) naming the file; empty when all was kept.
std::vector<std::string> SaveWarnings(const SaveReport& report, const std::string& name,
                                      Language language = Language::kEnglish);

// What a save of data in format would not keep.
SaveReport CoordinateSaveReport(const CoordinateData& data, CoordinateFormat format);

// Writes all rows (marked or not) to path, atomically, and says what the format could
// not hold.
SaveReport SaveCoordinateFile(const std::filesystem::path& path, const CoordinateData& data,
                              CoordinateFormat format);

// The file name without its folder, cut before its first ".". A path, not text: on
// Windows a name goes through no narrow encoding, which could not hold every name.
std::filesystem::path FileStem(const std::filesystem::path& path);

// The APA check character: 32 + (byte sum of the line modulo 64).
char CheckChar(std::string_view line);

}  // namespace kestrova
