#pragma once

// A GeoPackage's feature rows and spatial index, written with SQLite once GDAL has made
// the file's tables and closed it.
//
// GDAL takes some four microseconds to insert a feature, most of them its own work around
// SQLite's. Here GDAL makes the tables (with no rows), the rows wait in a file of their
// own meanwhile (or are made only as they are inserted), and they are inserted afterwards
// through one statement a table, holding the values GDAL's writer would have stored.
//
// SQLite's R-tree module inserts one row at a time, choosing a leaf and splitting nodes
// as it goes: some fifteen microseconds a row, most of a large GeoPackage export. Here
// the rows are sorted along a Hilbert curve, a run at a time, and the tree's tables are
// written as full nodes bottom up. The index holds the same rows with the same bounds as
// SQLite would give them (boxes rounded outwards to single precision); only how they are
// grouped into nodes differs. The index tables, the extension's entry and the triggers
// that keep the index up to date are those GDAL makes for a layer's spatial index.

#include <ogr_core.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/messages.h"
#include "common/error.h"
#include "common/spill_file.h"

class OGRGeometry;

namespace kestrova::gis {

struct GpkgTable;
class RowPipe;

// The row of a table being made, value by value: Begin, the geometry, every field in the
// table's fields' order, End. The geometry is stored as GDAL's GeoPackage blob (the
// envelope in its header except for points and empty geometries), the fields as GDAL
// binds them.
class GpkgRow {
 public:
  void Begin();
  void Geometry(const OGRGeometry* g);
  void Null();
  void Integer(int64_t v);
  void Real(double v);
  void Text(std::string_view v);
  void End();

 private:
  friend class GpkgRows;
  explicit GpkgRow(GpkgTable* table) : table_(table) {}

  GpkgTable* table_;
  RowPipe* pipe_ = nullptr;  // where the rows go, when not to the table's file
  std::string row_;          // the row being made
  size_t values_ = 0;        // the fields it has
};

// Feature rows on their way into a GeoPackage's tables.
class GpkgRows {
 public:
  // The rows of each table wait in a file of their own (but for rows made later), named
  // spill and the table's number, removed again with this.
  explicit GpkgRows(std::string spill);
  ~GpkgRows();
  GpkgRows(const GpkgRows&) = delete;
  GpkgRows& operator=(const GpkgRows&) = delete;

  // Begins a row of table (its fields named alike for all its rows), to be made through
  // what is returned, until the next Begin.
  GpkgRow& Begin(const std::string& table, const std::vector<std::string>& fields);
  // Rows of table made only as the table is filled, so that they need not wait in a file:
  // make, run once on another thread while Fill inserts what it makes, makes the table's
  // rows (rows of them) in order through the maker it is given. (Where no thread can be
  // had, Fill runs make itself first, into the table's file.) The table takes its place
  // among the tables now, and no row of it is begun through Begin; a table of no rows is
  // left out, and make is never run. make may use only what outlives Fill, and lets what
  // the maker throws pass (it is stopped that way when the insert fails); what it throws,
  // Fill throws.
  void Later(const std::string& table, const std::vector<std::string>& fields, size_t rows,
             std::function<void(GpkgRow&)> make);
  // The rows of table so far; for rows made later, those it was said to have.
  size_t Rows(const std::string& table) const;

  // Inserts the rows into the tables of the GeoPackage at path, a table at a time in
  // the order its rows came, in one transaction, and brings each table's extent and
  // feature count to what GDAL would have left. The boxes of the spatial index are
  // noted on the way.
  void Fill(const std::string& path);
  // PackGpkgSpatialIndexes after Fill: the index of a filled table is made from the boxes
  // noted, not from its rows read back.
  void PackSpatialIndexes(const std::string& path, const std::vector<std::string>& tables,
                          size_t runRows) const;

 private:
  // A new table, last of the tables, its rows' file named but not made.
  GpkgTable& AddTable(const std::string& table, const std::vector<std::string>& fields);
  GpkgTable& TableFor(const std::string& table, const std::vector<std::string>& fields);

  std::string spill_;
  std::vector<std::unique_ptr<GpkgTable>> tables_;  // in the order of their first rows or Later
  size_t last_ = 0;  // the table of the row before, found again without a search
  GpkgRow row_{nullptr};
};

// Rows sorted and packed at a time: 32 MB (two runs, 64 MB, when the boxes were noted
// as the rows went in: the next run is sorted while one is written). A larger table is
// packed run by run (rows in fid order), each run's leaves tight; the levels above are
// sorted whole. Where rows far apart in the table lie side by side on the ground, leaves
// of different runs overlap, and a query reads a few more nodes.
inline constexpr size_t kGpkgIndexRunRows = size_t{1} << 20;

// Adds a packed spatial index to each of tables, feature tables of the GeoPackage at
// path that have none, in one transaction. Throws kestrova::Error when it cannot.
void PackGpkgSpatialIndexes(const std::string& path, const std::vector<std::string>& tables,
                            size_t runRows = kGpkgIndexRunRows);

// The failure of a SQLite connection's last call (a sqlite3*, GDAL's among them),
// which befell subject: id with reason, followed by the system's errno where SQLite says
// only "disk I/O error" of a full disk or a file past its size limit.
Error SqliteFailure(MessageId id, const std::string& subject, void* connection,
                    const std::string& reason);

}  // namespace kestrova::gis
