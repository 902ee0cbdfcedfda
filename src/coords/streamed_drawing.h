#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/progress.h"
#include "common/spill_file.h"
#include "coords/coordinate_file.h"
#include "coords/point_table.h"

namespace kestrova {

// How the gathering divides its work; tests make the parts tiny to reach every path.
struct StreamTuning {
  size_t pointsPerPartition = size_t{1} << 20;  // point numbers looked up at a time
  size_t refsPerBucket = size_t{1} << 20;       // parcel records put back in order at a time
  size_t mostInMemory = SIZE_MAX;               // bytes a gathered file keeps in memory, at most
};

// A point as the drawing needs it besides its name; MarkValue is its mark read as an
// integer (0 when it is none). Kept as it is in memory, so a range is read in one go.
struct StreamedPoint {
  double X = 0.0;
  double Y = 0.0;
  double Z = 0.0;
  int64_t MarkValue = 0;
  int32_t Number = 0;
  int32_t Row = 0;
};
static_assert(sizeof(StreamedPoint) == 40);

// What is gathered: the drawing (its points with their names, and the lines and labels
// of the parcels and polylines); the printed list (the points with their names, marks
// and remarks, no parcel); or an export (the drawing, the marks and remarks, and the
// parcels and polylines found among all the points, as an export of a table finds them).
enum class StreamedUse { kDrawing, kList, kExport };

// A parcel label as the drawing needs it, its text viewing memory the reader owns.
struct StreamedLabel {
  double X = 0.0;
  double Y = 0.0;
  uint16_t TextKind = 3;
  std::string_view Text;
};

// Gathers what coordinate files hold for a drawing in temporary files rather than in a
// table, so that a drawing of any number of points is made in bounded memory: the points
// in file order (a load marks every row it reads), the bounds of all of them, and, once every file
// is read, the segments and labels of the parcels and polylines, drawn as a load into a table draws
// them. Give it to StreamCoordinateFile for each file in turn, calling StartFile before
// each, then Finish.
class StreamedDrawingData final : public LoadSink {
 public:
  // baseRow: the row whose point is kept as a possible base point. use: what is kept
  // besides the points (Texts for a list or an export, Shapes for an export).
  explicit StreamedDrawingData(int32_t baseRow = 0, const StreamTuning& tuning = {},
                               StreamedUse use = StreamedUse::kDrawing);
  ~StreamedDrawingData() override;

  void StartFile();
  void TakePoints(std::vector<SurveyPoint>& rows, int32_t first) override;
  void TakeBlock(SimaBlock& block, const int32_t* rowsBefore, bool drawn) override;
  // Resolves the parcels' point numbers and draws them; returns, per file, its points
  // whose number a point of an earlier file already has, and for a file with parcels or
  // polylines those whose number a point before them in the file has.
  std::vector<RepeatedNumbers> Finish(ProgressMonitor* progress = nullptr);
  // Once finished, per file (as far as it has any): its drawn parcels and polylines that
  // name a point not read before their record, and so stop there.
  const std::vector<DrawingGaps>& Gaps() const { return gaps_; }

  int32_t PointCount() const { return points_; }
  // Per file (as far as it has any): its parcels and polylines taken that are not drawn
  // (a GIS file's).
  const std::vector<size_t>& BlocksNotDrawn() const { return blocksNotDrawn_; }
  // Points whose mark reads as an integer other than 0.
  int32_t MarkValueCount() const { return markValues_; }
  const DataBounds& Bounds() const { return bounds_; }
  const std::optional<std::pair<double, double>>& BasePoint() const { return basePoint_; }
  // Every point's X and Y are finite numbers (then all lie within the bounds).
  bool AllFinite() const { return finite_; }
  size_t LineCount() const { return lines_; }
  size_t LabelCount() const { return labels_; }
  // Whether Texts and Shapes can be read.
  bool HasTexts() const { return textFile_ != nullptr; }
  bool HasShapes() const { return shapeFile_ != nullptr; }

