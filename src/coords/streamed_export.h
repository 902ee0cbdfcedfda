#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/spill_file.h"
#include "coords/coordinate_file.h"

namespace kestrova {

// Writes a coordinate file of any size without a table: each point's line is made as the
// load hands the point over, and the lines wait in a temporary file (in memory while they
// are few) until every file is read, for a SIMA file's header names the last site read.
// SIMA files get their parcels and polylines the same way; other formats only count them.
class StreamedCoordinateWriter final : public LoadSink {
 public:
  // inMemory: the bytes of lines kept in memory before they all go to a temporary file.
  explicit StreamedCoordinateWriter(CoordinateFormat format, size_t inMemory = size_t{24} << 20);
  ~StreamedCoordinateWriter() override;

  void TakePoints(std::vector<SurveyPoint>& rows, int32_t first) override;
  void TakeBlock(SimaBlock& block, const int32_t* rowsBefore, bool drawn) override;

  // Hands the whole file to write, a piece at a time; sima gives the SIMA header.
  void Write(const SimaData& sima, const std::function<void(std::string_view)>& write);

  // What the file leaves out or will not read back as written, as CoordinateSaveReport
  // says it of a table; the head's part once it is written.
  SaveReport Report() const;

  // Whether a parcel or polyline was read before some of the points: a SIMA save from
  // the table may then have to put it before them to draw the same.
  bool BlocksAmongPoints(int32_t pointCount) const { return earliestBlockRow_ < pointCount; }

 private:
  void Flush(SpillFile& file);

  CoordinateFormat format_;
  size_t blocks_ = 0;
  size_t marksNotSaved_ = 0;
  size_t numbersNotSaved_ = 0;
  size_t unmarkedNotSaved_ = 0;
  size_t textsSplit_ = 0;
  bool headSplit_ = false;
  bool blockSplit_ = false;
  size_t pointsTaken_ = 0;
  int32_t earliestBlockRow_ = INT32_MAX;
  std::string text_;
  std::unique_ptr<SpillFile> lines_;
  std::unique_ptr<SpillFile> blockLines_;
};

// The same load sink handed on to two: what one takes the other sees unchanged.
class TeeSink final : public LoadSink {
 public:
  TeeSink(LoadSink& first, LoadSink& second) : first_(first), second_(second) {}
  void TakePoints(std::vector<SurveyPoint>& rows, int32_t first) override {
    first_.TakePoints(rows, first);
    second_.TakePoints(rows, first);
  }
  void TakeBlock(SimaBlock& block, const int32_t* rowsBefore, bool drawn) override {
    first_.TakeBlock(block, rowsBefore, drawn);
    second_.TakeBlock(block, rowsBefore, drawn);
  }

 private:
  LoadSink& first_;
  LoadSink& second_;
};

}  // namespace kestrova
