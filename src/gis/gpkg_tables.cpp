#include "gis/gpkg_tables.h"

#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "app/messages.h"
#include "common/error.h"
#include "common/parallel.h"

namespace kestrova::gis {

// Rows on their way from the thread that makes them to the one that inserts them, a
// quarter megabyte at a time, a megabyte at most waiting. Each row is as in a table's
// file: its size in 4 bytes, then its values.
class RowPipe {
 public:
  // The inserter gave up: the maker stops at its next handing on.
  struct Cancelled {};

  // The maker's side: a row, then the next; Close once all are put.
  void Put(std::string_view row) {
    filling_ += row;
    if (filling_.size() >= kChunk) Hand();
  }
  // The maker is done, failed when failure is set.
  void Close(std::exception_ptr failure) {
    if (!failure && !filling_.empty()) {
      try {
        Hand();
      } catch (const Cancelled&) {
        return;
      } catch (...) {
        failure = std::current_exception();
      }
    }
    const std::lock_guard lock(mutex_);
    failure_ = std::move(failure);
    closed_ = true;
    changed_.notify_all();
  }

  // The inserter's side: the next rows into chunk (whose room goes back to the maker),
  // false once there are none. Throws what the maker failed with.
  bool Take(std::string& chunk) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !full_.empty() || closed_; });
    if (full_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      return false;
    }
    if (chunk.capacity() >= kChunk) spare_.push_back(std::move(chunk));
    chunk = std::move(full_.front());
    full_.pop_front();
    changed_.notify_all();
    return true;
  }
  // No more rows are taken: the maker's next handing on throws Cancelled.
  void Cancel() {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }

 private:
  static constexpr size_t kChunk = size_t{1} << 18;
  static constexpr size_t kWaiting = 4;

  void Hand() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return full_.size() < kWaiting || cancelled_; });
    if (cancelled_) throw Cancelled{};
    full_.push_back(std::move(filling_));
    filling_.clear();
    if (!spare_.empty()) {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
      filling_.clear();
    }
    changed_.notify_all();
  }

  std::string filling_;  // the maker's own
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> full_;
  std::vector<std::string> spare_;
  std::exception_ptr failure_;
  bool closed_ = false;
  bool cancelled_ = false;
};

namespace {

// A row of the index, or a node as a cell of its parent: the feature's fid or the node's
// number, and its box as the index keeps it (min x, max x, min y, max y). key is the
// cell's place on the Hilbert curve while cells are sorted; once a row's leaf is written,
// the leaf's number. at: a row's place in its run, which comes in fid order.
struct Cell {
  uint32_t key = 0;
  uint32_t at = 0;
  int64_t id = 0;
  float box[4] = {};
};

// text between marks, a mark within it doubled: an SQL name ("), or a string (').
std::string Quoted(const std::string& text, char mark = '"') {
  std::string out(1, mark);
  for (const char c : text) {
    out += c;
    if (c == mark) out += mark;
  }
  return out + mark;
}

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// Rows this program hands to SQLite through a virtual table, "kestrova_feed(n)" of n
// columns: an INSERT ... SELECT from it takes them one after another in one statement,
// as fast as SQLite copies a table, where a statement a row costs as much again.
class Feed {
 public:
  virtual ~Feed() = default;
  // Makes the next row current; false past the last.
  virtual bool Next() = 0;
  // Gives the current row's value in column as the result of c.
  virtual void Value(sqlite3_context* c, int column) = 0;
};

struct FeedTable {
  sqlite3_vtab base{};
  Feed** feed = nullptr;  // the connection's current feed
};
struct FeedCursor {
  sqlite3_vtab_cursor base{};
  Feed* feed = nullptr;
  bool end = true;
  sqlite3_int64 row = 0;
};

// Where a feed's failure waits while SQLite unwinds, to be thrown again by who ran the
// statement.
thread_local std::exception_ptr feedFailure;

int FeedConnect(sqlite3* db, void* feed, int argc, const char* const* argv, sqlite3_vtab** out,
                char** /*error*/) {
  const int columns = argc > 3 ? std::atoi(argv[3]) : 0;
  if (columns < 1) return SQLITE_ERROR;
  try {  // nothing may be thrown through SQLite
    std::string declaration = "CREATE TABLE x(c0";
    for (int i = 1; i < columns; ++i)
      declaration += ", c" + std::to_string(i);
    declaration += ")";
    const int rc = sqlite3_declare_vtab(db, declaration.c_str());
    if (rc != SQLITE_OK) return rc;
    auto* table = new FeedTable;
    table->feed = static_cast<Feed**>(feed);
    *out = &table->base;
    return SQLITE_OK;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  }
}
int FeedDisconnect(sqlite3_vtab* table) {
  delete reinterpret_cast<FeedTable*>(table);
  return SQLITE_OK;
}
int FeedBestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  info->estimatedCost = 1e9;
  return SQLITE_OK;
}
int FeedOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto* cursor = new (std::nothrow) FeedCursor;
  if (!cursor) return SQLITE_NOMEM;
  *out = &cursor->base;
  return SQLITE_OK;
}
int FeedClose(sqlite3_vtab_cursor* cursor) {
  delete reinterpret_cast<FeedCursor*>(cursor);
  return SQLITE_OK;
}
int FeedStep(FeedCursor& c) {
  try {
    c.end = !c.feed || !c.feed->Next();
    ++c.row;
    return SQLITE_OK;
  } catch (...) {
    feedFailure = std::current_exception();
    c.end = true;
    return SQLITE_ERROR;
  }
}
int FeedFilter(sqlite3_vtab_cursor* cursor, int, const char*, int, sqlite3_value**) {
  auto& c = *reinterpret_cast<FeedCursor*>(cursor);
  c.feed = *reinterpret_cast<FeedTable*>(cursor->pVtab)->feed;
  c.row = 0;
  return FeedStep(c);
}
int FeedNext(sqlite3_vtab_cursor* cursor) {
  return FeedStep(*reinterpret_cast<FeedCursor*>(cursor));
}
int FeedEof(sqlite3_vtab_cursor* cursor) {
  return reinterpret_cast<FeedCursor*>(cursor)->end ? 1 : 0;
}
int FeedColumn(sqlite3_vtab_cursor* cursor, sqlite3_context* c, int column) {
  reinterpret_cast<FeedCursor*>(cursor)->feed->Value(c, column);
  return SQLITE_OK;
}
int FeedRowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* row) {
  *row = reinterpret_cast<FeedCursor*>(cursor)->row;
  return SQLITE_OK;
}

