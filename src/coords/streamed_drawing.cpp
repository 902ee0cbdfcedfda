#include "coords/streamed_drawing.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "common/error.h"
#include "common/number_text.h"
#include "coords/sima_drawing.h"

namespace kestrova {

// The temporary files' records, in the machine's byte order:
//   point   X, Y, Z (double), mark as an integer (int64), number, row (int32)
//   name    length (uint16), bytes
//   block   polyline (uint8), closing (int32), name length (uint32), name, records
//           (uint64), drawn (uint8), file (uint32), then per record its kind (uint8),
//           number and rows before it (int32)
//   line    start X, Y, end X, Y (double), pen style, pen colour (uint16)
//   label   X, Y (double), text kind, text length (uint16), text
// and, for an export,
//   texts   mark length (uint16), mark, remarks length (uint16), remarks
//   shape   polyline (uint8), closing (int32), name length (uint32), name, records
//           (uint64), then per record its kind (uint8), number (int32), found (uint8), X, Y
// and, while the parcels are resolved,
//   number  number, row (int32), X, Y (double), in one file per part of the numbers
//   record  its place among all records (uint64), number, rows before it (int32)
//   found   its place in its bucket (uint32), X, Y (double)

namespace {

constexpr size_t kMainBuffer = size_t{1} << 20;
constexpr size_t kPartBuffer = size_t{64} << 10;
constexpr size_t kMegabyte = size_t{1} << 20;

// A site of up to about a million points keeps its points, names, parcels, lines and
// labels in memory (some 120 MB at most); larger ones write them to files. Points are
// read back once per kind of entity, so they have the most room.
size_t Keep(size_t megabytes, const StreamTuning& tuning) {
  return std::min(megabytes * kMegabyte, tuning.mostInMemory);
}

uint16_t TextLength(size_t size) {
  if (size > 0xFFFF) throw Error("a text of " + std::to_string(size) + " bytes is too long");
  return static_cast<uint16_t>(size);
}

void ReadText(SpillFile& file, size_t size, std::string& to) {
  to.resize(size);
  file.ReadExactly(to.data(), size);
}

// The part of the numbers a number is looked up in. Its own mix (MurmurHash3's
// finaliser), not the index's: numbers sharing a part must still spread over the
// index's slots, or every lookup would walk one long run of them.
size_t PartOf(int32_t number, size_t parts) {
  uint32_t h = static_cast<uint32_t>(number);
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return static_cast<size_t>((uint64_t{h} * parts) >> 32);
}

constexpr size_t kNumberedBytes = 24;  // a number record
struct NumberedPoint {
  int32_t Number = 0;
  int32_t Row = 0;
  double X = 0.0;
  double Y = 0.0;
};

struct FoundPoint {
  double X = 0.0;
  double Y = 0.0;
  bool Found = false;
};

// A block's fields before its records, and how many records follow.
void PutBlockHead(SpillFile& file, const SimaBlock& block) {
  file.Put(static_cast<uint8_t>(block.Polyline));
  file.Put(block.Closing);
  // A GIS layer's parcel names have no limit of length.
  if (block.Name.size() > UINT32_MAX) throw Error("a parcel's name is too long");
  file.Put(static_cast<uint32_t>(block.Name.size()));
  file.Write(block.Name.data(), block.Name.size());
  const std::string_view number = block.Number.view();
  if (number.size() > UINT32_MAX) throw Error("a parcel's number is too long");
  file.Put(static_cast<uint32_t>(number.size()));
  file.Write(number.data(), number.size());
  file.Put(static_cast<uint64_t>(block.Records.size()));
}
// Reads them back into block, its records made as many as follow; false at the end.
bool GetBlockHead(SpillFile& file, SimaBlock& block) {
  uint8_t polyline = 0;
  if (!file.Read(&polyline, 1)) return false;
  block.Polyline = polyline != 0;
  block.Closing = file.Get<int32_t>();
  ReadText(file, file.Get<uint32_t>(), block.Name);
  std::string number;
  ReadText(file, file.Get<uint32_t>(), number);
  block.Number = number;
  block.Records.resize(static_cast<size_t>(file.Get<uint64_t>()));
  return true;
}

// One block read back: whether it is drawn, its records' kinds and numbers, and the rows
// before each.
bool ReadBlock(SpillFile& file, SimaBlock& block, bool& drawn, uint32_t& fileIndex,
               std::vector<int32_t>& rowsBefore) {
  if (!GetBlockHead(file, block)) return false;
  drawn = file.Get<uint8_t>() != 0;
  fileIndex = file.Get<uint32_t>();
  const size_t count = block.Records.size();
  rowsBefore.resize(count);
  for (size_t i = 0; i < count; ++i) {
    block.Records[i].RecordKind = static_cast<SimaBlockRecord::Kind>(file.Get<uint8_t>());
    block.Records[i].Point.Number = file.Get<int32_t>();
    rowsBefore[i] = file.Get<int32_t>();
  }
  return true;
}

}  // namespace

StreamedDrawingData::StreamedDrawingData(int32_t baseRow, const StreamTuning& tuning,
                                         StreamedUse use)
    : tuning_(tuning),
      baseRow_(baseRow),
      pointFile_(std::make_unique<SpillFile>(kMainBuffer, Keep(64, tuning))),
      nameFile_(std::make_unique<SpillFile>(kMainBuffer, Keep(16, tuning))),
      blockFile_(std::make_unique<SpillFile>(kMainBuffer, Keep(16, tuning))),
      lineFile_(std::make_unique<SpillFile>(kMainBuffer, Keep(16, tuning))),
      labelFile_(std::make_unique<SpillFile>(kMainBuffer, Keep(8, tuning))) {
  // A folder that takes no temporary file is better known before the first file is read.
  SpillFile::CheckFolder();
  if (use != StreamedUse::kDrawing)
    textFile_ = std::make_unique<SpillFile>(kMainBuffer, Keep(16, tuning));
  if (use == StreamedUse::kExport)
    shapeFile_ = std::make_unique<SpillFile>(kMainBuffer, Keep(16, tuning));
  blocks_ = use != StreamedUse::kList;
  tuning_.pointsPerPartition = std::max<size_t>(tuning_.pointsPerPartition, 1);
  tuning_.refsPerBucket = std::max<size_t>(tuning_.refsPerBucket, 1);
  StartDataBounds(bounds_);
}

StreamedDrawingData::~StreamedDrawingData() = default;

void StreamedDrawingData::StartFile() {
  fileStarts_.push_back(points_ + 1);
}

void StreamedDrawingData::TakePoints(std::vector<SurveyPoint>& rows, int32_t first) {
  SpillFile& out = *pointFile_;
  SpillFile& names = *nameFile_;
  int32_t row = first;
  for (const SurveyPoint& p : rows) {
    // Loading marks every row; a row left out would shift every row after it.
    if (p.Marked != 1) throw std::logic_error("an unmarked row was read");
    AddToDataBounds(bounds_, p.X, p.Y);
    finite_ = finite_ && std::isfinite(p.X) && std::isfinite(p.Y);
    if (row == baseRow_) basePoint_.emplace(p.X, p.Y);
    const StreamedPoint point{p.X, p.Y, p.Z, ParseInt(p.Mark).value_or(0), p.Number, row};
    out.Put(point);
    markValues_ += point.MarkValue != 0 ? 1 : 0;
    names.Put(TextLength(p.Name.size()));
    names.Write(p.Name.data(), p.Name.size());
    if (textFile_) {
      for (const PointText* text : {&p.Mark, &p.Remarks}) {
        textFile_->Put(TextLength(text->size()));
        textFile_->Write(text->data(), text->size());
      }
    }
    ++row;
  }
  points_ = row - 1;
}

void StreamedDrawingData::TakeBlock(SimaBlock& block, const int32_t* rowsBefore, bool drawn) {
  const size_t file = fileStarts_.empty() ? 0 : fileStarts_.size() - 1;
  if (fileBlocks_.size() <= file) fileBlocks_.resize(file + 1, false);
  fileBlocks_[file] = true;
  if (!drawn) {
    if (blocksNotDrawn_.size() <= file) blocksNotDrawn_.resize(file + 1, 0);
    ++blocksNotDrawn_[file];
  }
  if (!blocks_ || (!drawn && !shapeFile_)) return;  // neither drawn nor exported
  SpillFile& out = *blockFile_;
  PutBlockHead(out, block);
  out.Put(static_cast<uint8_t>(drawn));
  out.Put(static_cast<uint32_t>(fileStarts_.empty() ? 0 : fileStarts_.size() - 1));
  for (size_t i = 0; i < block.Records.size(); ++i) {
    out.Put(static_cast<uint8_t>(block.Records[i].RecordKind));
    out.Put(block.Records[i].Point.Number);
    out.Put(rowsBefore[i]);
  }
  records_ += block.Records.size();
}

size_t StreamedDrawingData::FileOf(int32_t row) const {
  return static_cast<size_t>(std::upper_bound(fileStarts_.begin(), fileStarts_.end(), row) -
                             fileStarts_.begin()) -
         1;
}

std::vector<RepeatedNumbers> StreamedDrawingData::Finish(ProgressMonitor* progress) {
  if (points_ > 0) FinishDataBounds(bounds_);
  std::vector<RepeatedNumbers> repeated(std::max<size_t>(fileStarts_.size(), 1));
  // Numbers are looked up only for parcels, and to find the points of a later file
  // that repeat an earlier file's numbers, or of a file with parcels its own.
  if (records_ == 0 && fileStarts_.size() < 2 && fileBlocks_.empty()) return repeated;
  ReportProgress(progress, 0.0);
  const size_t buckets = records_ == 0 ? 0 : SpillFileCount(records_, tuning_.refsPerBucket);
  perBucket_ = records_ == 0 ? 1 : (records_ + buckets - 1) / buckets;
  if (perBucket_ > UINT32_MAX) throw Error("too many parcel records to draw");
  std::vector<std::unique_ptr<SpillFile>> found = Buckets();
  // An export also finds each record's point among all the points, in the same pass.
  std::vector<std::unique_ptr<SpillFile>> anywhere;
  if (shapeFile_) anywhere = Buckets();
  Resolve(found, repeated, shapeFile_ ? &anywhere : nullptr);
  ReportProgress(progress, 0.5);
  if (records_ > 0) {
    Draw(found);
    found.clear();
    if (shapeFile_) KeepShapes(anywhere);
    blockFile_.reset();  // read for the last time
  }
  ReportProgress(progress, 1.0);
  return repeated;
}

// The files the points found for the records go to, a bucket of records' places each.
std::vector<std::unique_ptr<SpillFile>> StreamedDrawingData::Buckets() const {
  const size_t buckets =
      records_ == 0 ? 0 : static_cast<size_t>((records_ + perBucket_ - 1) / perBucket_);
  std::vector<std::unique_ptr<SpillFile>> found;
  for (size_t b = 0; b < buckets; ++b)
    found.push_back(buckets == 1 ? std::make_unique<SpillFile>(kMainBuffer, Keep(16, tuning_))
                                 : std::make_unique<SpillFile>(kPartBuffer));
  return found;
}

// Every record's point, a part of the numbers at a time: the points and records of each
// part go to a file of their own, then each part's points are indexed in memory and its
// records looked up, the points found going to the bucket of their record's place.
void StreamedDrawingData::Resolve(std::vector<std::unique_ptr<SpillFile>>& found,
                                  std::vector<RepeatedNumbers>& repeated,
                                  std::vector<std::unique_ptr<SpillFile>>* anywhere) {
  const size_t parts = SpillFileCount(static_cast<uint64_t>(points_), tuning_.pointsPerPartition);
  const auto eachPoint = [this](const auto& take) {
    Points all(*this);
    std::vector<StreamedPoint> range(4096);
    while (const size_t n = all.Read(range.data(), range.size())) {
      for (size_t k = 0; k < n; ++k)
        take(range[k].Number, range[k].Row, range[k].X, range[k].Y);
    }
  };
  const auto eachRecord = [this](const auto& take) {
    blockFile_->Rewind();
    SimaBlock block;
    bool drawn = true;
    uint32_t file = 0;
    std::vector<int32_t> rowsBefore;
    uint64_t place = 0;
    while (ReadBlock(*blockFile_, block, drawn, file, rowsBefore)) {
      // A block not drawn looks for no point to draw: none is read before row 1.
      for (size_t i = 0; i < block.Records.size(); ++i)
        take(place++, block.Records[i].Point.Number, drawn ? rowsBefore[i] : 0);
    }
  };

  // With one part the points and records are read where they lie.
  const bool one = parts == 1;
  std::vector<std::unique_ptr<SpillFile>> numbers;
  std::vector<std::unique_ptr<SpillFile>> records;
  if (!one) {
    for (size_t j = 0; j < parts; ++j) {
      numbers.push_back(std::make_unique<SpillFile>(kPartBuffer));
      records.push_back(std::make_unique<SpillFile>(kPartBuffer));
    }
    eachPoint([&](int32_t number, int32_t row, double x, double y) {
      SpillFile& out = *numbers[PartOf(number, parts)];
      out.Put(number);
      out.Put(row);
      out.Put(x);
      out.Put(y);
    });
    eachRecord([&](uint64_t place, int32_t number, int32_t limit) {
      SpillFile& out = *records[PartOf(number, parts)];
      out.Put(place);
      out.Put(number);
      out.Put(limit);
    });
  }

  std::vector<NumberedPoint> points;
  PointNumberIndex index;
  // A part's points come in row order: the first row with a number wins, and a later
  // file's point repeats it when that row lies in an earlier file, or in the same file
  // when that file has parcels or polylines to name it.
  const auto add = [&](int32_t number, int32_t row, double x, double y) {
    const int32_t k = index.Insert(number, static_cast<int32_t>(points.size() + 1));
    if (k == 0) {
      points.push_back(NumberedPoint{number, row, x, y});
      return;
    }
    const size_t file = std::min(FileOf(row), repeated.size() - 1);
    RepeatedNumbers& r = repeated[file];
    if (FileOf(points[size_t(k - 1)].Row) < file) {
      ++r.earlier;
    } else if (file < fileBlocks_.size() && fileBlocks_[file]) {
      ++r.within;
      if (r.firstWithinRow == 0 || row < r.firstWithinRow) {
        r.firstWithinRow = row;
        r.firstWithin = number;
      }
    }
  };
  const auto look = [&](uint64_t place, int32_t number, int32_t limit) {
    const int32_t k = index.Find(number);
    if (k == 0) return;
    const NumberedPoint& point = points[static_cast<size_t>(k - 1)];
    const auto put = [&](std::vector<std::unique_ptr<SpillFile>>& to) {
      SpillFile& out = *to[static_cast<size_t>(place / perBucket_)];
      out.Put(static_cast<uint32_t>(place % perBucket_));
      out.Put(point.X);
      out.Put(point.Y);
    };
    if (anywhere) put(*anywhere);
    if (point.Row > limit) return;  // read after the record: not seen by it
    put(found);
  };
  for (size_t j = 0; j < parts; ++j) {
    points.clear();
    index.Release();
    if (one) {
      index.Reserve(static_cast<size_t>(points_));
      eachPoint(add);
      eachRecord(look);
      continue;
    }
    SpillFile& in = *numbers[j];
    in.Rewind();
    index.Reserve(static_cast<size_t>(in.Size() / kNumberedBytes));
    int32_t number = 0;
    while (in.Read(&number, sizeof number)) {
      const auto row = in.Get<int32_t>();
      const auto x = in.Get<double>();
      add(number, row, x, in.Get<double>());
    }
    numbers[j].reset();
    SpillFile& refs = *records[j];
    refs.Rewind();
    uint64_t place = 0;
    while (refs.Read(&place, sizeof place)) {
      const auto n = refs.Get<int32_t>();
      look(place, n, refs.Get<int32_t>());
    }
    records[j].reset();
  }
}

// The blocks in file order with their records' points, a bucket at a time.
template <class Take>
void StreamedDrawingData::EachResolvedBlock(std::vector<std::unique_ptr<SpillFile>>& found,
                                            const Take& take) {
  std::vector<FoundPoint> bucket;
  size_t current = found.size();
  const auto load = [&](size_t b) {
    bucket.assign(std::min<uint64_t>(perBucket_, records_ - b * perBucket_), FoundPoint{});
    SpillFile& in = *found[b];
    in.Rewind();
    uint32_t at = 0;
    while (in.Read(&at, sizeof at)) {
      FoundPoint& f = bucket.at(at);
      f.X = in.Get<double>();
      f.Y = in.Get<double>();
      f.Found = true;
    }
    if (current < found.size()) found[current].reset();
    current = b;
  };
  blockFile_->Rewind();
  SimaBlock block;
  bool drawn = true;
  uint32_t fileIndex = 0;
  std::vector<int32_t> rowsBefore;
  std::vector<FoundPoint> blockPoints;
  uint64_t place = 0;
  while (ReadBlock(*blockFile_, block, drawn, fileIndex, rowsBefore)) {
    blockPoints.resize(block.Records.size());
    for (FoundPoint& f : blockPoints) {
      const auto b = static_cast<size_t>(place / perBucket_);
      if (b != current) load(b);
      f = bucket[static_cast<size_t>(place % perBucket_)];
      ++place;
    }
    take(block, drawn, fileIndex, blockPoints);
  }
}

void StreamedDrawingData::Draw(std::vector<std::unique_ptr<SpillFile>>& found) {
  SpillFile& lines = *lineFile_;
  SpillFile& labels = *labelFile_;
  const auto addLine = [&](const FoundPoint& a, const FoundPoint& b, uint16_t style,
                           uint16_t color) {
    lines.Put(a.X);
    lines.Put(a.Y);
    lines.Put(b.X);
    lines.Put(b.Y);
    lines.Put(style);
    lines.Put(color);
    ++lines_;
  };
  const auto addLabel = [&](SimaText&& label) {
    labels.Put(label.X);
    labels.Put(label.Y);
    labels.Put(label.TextKind);
    labels.Put(TextLength(label.Text.size()));
    labels.Write(label.Text.data(), label.Text.size());
    ++labels_;
  };
  std::vector<std::pair<double, double>> vertices;
  EachResolvedBlock(found, [&](const SimaBlock& block, bool drawn, uint32_t file,
                               const std::vector<FoundPoint>& points) {
    if (!drawn) return;
    size_t trianglesLeftOut = 0;
    const bool whole = DrawSimaBlock(
        block,
        [&](size_t i) -> const FoundPoint* { return points[i].Found ? &points[i] : nullptr; },
        addLine, addLabel, vertices, trianglesLeftOut);
    // A drawing stops at a point it cannot find; an export says so of its own shapes.
    if ((!whole || trianglesLeftOut > 0) && !shapeFile_) {
      if (gaps_.size() <= file) gaps_.resize(file + 1);
      if (!whole && gaps_[file].blocksCutShort++ == 0)
        gaps_[file].firstCutShort = OpeningRecord(block);
      gaps_[file].trianglesLeftOut += trianglesLeftOut;
    }
  });
}

void StreamedDrawingData::KeepShapes(std::vector<std::unique_ptr<SpillFile>>& found) {
  SpillFile& out = *shapeFile_;
  EachResolvedBlock(
      found, [&](const SimaBlock& block, bool, uint32_t, const std::vector<FoundPoint>& points) {
        PutBlockHead(out, block);
        for (size_t i = 0; i < block.Records.size(); ++i) {
          out.Put(static_cast<uint8_t>(block.Records[i].RecordKind));
          out.Put(block.Records[i].Point.Number);
          out.Put(static_cast<uint8_t>(points[i].Found));
          out.Put(points[i].X);
          out.Put(points[i].Y);
        }
      });
}

size_t StreamedDrawingData::Points::Read(StreamedPoint* points, size_t n) {
  const size_t bytes = file_.ReadSome(points, n * sizeof *points);
  if (bytes % sizeof *points != 0) file_.Get<StreamedPoint>();  // reports the cut record
  return bytes / sizeof *points;
}

bool StreamedDrawingData::Names::Next(std::string_view& name) {
  uint16_t size = 0;
  if (!file_.Read(&size, sizeof size)) return false;
  ReadText(file_, size, scratch_);
  name = scratch_;
  return true;
}

bool StreamedDrawingData::Lines::Next(SimaLine& line) {
  if (!file_.Read(&line.StartX, sizeof line.StartX)) return false;
  line.StartY = file_.Get<double>();
  line.EndX = file_.Get<double>();
  line.EndY = file_.Get<double>();
  line.PenStyle = file_.Get<uint16_t>();
  line.PenColor = file_.Get<uint16_t>();
  return true;
}

bool StreamedDrawingData::Labels::Next(StreamedLabel& label) {
  if (!file_.Read(&label.X, sizeof label.X)) return false;
  label.Y = file_.Get<double>();
  label.TextKind = file_.Get<uint16_t>();
  ReadText(file_, file_.Get<uint16_t>(), scratch_);
  label.Text = scratch_;
  return true;
}

StreamedDrawingData::Texts::Texts(const StreamedDrawingData& data) : file_(*data.textFile_) {
  file_.Rewind();
}

bool StreamedDrawingData::Texts::Next(std::string_view& mark, std::string_view& remarks) {
  uint16_t size = 0;
  if (!file_.Read(&size, sizeof size)) return false;
  ReadText(file_, size, mark_);
  ReadText(file_, file_.Get<uint16_t>(), remarks_);
  mark = mark_;
  remarks = remarks_;
  return true;
}

StreamedDrawingData::Shapes::Shapes(const StreamedDrawingData& data) : file_(*data.shapeFile_) {
  file_.Rewind();
}

bool StreamedDrawingData::Shapes::Next(SimaBlock& block,
                                       std::vector<std::optional<std::pair<double, double>>>& at) {
  if (!GetBlockHead(file_, block)) return false;
  const size_t count = block.Records.size();
  at.resize(count);
  for (size_t i = 0; i < count; ++i) {
    block.Records[i].RecordKind = static_cast<SimaBlockRecord::Kind>(file_.Get<uint8_t>());
    block.Records[i].Point.Number = file_.Get<int32_t>();
    const bool found = file_.Get<uint8_t>() != 0;
    const auto x = file_.Get<double>();
    const auto y = file_.Get<double>();
    at[i] = found ? std::optional(std::pair(x, y)) : std::nullopt;
  }
  return true;
}

}  // namespace kestrova