  // Reading back every point, name, line and label in order, from the start; Next gives
  // false at the end. The texts a name or label views stay valid until the next call.
  class Points {
   public:
    explicit Points(const StreamedDrawingData& data) : file_(*data.pointFile_) { file_.Rewind(); }
    // Up to n points; fewer only at the end.
    size_t Read(StreamedPoint* points, size_t n);

   private:
    SpillFile& file_;
  };
  class Names {
   public:
    explicit Names(const StreamedDrawingData& data) : file_(*data.nameFile_) { file_.Rewind(); }
    bool Next(std::string_view& name);

   private:
    SpillFile& file_;
    std::string scratch_;
  };
  class Lines {
   public:
    explicit Lines(const StreamedDrawingData& data) : file_(*data.lineFile_) { file_.Rewind(); }
    bool Next(SimaLine& line);

   private:
    SpillFile& file_;
  };
  class Labels {
   public:
    explicit Labels(const StreamedDrawingData& data) : file_(*data.labelFile_) { file_.Rewind(); }
    bool Next(StreamedLabel& label);

   private:
    SpillFile& file_;
    std::string scratch_;
  };
  // For an export: every point's mark and remarks, in order.
  class Texts {
   public:
    explicit Texts(const StreamedDrawingData& data);
    bool Next(std::string_view& mark, std::string_view& remarks);

   private:
    SpillFile& file_;
    std::string mark_;
    std::string remarks_;
  };
  // For an export: every parcel and polyline with its records' kinds and numbers (no other
  // field of theirs), and where the first point of all with each record's number lies.
  class Shapes {
   public:
    explicit Shapes(const StreamedDrawingData& data);
    bool Next(SimaBlock& block, std::vector<std::optional<std::pair<double, double>>>& at);

   private:
    SpillFile& file_;
  };

 private:
  std::vector<std::unique_ptr<SpillFile>> Buckets() const;
  // A record finds in buckets only the points read before it, as a load draws it; in
  // anywhere (when given) the first point of all with its number, as an export finds it.
  void Resolve(std::vector<std::unique_ptr<SpillFile>>& buckets,
               std::vector<RepeatedNumbers>& repeated,
               std::vector<std::unique_ptr<SpillFile>>* anywhere);
  template <class Take>
  void EachResolvedBlock(std::vector<std::unique_ptr<SpillFile>>& buckets, const Take& take);
  void Draw(std::vector<std::unique_ptr<SpillFile>>& buckets);
  void KeepShapes(std::vector<std::unique_ptr<SpillFile>>& buckets);
  size_t FileOf(int32_t row) const;

  StreamTuning tuning_;
  int32_t baseRow_ = 0;
  int32_t markValues_ = 0;
  std::vector<size_t> blocksNotDrawn_;
  std::vector<bool> fileBlocks_;  // the files that brought parcels or polylines
  std::optional<std::pair<double, double>> basePoint_;
  int32_t points_ = 0;
  bool finite_ = true;
  uint64_t records_ = 0;
  uint64_t perBucket_ = 1;  // records put back in order at a time
  size_t lines_ = 0;
  size_t labels_ = 0;
  DataBounds bounds_;
  std::vector<int32_t> fileStarts_;  // the first row of every file
  std::vector<DrawingGaps> gaps_;
  std::unique_ptr<SpillFile> pointFile_;
  std::unique_ptr<SpillFile> nameFile_;
  std::unique_ptr<SpillFile> blockFile_;
  std::unique_ptr<SpillFile> lineFile_;
  std::unique_ptr<SpillFile> labelFile_;
  std::unique_ptr<SpillFile> textFile_;   // for a list or an export
  std::unique_ptr<SpillFile> shapeFile_;  // for an export
  bool blocks_ = true;                    // the parcels and polylines are gathered
};

}  // namespace kestrova