const sqlite3_module kFeedModule = {
    0,         FeedConnect, FeedConnect, FeedBestIndex, FeedDisconnect, FeedDisconnect,
    FeedOpen,  FeedClose,   FeedFilter,  FeedNext,      FeedEof,        FeedColumn,
    FeedRowid, nullptr,     nullptr,     nullptr,       nullptr,        nullptr,
    nullptr,   nullptr,     nullptr,     nullptr,       nullptr,        nullptr};

// While it lives, the file at path is handed to the disk a quarter second at a time, and
// the pages written are let go of by the file cache. A page the cache takes for the first
// time can cost far more than the writing into it: on a virtual machine whose host takes
// memory back a page at a time, the pages of a 1.6 GB GeoPackage took the export 13 s of
// system time, and 4 s when let go of as they went to the disk, to be taken again for
// the next. The few that SQLite reads again come back from the disk.
class CacheRelease {
 public:
  explicit CacheRelease([[maybe_unused]] const std::string& path) {
#if defined(POSIX_FADV_DONTNEED)
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {  // no thread to be had: the cache keeps the pages
    }
#endif
  }
  ~CacheRelease() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    stopped_.notify_all();
    if (thread_.joinable()) thread_.join();
#if defined(POSIX_FADV_DONTNEED)
    if (fd_ >= 0) ::close(fd_);
#endif
  }
  CacheRelease(const CacheRelease&) = delete;
  CacheRelease& operator=(const CacheRelease&) = delete;

 private:
  void Run() {
#if defined(POSIX_FADV_DONTNEED)
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopped_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
      lock.unlock();
      // Only written pages are let go of: a failure here leaves them in the cache.
      if (::fdatasync(fd_) == 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
      lock.lock();
    }
#endif
  }

  int fd_ = -1;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

namespace {

int SqliteSystemError(sqlite3* db) {
#if defined(_WIN32)
  // Windows's SQLite keeps GetLastError() codes, which are no errno values.
  db = nullptr;
#endif
  if (db == nullptr) return 0;
  const int code = sqlite3_extended_errcode(db) & 0xff;
  if (code != SQLITE_IOERR && code != SQLITE_FULL && code != SQLITE_CANTOPEN) return 0;
  if (const int e = sqlite3_system_errno(db); e != 0) return e;
  // The errno of the database file's last failed call: SQLite keeps it with the file
  // where the failure came back through a transaction's commit.
  int e = 0;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &e) != SQLITE_OK) return 0;
  return e;
}

}  // namespace

Error SqliteFailure(MessageId id, const std::string& subject, void* connection,
                    const std::string& reason) {
  const int e = SqliteSystemError(static_cast<sqlite3*>(connection));
  return Error(id, {subject, e == 0 ? reason : reason + ": " + std::generic_category().message(e)},
               e);
}

namespace {

class Database {
 public:
  explicit Database(const std::string& path) {
    sqlite3* db = nullptr;
    // One thread uses the connection: no lock around each call.
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(db);
    if (rc != SQLITE_OK) Fail();
    // The index's node, rowid and parent tables are written here directly.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
    if (sqlite3_create_module(db, "kestrova_feed", &kFeedModule, &feed_) != SQLITE_OK) Fail();
    release_.emplace(path);
  }
  // Fails with SQLite's last message, or with why when SQLite has none to give.
  [[noreturn]] void Fail(const char* why = nullptr) const {
    if (why || !db_) {
      throw Error(MessageId::kGisCannotFinish,
                  {"GeoPackage", std::string(": ") + (why ? why : "out of memory")});
    }
    throw SqliteFailure(MessageId::kGisCannotFinish, "GeoPackage", db_.get(),
                        std::string(": ") + sqlite3_errmsg(db_.get()));
  }
  // Inserts feed's rows into table (columns, all when empty) in one statement; how many.
  int64_t Insert(const std::string& table, const std::string& columns, int count, Feed& feed) {
    Run("CREATE VIRTUAL TABLE temp.feed USING kestrova_feed(" + std::to_string(count) + ")");
    feed_ = &feed;
    feedFailure = nullptr;
    const int rc =
        sqlite3_exec(db_.get(),
                     ("INSERT INTO " + table + (columns.empty() ? "" : " (" + columns + ")") +
                      " SELECT * FROM temp.feed")
                         .c_str(),
                     nullptr, nullptr, nullptr);
    feed_ = nullptr;
    if (feedFailure) std::rethrow_exception(std::exchange(feedFailure, nullptr));
    if (rc != SQLITE_OK) Fail();
    const int64_t inserted = sqlite3_changes64(db_.get());
    Run("DROP TABLE temp.feed");
    return inserted;
  }
  bool Has(const std::string& table) {
    return !Text("SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?", table).empty();
  }
  void Run(const std::string& sql) {
    if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }
  Statement Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &s, nullptr) != SQLITE_OK) Fail();
    return Statement(s);
  }
  // Runs s to its end and makes it ready to run again.
  void Step(sqlite3_stmt* s) {
    if (sqlite3_step(s) != SQLITE_DONE) Fail();
    sqlite3_reset(s);
  }
  // The first column of the first row sql gives, with parameter for its ?, empty when
  // there is none.
  std::string Text(const std::string& sql, const std::string& parameter = {}) {
    const Statement s = Prepare(sql);
    if (sqlite3_bind_parameter_count(s.get()) > 0)
      sqlite3_bind_text(s.get(), 1, parameter.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
      return text ? text : "";
    }
    if (rc != SQLITE_DONE) Fail();
    return {};
  }

 private:
  std::unique_ptr<sqlite3, CloseDatabase> db_;
  Feed* feed_ = nullptr;  // the rows the feed table gives now
  // The file this program fills goes to the disk as it grows; stopped before the
  // connection closes.
  std::optional<CacheRelease> release_;
};

uint32_t Read32(const unsigned char* p, bool little) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return little == (std::endian::native == std::endian::little) ? v : __builtin_bswap32(v);
}

double ReadDouble(const unsigned char* p, bool little) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if (little != (std::endian::native == std::endian::little)) v = __builtin_bswap64(v);
  return std::bit_cast<double>(v);
}

