#pragma once

// The R-tree spatial index of a GeoPackage's feature tables, packed in one pass over a
// finished file.
//
// SQLite's R-tree module inserts one row at a time, choosing a leaf and splitting nodes
// as it goes: some fifteen microseconds a row, most of a large GeoPackage export. Here
// the rows are sorted along a Hilbert curve, a run at a time, and the tree's tables are
// written as full nodes bottom up. The index holds the same rows with the same bounds as
// SQLite would give them (boxes rounded outwards to single precision); only how they are
// grouped into nodes differs. The index tables, the extension's entry and the triggers
// that keep the index up to date are those GDAL makes for a layer's spatial index.

#include <cstddef>
#include <string>
#include <vector>

namespace kestrova::gis {

// Rows sorted and packed at a time: 32 MB. A larger table is packed run by run (rows
// in fid order), each run's leaves tight; the levels above are sorted whole. Where rows
// far apart in the table lie side by side on the ground, leaves of different runs
// overlap, and a query reads a few more nodes.
inline constexpr size_t kGpkgIndexRunRows = size_t{1} << 20;

// Adds a packed spatial index to each of tables, feature tables of the GeoPackage at
// path that have none, in one transaction. Throws kestrova::Error when it cannot.
void PackGpkgSpatialIndexes(const std::string& path, const std::vector<std::string>& tables,
                            size_t runRows = kGpkgIndexRunRows);

}  // namespace kestrova::gis
