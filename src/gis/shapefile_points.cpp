#include "gis/shapefile_points.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "app/messages.h"
#include "common/error.h"
#include "common/sjis.h"

namespace kestrova {

namespace {

constexpr size_t kShpHeader = 100;
constexpr size_t kPointRecord = 28;  // record header 8, shape type 4, x and y 16
constexpr size_t kLongestText = 254;
constexpr char kEndOfFile = 0x1A;

uint32_t BigEndian32(const unsigned char* b) {
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}
void PutBigEndian32(char* b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[i] = static_cast<char>(v >> (24 - 8 * i));
}
uint32_t LittleEndian32(const unsigned char* b) {
  return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}
void PutLittleEndian32(char* b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[i] = static_cast<char>(v >> (8 * i));
}
double LittleEndianDouble(const unsigned char* b) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i)
    bits = bits << 8 | b[i];
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
void PutLittleEndianDouble(char* b, double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof v);
  for (int i = 0; i < 8; ++i)
    b[i] = static_cast<char>(bits >> (8 * i));
}

// A table of ten million points is some 8.5 GB: offsets past 2 GB.
bool SeekTo(std::FILE* f, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool ReadAt(std::FILE* f, uint64_t offset, void* data, size_t size) {
  return SeekTo(f, offset) && std::fread(data, 1, size, f) == size;
}

// Right-aligned in width as printf's "%*" pads; false when the text is wider.
bool PutNumber(std::string& record, size_t at, int width, std::string_view text) {
  if (text.size() > static_cast<size_t>(width)) return false;
  record.replace(at + static_cast<size_t>(width) - text.size(), text.size(), text);
  return true;
}

// A text field as GDAL's Shapefile writer has it: UTF-8 cut at a NUL, then to 254 bytes
// where a character starts (counted in cut). False when it would not fit the field.
bool PutText(std::string& record, size_t at, int width, std::string_view cp932, size_t& cut) {
  std::string utf8 = Cp932ToUtf8(cp932);
  if (utf8.size() > kLongestText) ++cut;
  size_t n = std::min(utf8.size(), utf8.find('\0'));
  if (n > kLongestText) {
    n = kLongestText;
    while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
      --n;
  }
  if (n > static_cast<size_t>(width)) return false;
  record.replace(at, n, utf8, 0, n);
  return true;
}

}  // namespace