// The box GDAL's ST_MinX, ST_MaxX, ST_MinY and ST_MaxY give a GeoPackage geometry (the
// envelope in its header, else that of its WKB); false for an empty geometry, which the
// index leaves out. Blobs GDAL does not write (an unknown version, a point of NaN without
// the empty flag, one cut short) are left out too, where GDAL's triggers would index them
// as a box at 0,0.
bool GeometryBox(const unsigned char* b, size_t n, double box[4]) {
  if (n < 8 || b[0] != 'G' || b[1] != 'P' || b[2] != 0) return false;
  const unsigned flags = b[3];
  if (flags & 0x10) return false;
  const bool little = flags & 1;
  const unsigned envelope = (flags >> 1) & 7;
  if (envelope >= 1 && envelope <= 4) {
    constexpr size_t kEnvelopeBytes[] = {0, 32, 48, 48, 64};
    if (n < 8 + kEnvelopeBytes[envelope]) return false;
    for (int i = 0; i < 4; ++i)
      box[i] = ReadDouble(b + 8 + 8 * i, little);
    return true;
  }
  if (envelope != 0) return false;
  const unsigned char* wkb = b + 8;
  const size_t size = n - 8;
  // A point (ISO 2D, Z, M, ZM or the older 2.5D code) is read here; GDAL leaves points
  // without an envelope.
  if (size >= 21 && (Read32(wkb + 1, wkb[0] == 1) & 0x0fffffff) % 1000 == 1) {
    const double x = ReadDouble(wkb + 5, wkb[0] == 1);
    const double y = ReadDouble(wkb + 13, wkb[0] == 1);
    if (std::isnan(x) || std::isnan(y)) return false;
    box[0] = box[1] = x;
    box[2] = box[3] = y;
    return true;
  }
  OGRGeometry* made = nullptr;
  if (OGRGeometryFactory::createFromWkb(wkb, nullptr, &made, size) != OGRERR_NONE || !made) {
    return false;
  }
  const std::unique_ptr<OGRGeometry> g(made);
  if (g->IsEmpty()) return false;
  OGREnvelope e;
  g->getEnvelope(&e);
  box[0] = e.MinX;
  box[1] = e.MaxX;
  box[2] = e.MinY;
  box[3] = e.MaxY;
  return true;
}

// SQLite's R-tree keeps single precision, a minimum rounded down and a maximum up, in
// just this way, so that its boxes hold the double ones.
float RoundDown(double d) {
  float f = static_cast<float>(d);
  if (f > d) f = static_cast<float>(d * (d < 0 ? 1.0 + 1.0 / 8388608.0 : 1.0 - 1.0 / 8388608.0));
  return f;
}
float RoundUp(double d) {
  float f = static_cast<float>(d);
  if (f < d) f = static_cast<float>(d * (d < 0 ? 1.0 - 1.0 / 8388608.0 : 1.0 + 1.0 / 8388608.0));
  return f;
}

