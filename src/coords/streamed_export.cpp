#include "coords/streamed_export.h"

#include <algorithm>

namespace kestrova {

namespace {

constexpr size_t kBuffer = size_t{1} << 20;

}  // namespace

// By default some 400,000 points' lines stay in memory; a larger file's go to a
// temporary file, as do the blocks beyond a third as many bytes.
StreamedCoordinateWriter::StreamedCoordinateWriter(CoordinateFormat format, size_t inMemory)
    : format_(format), lines_(std::make_unique<SpillFile>(kBuffer, inMemory)) {
  // A folder that takes no temporary file is better known before the first file is read.
  SpillFile::CheckFolder();
  if (format_ == CoordinateFormat::kSima)
    blockLines_ = std::make_unique<SpillFile>(kBuffer, inMemory / 3);
}

StreamedCoordinateWriter::~StreamedCoordinateWriter() = default;

void StreamedCoordinateWriter::Flush(SpillFile& file) {
  file.Write(text_.data(), text_.size());
  text_.clear();
}

void StreamedCoordinateWriter::TakePoints(std::vector<SurveyPoint>& rows, int32_t) {
  const bool keepsMarks = FormatKeepsMarks(format_);
  for (const SurveyPoint& p : rows) {
    if (!keepsMarks) marksNotSaved_ += HasMarkOrRemarks(p);
    // An APA file numbers its points by their rows.
    if (format_ == CoordinateFormat::kApa)
      numbersNotSaved_ += int64_t{p.Number} != static_cast<int64_t>(pointsTaken_) + 1;
    unmarkedNotSaved_ += p.Marked != 1;
    textsSplit_ += SplitsOnReading(p, format_, pointsTaken_++ == 0);
    AppendCoordinateLine(text_, p, format_);
    if (text_.size() >= kBuffer / 4) Flush(*lines_);
  }
  Flush(*lines_);
}

void StreamedCoordinateWriter::TakeBlock(SimaBlock& block, const int32_t*, bool) {
  ++blocks_;
  earliestBlockRow_ = std::min(earliestBlockRow_, block.RowsBefore);
  if (!blockLines_) return;
  blockSplit_ = blockSplit_ || BlockSplitsOnReading(block);
  AppendSimaBlock(text_, block);
  Flush(*blockLines_);
}

void StreamedCoordinateWriter::Write(const SimaData& sima,
                                     const std::function<void(std::string_view)>& write) {
  std::string piece;
  headSplit_ = HeadSplitsOnReading(sima, format_);
  AppendCoordinateHead(piece, sima, format_);
  write(piece);
  piece.resize(kBuffer);
  const auto copy = [&](SpillFile& file) {
    file.Rewind();
    while (const size_t n = file.ReadSome(piece.data(), piece.size()))
      write(std::string_view(piece).substr(0, n));
  };
  copy(*lines_);
  lines_.reset();
  piece.clear();
  AppendCoordinateTail(piece, format_);
  write(piece);
  piece.resize(kBuffer);
  if (blockLines_) copy(*blockLines_);
}

SaveReport StreamedCoordinateWriter::Report() const {
  SaveReport report;
  if (format_ != CoordinateFormat::kSima) report.blocksNotSaved = blocks_;
  report.marksNotSaved = marksNotSaved_;
  report.numbersNotSaved = numbersNotSaved_;
  report.unmarkedNotSaved = unmarkedNotSaved_;
  report.textsSplit = textsSplit_;
  report.headSplit = headSplit_ || blockSplit_;
  report.oneLine = pointsTaken_ == 1 && FormatKeepsMarks(format_);
  report.format = format_;
  return report;
}

}  // namespace kestrova