std::unique_ptr<ShapefilePointAppender> ShapefilePointAppender::Open(const std::string& base) {
  std::unique_ptr<ShapefilePointAppender> a(new ShapefilePointAppender);
  a->base_ = base;
  const char* extensions[] = {".shp", ".shx", ".dbf"};
  struct Close {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Close> files[3];
  for (int i = 0; i < 3; ++i) {
    // GDAL may have named the set otherwise (it launders characters a file name cannot
    // hold): then it writes the rest itself.
    files[i].reset(std::fopen((base + extensions[i]).c_str(), "rb"));
    if (!files[i]) return nullptr;
  }
  std::FILE* shpIn = files[kShp].get();
  std::FILE* shxIn = files[kShx].get();
  std::FILE* dbfIn = files[kDbf].get();
  std::array<unsigned char, kShpHeader> shp{};
  std::array<unsigned char, kShpHeader> shx{};
  std::array<unsigned char, 32> dbf{};
  if (!ReadAt(shpIn, 0, shp.data(), shp.size()) || !ReadAt(shxIn, 0, shx.data(), shx.size()) ||
      !ReadAt(dbfIn, 0, dbf.data(), dbf.size()))
    return nullptr;
  // Points (shape type 1), as many records in the index as in the table.
  if (LittleEndian32(shp.data() + 32) != 1) return nullptr;
  a->shpSize_ = BigEndian32(shp.data() + 24) * 2;
  const uint32_t shxSize = BigEndian32(shx.data() + 24) * 2;
  a->records_ = static_cast<int32_t>(LittleEndian32(dbf.data() + 4));
  if (shxSize < kShpHeader || (shxSize - kShpHeader) / 8 != static_cast<uint32_t>(a->records_) ||
      a->shpSize_ != kShpHeader + kPointRecord * static_cast<uint32_t>(a->records_))
    return nullptr;
  for (int i = 0; i < 4; ++i)
    a->bounds_[i] = LittleEndianDouble(shp.data() + 36 + 8 * i);
  a->dbfHeaderLength_ = dbf[8] | uint32_t{dbf[9]} << 8;
  a->dbfRecordLength_ = dbf[10] | uint32_t{dbf[11]} << 8;

  // The fields, each as this program makes them: names, types, and widths that hold
  // what GDAL writes into them.
  static constexpr std::pair<std::string_view, char> kFields[] = {
      {"number", 'N'}, {"name", 'C'}, {"x", 'N'},       {"y", 'N'},
      {"z", 'N'},      {"mark", 'C'}, {"remarks", 'C'}, {"marked", 'N'},
  };
  size_t offset = 1;
  for (size_t i = 0; i < std::size(kFields); ++i) {
    std::array<unsigned char, 32> d{};
    if (!ReadAt(dbfIn, 32 + 32 * i, d.data(), d.size())) return nullptr;
    const std::string_view name(reinterpret_cast<const char*>(d.data()),
                                strnlen(reinterpret_cast<const char*>(d.data()), 11));
    Field f;
    f.type = static_cast<char>(d[11]);
    f.width = d[16];
    f.decimals = d[17];
    f.offset = offset;
    if (name != kFields[i].first || f.type != kFields[i].second || f.width == 0) return nullptr;
    offset += static_cast<size_t>(f.width);
    a->fields_.push_back(f);
  }
  if (offset != a->dbfRecordLength_) return nullptr;
  // GDAL's bytes up to where the next records go (over the table's end-of-file mark),
  // a header and a record or two.
  const uint64_t ends[3] = {
      a->shpSize_, shxSize,
      a->dbfHeaderLength_ + uint64_t{a->dbfRecordLength_} * static_cast<uint64_t>(a->records_)};
  for (int i = 0; i < 3; ++i) {
    std::vector<char> bytes(ends[i]);
    if (!ReadAt(files[i].get(), 0, bytes.data(), bytes.size())) return nullptr;
    files[i].reset();
    try {
      a->files_[i] = std::make_unique<AtomicFileWriter>(base + extensions[i]);
    } catch (const Error& e) {
      errno = e.SystemError();
      a->Fail();
    }
    a->Write(static_cast<File>(i), bytes.data(), bytes.size());
  }
  return a;
}

ShapefilePointAppender::~ShapefilePointAppender() = default;

bool ShapefilePointAppender::Append(const SurveyPoint& p, double x, double y, size_t& textsCut) {
  if (!std::isfinite(p.X) || !std::isfinite(p.Y) || !std::isfinite(p.Z) || !std::isfinite(x) ||
      !std::isfinite(y))
    return false;
  record_.assign(dbfRecordLength_, ' ');
  std::array<char, 64> buf{};
  const auto whole = [&](const Field& f, long long v) {
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return f.decimals == 0 &&
           PutNumber(record_, f.offset, f.width,
                     std::string_view(buf.data(), static_cast<size_t>(r.ptr - buf.data())));
  };
  // printf's "%24.15f", cut to the field's width when longer (as GDAL cuts it).
  const auto real = [&](const Field& f, double v) {
    const auto r =
        std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, f.decimals);
    if (r.ec != std::errc()) return false;
    std::string_view text(buf.data(), static_cast<size_t>(r.ptr - buf.data()));
    return PutNumber(record_, f.offset, f.width, text.substr(0, static_cast<size_t>(f.width)));
  };
  const std::vector<Field>& f = fields_;
  size_t cut = 0;
  if (!whole(f[0], p.Number) || !PutText(record_, f[1].offset, f[1].width, p.Name, cut) ||
      !real(f[2], p.X) || !real(f[3], p.Y) || !real(f[4], p.Z) ||
      !PutText(record_, f[5].offset, f[5].width, p.Mark, cut) ||
      !PutText(record_, f[6].offset, f[6].width, p.Remarks, cut) || !whole(f[7], p.Marked))
    return false;
  if (shpSize_ > UINT32_MAX - kPointRecord) return false;  // GDAL refuses the record

  std::array<char, kPointRecord> shp{};
  PutBigEndian32(shp.data(), static_cast<uint32_t>(records_) + 1);
  PutBigEndian32(shp.data() + 4, (kPointRecord - 8) / 2);
  PutLittleEndian32(shp.data() + 8, 1);
  PutLittleEndianDouble(shp.data() + 12, x);
  PutLittleEndianDouble(shp.data() + 20, y);
  std::array<char, 8> shx{};
  PutBigEndian32(shx.data(), shpSize_ / 2);
  PutBigEndian32(shx.data() + 4, (kPointRecord - 8) / 2);
  Write(kShp, shp.data(), shp.size());
  Write(kShx, shx.data(), shx.size());
  Write(kDbf, record_.data(), record_.size());
  shpSize_ += kPointRecord;
  ++records_;
  textsCut += cut;
  // As GDAL widens them: its MIN and MAX, which keep -0.0 and 0.0 apart as they come.
  bounds_[0] = bounds_[0] < x ? bounds_[0] : x;
  bounds_[1] = bounds_[1] < y ? bounds_[1] : y;
  bounds_[2] = bounds_[2] > x ? bounds_[2] : x;
  bounds_[3] = bounds_[3] > y ? bounds_[3] : y;
  return true;
}