// The cell (x, y) of a 65536 x 65536 grid as its distance along the Hilbert curve.
uint32_t HilbertKey(uint32_t x, uint32_t y) {
  constexpr uint32_t n = 1u << 16;
  uint32_t d = 0;
  for (uint32_t s = n / 2; s > 0; s /= 2) {
    const uint32_t rx = (x & s) ? 1 : 0;
    const uint32_t ry = (y & s) ? 1 : 0;
    d += s * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        x = n - 1 - x;
        y = n - 1 - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

// Sorts cells along the Hilbert curve through their boxes' centres, so that neighbours
// share nodes.
void SortAlongCurve(std::span<Cell> cells) {
  double lo[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  double hi[2] = {-lo[0], -lo[1]};
  const auto centre = [](const Cell& c, int axis) {
    return (static_cast<double>(c.box[2 * axis]) + c.box[2 * axis + 1]) / 2;
  };
  for (const Cell& c : cells) {
    for (int axis = 0; axis < 2; ++axis) {
      const double v = centre(c, axis);
      if (v < lo[axis]) lo[axis] = v;
      if (v > hi[axis]) hi[axis] = v;
    }
  }
  double scale[2];
  for (int axis = 0; axis < 2; ++axis)
    scale[axis] = hi[axis] > lo[axis] ? 65535.0 / (hi[axis] - lo[axis]) : 0.0;
  const auto grid = [&](const Cell& c, int axis) -> uint32_t {
    const double t = (centre(c, axis) - lo[axis]) * scale[axis];
    return t >= 0 ? (t < 65535.0 ? static_cast<uint32_t>(t) : 65535u) : 0u;  // NaN: 0
  };
  for (Cell& c : cells)
    c.key = HilbertKey(grid(c, 0), grid(c, 1));
  std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
    return a.key != b.key ? a.key < b.key : a.id < b.id;
  });
}

// Rows of an R-tree's rowid table, in fid order: each fid and its leaf. The fids are
// first, first + 1, ... unless ids holds them.
class CellLeaves final : public Feed {
 public:
  CellLeaves(int64_t first, std::span<const int64_t> ids, std::span<const uint32_t> leaves)
      : first_(first), ids_(ids), leaves_(leaves) {}
  bool Next() override { return ++at_ < leaves_.size(); }
  void Value(sqlite3_context* c, int column) override {
    if (column == 1) {
      sqlite3_result_int64(c, leaves_[at_]);
    } else {
      sqlite3_result_int64(c, ids_.empty() ? first_ + static_cast<int64_t>(at_) : ids_[at_]);
    }
  }

 private:
  int64_t first_;
  std::span<const int64_t> ids_;
  std::span<const uint32_t> leaves_;
  size_t at_ = static_cast<size_t>(-1);
};

// Writes one R-tree's node, rowid and parent tables. The table was just made: node 1,
// the root, is empty, and its size is that of every node.
class TreeWriter {
 public:
  TreeWriter(Database& db, const std::string& rtree) : db_(db) {
    const std::string size =
        db.Text("SELECT length(data) FROM " + Quoted(rtree + "_node") + " WHERE nodeno = 1");
    nodeSize_ = size.empty() ? 0 : static_cast<size_t>(std::stoul(size));
    capacity_ = nodeSize_ > 4 ? (nodeSize_ - 4) / 24 : 0;
    if (capacity_ < 4) db.Fail("its spatial index has no room for a node");
    blob_.resize(nodeSize_);
    node_ = db.Prepare("INSERT INTO " + Quoted(rtree + "_node") + " VALUES (?, ?)");
    root_ = db.Prepare("UPDATE " + Quoted(rtree + "_node") + " SET data = ? WHERE nodeno = 1");
    rowid_ = Quoted(rtree + "_rowid");
    parent_ = db.Prepare("INSERT INTO " + Quoted(rtree + "_parent") + " VALUES (?, ?)");
  }

  size_t Capacity() const { return capacity_; }

  // Packs cells, sorted along the curve, into nodes as full as an even share allows,
  // below the root; adds the nodes to above as cells of the next level.
  void Pack(std::span<Cell> cells, bool leaves, std::vector<Cell>& above) {
    const size_t nodes = (cells.size() + capacity_ - 1) / capacity_;
    size_t at = 0;
    for (size_t i = 0; i < nodes; ++i) {
      const size_t count = cells.size() / nodes + (i < cells.size() % nodes ? 1 : 0);
      const std::span<Cell> part = cells.subspan(at, count);
      at += count;
      const int64_t number = next_++;
      Write(number, part, 0, leaves);
      sqlite3_bind_int64(node_.get(), 1, number);
      sqlite3_bind_blob(node_.get(), 2, blob_.data(), static_cast<int>(blob_.size()),
                        SQLITE_STATIC);
      db_.Step(node_.get());
      Cell& up = above.emplace_back();
      up.id = number;
      up.box[0] = up.box[2] = std::numeric_limits<float>::infinity();
      up.box[1] = up.box[3] = -std::numeric_limits<float>::infinity();
      for (const Cell& c : part) {
        up.box[0] = std::min(up.box[0], c.box[0]);
        up.box[1] = std::max(up.box[1], c.box[1]);
        up.box[2] = std::min(up.box[2], c.box[2]);
        up.box[3] = std::max(up.box[3], c.box[3]);
      }
    }
  }

  // The root's cells, depth levels above the leaves (0: the root is the only leaf).
  void Root(std::span<Cell> cells, int depth) {
    Write(1, cells, depth, depth == 0);
    sqlite3_bind_blob(root_.get(), 1, blob_.data(), static_cast<int>(blob_.size()), SQLITE_STATIC);
    db_.Step(root_.get());
  }

  // Each of rows' leaf, in fid order; the rows are those of the last leaves packed.
  void Rows(std::span<const Cell> rows) {
    // Back in fid order, each row's leaf put at its place in the run. The run's fids rise
    // with their places: they follow on from the first unless the last is further on,
    // and only then are they kept.
    leaves_.resize(rows.size());
    int64_t first = 0, last = 0;
    for (const Cell& c : rows) {
      leaves_[c.at] = c.key;
      if (c.at == 0) first = c.id;
      if (c.at + size_t{1} == rows.size()) last = c.id;
    }
    ids_.clear();
    if (last - first + 1 != static_cast<int64_t>(rows.size())) {
      ids_.resize(rows.size());
      for (const Cell& c : rows)
        ids_[c.at] = c.id;
    }
    CellLeaves leaves(first, ids_, leaves_);
    db_.Insert(rowid_, "", 2, leaves);
  }

 private:
  // Fills blob_ with a node's cells; a leaf's rows note the leaf, an inner node's
  // children their parent.
  void Write(int64_t number, std::span<Cell> cells, int depth, bool leaf) {
    std::fill(blob_.begin(), blob_.end(), 0);
    const auto put = [this](size_t at, uint64_t v, int bytes) {
      for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        blob_[at + i] = static_cast<unsigned char>(v);
    };
    put(0, static_cast<uint64_t>(depth), 2);
    put(2, cells.size(), 2);
    size_t at = 4;
    for (Cell& c : cells) {
      put(at, static_cast<uint64_t>(c.id), 8);
      for (int k = 0; k < 4; ++k)
        put(at + 8 + 4 * k, std::bit_cast<uint32_t>(c.box[k]), 4);
      at += 24;
      if (leaf) {
        c.key = static_cast<uint32_t>(number);
      } else {
        sqlite3_bind_int64(parent_.get(), 1, c.id);
        sqlite3_bind_int64(parent_.get(), 2, number);
        db_.Step(parent_.get());
      }
    }
  }

  Database& db_;
  size_t nodeSize_ = 0;
  size_t capacity_ = 0;
  int64_t next_ = 2;
  std::vector<unsigned char> blob_;
  std::string rowid_;
  Statement node_, root_, parent_;
  std::vector<uint32_t> leaves_;
  std::vector<int64_t> ids_;
};

// A row's index cell as Fill notes it: its fid, then its box.
void PutCell(SpillFile& cells, int64_t id, const double box[4]) {
  cells.Put(id);
  cells.Put(RoundDown(box[0]));
  cells.Put(RoundUp(box[1]));
  cells.Put(RoundDown(box[2]));
  cells.Put(RoundUp(box[3]));
}
bool GetCell(SpillFile& cells, Cell& c) {
  if (!cells.Read(&c.id, sizeof c.id)) return false;
  cells.ReadExactly(c.box, sizeof c.box);
  return true;
}

// Makes the spatial index of table from its rows in fid order: the cells noted as they
// were inserted (gathered), else the rows read back.
void IndexTable(Database& db, const std::string& table, size_t runRows, SpillFile* gathered) {
  const std::string geometry = db.Text(
      "SELECT column_name FROM gpkg_geometry_columns WHERE lower(table_name) = lower(?)", table);
  if (geometry.empty()) return;  // a table without geometry has no spatial index
  const std::string fid = db.Text("SELECT name FROM pragma_table_info(?) WHERE pk = 1", table);
  if (fid.empty()) db.Fail(("the table " + table + " has no key").c_str());
  const std::string rtree = "rtree_" + table + "_" + geometry;
  const std::string t = Quoted(table), r = Quoted(rtree), g = Quoted(geometry), f = Quoted(fid);
  db.Run("CREATE VIRTUAL TABLE " + r + " USING rtree(id, minx, maxx, miny, maxy)");

  TreeWriter tree(db, rtree);
  Statement rows;
  if (gathered) {
    gathered->Rewind();
  } else {
    rows = db.Prepare("SELECT " + f + ", " + g + " FROM " + t + " ORDER BY " + f);
  }
  // The next run of rows into cells, in fid order; false once the rows have run out.
  const auto readRun = [&](std::vector<Cell>& cells) {
    cells.clear();
    while (cells.size() < runRows) {
      if (gathered) {
        Cell c;
        if (!GetCell(*gathered, c)) return false;
        c.at = static_cast<uint32_t>(cells.size());
        cells.push_back(c);
        continue;
      }
      const int rc = sqlite3_step(rows.get());
      if (rc == SQLITE_DONE) return false;
      if (rc != SQLITE_ROW) db.Fail();
      double box[4];
      const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(rows.get(), 1));
      if (!blob ||
          !GeometryBox(blob, static_cast<size_t>(sqlite3_column_bytes(rows.get(), 1)), box))
        continue;
      Cell& c = cells.emplace_back();
      c.at = static_cast<uint32_t>(cells.size() - 1);
      c.id = sqlite3_column_int64(rows.get(), 0);
      c.box[0] = RoundDown(box[0]);
      c.box[1] = RoundUp(box[1]);
      c.box[2] = RoundDown(box[2]);
      c.box[3] = RoundUp(box[3]);
    }
    return true;
  };
  std::vector<Cell> run, next;
  run.reserve(runRows);  // its pages are taken only as rows fill them
  bool more = readRun(run);
  if (more && gathered) next.reserve(runRows);   // the run read while this one is written
  if (!more && run.size() <= tree.Capacity()) {  // the root is the only leaf
    tree.Root(run, 0);
    tree.Rows(run);
  } else {
    std::vector<Cell> level;  // the leaves packed so far, then each level's nodes
    SortAlongCurve(run);
    const auto readSorted = [&] {
      const bool after = readRun(next);
      SortAlongCurve(next);
      return after;
    };
    for (;;) {
      // Noted cells are read and sorted on another core while the run before is written;
      // the table's rows are read through the connection, which this thread uses.
      Aside<bool> following;
      if (more && gathered) following = RunAside(readSorted);
      tree.Pack(run, true, level);
      tree.Rows(run);
      if (!more) break;
      more = following.valid() ? following.get() : readSorted();
      run.swap(next);
    }
    int depth = 1;
    while (level.size() > tree.Capacity()) {
      std::vector<Cell> above;
      SortAlongCurve(level);
      tree.Pack(level, false, above);
      level.swap(above);
      ++depth;
    }
    tree.Root(level, depth);
  }

  db.Run(
      "INSERT INTO gpkg_extensions (table_name,column_name,extension_name,definition,scope) "
      "VALUES (" +
      Quoted(table, '\'') + ", " + Quoted(geometry, '\'') +
      ", 'gpkg_rtree_index', 'http://www.geopackage.org/spec120/#extension_rtree', "
      "'write-only')");
  const std::string box = "(NEW." + f + ",ST_MinX(NEW." + g + "), ST_MaxX(NEW." + g +
                          "),ST_MinY(NEW." + g + "), ST_MaxY(NEW." + g + "))";
  const auto trigger = [&](const char* name, const std::string& rest) {
    db.Run("CREATE TRIGGER " + Quoted(rtree + name) + " " + rest);
  };
  trigger("_insert", "AFTER INSERT ON " + t + " WHEN (new." + g +
                         " NOT NULL AND NOT ST_IsEmpty(NEW." + g +
                         ")) BEGIN INSERT OR REPLACE INTO " + r + " VALUES " + box + "; END");
  trigger("_update1", "AFTER UPDATE OF " + g + " ON " + t + " WHEN OLD." + f + " = NEW." + f +
                          " AND (NEW." + g + " NOTNULL AND NOT ST_IsEmpty(NEW." + g +
                          ")) BEGIN INSERT OR REPLACE INTO " + r + " VALUES " + box + "; END");
  trigger("_update2", "AFTER UPDATE OF " + g + " ON " + t + " WHEN OLD." + f + " = NEW." + f +
                          " AND (NEW." + g + " ISNULL OR ST_IsEmpty(NEW." + g +
                          ")) BEGIN DELETE FROM " + r + " WHERE id = OLD." + f + "; END");
  trigger("_update3", "AFTER UPDATE ON " + t + " WHEN OLD." + f + " != NEW." + f + " AND (NEW." +
                          g + " NOTNULL AND NOT ST_IsEmpty(NEW." + g + ")) BEGIN DELETE FROM " + r +
                          " WHERE id = OLD." + f + "; INSERT OR REPLACE INTO " + r + " VALUES " +
                          box + "; END");
  trigger("_update4", "AFTER UPDATE ON " + t + " WHEN OLD." + f + " != NEW." + f + " AND (NEW." +
                          g + " ISNULL OR ST_IsEmpty(NEW." + g + ")) BEGIN DELETE FROM " + r +
                          " WHERE id IN (OLD." + f + ", NEW." + f + "); END");
  trigger("_delete", "AFTER DELETE ON " + t + " WHEN old." + g + " NOT NULL BEGIN DELETE FROM " +
                         r + " WHERE id = OLD." + f + "; END");
}

