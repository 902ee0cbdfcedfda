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
  std::FILE** files[] = {&a->shp_, &a->shx_, &a->dbf_};
  const char* extensions[] = {".shp", ".shx", ".dbf"};
  for (int i = 0; i < 3; ++i) {
    // GDAL may have named the set otherwise (it launders characters a file name cannot
    // hold): then it writes the rest itself.
    *files[i] = std::fopen((base + extensions[i]).c_str(), "r+b");
    if (!*files[i]) return nullptr;
    a->buffers_[i].resize(size_t{1} << 20);
    std::setvbuf(*files[i], a->buffers_[i].data(), _IOFBF, a->buffers_[i].size());
  }
  std::array<unsigned char, kShpHeader> shp{};
  std::array<unsigned char, kShpHeader> shx{};
  std::array<unsigned char, 32> dbf{};
  if (!ReadAt(a->shp_, 0, shp.data(), shp.size()) || !ReadAt(a->shx_, 0, shx.data(), shx.size()) ||
      !ReadAt(a->dbf_, 0, dbf.data(), dbf.size()))
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
    if (!ReadAt(a->dbf_, 32 + 32 * i, d.data(), d.size())) return nullptr;
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
  // The next records go where the last one ends (over the end-of-file mark).
  if (!SeekTo(a->shp_, a->shpSize_) || !SeekTo(a->shx_, shxSize) ||
      !SeekTo(a->dbf_, a->dbfHeaderLength_ +
                           uint64_t{a->dbfRecordLength_} * static_cast<uint64_t>(a->records_)))
    a->Fail();
  return a;
}

ShapefilePointAppender::~ShapefilePointAppender() {
  for (std::FILE* f : {shp_, shx_, dbf_})
    if (f) std::fclose(f);
}

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
  Write(shp_, shp.data(), shp.size());
  Write(shx_, shx.data(), shx.size());
  Write(dbf_, record_.data(), record_.size());
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
  Write(dbf_, &kEndOfFile, 1);
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
  const auto put = [this](std::FILE* f, uint64_t at, const auto& bytes) {
    if (!SeekTo(f, at)) Fail();
    Write(f, bytes.data(), bytes.size());
  };
  put(dbf_, 4, count);
  put(shp_, 24, shpLength);
  put(shp_, 36, bounds);
  put(shx_, 24, shxLength);
  put(shx_, 36, bounds);
  for (std::FILE** f : {&shp_, &shx_, &dbf_}) {
    const bool failed = std::ferror(*f) != 0;
    if (std::fclose(std::exchange(*f, nullptr)) != 0 || failed) Fail();
  }
}

void ShapefilePointAppender::Write(std::FILE* file, const void* data, size_t size) {
  errno = 0;
  if (std::fwrite(data, 1, size, file) != size) Fail();
}

void ShapefilePointAppender::Fail() const {
  const int error = errno != 0 ? errno : EIO;
  throw Error(MessageId::kTemporaryCannotWrite,
              {std::filesystem::path(base_).parent_path().string(), std::strerror(error)}, error);
}

}  // namespace kestrova