void ShapefilePointAppender::Finish() {
  Write(kDbf, &kEndOfFile, 1);
  std::array<char, 4> count{};
  PutLittleEndian32(count.data(), static_cast<uint32_t>(records_));
  std::array<char, 32> bounds{};
  for (int i = 0; i < 4; ++i)
    PutLittleEndianDouble(bounds.data() + 8 * i, bounds_[i]);
  std::array<char, 4> shpLength{};
  std::array<char, 4> shxLength{};
  PutBigEndian32(shpLength.data(), shpSize_ / 2);
  PutBigEndian32(shxLength.data(),
                 static_cast<uint32_t>(kShpHeader + 8 * static_cast<size_t>(records_)) / 2);
  WriteAt(kDbf, 4, count.data(), count.size());
  WriteAt(kShp, 24, shpLength.data(), shpLength.size());
  WriteAt(kShp, 36, bounds.data(), bounds.size());
  WriteAt(kShx, 24, shxLength.data(), shxLength.size());
  WriteAt(kShx, 36, bounds.data(), bounds.size());
  for (std::unique_ptr<AtomicFileWriter>& f : files_) {
    try {
      f->Commit();
    } catch (const Error& e) {
      errno = e.SystemError();
      Fail();
    }
    f.reset();
  }
}

void ShapefilePointAppender::Write(File file, const void* data, size_t size) {
  try {
    files_[file]->Write(data, size);
  } catch (const Error& e) {
    errno = e.SystemError();
    Fail();
  }
}

void ShapefilePointAppender::WriteAt(File file, uint64_t offset, const void* data, size_t size) {
  try {
    files_[file]->WriteAt(offset, data, size);
  } catch (const Error& e) {
    errno = e.SystemError();
    Fail();
  }
}

void ShapefilePointAppender::Fail() const {
  const int error = errno != 0 ? errno : EIO;
  throw Error(MessageId::kTemporaryCannotWrite,
              {std::filesystem::path(base_).parent_path().string(), std::strerror(error)}, error);
}

}  // namespace kestrova