void PutLittle(std::string& out, uint64_t v, int bytes) {
  char b[8];
  for (int i = 0; i < 8; ++i, v >>= 8)
    b[i] = static_cast<char>(v & 0xff);
  out.append(b, static_cast<size_t>(bytes));
}

uint64_t GetLittle(const unsigned char*& p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i)
    v |= static_cast<uint64_t>(*p++) << (8 * i);
  return v;
}

// What a row's value is, in the file the rows wait in.
enum Kind : unsigned char { kNull, kInteger, kReal, kText };

[[noreturn]] void SpillFailed(MessageId id, const std::string& spill) {
  const int error = errno != 0 ? errno : EIO;
  throw Error(id, {std::filesystem::path(spill).parent_path().string(), std::strerror(error)},
              error);
}

// A table's rows read back from the file they waited in, or taken from their maker as
// they are made.
class SpilledRows final : public Feed {
 public:
  // cells: where each row's index cell is noted, numbered from 1 in order, or nullptr.
  SpilledRows(std::FILE* file, size_t fields, const unsigned char srs[4], SpillFile* cells)
      : file_(file), cells_(cells), values_(fields + 1) {
    std::memcpy(srs_, srs, 4);
  }
  SpilledRows(RowPipe& pipe, size_t fields, const unsigned char srs[4], SpillFile* cells)
      : SpilledRows(nullptr, fields, srs, cells) {
    pipe_ = &pipe;
  }

