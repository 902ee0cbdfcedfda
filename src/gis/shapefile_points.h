#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "coords/point_table.h"

namespace kestrova {

// Adds point records to a points Shapefile that GDAL has made and closed after writing its
// first point: the .shp, .shx and .dbf records GDAL's writer adds, byte for byte, and on
// Finish the headers it leaves (file lengths, bounds, record count). GDAL formats every
// field through printf and keeps two offsets a record until the file is closed; a million
// points take a third of the time here and no memory that grows with them.
class ShapefilePointAppender {
 public:
  // base: the file set's path without its extension. Null when its files are not the
  // points' layer this program makes (the fields' names, types and order).
  static std::unique_ptr<ShapefilePointAppender> Open(const std::string& base);
  ~ShapefilePointAppender();
  ShapefilePointAppender(const ShapefilePointAppender&) = delete;
  ShapefilePointAppender& operator=(const ShapefilePointAppender&) = delete;

  // Adds the point at (x, y) with p's fields, counting in textsCut its texts cut to the
  // field. False, with nothing written, where GDAL would write the record its own way: a
  // whole number wider than its field (GDAL widens the field in every record) or a value
  // that is not a number.
  bool Append(const SurveyPoint& p, double x, double y, size_t& textsCut);
  // The headers as GDAL leaves them; the files closed. Throws when a write failed.
  void Finish();

 private:
  struct Field {
    char type = 'C';
    int width = 0;
    int decimals = 0;
    size_t offset = 0;  // in the record, after its deletion flag
  };
  enum File { kShp, kShx, kDbf };
  ShapefilePointAppender() = default;
  void Write(File file, const void* data, size_t size);
  void WriteAt(File file, uint64_t offset, const void* data, size_t size);
  [[noreturn]] void Fail() const;

  std::string base_;
  // Each file is written again, GDAL's bytes and then the records, past the system's
  // file cache where it can be (a million points' table is 850 MB), and takes the place
  // of GDAL's when finished.
  std::unique_ptr<AtomicFileWriter> files_[3];
  std::vector<Field> fields_;  // number, name, x, y, z, mark, remarks, marked
  uint32_t shpSize_ = 0;       // the .shp's length in bytes
  int32_t records_ = 0;
  uint32_t dbfHeaderLength_ = 0;
  uint32_t dbfRecordLength_ = 0;
  double bounds_[4] = {};  // minimum x, minimum y, maximum x, maximum y
  std::string record_;
};

}  // namespace kestrova