  bool Next() override {
    unsigned char* p = nullptr;
    size_t rowSize = 0;
    if (pipe_) {
      while (at_ == chunk_.size()) {
        if (!pipe_->Take(chunk_)) return false;
        at_ = 0;
      }
      if (chunk_.size() - at_ < 4) Broken();
      const unsigned char* h = reinterpret_cast<const unsigned char*>(chunk_.data() + at_);
      rowSize = GetLittle(h, 4);
      if (chunk_.size() - at_ - 4 < rowSize) Broken();
      p = reinterpret_cast<unsigned char*>(chunk_.data() + at_ + 4);
      at_ += 4 + rowSize;
    } else {
      unsigned char head[4];
      const size_t got = std::fread(head, 1, 4, file_);
      if (got == 0 && !std::ferror(file_)) return false;
      if (got != 4) Broken();
      const unsigned char* h = head;
      rowBytes_.resize(GetLittle(h, 4));
      if (std::fread(rowBytes_.data(), 1, rowBytes_.size(), file_) != rowBytes_.size()) Broken();
      p = rowBytes_.data();
      rowSize = rowBytes_.size();
    }
    const unsigned char* const end = p + rowSize;
    const auto need = [&](size_t n) {
      if (static_cast<size_t>(end - p) < n) Broken();
    };
    need(1);
    if (*p++ == 0) {
      values_[0] = {kNull};
    } else {
      need(4);
      const unsigned char* at = p;
      const size_t size = GetLittle(at, 4);
      p += 4;
      need(size);
      if (size < 8) Broken();
      std::memcpy(p + 4, srs_, 4);
      values_[0] = {kText, p, size};  // a blob
      double box[4];
      if (cells_ && GeometryBox(p, size, box)) PutCell(*cells_, row_ + 1, box);
      p += size;
    }
    for (size_t i = 1; i < values_.size(); ++i) {
      need(1);
      const unsigned char* at = p + 1;
      switch (*p) {
        case kNull:
          values_[i] = {kNull};
          p += 1;
          break;
        case kInteger:
        case kReal:
          need(9);
          values_[i] = {static_cast<Kind>(*p), nullptr, GetLittle(at, 8)};
          p += 9;
          break;
        case kText: {
          need(5);
          const size_t size = GetLittle(at, 4);
          p += 5;
          need(size);
          values_[i] = {kText, p, size};
          p += size;
          break;
        }
        default:
          Broken();
      }
    }
    ++row_;
    return true;
  }

  void Value(sqlite3_context* c, int column) override {
    const Slot& v = values_[static_cast<size_t>(column)];
    switch (v.kind) {
      case kNull:
        sqlite3_result_null(c);
        break;
      case kInteger:
        sqlite3_result_int64(c, static_cast<sqlite3_int64>(v.bits));
        break;
      case kReal:
        sqlite3_result_double(c, std::bit_cast<double>(v.bits));
        break;
      case kText:
        if (column == 0) {
          sqlite3_result_blob(c, v.data, static_cast<int>(v.bits), SQLITE_TRANSIENT);
        } else {
          sqlite3_result_text(c, reinterpret_cast<const char*>(v.data), static_cast<int>(v.bits),
                              SQLITE_TRANSIENT);
        }
        break;
    }
  }

 private:
  [[noreturn]] static void Broken() {
    throw Error(MessageId::kGisCannotFinish,
                {"GeoPackage", ": the rows it was to hold were not read back whole"});
  }
  struct Slot {
    Kind kind = kNull;
    const unsigned char* data = nullptr;
    uint64_t bits = 0;  // an integer's or a real's bits, a text's or a blob's size
  };

  std::FILE* file_;
  RowPipe* pipe_ = nullptr;
  std::string chunk_;  // rows taken from pipe_, read up to at_
  size_t at_ = 0;
  SpillFile* cells_;
  int64_t row_ = 0;  // rows given so far
  unsigned char srs_[4] = {};
  std::vector<unsigned char> rowBytes_;
  std::vector<Slot> values_;  // the geometry, then the fields
};

}  // namespace

struct GpkgTable {
  std::string name;
  std::vector<std::string> fields;
  OGREnvelope extent;
  bool hasExtent = false;
  std::string spill;
  std::FILE* file = nullptr;
  std::unique_ptr<char[]> buffer;  // file's, for as long as it is open
  size_t rows = 0;
  // Each row's fid and index box, where it has a box, once the rows are in the table.
  std::unique_ptr<SpillFile> cells;
  std::function<void(GpkgRow&)> later;  // makes the rows as they are inserted (Later)
};

namespace {

// Opens the file where t's rows wait.
void OpenSpill(GpkgTable& t) {
  errno = 0;
  t.file = std::fopen(t.spill.c_str(), "w+bx");  // never another file of the folder
  if (!t.file) SpillFailed(MessageId::kTemporaryCannotCreate, t.spill);
  // A megabyte a call to the system, not a page. (The C library takes a size only with a
  // buffer of the caller's: without one, it reads and writes 4 KB at a time.)
  constexpr size_t kBuffer = size_t{1} << 20;
  t.buffer = std::make_unique_for_overwrite<char[]>(kBuffer);
  std::setvbuf(t.file, t.buffer.get(), _IOFBF, kBuffer);
}

// Makes the rows written to t's file ready to be read back from the start.
void Rewind(GpkgTable& t) {
  errno = 0;
  if (std::fflush(t.file) != 0 || std::fseek(t.file, 0, SEEK_SET) != 0)
    SpillFailed(MessageId::kTemporaryCannotWrite, t.spill);
}

}  // namespace

GpkgRows::GpkgRows(std::string spill) : spill_(std::move(spill)) {}

GpkgRows::~GpkgRows() {
  for (const std::unique_ptr<GpkgTable>& t : tables_) {
    if (t->file) std::fclose(t->file);
    std::remove(t->spill.c_str());
  }
}

GpkgTable& GpkgRows::AddTable(const std::string& table, const std::vector<std::string>& fields) {
  GpkgTable& t = *tables_.emplace_back(std::make_unique<GpkgTable>());
  t.name = table;
  t.fields = fields;
  t.spill = spill_ + "-" + std::to_string(tables_.size() - 1);
  return t;
}

GpkgTable& GpkgRows::TableFor(const std::string& table, const std::vector<std::string>& fields) {
  if (last_ >= tables_.size() || tables_[last_]->name != table) {
    last_ = 0;
    while (last_ < tables_.size() && tables_[last_]->name != table)
      ++last_;
    if (last_ == tables_.size()) OpenSpill(AddTable(table, fields));
  }
  GpkgTable& t = *tables_[last_];
  if (t.later) throw std::logic_error("a table's rows made later are all its rows");
  if (fields.size() != t.fields.size()) {
    throw Error(MessageId::kGisCannotFinish,
                {"GeoPackage", ": the fields of " + table + " changed between its rows"});
  }
  return t;
}

GpkgRow& GpkgRows::Begin(const std::string& table, const std::vector<std::string>& fields) {
  row_.table_ = &TableFor(table, fields);
  row_.Begin();
  return row_;
}

void GpkgRows::Later(const std::string& table, const std::vector<std::string>& fields, size_t rows,
                     std::function<void(GpkgRow&)> make) {
  if (!make) throw std::logic_error("rows made later need their maker");
  for (const std::unique_ptr<GpkgTable>& t : tables_) {
    if (t->name == table) throw std::logic_error("a table's rows made later are all its rows");
  }
  GpkgTable& t = AddTable(table, fields);
  t.rows = rows;
  t.later = std::move(make);
}

void GpkgRow::Begin() {
  row_.assign(4, '\0');  // the row's length, once known
  values_ = 0;
}

void GpkgRow::Geometry(const OGRGeometry* g) {
  if (!g) {
    row_ += '\0';
    return;
  }
  // GDAL's blob: "GP", version 0, the flags (little-endian, the envelope's kind, empty),
  // the spatial reference (filled in with the table's), the envelope and ISO WKB.
  row_ += '\1';
  const bool empty = g->IsEmpty();
  const bool point = wkbFlatten(g->getGeometryType()) == wkbPoint;
  const int envelope = point || empty ? 0 : g->Is3D() ? 2 : 1;
  const size_t head = 8 + (envelope == 0 ? 0 : envelope == 1 ? 32 : 48);
  const size_t wkb = g->WkbSize();
  PutLittle(row_, head + wkb, 4);
  row_ += "GP";
  row_ += '\0';
  row_ += static_cast<char>(1 | envelope << 1 | (empty ? 0x10 : 0));
  PutLittle(row_, 0, 4);
  if (!empty) {
    OGREnvelope3D e;
    g->getEnvelope(&e);
    if (envelope > 0) {
      for (const double v : {e.MinX, e.MaxX, e.MinY, e.MaxY})
        PutLittle(row_, std::bit_cast<uint64_t>(v), 8);
    }
    if (envelope == 2) {
      for (const double v : {e.MinZ, e.MaxZ})
        PutLittle(row_, std::bit_cast<uint64_t>(v), 8);
    }
    GpkgTable& t = *table_;
    if (t.hasExtent) {
      t.extent.Merge(e);
    } else {
      t.extent = e;
      t.hasExtent = true;
    }
  }
  const size_t at = row_.size();
  row_.resize(at + wkb);
  g->exportToWkb(wkbNDR, reinterpret_cast<unsigned char*>(row_.data() + at), wkbVariantIso);
}

void GpkgRow::Null() {
  row_ += static_cast<char>(kNull);
  ++values_;
}

void GpkgRow::Integer(int64_t v) {
  row_ += static_cast<char>(kInteger);
  PutLittle(row_, static_cast<uint64_t>(v), 8);
  ++values_;
}

void GpkgRow::Real(double v) {
  row_ += static_cast<char>(kReal);
  PutLittle(row_, std::bit_cast<uint64_t>(v), 8);
  ++values_;
}

void GpkgRow::Text(std::string_view v) {
  row_ += static_cast<char>(kText);
  PutLittle(row_, v.size(), 4);
  row_ += v;
  ++values_;
}

void GpkgRow::End() {
  GpkgTable& t = *table_;
  if (values_ != t.fields.size()) {
    throw Error(MessageId::kGisCannotFinish,
                {"GeoPackage", ": a row of " + t.name + " lacks fields"});
  }
  const uint32_t size = static_cast<uint32_t>(row_.size() - 4);
  for (int i = 0; i < 4; ++i)
    row_[i] = static_cast<char>(size >> (8 * i));
  if (pipe_) {
    pipe_->Put(row_);
    return;
  }
  errno = 0;
  if (std::fwrite(row_.data(), 1, row_.size(), t.file) != row_.size())
    SpillFailed(MessageId::kTemporaryCannotWrite, t.spill);
  ++t.rows;
}

size_t GpkgRows::Rows(const std::string& table) const {
  for (const std::unique_ptr<GpkgTable>& t : tables_) {
    if (t->name == table) return t->rows;
  }
  return 0;
}

void GpkgRows::Fill(const std::string& path) {
  // A table that got no rows, or whose rows made later are none, is no table of the file's.
  std::erase_if(tables_, [](const std::unique_ptr<GpkgTable>& t) {
    if (t->rows > 0) return false;
    if (t->file) std::fclose(t->file);
    std::remove(t->spill.c_str());
    return true;
  });
  for (const std::unique_ptr<GpkgTable>& table : tables_) {
    if (table->file) Rewind(*table);
  }
  Database db(path);
  db.Run("PRAGMA synchronous = OFF");  // scratch until it is put in place
  db.Run("BEGIN");
  // GDAL adds triggers that count a table's rows as they are inserted and deleted when it
  // closes the file. Counting costs more than inserting: they are taken off while the
  // rows go in and made again as they were, in their order.
  std::vector<std::string> triggers;
  {
    const Statement s =
        db.Prepare("SELECT name, sql FROM sqlite_master WHERE type = 'trigger' ORDER BY rowid");
    std::vector<std::string> names;
    for (int rc; (rc = sqlite3_step(s.get())) != SQLITE_DONE;) {
      if (rc != SQLITE_ROW) db.Fail();
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
      const auto* sql = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1));
      const std::string_view n = name ? name : "";
      const bool ours =
          std::any_of(tables_.begin(), tables_.end(), [&n](const std::unique_ptr<GpkgTable>& t) {
            return n == "trigger_insert_feature_count_" + t->name ||
                   n == "trigger_delete_feature_count_" + t->name;
          });
      if (!ours || !sql) continue;
      names.emplace_back(n);
      triggers.emplace_back(sql);
    }
    for (const std::string& name : names)
      db.Run("DROP TRIGGER " + Quoted(name));
  }

  for (const std::unique_ptr<GpkgTable>& table : tables_) {
    GpkgTable& t = *table;
    const Statement geometry = db.Prepare(
        "SELECT column_name, srs_id FROM gpkg_geometry_columns WHERE lower(table_name) = "
        "lower(?)");
    sqlite3_bind_text(geometry.get(), 1, t.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(geometry.get()) != SQLITE_ROW)
      db.Fail(("the table " + t.name + " has no geometry").c_str());
    const auto* column = reinterpret_cast<const char*>(sqlite3_column_text(geometry.get(), 0));
    const auto srsId = static_cast<uint32_t>(sqlite3_column_int(geometry.get(), 1));
    unsigned char srs[4];
    for (int k = 0; k < 4; ++k)
      srs[k] = static_cast<unsigned char>(srsId >> (8 * k));
    std::string columns = Quoted(column ? column : "");
    for (const std::string& f : t.fields)
      columns += ", " + Quoted(f);
    if (t.rows > 0) t.cells = std::make_unique<SpillFile>();
    // A table's rows made later are made on another thread as they are inserted.
    RowPipe pipe;
    GpkgRow laterRow(&t);
    std::thread maker;
    const struct Stop {
      RowPipe& pipe;
      std::thread& maker;
      ~Stop() {
        pipe.Cancel();
        if (maker.joinable()) maker.join();
      }
    } stop{pipe, maker};
    if (t.later) {
      laterRow.pipe_ = &pipe;
      try {
        maker = std::thread([&t, &pipe, &laterRow] {
          std::exception_ptr failure;
          try {
            t.later(laterRow);
          } catch (const RowPipe::Cancelled&) {
            return;
          } catch (...) {
            failure = std::current_exception();
          }
          pipe.Close(failure);
        });
      } catch (const std::system_error&) {
        // No thread to be had: the rows wait in their file after all.
        laterRow.pipe_ = nullptr;
        OpenSpill(t);
        const size_t declared = std::exchange(t.rows, 0);
        t.later(laterRow);
        if (t.rows != declared) db.Fail(("the rows of " + t.name + " were not made whole").c_str());
        Rewind(t);
      }
    }
    SpilledRows rows = maker.joinable() ? SpilledRows(pipe, t.fields.size(), srs, t.cells.get())
                                        : SpilledRows(t.file, t.fields.size(), srs, t.cells.get());
    if (db.Insert(Quoted(t.name), columns, static_cast<int>(t.fields.size() + 1), rows) !=
        static_cast<int64_t>(t.rows)) {
      db.Fail(("the rows of " + t.name +
               (t.later ? " were not made whole" : " were not read back whole"))
                  .c_str());
    }
    if (maker.joinable()) maker.join();  // it has put its last row and its extent
    // Whether the table holds just these rows, fids 1 to n in their order: then they are
    // counted already, and the cells, numbered 1, 2, ... in the rows' order, name them.
    // (Each of min and max alone is looked up in the table's tree; together, or count,
    // they read the whole table.)
    const std::string count = std::to_string(t.rows);
    const bool justThese = t.rows > 0 &&
                           db.Text("SELECT min(rowid) FROM " + Quoted(t.name)) == "1" &&
                           db.Text("SELECT max(rowid) FROM " + Quoted(t.name)) == count;
    if (!justThese) t.cells.reset();
    // The rows are in the table: their file is not needed while the index is packed.
    if (t.file) std::fclose(std::exchange(t.file, nullptr));
    std::remove(t.spill.c_str());

    // As GDAL writes them when it closes a layer.
    if (t.hasExtent) {
      char* sql = sqlite3_mprintf(
          "UPDATE gpkg_contents SET min_x = %.18g, min_y = %.18g, max_x = %.18g, max_y = %.18g "
          "WHERE lower(table_name) = lower('%q') AND Lower(data_type) = 'features'",
          t.extent.MinX, t.extent.MinY, t.extent.MaxX, t.extent.MaxY, t.name.c_str());
      if (!sql) db.Fail("out of memory");
      const std::string text = sql;
      sqlite3_free(sql);
      db.Run(text);
    }
    if (db.Has("gpkg_ogr_contents")) {
      db.Run("UPDATE gpkg_ogr_contents SET feature_count = " +
             (justThese ? count : "(SELECT count(*) FROM " + Quoted(t.name) + ")") +
             " WHERE lower(table_name) = lower(" + Quoted(t.name, '\'') + ")");
    }
  }
  for (const std::string& sql : triggers)
    db.Run(sql);
  db.Run("COMMIT");
}

namespace {

// gathered(table): the cells noted for table, or nullptr.
template <class Gathered>
void PackIndexes(const std::string& path, const std::vector<std::string>& tables, size_t runRows,
                 const Gathered& gathered) {
  runRows = std::clamp<size_t>(runRows, 1, UINT32_MAX);  // a row's place is 32 bits
  Database db(path);
  // The file is scratch until it is put in place, and made durable then.
  db.Run("PRAGMA synchronous = OFF");
  db.Run("BEGIN");
  db.Run(
      "CREATE TABLE IF NOT EXISTS gpkg_extensions (table_name TEXT,column_name TEXT,"
      "extension_name TEXT NOT NULL,definition TEXT NOT NULL,scope TEXT NOT NULL,"
      "CONSTRAINT ge_tce UNIQUE (table_name, column_name, extension_name))");
  for (const std::string& table : tables)
    IndexTable(db, table, runRows, gathered(table));
  db.Run("COMMIT");
}

}  // namespace

void PackGpkgSpatialIndexes(const std::string& path, const std::vector<std::string>& tables,
                            size_t runRows) {
  PackIndexes(path, tables, runRows, [](const std::string&) -> SpillFile* { return nullptr; });
}

void GpkgRows::PackSpatialIndexes(const std::string& path, const std::vector<std::string>& tables,
                                  size_t runRows) const {
  PackIndexes(path, tables, runRows, [this](const std::string& table) -> SpillFile* {
    for (const std::unique_ptr<GpkgTable>& t : tables_) {
      if (t->name == table) return t->cells.get();
    }
    return nullptr;
  });
}

}  // namespace kestrova::gis
