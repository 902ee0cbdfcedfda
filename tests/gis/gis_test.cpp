// The export to GIS formats and DXF, read back by GDAL's own ogrinfo and by the import.

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "app/gis_command.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "common/sjis.h"
#include "coords/coordinate_file.h"
#include "gis/gis_export.h"
#include "gis/gis_import.h"
#include "gis/gpkg_tables.h"
#include "gis/survey_systems.h"
#include "support/run_program.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

const std::string kCli = KESTROVA_CLI;
const std::string kSite = KESTROVA_SOURCE_DIR "/examples/site.sim";
// Points whose texts XML and JSON escape or drop (quotes, a tab, control codes, Japanese),
// with -0, 1e+20 and the largest point number.
constexpr const char* kOddPoints =
    "G00,01,odd,\r\n"
    "A01,1,P1,-12045.318,-30512.406,24.115,\r\n"
    "A01,2,A&B<C>'D,-12010.552,-30498.774,0.000,&,<r>\r\n"
    "A01,3,q\"b,0.000,0.000,-0.000,>,\"\r\n"
    "A01,4,a\tb,0.001,-0.001,100000000000000000000.000,,\r\n"
    "A01,5,\x01x\x1fy,-12020.100,-30520.000,24.180,12,境界 点\r\n"
    "A01,2147483647,境界ﾃｽﾄ,-12080.100,-30520.000,23.940,,it's\r\n";
const std::string kZhy = KESTROVA_SOURCE_DIR "/examples/site.zhy";
constexpr double kPi = 3.141592653589793;

using Result = test::ShellResult;
using test::RunShell;

Result RunCli(const std::string& args) {
  return RunShell(kCli + " " + args);
}

struct Dataset {
  explicit Dataset(const std::string& path) {
    GDALAllRegister();
    ds.reset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR));
  }
  OGRLayer* Layer(const char* name) const { return ds ? ds->GetLayerByName(name) : nullptr; }
  std::unique_ptr<GDALDataset> ds;
};

// Twice the signed area of a ring, relative to its first vertex.
double ShoelaceOfRing(const OGRLinearRing& ring) {
  double twice = 0.0;
  const double x0 = ring.getX(0), y0 = ring.getY(0);
  for (int i = 0; i + 1 < ring.getNumPoints(); ++i) {
    twice += (ring.getX(i) - x0) * (ring.getY(i + 1) - y0) -
             (ring.getX(i + 1) - x0) * (ring.getY(i) - y0);
  }
  return std::fabs(twice) / 2;
}

// Length of the GRS 1980 meridian between two latitudes (degrees), by Simpson's rule.
double MeridianArc(double lat1, double lat2) {
  const double a = 6378137.0;
  const double f = 1 / 298.257222101;
  const double e2 = f * (2 - f);
  const auto m = [&](double deg) {
    const double s = std::sin(deg * kPi / 180);
    return a * (1 - e2) / std::pow(1 - e2 * s * s, 1.5);
  };
  const int n = 1000;
  const double h = (lat2 - lat1) / n;
  double sum = m(lat1) + m(lat2);
  for (int i = 1; i < n; ++i)
    sum += m(lat1 + i * h) * (i % 2 ? 4 : 2);
  return sum * h / 3 * kPi / 180;
}

class Gis : public test::FolderTest {
 protected:
  Gis() : FolderTest("kestrova-gis-") {}
  std::string Write(const std::string& name, const std::string& bytes) const {
    WriteFileAtomic(Path(name), bytes);
    return Path(name);
  }
};

TEST_F(Gis, ZoneOriginAndMetresNorthAndEastLandWhereTheyBelong) {
  const std::string list = Write("o.csv",
                                 "1\torigin\t0\t0\t0\r\n2\tnorth\t1000\t0\t0\r\n"
                                 "3\teast\t0\t1000\t0\r\n");
  const Result r = RunCli("export " + list + " -o " + Path("o.geojson") + " --crs EPSG:6677");
  ASSERT_EQ(r.status, 0) << r.out;
  Dataset d(Path("o.geojson"));
  ASSERT_TRUE(d.ds);
  OGRLayer* layer = d.ds->GetLayer(0);
  std::map<std::string, OGRPoint> at;
  for (auto& f : *layer)
    at[f->GetFieldAsString("name")] = *f->GetGeometryRef()->toPoint();
  const double originLon = 139 + 50.0 / 60;
  // Longitude first, as GeoJSON has it.
  EXPECT_NEAR(at["origin"].getX(), originLon, 1e-9);
  EXPECT_NEAR(at["origin"].getY(), 36.0, 1e-9);
  EXPECT_NEAR(at["north"].getX(), originLon, 1e-9);
  // On the central meridian a plane metre is 1 / 0.9999 metres on the ellipsoid.
  EXPECT_NEAR(MeridianArc(36.0, at["north"].getY()), 1000 / 0.9999, 1e-3);
  // Survey Y is easting: a kilometre east changes the longitude, not the latitude.
  const double n = 6378137.0 / std::sqrt(1 - 0.00669438002290 * std::pow(std::sin(kPi / 5), 2));
  const double dLon = (at["east"].getX() - originLon) * kPi / 180;
  EXPECT_NEAR(dLon * n * std::cos(kPi / 5), 1000 / 0.9999, 0.5);
  EXPECT_NEAR(at["east"].getY(), 36.0, 1e-4);

  // The plane formats keep the survey numbers with x easting and y northing.
  ASSERT_EQ(RunCli("export " + list + " -o " + Path("o.gpkg") + " --crs EPSG:6677").status, 0);
  Dataset g(Path("o.gpkg"));
  ASSERT_TRUE(g.Layer("points"));
  for (auto& f : *g.Layer("points")) {
    const OGRPoint& p = *f->GetGeometryRef()->toPoint();
    EXPECT_EQ(p.getX(), f->GetFieldAsDouble("y"));
    EXPECT_EQ(p.getY(), f->GetFieldAsDouble("x"));
  }
  EXPECT_NE(RunShell("ogrinfo -so " + Path("o.gpkg") + " points").out.find("ID[\"EPSG\",6677]"),
            std::string::npos);
}

TEST_F(Gis, OgrinfoReadsEveryOutput) {
  const std::string pointFields =
      "number: Integer (0.0)\nname: String (0.0)\nx: Real (0.0)\ny: Real (0.0)\nz: Real "
      "(0.0)\nmark: String (0.0)\nremarks: String (0.0)\nmarked: Integer (0.0)\n";
  const auto summary = [&](const std::string& file) {
    const Result r = RunShell("ogrinfo -so -al " + Path(file));
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
  };
  const auto has = [](const std::string& text, const std::string& part) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin:\n" << text;
  };
  for (const std::string ext : {"gpkg", "kml"}) {
    const Result r = RunCli("export " + kSite + " -o " + Path("site." + ext) + " --crs EPSG:6677");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string s = summary("site." + ext);
    for (const char* layer : {"points", "parcels", "parcel_lines", "triangles", "polylines"})
      has(s, std::string("Layer name: ") + layer + "\n");
    if (ext == "gpkg") {
      has(s, "Layer name: points\nGeometry: Point\nFeature Count: 11\n");
      has(s, "Layer name: parcels\nGeometry: Polygon\nFeature Count: 2\n");
      has(s, "Layer name: parcel_lines\nGeometry: Line String\nFeature Count: 2\n");
      has(s, "Layer name: triangles\nGeometry: Polygon\nFeature Count: 1\n");
      has(s, "Layer name: polylines\nGeometry: Line String\nFeature Count: 1\n");
      has(s, "Geometry Column = geom\n" + pointFields);
      has(s, "name: String (0.0)\narea: Real (0.0)\n");
    } else {
      has(s, "Feature Count: 11\n");
    }
  }
  // GeoJSON holds one layer: every kind, told apart by "layer".
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("site.json") + " --crs EPSG:6677").status, 0);
  const std::string json = summary("site.json");
  has(json, "Layer name: site\nGeometry: Unknown (any)\nFeature Count: 17\n");
  for (const char* f :
       {"layer: String", "number: Integer", "name: String", "x: Real", "y: Real", "z: Real",
        "mark: String", "remarks: String", "marked: Integer", "area: Real"})
    has(json, std::string("\n") + f + " (0.0)\n");
  // A Shapefile per layer, the points in the file named.
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("site.shp") + " --crs EPSG:6677").status, 0);
  has(summary("site.shp"), "Layer name: site\nMetadata:\n  DBF_DATE_LAST_UPDATE=");
  has(summary("site.shp"), "Feature Count: 11\n");
  has(summary("site_parcels.shp"), "Geometry: Polygon\nFeature Count: 2\n");
  has(summary("site_parcel_lines.shp"), "Feature Count: 2\n");
  has(summary("site_triangles.shp"), "Feature Count: 1\n");
  has(summary("site_polylines.shp"), "Feature Count: 1\n");
  EXPECT_EQ(ReadFileBytes(Path("site.cpg")), "UTF-8");
  EXPECT_NE(ReadFileBytes(Path("site.prj")).find("PROJCS[\"JGD_2011_Japan_Zone_9\""),
            std::string::npos);
}

TEST_F(Gis, ParcelAreasAreTheShoelaceAreasOfTheirVertices) {
  for (const std::string ext : {"gpkg", "geojson"}) {
    ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("site." + ext) + " --crs EPSG:6677").status,
              0);
  }
  Dataset g(Path("site.gpkg"));
  ASSERT_TRUE(g.Layer("parcels"));
  std::map<std::string, double> areas;
  for (auto& f : *g.Layer("parcels")) {
    const OGRLinearRing& ring = *f->GetGeometryRef()->toPolygon()->getExteriorRing();
    EXPECT_EQ(ring.getNumPoints(), 5);  // four corners, closed
    EXPECT_NEAR(f->GetFieldAsDouble("area"), ShoelaceOfRing(ring), 1e-9);
    areas[f->GetFieldAsString("name")] = f->GetFieldAsDouble("area");
  }
  // Both parcels are 30 m by 30 m squares.
  EXPECT_EQ(areas, (std::map<std::string, double>{{"1番3", 900.0}, {"1番4", 900.0}}));
  // In longitude/latitude the area stays the surveyed one.
  Dataset j(Path("site.geojson"));
  int parcels = 0;
  for (auto& f : *j.ds->GetLayer(0)) {
    if (std::string(f->GetFieldAsString("layer")) != "parcels") continue;
    EXPECT_NEAR(f->GetFieldAsDouble("area"), 900.0, 1e-9);
    ++parcels;
  }
  EXPECT_EQ(parcels, 2);
  // The triangle runs through points 6, 5 and 7, the boundary of 1番4 is closed.
  for (auto& f : *g.Layer("triangles")) {
    const OGRLinearRing& ring = *f->GetGeometryRef()->toPolygon()->getExteriorRing();
    EXPECT_EQ(ring.getNumPoints(), 4);
    EXPECT_EQ(ring.getX(0), -30520.0);
    EXPECT_EQ(ring.getY(0), -12050.1);
    EXPECT_NEAR(ShoelaceOfRing(ring), 30.0 * 30.0 / 2, 1e-9);
  }
  for (auto& f : *g.Layer("parcel_lines")) {
    const OGRLineString& line = *f->GetGeometryRef()->toLineString();
    EXPECT_EQ(line.getNumPoints(), 5);
    EXPECT_EQ(line.getX(0), line.getX(4));
  }
}

TEST_F(Gis, ExportThenImportReturnsThePoints) {
  CoordinateData original;
  ASSERT_TRUE(LoadCoordinateFile(kSite, original, false));
  for (const std::string ext : {"gpkg", "geojson", "shp"}) {
    const std::string out = Path("site." + ext);
    const Result r = RunCli("export " + kSite + " -o " + out + " --crs EPSG:6677");
    ASSERT_EQ(r.status, 0) << r.out;
    CoordinateData back;
    back.Table.Points.resize(3);  // an earlier table, replaced
    back.Table.PointCount = 2;
    std::vector<std::string> warnings;
    ASSERT_TRUE(LoadAnyCoordinateFile(out, out, 6677, back, false, warnings));
    // GeoJSON is one layer: its parcels and lines are not read back, and the user hears so.
    if (ext == "geojson") {
      ASSERT_EQ(warnings.size(), 1u);
      EXPECT_EQ(warnings[0],
                out + ": 6 features of the layer site are not points and were not read");
    } else {
      // The parcel's triangle stays behind, and the user hears so.
      const std::string layer = ext == "shp" ? "site_triangles" : "triangles";
      EXPECT_EQ(warnings, std::vector<std::string>{out + ": the layer " + layer +
                                                   " is not read back (triangles: 1); a parcel's "
                                                   "triangles come back only from a SIMA file"});
    }
    ASSERT_EQ(back.Table.PointCount, 11) << ext;
    for (int32_t i = 1; i <= 11; ++i) {
      const SurveyPoint& a = original.Table.Points[i];
      const SurveyPoint& b = back.Table.Points[i];
      EXPECT_EQ(b.Number, a.Number) << ext << i;
      EXPECT_EQ(b.Name, a.Name) << ext << i;  // code page 932 again
      EXPECT_EQ(b.X, a.X) << ext << i;        // GeoJSON too, from the X and Y written beside
      EXPECT_EQ(b.Y, a.Y) << ext << i;
      EXPECT_EQ(b.Z, a.Z) << ext << i;
      EXPECT_EQ(b.Mark, a.Mark) << ext << i;
      EXPECT_EQ(b.Remarks, a.Remarks) << ext << i;
      EXPECT_EQ(b.Marked, a.Marked) << ext << i;
    }
    if (ext == "geojson") {
      EXPECT_TRUE(back.Sima.SimaBlocks.empty()) << ext;
      continue;
    }
    // The GeoPackage, and the Shapefile from the files beside it, bring back the parcels
    // and the polyline over the same points; the triangle of 1番4 has a layer of its own,
    // which is not read.
    const std::vector<SimaBlock>& was = original.Sima.SimaBlocks;
    const std::vector<SimaBlock>& is = back.Sima.SimaBlocks;
    ASSERT_EQ(is.size(), 3u);
    for (size_t b = 0; b < 3; ++b) {
      const SimaBlock& a = was[b];
      EXPECT_EQ(is[b].Polyline, a.Polyline) << b;
      EXPECT_EQ(is[b].Name, a.Name) << b;
      EXPECT_EQ(is[b].Closing, a.Closing) << b;
      EXPECT_EQ(std::string(is[b].Number), b == 1 ? "2" : "1") << b;
      EXPECT_EQ(is[b].RowsBefore, 11) << b;
      std::vector<SimaBlockRecord> boundary;
      for (const SimaBlockRecord& record : a.Records)
        if (record.RecordKind == SimaBlockRecord::kPoint) boundary.push_back(record);
      ASSERT_EQ(is[b].Records.size(), boundary.size()) << b;
      for (size_t k = 0; k < boundary.size(); ++k) {
        EXPECT_EQ(is[b].Records[k].RecordKind, SimaBlockRecord::kPoint);
        EXPECT_EQ(is[b].Records[k].Point.Number, boundary[k].Point.Number) << b << k;
        EXPECT_EQ(is[b].Records[k].Point.Name, boundary[k].Point.Name) << b << k;
      }
    }
  }
  // A DXF drawing and a KML file are text, but no list of points: they are refused, not
  // read as junk.
  for (const std::string written : {"site.DXF", "site.kml"}) {
    ASSERT_EQ(RunCli("export " + kSite + " -o " + Path(written) + " --crs EPSG:6677").status, 0);
    for (const std::string& command : {std::string("info "), "convert -o " + Path("d.jww") + " "}) {
      const Result r = RunCli(command + Path(written));
      EXPECT_EQ(r.status, 1) << r.out;
      EXPECT_NE(r.out.find(written + ": a "), std::string::npos) << r.out;
      EXPECT_NE(r.out.find(" file is written, not read, as a list of points"), std::string::npos)
          << r.out;
    }
  }
  // Through the command line, appended after a coordinate file. A position in GeoJSON
  // keeps nine decimals of a degree, a tenth of a millimetre: where the X and Y written
  // beside it have gone, or no longer agree with it, the position is what is read.
  std::string json = ReadFileBytes(Path("site.geojson"));
  const size_t cut = json.find(R"("y": -30490.0, )");  // the first of three
  ASSERT_NE(cut, std::string::npos);
  json.erase(cut, 15);
  const size_t moved = json.find(R"("y": -30545.0)");
  ASSERT_NE(moved, std::string::npos);
  json.replace(moved, 13, R"("y": -30545.002)");
  WriteFileAtomic(Path("site.geojson"), json);
  const Result info = RunCli("info " + kSite + " " + Path("site.geojson") + " --crs EPSG:6677");
  EXPECT_EQ(info.status, 0) << info.out;
  EXPECT_NE(info.out.find("points: 22\nX: -12095 .. -12010.552\nY: -30545 .. -30489.999998"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("11 points repeat point numbers"), std::string::npos) << info.out;
}

TEST_F(Gis, GisInputsShareOneSystem) {
  const Result a = RunCli("export " + kSite + " -o " + Path("a.gpkg") + " --crs EPSG:6677");
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("a.shp") + " --crs EPSG:6677").status, 0);
  // The site's title names zone IX: placed in zone X, it is written there, and said so.
  const Result b = RunCli("export " + kSite + " -o " + Path("b.shp") + " --crs EPSG:6678");
  ASSERT_EQ(b.status, 0);
  const std::string zones =
      "the site's title \"世界測地系 第IX系\" names zone IX, but EPSG:6678 "
      "(--crs) is zone X; the points were placed in zone X\n";
  EXPECT_NE(b.out.find(zones), std::string::npos) << b.out;
  EXPECT_EQ(a.out.find("names zone"), std::string::npos) << a.out;
  // "世界測地系" is either JGD; the Tokyo datum's zone IX places the points 400 m off.
  EXPECT_EQ(
      RunCli("export " + kSite + " -o " + Path("c.shp") + " --crs EPSG:2451").out.find("warning"),
      std::string::npos);
  const Result tokyo = RunCli("export " + kSite + " -o " + Path("t.shp") + " --crs EPSG:30169");
  ASSERT_EQ(tokyo.status, 0) << tokyo.out;
  EXPECT_NE(tokyo.out.find("warning: the site's title \"世界測地系 第IX系\" names JGD, but "
                           "EPSG:30169 (--crs) is on the Tokyo datum; the points were placed on "
                           "the Tokyo datum\n"),
            std::string::npos)
      << tokyo.out;
  EXPECT_EQ(tokyo.out.find("names zone"), std::string::npos) << tokyo.out;
  // The Shapefile's .prj names no EPSG code; its system is still known as one.
  std::filesystem::create_directories(Path("found"));
  std::filesystem::create_directories(Path("given"));
  for (const std::string input : {"a.gpkg", "a.shp"}) {
    const Result found = RunCli("export " + Path(input) + " -o " + Path("found/x.geojson"));
    ASSERT_EQ(found.status, 0) << found.out;
    ASSERT_EQ(
        RunCli("export " + Path(input) + " -o " + Path("given/x.geojson") + " --crs EPSG:6677")
            .status,
        0);
    EXPECT_EQ(ReadFileBytes(Path("found/x.geojson")), ReadFileBytes(Path("given/x.geojson")))
        << input;
  }
  // Files of two systems, or a coordinate file of none, still need the system named.
  for (const std::string& inputs :
       {Path("a.gpkg") + " " + Path("b.shp"), Path("a.gpkg") + " " + kSite}) {
    const Result r = RunCli("export " + inputs + " -o " + Path("x.gpkg"));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("GeoPackage places the site by its coordinate system"), std::string::npos)
        << r.out;
  }
  // Kept each in its own system, the two sites would lie 130 km apart: whatever reads
  // them, streamed or into a table, refuses unless one system is named.
  const std::string two = Path("a.gpkg") + " " + kSite + " " + Path("b.shp");
  using Run = std::pair<std::string, std::string>;  // the command, its output
  for (const auto& [command, output] : {Run{"info", ""}, Run{"convert -o ", "ab.jww"},
                                        Run{"export -o ", "ab.zhy"}, Run{"plot -o ", "ab.svg"}}) {
    const Result r = RunCli(command + (output.empty() ? "" : Path(output)) + " " + two);
    EXPECT_EQ(r.status, 1) << command << "\n" << r.out;
    EXPECT_NE(r.out.find(Path("b.shp") + ": its points are in EPSG:6678, the points read before it "
                                         "in EPSG:6677"),
              std::string::npos)
        << command << "\n"
        << r.out;
    if (!output.empty()) {
      EXPECT_FALSE(std::filesystem::exists(Path(output))) << output;
    }
  }
  ASSERT_EQ(RunCli("export --crs EPSG:6677 -o " + Path("named.zhy") + " " + two).status, 0);
  // The window, which has no system to name for both, brings the second into the first's.
  CoordinateData data;
  std::vector<std::string> notices;
  ASSERT_TRUE(LoadGisFileWithNotices(Path("a.gpkg"), 0, data, false, notices));
  ASSERT_TRUE(LoadGisFileWithNotices(Path("b.shp"), 0, data, true, notices));
  CoordinateData named;  // a.gpkg, the site, b.shp
  ASSERT_TRUE(LoadCoordinateFile(Path("named.zhy"), named, false));
  const int32_t n = data.Table.PointCount / 2;
  ASSERT_EQ(named.Table.PointCount, 3 * n);
  for (int32_t r = 1; r <= n; ++r) {
    EXPECT_NEAR(data.Table.Points[n + r].X, named.Table.Points[2 * n + r].X, 1e-6) << r;
    EXPECT_NEAR(data.Table.Points[n + r].Y, named.Table.Points[2 * n + r].Y, 1e-6) << r;
  }
  // A new table, or one loaded from a coordinate file, takes a layer in its own system.
  ClearPoints(data.Table);
  LoadReport report;
  EXPECT_NO_THROW(LoadGisPoints(Path("b.shp"), "b.shp", 0, data, true, report));
  EXPECT_EQ(data.Table.GisSystem, 6678);
}

TEST_F(Gis, DrawingsSayTheParcelsOfGisFilesAreNotDrawn) {
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("a.gpkg") + " --crs EPSG:6677").status, 0);
  // One parcel alone: a file of its own, said in the singular.
  Write("one.sim",
        "G00,01,x,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\n"
        "D00,1,lot,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nD99,\r\nA99,\r\n");
  ASSERT_EQ(
      RunCli("export " + Path("one.sim") + " -o " + Path("one.gpkg") + " --crs EPSG:6677").status,
      0);
  const std::string files = Path("a.gpkg") + " " + kSite + " " + Path("one.gpkg");
  const std::string three =
      "kestrova-cli: warning: " + Path("a.gpkg") +
      ": 3 parcels and polylines are not drawn (only a SIMA file's are); a SIMA save and the "
      "GeoPackage, GeoJSON, KML and Shapefile exports keep them\n";
  const std::string one = "kestrova-cli: warning: " + Path("one.gpkg") +
                          ": 1 parcel or polyline is not drawn (only a SIMA file's are); a SIMA "
                          "save and the GeoPackage, GeoJSON, KML and Shapefile exports keep it\n";
  for (const std::string& command : {"convert -o " + Path("a.jww"), "clip -o " + Path("a.clip"),
                                     "export -o " + Path("a.dxf"), "plot -o " + Path("a.svg")}) {
    for (const std::string& tmp : {std::string(), "TMPDIR=" + Path("missing") + " "}) {
      const Result r = RunShell(tmp + kCli + " " + command + " " + files);
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_NE(r.out.find(three), std::string::npos) << tmp << command << "\n" << r.out;
      EXPECT_NE(r.out.find(one), std::string::npos) << tmp << command << "\n" << r.out;
      EXPECT_EQ(r.out.find(kSite + ": 3 parcels"), std::string::npos) << r.out;  // drawn
    }
  }
  EXPECT_EQ(RunCli("info " + files).out.find("not drawn"), std::string::npos);
}

TEST_F(Gis, ImportMapsFieldsAndIsAllOrNothing) {
  // Field names in any case, "no" for the number, a number as text, one missing, a
  // height only in the geometry, a drawing's layer names, and a line that is not a point.
  const std::string json = Write("in.geojson",
                                 R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"NO":"7","Name":"甲","MARK":"3","Remarks":"杭","Layer":"0"},
 "geometry":{"type":"Point","coordinates":[139.8333333333333333,36.0]}},
{"type":"Feature","properties":{"Name":"乙","z":"2.5","marked":0,"Layer":"境界杭"},
 "geometry":{"type":"Point","coordinates":[139.8333333333333333,36.0,9.0]}},
{"type":"Feature","properties":{"Name":"丙"},
 "geometry":{"type":"Point","coordinates":[139.8333333333333333,36.0,9.0]}},
{"type":"Feature","properties":{},
 "geometry":{"type":"LineString","coordinates":[[139.8,36.0],[139.9,36.1]]}}]})");
  CoordinateData data;
  LoadReport report;
  const std::vector<std::string> warnings =
      LoadGisPoints(json, "in.geojson", 6677, data, false, report);
  ASSERT_EQ(data.Table.PointCount, 3);
  const SurveyPoint& a = data.Table.Points[1];
  EXPECT_EQ(a.Number, 7);
  EXPECT_EQ(a.Name, "\x8d\x62");  // 甲
  EXPECT_EQ(a.Mark, "3");
  EXPECT_EQ(a.Remarks, "\x8d\x59");  // 杭
  EXPECT_NEAR(a.X, 0.0, 1e-6);
  EXPECT_NEAR(a.Y, 0.0, 1e-6);
  EXPECT_EQ(a.Marked, 1);
  EXPECT_EQ(data.Table.Points[2].Number, 2);  // the row's
  EXPECT_EQ(data.Table.Points[2].Z, 2.5);
  EXPECT_EQ(data.Table.Points[2].Marked, 0);
  EXPECT_EQ(data.Table.Points[3].Z, 9.0);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "in.geojson: 1 features of the layer in are not points and were not read");
  // A Japanese layer's field names stand in where the export's own are missing.
  const std::string japanese = Write("jp.geojson", R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"点番号":12,"点名":"境界1","標高":"3.25","備考":"杭","height":9},
 "geometry":{"type":"Point","coordinates":[139.8333333333333333,36.0]}}]})");
  CoordinateData jp;
  EXPECT_TRUE(LoadGisPoints(japanese, "jp.geojson", 6677, jp, false, report).empty());
  ASSERT_EQ(jp.Table.PointCount, 1);
  EXPECT_EQ(jp.Table.Points[1].Number, 12);
  EXPECT_EQ(jp.Table.Points[1].Name, Utf8ToCp932("境界1").text);
  EXPECT_EQ(jp.Table.Points[1].Z, 3.25);
  EXPECT_EQ(jp.Table.Points[1].Remarks, "\x8d\x59");
  // The same in a .dbf without .cpg, its names code page 932 bytes (標高 holds a "W").
  {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    std::unique_ptr<GDALDataset> ds(
        driver->Create(Path("jp.shp").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_TRUE(ds);
    OGRLayer* layer = ds->CreateLayer("jp", nullptr, wkbPoint, nullptr);
    OGRFieldDefn height("zz", OFTReal);
    ASSERT_EQ(layer->CreateField(&height), OGRERR_NONE);
    OGRFeature f(layer->GetLayerDefn());
    f.SetField("zz", 3.25);
    OGRPoint at(0.0, 0.0);
    f.SetGeometry(&at);
    ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
  }
  std::filesystem::remove(Path("jp.cpg"));
  {
    std::fstream dbf(Path("jp.dbf"), std::ios::in | std::ios::out | std::ios::binary);
    dbf.seekp(32);  // the first field's name
    dbf.write("\x95\x57\x8d\x82", 4);
  }
  CoordinateData raw;
  LoadGisPoints(Path("jp.shp"), "jp.shp", 0, raw, false, report);
  ASSERT_EQ(raw.Table.PointCount, 1);
  EXPECT_EQ(raw.Table.Points[1].Z, 3.25);

  // Nothing changes when one feature cannot be read, or the system is missing.
  const std::string broken = Write("broken.geojson",
                                   R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"no":1},"geometry":{"type":"Point","coordinates":[139.8,36.0]}},
{"type":"Feature","properties":{"no":2},"geometry":null}]})");
  const auto fails = [&](const std::string& file, int32_t epsg, const std::string& message) {
    LoadReport r;
    try {
      LoadGisPoints(file, "f", epsg, data, true, r);
      ADD_FAILURE() << "no error for " << file;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
    EXPECT_EQ(data.Table.PointCount, 3);
    EXPECT_EQ(data.Table.Points.size(), 4u);
  };
  fails(broken, 6677, "f: feature 1 of the layer broken has no position; nothing was loaded");
  fails(json, 0,
        "f: the points are longitude/latitude (WGS 84); to read them as survey X and Y, give --crs "
        "EPSG:N");
  fails(json, 4326, "EPSG:4326 (WGS 84) is not a plane coordinate system");
  // Known from the file's first bytes: GDAL would read all of it first (here it could not).
  const std::string cut = Write("cut.geojson", R"({"type": "FeatureCollection", "name": "cut",
"features" : [{"type":"Feature","properties":{},"geometry":{"type":"Point","coordinates":[139.8,)");
  fails(cut, 0,
        "f: the points are longitude/latitude (WGS 84); to read them as survey X and Y, give --crs "
        "EPSG:N");
  fails(cut, 6677, "f: cannot be read as a GeoPackage, GeoJSON or Shapefile");
  fails(Write("lines.geojson", R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{},"geometry":{"type":"LineString","coordinates":[[1,2],[3,4]]}}]})"),
        6677, "f: the layer lines holds no point; nothing was loaded");
  fails(Write("not.gpkg", "not a GeoPackage"), 6677, "f: cannot be read as a GeoPackage");
  fails(Path("missing.gpkg"), 6677, "f: cannot open: No such file or directory");
}

// A sink that keeps the points it is handed, in order.
struct KeptPoints : LoadSink {
  std::vector<SurveyPoint> points;
  std::vector<int32_t> firsts;
  void TakePoints(std::vector<SurveyPoint>& rows, int32_t first) override {
    firsts.push_back(first);
    points.insert(points.end(), rows.begin(), rows.end());
  }
  std::vector<SimaBlock> blocks;
  std::vector<std::vector<int32_t>> rowsBefore;
  void TakeBlock(SimaBlock& block, const int32_t* before, bool drawn) override {
    EXPECT_FALSE(drawn);
    rowsBefore.emplace_back(before, before + block.Records.size());
    blocks.push_back(block);
  }
};

// Points only, more than one range of them, with Japanese texts, marks, remarks and
// heights, and numbers that repeat.
CoordinateData PointsOnly(int32_t count) {
  CoordinateData data;
  for (int32_t i = 1; i <= count; ++i) {
    SurveyPoint& p = AppendPoint(data.Table);
    p.Number = i % 1000 == 0 ? 7 : i;
    p.Name = Utf8ToCp932("境界" + std::to_string(i)).text;
    p.Mark = std::to_string(i % 250);
    if (i % 3) p.Remarks = Utf8ToCp932("杭 r").text;
    p.X = -12000.0 - i * 0.125;
    p.Y = -30000.0 + i * 0.0625;
    p.Z = i * 0.001;
    p.Marked = 1;
  }
  return data;
}

void WriteGis(const CoordinateData& data, GisFormat format, const std::string& path) {
  GisExportOptions options;
  options.Format = format;
  options.Epsg = 6677;
  WriteGisExport(BuildGisExport(data, options, path), path);
}

// A GeoJSON layer of count points near the origin of zone IX, properties(i) giving each
// point's (from 1), without the closing of its feature list.
template <class Properties>
std::string GeoJsonPoints(int count, const Properties& properties) {
  std::string json = R"({"type":"FeatureCollection","features":[)";
  for (int i = 1; i <= count; ++i) {
    json += std::string(i > 1 ? ",\n" : "\n") + R"({"type":"Feature","properties":{)" +
            properties(i) + R"(},"geometry":{"type":"Point","coordinates":[)" +
            std::to_string(139.8 + i * 1e-5) + "," + std::to_string(36.0 + (i % 97) * 1e-5) + "]}}";
  }
  return json;
}

TEST_F(Gis, PointLayersAreHandedOnAsReadUnlessTheyNeedATable) {
  CoordinateData site = PointsOnly(9000);
  // Read after three points of another file: rows and ranges follow them.
  CoordinateData before;
  for (int32_t n = 1; n <= 3; ++n)
    AppendPoint(before.Table).Number = -n;
  for (const auto& [format, ext] :
       {std::pair{GisFormat::kGpkg, "gpkg"}, std::pair{GisFormat::kGeoJson, "geojson"},
        std::pair{GisFormat::kShp, "shp"}}) {
    SCOPED_TRACE(ext);
    const std::string file = Path(std::string("points.") + ext);
    WriteGis(site, format, file);
    CoordinateData table = before;
    std::vector<std::string> loaded;
    ASSERT_TRUE(LoadAnyCoordinateFile(file, "points", 6677, table, true, loaded));
    ASSERT_TRUE(GisPointsStream(file, "points", 6677));
    KeptPoints kept;
    CoordinateData counts;
    counts.Table.PointCount = 3;
    counts.Sima.SimaLoaded = true;
    LoadReport report;
    std::vector<std::string> more;
    ASSERT_TRUE(StreamGisPoints(file, "points", 6677, kept, counts, report, more));
    std::vector<std::string> said = LoadWarnings(report, "points");
    said.insert(said.end(), more.begin(), more.end());
    EXPECT_EQ(said, loaded);
    EXPECT_FALSE(counts.Sima.SimaLoaded);
    ASSERT_EQ(counts.Table.PointCount, 9003);
    EXPECT_EQ(kept.firsts, (std::vector<int32_t>{4, 4100, 8196}));
    ASSERT_EQ(kept.points.size(), 9000u);
    for (size_t i = 0; i < kept.points.size(); ++i) {
      const SurveyPoint& a = table.Table.Points[i + 4];
      const SurveyPoint& b = kept.points[i];
      ASSERT_TRUE(a.Number == b.Number && a.Name == b.Name && a.Mark == b.Mark &&
                  a.Remarks == b.Remarks && a.X == b.X && a.Y == b.Y && a.Z == b.Z &&
                  a.Marked == b.Marked)
          << i;
    }
  }

  // What only a table can hold is told before any point is handed on: a Shapefile whose
  // texts wait for all of them.
  const auto needsTable = [&](const std::string& file) {
    EXPECT_FALSE(GisPointsStream(file, "f", 6677)) << file;
    KeptPoints kept;
    CoordinateData counts;
    LoadReport report;
    std::vector<std::string> said;
    EXPECT_FALSE(StreamGisPoints(file, "f", 6677, kept, counts, report, said)) << file;
    EXPECT_TRUE(kept.points.empty()) << file;
    EXPECT_EQ(counts.Table.PointCount, 0) << file;
  };
  fs::remove(Path("points.cpg"));
  needsTable(Path("points.shp"));

  // An unmarked point is found before the reading in a GeoPackage; in other files it
  // stops the reading.
  site.Table.Points[5000].Marked = 0;
  for (const auto& [format, ext] :
       {std::pair{GisFormat::kGpkg, "gpkg"}, std::pair{GisFormat::kGeoJson, "geojson"}}) {
    const std::string file = Path(std::string("unmarked.") + ext);
    WriteGis(site, format, file);
    EXPECT_EQ(GisPointsStream(file, "f", 6677), format != GisFormat::kGpkg) << ext;
    KeptPoints kept;
    CoordinateData counts;
    LoadReport report;
    std::vector<std::string> said;
    EXPECT_FALSE(StreamGisPoints(file, "f", 6677, kept, counts, report, said)) << ext;
    EXPECT_LT(kept.points.size(), 5000u) << ext;
  }
  // Without a "marked" field every point is marked. What the reading finds to say (a
  // character code page 932 lacks, heights and numbers that are no numbers, a line among
  // the points) is said as the table's load says it.
  const std::string plain =
      Write("plain.geojson", GeoJsonPoints(5000, [](int i) {
                               return i == 4500   ? R"("no": "1.5", "name": "P😀", "z": "x")"
                                      : i == 4600 ? R"("no": 4600, "z": "y")"
                                                  : "\"no\": " + std::to_string(i);
                             }) + R"(,{"type":"Feature","properties":{},
"geometry":{"type":"LineString","coordinates":[[139.8,36.0],[139.9,36.1]]}}]})");
  EXPECT_TRUE(GisPointsStream(plain, "plain", 6677));
  CoordinateData table;
  std::vector<std::string> loaded;
  ASSERT_TRUE(LoadAnyCoordinateFile(plain, "plain", 6677, table, false, loaded));
  KeptPoints kept;
  CoordinateData counts;
  LoadReport report;
  std::vector<std::string> more;
  ASSERT_TRUE(StreamGisPoints(plain, "plain", 6677, kept, counts, report, more));
  std::vector<std::string> said = LoadWarnings(report, "plain");
  said.insert(said.end(), more.begin(), more.end());
  EXPECT_EQ(said.size(), 4u);
  EXPECT_EQ(said, loaded);
  ASSERT_EQ(kept.points.size(), 5000u);
  EXPECT_EQ(kept.points[4499].Name, table.Table.Points[4500].Name);
  EXPECT_EQ(kept.points[4599].Z, 0.0);
}

// PointsOnly's points under parcels (some closed, some with a point missing, one with a
// name longer than any point's text) and polylines; a parcel runs through a place two
// points share, and a point stands at the origin.
CoordinateData PointsAndShapes(int32_t count) {
  CoordinateData data = PointsOnly(count);
  const int32_t shared = count / 2 + 1;
  data.Table.Points[shared].X = data.Table.Points[10].X;
  data.Table.Points[shared].Y = data.Table.Points[10].Y;
  data.Table.Points[count].X = data.Table.Points[count].Y = 0.0;
  SimaBlock& first = data.Sima.SimaBlocks.emplace_back();
  first.Name = std::string(70'000, 'n');
  for (const int32_t number : {1, shared, 3})
    first.Records.emplace_back().Point.Number = number;
  for (int32_t b = 0; b < count / 8; ++b) {
    SimaBlock& block = data.Sima.SimaBlocks.emplace_back();
    block.Polyline = b % 5 == 4;
    block.Number = std::to_string(b + 1);
    block.Name = Utf8ToCp932("区画" + std::to_string(b)).text;
    block.Closing = block.Polyline ? 0 : b % 2;
    for (int32_t v = 0; v < 3 + b % 4; ++v) {
      SimaBlockRecord& record = block.Records.emplace_back();
      record.Point.Number = b % 50 == 3 && v == 1 ? -5 : (b * 7 + v * 13) % count + 1;
    }
    block.RowsBefore = count;
  }
  return data;
}

// The parcels and polylines beside points read as they stream are the blocks the table's
// load makes of them, found a part of the places at a time as well as all at once; shapes
// off the points are told of as the table's load tells of them.
TEST_F(Gis, ShapesBesideStreamedPointsAreTheTablesBlocks) {
  const std::string file = Path("shapes.gpkg");
  WriteGis(PointsAndShapes(4000), GisFormat::kGpkg, file);
  {
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds);
    OGRLayer* lines = ds->GetLayerByName("polylines");
    ASSERT_NE(lines, nullptr);
    // From (-0, 0), the origin's point, to the first point; through a place with no
    // point; through no place at all.
    for (const double x : {-0.0, 1.0, std::nan("")}) {
      OGRLineString line;
      line.addPoint(x, x == 0.0 ? 0.0 : 2.0);
      line.addPoint(-29999.9375, -12000.125);
      OGRFeature f(lines->GetLayerDefn());
      f.SetGeometry(&line);
      ASSERT_EQ(lines->CreateFeature(&f), OGRERR_NONE);
    }
  }
  CoordinateData table;
  AppendPoint(table.Table).Number = -1;  // read after a point of another file
  std::vector<std::string> loaded;
  ASSERT_TRUE(LoadAnyCoordinateFile(file, "shapes", 6677, table, true, loaded));
  const std::vector<SimaBlock>& blocks = table.Sima.SimaBlocks;
  ASSERT_GT(blocks.size(), 400u);
  // The first point read at a place is the one a parcel's vertex there stands on.
  EXPECT_EQ(blocks.front().Records[1].Point.Number, 10);
  EXPECT_EQ(blocks.back().Records[0].Point.Name, table.Table.Points[4001].Name);
  // Two vertices stand where points of two numbers stand: the first read is taken.
  EXPECT_EQ(loaded, (std::vector<std::string>{
                        "shapes: 2 features of the layer polylines do not run through points that "
                        "were read and were not made parcels or polylines (feature 102 is the "
                        "first)",
                        "shapes: 2 vertices of the parcels and polylines stand where more than "
                        "one point stands, and were taken for the first of them read"}));
  ASSERT_TRUE(GisPointsStream(file, "shapes", 6677));
  for (const PlaceJoinTuning tuning : {PlaceJoinTuning{}, PlaceJoinTuning{300, 97}}) {
    SCOPED_TRACE(tuning.pointsPerPart);
    KeptPoints kept;
    CoordinateData counts;
    counts.Table.PointCount = 1;
    LoadReport report;
    std::vector<std::string> more;
    ASSERT_TRUE(StreamGisPoints(file, "shapes", 6677, kept, counts, report, more, tuning));
    std::vector<std::string> said = LoadWarnings(report, "shapes");
    said.insert(said.end(), more.begin(), more.end());
    EXPECT_EQ(said, loaded);
    ASSERT_EQ(kept.blocks.size(), blocks.size());
    for (size_t b = 0; b < blocks.size(); ++b) {
      const SimaBlock& x = blocks[b];
      const SimaBlock& y = kept.blocks[b];
      ASSERT_TRUE(x.Polyline == y.Polyline && x.Number == y.Number && x.Name == y.Name &&
                  x.Closing == y.Closing && x.RowsBefore == y.RowsBefore &&
                  x.Records.size() == y.Records.size())
          << b;
      for (size_t r = 0; r < x.Records.size(); ++r) {
        ASSERT_TRUE(x.Records[r].Point.Number == y.Records[r].Point.Number &&
                    x.Records[r].Point.Name == y.Records[r].Point.Name)
            << b << " " << r;
      }
      EXPECT_EQ(kept.rowsBefore[b], std::vector<int32_t>(x.Records.size(), 4001)) << b;
    }
  }
}

// Every command gives the same output for a GIS layer read as it streams and read into
// a table (forced here by input read from a pipe beside it).
TEST_F(Gis, CommandsOfStreamedPointLayersAreThoseOfTheTable) {
  fs::create_directories(Path("s"));
  fs::create_directories(Path("t"));
  const std::string layer = Path("site.gpkg");
  WriteGis(PointsAndShapes(5000), GisFormat::kGpkg, layer);
  const std::string list = Write("before.csv", "1,A,10.0,20.0,1.0\n2,B,11.0,21.0,1.0\n");
  ASSERT_TRUE(GisPointsStream(layer, "s", 0));
  for (const char* folder : {"s/", "t/"}) {
    const std::string in = folder == std::string("s/") ? list + " " + layer : "- " + layer;
    const std::string pipe = folder == std::string("s/") ? "" : "cat " + list + " | ";
    for (const std::string out :
         {"out.jww", "out.clip", "out.svg", "out.sim", "out.dxf", "out.geojson"}) {
      const std::string command = (out == "out.jww"    ? "convert "
                                   : out == "out.clip" ? "clip "
                                   : out == "out.svg"  ? "plot "
                                                       : "export ") +
                                  in + " -o " + Path(folder + out) + " --crs EPSG:6677";
      const Result r = RunShell(pipe + kCli + " " + command);
      ASSERT_EQ(r.status, 0) << command << ": " << r.out;
    }
    ASSERT_EQ(RunShell(pipe + kCli + " info " + in + " --crs EPSG:6677 > " +
                       Path(std::string(folder) + "info.txt"))
                  .status,
              0);
  }
  for (const char* out :
       {"info.txt", "out.jww", "out.clip", "out.svg", "out.sim", "out.dxf", "out.geojson"}) {
    EXPECT_TRUE(ReadFileBytes(Path(std::string("s/") + out)) ==
                ReadFileBytes(Path(std::string("t/") + out)))
        << out;
  }
}

// A GeoJSON layer is found to need a table only as it is read: the files are then read
// into one, each warning said once, and input that can be read only once is read into a
// table from the start. Warnings of the files before one that fails come before its error.
TEST_F(Gis, LayersFoundToNeedATableAsTheyAreReadAreLoadedOnce) {
  const std::string layer = Write("late.geojson", GeoJsonPoints(6000, [](int i) {
                                                    return "\"no\": " + std::to_string(i) +
                                                           (i == 5000 ? R"(, "marked": 0)" : "");
                                                  }) + "]}");
  const std::string list = Write("before.csv", "1,A,10.0,20.0,1.0\n2,B,x,21.0,1.0\n");
  const std::string ini = Write("k.ini", "[WrtBAse]\nScale=abc\n");
  const auto once = [](const std::string& out, const std::string& text) {
    const size_t at = out.find(text);
    EXPECT_NE(at, std::string::npos) << text << " missing from\n" << out;
    EXPECT_EQ(out.find(text, at + 1), std::string::npos) << text << " twice in\n" << out;
  };
  for (const std::string command : {"convert", "clip", "info", "plot", "export"}) {
    std::string args = command + " " + list + " " + layer + " --crs EPSG:6677";
    if (command == "convert" || command == "clip") args += " --settings " + ini;
    if (command != "info") args += " -o " + Path("out." + command);
    if (command == "export") args += ".sim";
    const Result r = RunCli(args);
    ASSERT_EQ(r.status, 0) << args << "\n" << r.out;
    once(r.out, "before.csv:2: 1 field is not a number");
    if (command == "convert" || command == "clip") {
      once(r.out, "Scale");
    }
    if (command == "info") {
      EXPECT_NE(r.out.find("points: 6002"), std::string::npos) << r.out;
    }
  }
  const Result piped =
      RunShell("cat " + list + " | " + kCli + " info - " + layer + " --crs EPSG:6677");
  ASSERT_EQ(piped.status, 0) << piped.out;
  EXPECT_NE(piped.out.find("points: 6002"), std::string::npos) << piped.out;

  const std::string broken = Write("broken.geojson", R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"no":1},"geometry":null}]})");
  const Result failed = RunCli("info " + list + " " + broken + " --crs EPSG:6677");
  EXPECT_EQ(failed.status, 1);
  const size_t warning = failed.out.find("before.csv:2: 1 field is not a number");
  ASSERT_NE(warning, std::string::npos) << failed.out;
  EXPECT_LT(warning, failed.out.find("has no position")) << failed.out;
}

// The records of each DXF entity as ogrinfo prints them.
std::vector<std::map<std::string, std::string>> DxfEntities(const std::string& file) {
  const Result r = RunShell("ogrinfo -al -q " + file);
  std::vector<std::map<std::string, std::string>> out;
  const std::regex field(R"(^  (\w+) \(String\) = (.*)$)");
  const std::regex style(R"(^  Style = (.*)$)");
  const std::regex geometry(R"(^  ((POINT|LINESTRING).*)$)");
  std::istringstream lines(r.out);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (line.rfind("OGRFeature(entities)", 0) == 0) out.emplace_back();
    if (out.empty()) continue;
    if (std::regex_match(line, m, field)) out.back()[m[1]] = m[2];
    if (std::regex_match(line, m, style)) out.back()["Style"] = m[1];
    if (std::regex_match(line, m, geometry)) out.back()["Geometry"] = m[1];
  }
  return out;
}

TEST_F(Gis, DxfHasTheDrawingsLayersLabelsAndTextHeights) {
  // Defaults: group 8, points on layer 1, names on 2, X/Y on 0, Z on 8, SIMA lines on 4
  // and parcel labels on 5, every label of text kind 3; 1:500.
  // Jw_cad's own text sizes: kind 3 is 3 mm high, kind 5 is 5 mm.
  const std::string reg = Write("empty.reg", "Windows Registry Editor Version 5.00\r\n");
  ASSERT_EQ(
      RunCli("export " + kSite + " -o " + Path("site.dxf") + " --jwcad-settings " + reg).status, 0);
  const auto all = DxfEntities(Path("site.dxf"));
  ASSERT_EQ(all.size(), 59u);  // 11 points, 3 x 11 labels, 13 lines, 2 parcel labels
  std::map<std::string, int> perLayer;
  for (const auto& e : all)
    ++perLayer[e.at("Layer")];
  EXPECT_EQ(perLayer,
            (std::map<std::string, int>{
                {"8-0", 11}, {"8-1", 11}, {"8-2", 11}, {"8-4", 13}, {"8-5", 2}, {"8-8", 11}}));
  EXPECT_EQ(all[0].at("Geometry"), "POINT (-30512.406 -12045.318)");  // easting, northing
  EXPECT_EQ(all[13].at("Text"), "境界1");
  EXPECT_EQ(all[13].at("Geometry"), "POINT (-30520 -12020.1)");
  EXPECT_EQ(all[13].at("Style"), "LABEL(f:\"MS Gothic\",t:\"境界1\",s:1.5g,p:1,c:#000000)");
  EXPECT_EQ(all[22].at("Text"), "-12045.318 ,-30512.406");
  EXPECT_EQ(all[33].at("Text"), "  24.115");
  EXPECT_EQ(all[44].at("Geometry"), "LINESTRING (-30490 -12020.1,-30520 -12020.1)");  // 4 to 3
  EXPECT_EQ(all[57].at("Text"), "1番3");
  EXPECT_EQ(all[57].at("Geometry"), "POINT (-30505 -12035.1)");  // the parcel's centroid

  // The settings file moves layers, group, text kinds, base points and the scale.
  const std::string ini = Write("k.ini",
                                "[WrtBAse]\r\nScale=250\r\nGroup=10\r\n[PointStr]\r\nLay=12\r\n"
                                "MojiNo=5\r\nMojiBs=9\r\n[XYcoord]\r\nOutFlg=0\r\n[Zcoord]\r\n"
                                "OutFlg=0\r\n[Point]\r\nOutFlg=0\r\nEnkoFlg=1\r\nEnkoR=2\r\n");
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("k.dxf") + " --settings " + ini +
                   " --jwcad-settings " + reg)
                .status,
            0);
  const auto withCircles = DxfEntities(Path("k.dxf"));
  ASSERT_EQ(withCircles.size(), 37u);
  // A circle of 2 m across on the ground, as the drawing has it at any scale.
  EXPECT_EQ(withCircles[0].at("Layer"), "A-1");
  EXPECT_EQ(withCircles[0].at("Geometry").substr(0, 40),
            "LINESTRING (-30511.406 -12045.318,-30511");
  const std::vector<std::map<std::string, std::string>> moved(withCircles.begin() + 11,
                                                              withCircles.end());
  EXPECT_EQ(moved[0].at("Layer"), "A-C");
  EXPECT_EQ(moved[0].at("Style"), "LABEL(f:\"MS Gothic\",t:\"KBM-1\",s:1.25g,p:9,c:#000000)");
  EXPECT_EQ(moved[11].at("Layer"), "A-4");
  EXPECT_EQ(moved[24].at("Layer"), "A-5");
}

TEST_F(Gis, RefusesWhatCannotBeWritten) {
  const std::string out = Path("x.gpkg");
  Result r = RunCli("export " + kSite + " -o " + out);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "kestrova-cli: GeoPackage places the site by its coordinate system: give --crs EPSG:N "
            "for the survey coordinate system (JGD2011 zones I to XIX are EPSG:6669 to 6687, "
            "JGD2000 zones EPSG:2443 to 2461, Tokyo datum zones EPSG:30161 to 30179)\n");
  r = RunCli("export " + kSite + " -o " + out + " --crs 6677");
  EXPECT_EQ(r.status, 2) << r.out;
  r = RunCli("export " + kSite + " -o " + out + " --crs EPSG:4326");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("EPSG:4326 (WGS 84) is not a plane coordinate system"), std::string::npos);
  r = RunCli("export " + kSite + " -o " + out + " --crs EPSG:999999");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_FALSE(fs::exists(out));
  r = RunCli("export " + kSite + " -o - --format shp --crs EPSG:6677");
  EXPECT_EQ(r.status, 2) << r.out;
  // One file goes to standard output; DXF needs no system.
  const std::string reg = Write("empty.reg", "REGEDIT4\r\n");
  r = RunShell(kCli + " export " + kSite + " -o - --format dxf --jwcad-settings " + reg + " > " +
                   Path("o.dxf"),
               false);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(DxfEntities(Path("o.dxf")).size(), 59u);
}

TEST_F(Gis, DxfOfUnmarkedPointsAloneIsRefusedLikeTheDrawing) {
  const std::string none = Write("u.geojson", R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"marked":0},"geometry":{"type":"Point","coordinates":[139.8,36.0]}},
{"type":"Feature","properties":{"marked":0},"geometry":{"type":"Point","coordinates":[139.9,36.0]}}]})");
  Result r = RunCli("export " + none + " -o " + Path("u.dxf") + " --crs EPSG:6677");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out, "kestrova-cli: error: " + none +
                       ": every one of the 2 points is unmarked (the \"marked\" field is not 1), "
                       "and only marked points are drawn; nothing was written\n");
  EXPECT_FALSE(fs::exists(Path("u.dxf")));
  // A GIS format keeps every point with its mark.
  r = RunCli("export " + none + " -o " + Path("u.gpkg") + " --crs EPSG:6677");
  EXPECT_EQ(r.status, 0) << r.out;
  const Dataset gpkg(Path("u.gpkg"));
  ASSERT_TRUE(gpkg.Layer("points"));
  EXPECT_EQ(gpkg.Layer("points")->GetFeatureCount(), 2);
  // Some unmarked: every drawing says how many it left out, and counts only what it drew.
  const std::string some = Write("s.geojson", R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"marked":0},"geometry":{"type":"Point","coordinates":[139.8,36.0]}},
{"type":"Feature","properties":{"marked":1},"geometry":{"type":"Point","coordinates":[139.9,36.0]}},
{"type":"Feature","properties":{"marked":0},"geometry":{"type":"Point","coordinates":[139.9,36.1]}},
{"type":"Feature","properties":{"marked":1},"geometry":{"type":"Point","coordinates":[139.8,36.1]}}]})");
  const std::string said =
      "kestrova-cli: warning: 2 of the 4 points are unmarked (the \"marked\" "
      "field is not 1) and not drawn\n";
  for (const std::string& command :
       {"convert -o " + Path("s.jww"), "clip -o " + Path("s.clip"), "export -o " + Path("s.dxf")}) {
    r = RunCli(command + " " + some + " --crs EPSG:6677");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(said), std::string::npos) << command << "\n" << r.out;
  }
  r = RunCli("convert " + some + " -o " + Path("s.jww") + " --crs EPSG:6677");
  EXPECT_NE(r.out.find(" entities of 2 points to "), std::string::npos) << r.out;
}

TEST_F(Gis, WhatAnExportCannotHoldIsReported) {
  CoordinateData data;
  ASSERT_TRUE(LoadCoordinateText(
      "G00,01,x,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\n"
      "D00,1,p,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,9,z,\r\nD99,\r\n"
      "D00,2,q,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nE01,1,a,2,b,8,y,\r\nD99,\r\n",
      "t.sim", data, false));
  GisExportOptions o;
  o.Epsg = 6677;
  const GisExport gis = BuildGisExport(data, o, "t.gpkg");
  EXPECT_EQ(gis.parcelsNotWritten, 1u);
  EXPECT_EQ(gis.trianglesNotWritten, 1u);
  ASSERT_EQ(gis.Layers.size(), 3u);
  EXPECT_EQ(gis.Layers[1].Layer, "parcels");
  EXPECT_EQ(gis.Layers[1].Features, 1u);
  EXPECT_EQ(gis.Layers[2].Layer, "parcel_lines");
  EXPECT_EQ(gis.Layers[2].Features, 2u);  // the part of p up to the missing point stays
  EXPECT_EQ(GisExportWarnings(gis, "t.gpkg"),
            (std::vector<std::string>{
                "t.gpkg: 1 parcel has no area: a boundary point is not in the table or there are "
                "fewer than three; its boundary line was written as far as its points go, and "
                "nothing where that is fewer than two",
                "t.gpkg: 1 triangle names a point that is not in the table and was left out"}));
  // The window says the same in Japanese.
  EXPECT_EQ(
      GisExportWarnings(gis, "t.gpkg", Language::kJapanese),
      (std::vector<std::string>{
          "t.gpkg\r\n区画 1 個は境界点が表にないか 3 点に満たないため面にできず、"
          "境界線を表にある点まで書き出しました（2 点に満たない区画は何も書き出していません）。",
          "t.gpkg\r\n三角形 1 個は表にない点を使っているため、書き出しませんでした。"}));

  // 120 double-byte characters: 240 bytes here, 360 in UTF-8.
  std::string longName;
  for (int k = 0; k < 120; ++k)
    longName += "\x8b\xab";  // 境
  data.Table.Points[1].Name = longName;
  o.Format = GisFormat::kShp;
  const GisExport shp = BuildGisExport(data, o, "t.shp");
  EXPECT_EQ(shp.textsCut, 1u);
  EXPECT_EQ(shp.blanksDropped, 0u);
  // Blanks at either end of a text, which a Shapefile's readers drop, are counted by point.
  data.Table.Points[2].Name = " lead";
  data.Table.Points[2].Remarks = "trail ";
  data.Table.Points[3].Mark = "7 ";
  EXPECT_EQ(BuildGisExport(data, o, "t.shp").blanksDropped, 2u);
  o.Format = GisFormat::kGpkg;
  EXPECT_EQ(BuildGisExport(data, o, "t.gpkg").blanksDropped, 0u);
  // KML drops leading blanks only.
  data.Table.Points[1].Remarks = " r";
  o.Format = GisFormat::kKml;
  const GisExport kml = BuildGisExport(data, o, "t.kml");
  EXPECT_EQ(kml.blanksDropped, 0u);
  EXPECT_EQ(kml.kmlBlanksDropped, 2u);
  EXPECT_EQ(GisExportWarnings(kml, "t.kml").back(),
            "t.kml: 2 points have a name, mark or remarks beginning with blanks, which a KML "
            "file drops; GeoPackage keeps them");
  o.Format = GisFormat::kShp;
  EXPECT_EQ(shp.Files.front().Name, "t.shp");
  EXPECT_EQ(shp.Files.size(), 5u * 3);  // points, parcels, parcel lines
}

// A DXF read group by group, without GDAL: each entity of the entity section as its
// groups in order, the names of the line types the tables define, and the header's
// variables.
struct DxfFile {
  struct Entity {
    std::string type;
    std::vector<std::pair<int, std::string>> groups;
    std::string Get(int code) const {
      for (const auto& [c, v] : groups) {
        if (c == code) return v;
      }
      return "";
    }
    bool Has(int code) const {
      return std::any_of(groups.begin(), groups.end(),
                         [code](const auto& g) { return g.first == code; });
    }
    // MTEXT: the groups 3 and then 1, in order.
    std::string RawText() const {
      std::string t;
      for (const auto& [c, v] : groups) {
        if (c == 3) t += v;
      }
      return t + Get(1);
    }
  };
  std::vector<Entity> entities;
  std::map<std::string, std::string> lineTypeElements;  // name: its element count
  std::string handleSeed;
  std::vector<std::string> handles;
  std::map<std::string, std::map<int, std::string>> header;  // $NAME: its groups

  explicit DxfFile(const std::string& bytes) {
    std::istringstream in(bytes);
    std::string code, value;
    std::string section, table;
    Entity* current = nullptr;
    std::string lineTypeName;
    bool seedNext = false;
    std::string variable;
    while (std::getline(in, code) && std::getline(in, value)) {
      const int c = std::stoi(code);
      if (section == "HEADER" && c == 9) variable = value;
      if (section == "HEADER" && c != 9 && c != 0) header[variable][c] = value;
      if (c == 0) current = nullptr;
      if (c == 9) seedNext = value == "$HANDSEED";
      if (c == 5 && seedNext) {
        handleSeed = value;
        seedNext = false;
        continue;
      }
      if (c == 5) handles.push_back(value);
      if (c == 0 && value == "SECTION") section.clear();
      if (c == 2 && section.empty()) {
        section = value;
        continue;
      }
      if (c == 0 && value == "TABLE") table.clear();
      if (c == 2 && section == "TABLES" && table.empty()) table = value;
      if (table == "LTYPE" && c == 2) lineTypeName = value;
      if (table == "LTYPE" && c == 73) lineTypeElements[lineTypeName] = value;
      if (section == "ENTITIES" && c == 0 && value != "ENDSEC") {
        entities.push_back({value, {}});
        current = &entities.back();
        continue;
      }
      if (current) current->groups.emplace_back(c, value);
    }
  }
  std::vector<const Entity*> Of(const std::string& type) const {
    std::vector<const Entity*> out;
    for (const Entity& e : entities) {
      if (e.type == type) out.push_back(&e);
    }
    return out;
  }
};

// MTEXT as a CAD program reads it, in one pass: \U+XXXX, \\, \{, \}, \P, groups, caret
// notation and the symbols %%c, %%d, %%p, %%%.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string ReadMtext(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    if (raw.compare(i, 3, "\\U+") == 0) {
      AppendUtf8(out, static_cast<char32_t>(std::stoul(raw.substr(i + 3, 4), nullptr, 16)));
      i += 7;
    } else if (raw[i] == '\\' && i + 1 < raw.size()) {
      const char n = raw[i + 1];
      if (n == 'P') {
        out += '\n';
      } else if (n == '~') {
        AppendUtf8(out, U'\u00a0');
      } else {
        out += n;
      }
      i += 2;
    } else if (raw.compare(i, 3, "%%c") == 0 || raw.compare(i, 3, "%%C") == 0) {
      AppendUtf8(out, U'\u2300');
      i += 3;
    } else if (raw.compare(i, 3, "%%d") == 0 || raw.compare(i, 3, "%%p") == 0) {
      AppendUtf8(out, raw[i + 2] == 'd' ? U'\u00b0' : U'\u00b1');
      i += 3;
    } else if (raw.compare(i, 3, "%%%") == 0) {
      out += '%';
      i += 3;
    } else if (raw[i] == '{' || raw[i] == '}') {
      ++i;  // grouping
    } else if (raw[i] == '^' && i + 1 < raw.size()) {
      // DXF's caret notation: "^ " is a caret, "^J" a control character.
      out += raw[i + 1] == ' ' ? '^' : static_cast<char>(raw[i + 1] & 0x1F);
      i += 2;
    } else {
      out += raw[i++];
    }
  }
  return out;
}

// The way some readers go: every \U+XXXX decoded when the file is loaded, the rest
// read afterwards.
std::string ReadMtextDecodingFirst(const std::string& raw) {
  std::string decoded;
  for (size_t i = 0; i < raw.size();) {
    if (raw.compare(i, 3, "\\U+") == 0) {
      AppendUtf8(decoded, static_cast<char32_t>(std::stoul(raw.substr(i + 3, 4), nullptr, 16)));
      i += 7;
    } else {
      decoded += raw[i++];
    }
  }
  return ReadMtext(decoded);
}

TEST_F(Gis, DxfCirclesColoursAndLineTypesAreTheDrawings) {
  const std::string reg = Write("empty.reg", "Windows Registry Editor Version 5.00\r\n");
  // Jw_cad's screen colours of pens 1..9 (0x00BBGGRR) that every drawing carries.
  const std::map<std::string, uint32_t> penBgr = {{"1", 0x00C0C0}, {"2", 0x000000},
                                                  {"3", 0x00C000}, {"4", 0xC0C000},
                                                  {"5", 0xC000C0}, {"6", 0x0000FF}};
  const auto rgb = [](uint32_t bgr) {
    return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
  };
  for (const std::string scale : {"500", "250"}) {
    const std::string ini =
        Write("c" + scale + ".ini", "[WrtBAse]\r\nScale=" + scale +
                                        "\r\n[Point]\r\nEnkoFlg=1\r\nEnkoR=1\r\n"
                                        "LColor=6\r\n");
    ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("c.dxf") + " --settings " + ini +
                     " --jwcad-settings " + reg)
                  .status,
              0);
    ASSERT_EQ(RunCli("convert " + kSite + " -o " + Path("c.jww") + " --settings " + ini +
                     " --jwcad-settings " + reg)
                  .status,
              0);
    const DxfFile dxf(ReadFileBytes(Path("c.dxf")));
    // The drawing's circles in paper millimetres, and its lines' pens and line types.
    const std::string dump = RunCli("dump " + Path("c.jww")).out;
    const std::regex circle(R"(CDataEnko .*colour=(\d+) .*radius=([0-9.e-]+) )");
    const std::regex line(R"(CDataSen group=0 style=(\d+) colour=(\d+) )");
    std::vector<double> radii;
    std::vector<std::pair<std::string, std::string>> lines;  // style, colour
    std::istringstream in(dump);
    std::smatch m;
    for (std::string l; std::getline(in, l);) {
      if (std::regex_search(l, m, circle))
        radii.push_back(std::stod(m[2]) * std::stod(scale) / 1000);
      if (std::regex_search(l, m, line)) lines.emplace_back(m[1], m[2]);
    }
    const auto circles = dxf.Of("CIRCLE");
    ASSERT_EQ(circles.size(), 11u) << scale;
    ASSERT_EQ(radii.size(), 11u);
    for (size_t i = 0; i < circles.size(); ++i) {
      // 1 mm across in the settings is half a metre of radius on the ground.
      EXPECT_EQ(std::stod(circles[i]->Get(40)), 0.5) << scale;
      EXPECT_NEAR(std::stod(circles[i]->Get(40)), radii[i], 1e-12) << scale;
      EXPECT_EQ(std::stoul(circles[i]->Get(420)), rgb(penBgr.at("6")));
      EXPECT_EQ(circles[i]->Get(62), "1");  // red
    }
    EXPECT_EQ(circles[0]->Get(10), "-30512.406");
    EXPECT_EQ(circles[0]->Get(20), "-12045.318");
    EXPECT_TRUE(dxf.Of("LWPOLYLINE").empty());
    // Every line with the pen and line type the drawing gives it.
    const auto dxfLines = dxf.Of("LINE");
    ASSERT_EQ(dxfLines.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      const auto& [style, colour] = lines[i];
      EXPECT_EQ(std::stoul(dxfLines[i]->Get(420)), rgb(penBgr.at(colour))) << i;
      EXPECT_EQ(dxfLines[i]->Get(62), colour == "1" ? "2" : colour == "2" ? "7" : "3") << i;
      if (style == "1") {
        EXPECT_FALSE(dxfLines[i]->Has(6)) << i;
      } else {
        const std::string type = dxfLines[i]->Get(6);
        ASSERT_EQ(type, "JW_LINETYPE_" + style) << i;
        ASSERT_TRUE(dxf.lineTypeElements.count(type));
        EXPECT_EQ(dxf.lineTypeElements.at(type), "8");  // dash, gap, dot, gap, twice
      }
    }
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.first == "5"; }), 3);
    // Texts in the pens of their kinds; handles unique and below the seed.
    for (const auto* t : dxf.Of("MTEXT"))
      EXPECT_TRUE(t->Has(420));
    std::set<std::string> unique(dxf.handles.begin(), dxf.handles.end());
    EXPECT_EQ(unique.size(), dxf.handles.size());
    const unsigned long seed = std::stoul(dxf.handleSeed, nullptr, 16);
    for (const std::string& h : dxf.handles)
      EXPECT_LT(std::stoul(h, nullptr, 16), seed) << h;
  }
}

TEST_F(Gis, DxfPlacesThePointsWhereTheDrawingDoes) {
  // The drawing has X up unless the settings ask for mathematical axes (X to the right)
  // and the input is not SIMA, which always has X up.
  const std::string reg = Write("empty.reg", "REGEDIT4\r\n");
  for (const std::string flg : {"0", "1"}) {
    for (const std::string& site : {kZhy, kSite}) {
      const std::string ini =
          Write("a.ini", "[WrtBAse]\r\nScale=250\r\n[Coordinate]\r\nFlg=" + flg +
                             "\r\n[Point]\r\nEnkoFlg=1\r\n");
      const std::string args = " --settings " + ini + " --jwcad-settings " + reg;
      ASSERT_EQ(RunCli("export " + site + " -o " + Path("a.dxf") + args).status, 0);
      ASSERT_EQ(RunCli("convert " + site + " -o " + Path("a.jww") + args).status, 0);
      const std::string dump = RunCli("dump " + Path("a.jww")).out;
      const std::regex circle(R"(CDataEnko .* cx=([0-9.e-]+) cy=([0-9.e-]+) )");
      std::vector<std::pair<double, double>> drawing;  // paper millimetres from the base
      std::istringstream in(dump);
      std::smatch m;
      for (std::string l; std::getline(in, l);) {
        if (std::regex_search(l, m, circle)) drawing.emplace_back(std::stod(m[1]), std::stod(m[2]));
      }
      const DxfFile dxf(ReadFileBytes(Path("a.dxf")));
      const auto circles = dxf.Of("CIRCLE");
      ASSERT_EQ(circles.size(), 11u);
      ASSERT_EQ(drawing.size(), 11u);
      // A paper millimetre is a quarter of a metre at 1:250.
      const auto x = [&](size_t i) { return std::stod(circles[i]->Get(10)); };
      const auto y = [&](size_t i) { return std::stod(circles[i]->Get(20)); };
      for (size_t i = 1; i < 11; ++i) {
        EXPECT_NEAR(x(i) - x(0), (drawing[i].first - drawing[0].first) / 4, 1e-9)
            << flg << site << i;
        EXPECT_NEAR(y(i) - y(0), (drawing[i].second - drawing[0].second) / 4, 1e-9)
            << flg << site << i;
      }
      // The first point: X -12045.318, Y -30512.406.
      const bool xUp = flg == "1" || site == kSite;
      EXPECT_EQ(circles[0]->Get(10), xUp ? "-30512.406" : "-12045.318") << flg << site;
      EXPECT_EQ(circles[0]->Get(20), xUp ? "-12045.318" : "-30512.406") << flg << site;
    }
  }
}

TEST_F(Gis, DxfHeaderHasTheExtentsAndUnitsOfTheSite) {
  const std::string reg = Write("empty.reg", "REGEDIT4\r\n");
  for (const std::string mm : {"0", "1"}) {
    const std::string ini =
        Write("h.ini", "[WrtBAse]\r\nmmFlg=" + mm + "\r\n[Point]\r\nEnkoFlg=1\r\nEnkoR=3\r\n");
    ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("h.dxf") + " --settings " + ini +
                     " --jwcad-settings " + reg)
                  .status,
              0);
    const DxfFile dxf(ReadFileBytes(Path("h.dxf")));
    // Every point, circle, line end and text base point lies within the extents, and
    // each bound is reached.
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    const auto add = [&](double x, double y, double r) {
      minX = std::min(minX, x - r);
      minY = std::min(minY, y - r);
      maxX = std::max(maxX, x + r);
      maxY = std::max(maxY, y + r);
    };
    for (const auto& e : dxf.entities) {
      const double r = e.type == "CIRCLE" ? std::stod(e.Get(40)) : 0.0;
      add(std::stod(e.Get(10)), std::stod(e.Get(20)), r);
      if (e.type == "LINE") add(std::stod(e.Get(11)), std::stod(e.Get(21)), 0.0);
    }
    ASSERT_EQ(dxf.entities.size(), 70u);
    EXPECT_EQ(minX, -30546.5);  // a circle of 1.5 around Y -30545
    const auto& extMin = dxf.header.at("$EXTMIN");
    const auto& extMax = dxf.header.at("$EXTMAX");
    EXPECT_EQ(std::stod(extMin.at(10)), minX) << mm;
    EXPECT_EQ(std::stod(extMin.at(20)), minY) << mm;
    EXPECT_EQ(std::stod(extMax.at(10)), maxX) << mm;
    EXPECT_EQ(std::stod(extMax.at(20)), maxY) << mm;
    EXPECT_EQ(std::stod(extMin.at(30)), 0.0);
    EXPECT_EQ(std::stod(extMax.at(30)), 0.0);
    // Metres or millimetres, as the coordinates are; metric.
    EXPECT_EQ(std::stoi(dxf.header.at("$INSUNITS").at(70)), mm == "1" ? 4 : 6);
    EXPECT_EQ(std::stoi(dxf.header.at("$MEASUREMENT").at(70)), 1);
  }
}

// 120 double-byte characters and a brace: 842 characters escaped, four MTEXT groups.
std::string LongName() {
  std::string s;
  for (int i = 0; i < 120; ++i)
    s += "境";
  return s + "{";
}

// A caret escaped as "^ " at the 250th and 251st characters: 35 double-byte characters
// are 245 escaped.
std::string CaretAtTheBoundary() {
  std::string s;
  for (int i = 0; i < 35; ++i)
    s += "境";
  return s + "abcd^xyz";
}

TEST_F(Gis, DxfTextsReadBackAsWritten) {
  const std::vector<std::string> names = {
      "%%c50", "{a}b", "x\\Py",  "境界1",    " lead",
      "%%%",   "a^Jb", "trail ", LongName(), CaretAtTheBoundary()};
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += std::to_string(i + 1) + "\t" + names[i] + "\t" + std::to_string(i) + "\t0\t0\r\n";
  // The list is UTF-8 and becomes code page 932; every name here survives that.
  const std::string in = Write("n.csv", list);
  const std::string ini =
      Write("n.ini", "[XYcoord]\r\nOutFlg=0\r\n[Zcoord]\r\nOutFlg=0\r\n[Point]\r\nOutFlg=0\r\n");
  const std::string reg = Write("empty.reg", "REGEDIT4\r\n");
  const Result r = RunCli("export " + in + " -o " + Path("n.dxf") + " --settings " + ini +
                          " --jwcad-settings " + reg);
  ASSERT_EQ(r.status, 0) << r.out;
  const DxfFile dxf(ReadFileBytes(Path("n.dxf")));
  const auto texts = dxf.Of("MTEXT");
  ASSERT_EQ(texts.size(), names.size());
  std::vector<std::string> raw;
  for (size_t i = 0; i < texts.size(); ++i) {
    raw.push_back(texts[i]->RawText());
    EXPECT_EQ(ReadMtext(raw.back()), names[i]) << raw.back();
    EXPECT_EQ(ReadMtextDecodingFirst(raw.back()), names[i]) << raw.back();
    // Unicode escapes in upper case only.
    EXPECT_FALSE(std::regex_search(raw.back(), std::regex(R"(\\U\+[0-9A-F]{0,3}[a-f])")))
        << raw.back();
  }
  EXPECT_EQ(raw[0], "%{}%c50");
  EXPECT_EQ(raw[5], "%{}%{}%");
  EXPECT_EQ(raw[6], "a^ Jb");
  EXPECT_EQ(raw[1], "\\{a\\}b");
  EXPECT_EQ(raw[2], "x\\\\Py");
  EXPECT_EQ(raw[3], "\\U+5883\\U+754C1");
  EXPECT_EQ(raw[4], "\\U+0020lead");
  // Long names are split into groups of at most 250 characters, never inside an escape:
  // a reader that takes the groups one by one reads the same.
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string pieceByPiece;
    for (const auto& [code, value] : texts[i]->groups) {
      if (code != 1 && code != 3) continue;
      EXPECT_LE(value.size(), 250u);
      pieceByPiece += ReadMtext(value);
    }
    EXPECT_EQ(pieceByPiece, names[i]);
  }
  size_t pieces = 0;
  for (const auto& [code, value] : texts[8]->groups) {
    if (code != 1 && code != 3) continue;
    ++pieces;
    EXPECT_TRUE(value.size() % 7 == 0 || code == 1) << value;
  }
  EXPECT_EQ(pieces, 4u);
  // GDAL reads them back the same.
  const auto viaGdal = DxfEntities(Path("n.dxf"));
  ASSERT_EQ(viaGdal.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].find('{') == std::string::npos) {
      EXPECT_EQ(viaGdal[i].at("Text"), names[i]);
    }
  }
}

// Signed area (counter-clockwise positive) of a ring of x, y pairs.
double SignedArea(const std::vector<std::pair<double, double>>& ring) {
  double twice = 0.0;
  for (size_t i = 0; i + 1 < ring.size(); ++i) {
    twice += (ring[i].first - ring[0].first) * (ring[i + 1].second - ring[0].second) -
             (ring[i + 1].first - ring[0].first) * (ring[i].second - ring[0].second);
  }
  return twice / 2;
}

TEST_F(Gis, GeoJsonKmlAndGeoPackageFollowTheirFormats) {
  // A clockwise parcel, a name that looks like JSON and one with a quote and a backslash.
  const std::string sim =
      Write("cw.sim",
            "G00,01,x,\r\nA01,1,{\"a\":1},0,0,0,\r\nA01,2,[1],10,0,0,\r\n"
            "A01,3,q\"b\\s,10,10,0,\r\nA01,4,d,0,10,0,\r\n"
            "D00,1,p,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nB01,4,d,\r\nD99,\r\n"
            "D00,2,q,1,\r\nB01,1,a,\r\nB01,4,d,\r\nB01,3,c,\r\nB01,2,b,\r\nD99,\r\n");
  for (const std::string ext : {"geojson", "kml", "gpkg"})
    ASSERT_EQ(RunCli("export " + sim + " -o " + Path("cw." + ext) + " --crs EPSG:6677").status, 0);

  const std::string json = ReadFileBytes(Path("cw.geojson"));
  EXPECT_EQ(json.find("\"crs\""), std::string::npos);
  EXPECT_NE(json.find(R"("name": "{\"a\":1}")"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("name": "[1]")"), std::string::npos) << json;
  // Nine decimals of a degree at most.
  EXPECT_FALSE(std::regex_search(json, std::regex(R"(\d\.\d{10})"))) << json;
  Dataset j(Path("cw.geojson"));
  ASSERT_TRUE(j.ds);
  int polygons = 0;
  for (auto& f : *j.ds->GetLayer(0)) {
    if (std::string(f->GetFieldAsString("layer")) == "points" && f->GetFID() == 0) {
      EXPECT_EQ(f->GetFieldDefnRef(f->GetFieldIndex("name"))->GetType(), OFTString);
      EXPECT_STREQ(f->GetFieldAsString("name"), "{\"a\":1}");
    }
    if (std::string(f->GetFieldAsString("layer")) == "points" && f->GetFID() == 2) {
      EXPECT_STREQ(f->GetFieldAsString("name"), "q\"b\\s");
      EXPECT_EQ(f->GetFieldAsDouble("x"), 10.0);
      EXPECT_EQ(f->GetFieldAsInteger("marked"), 1);
    }
    const OGRGeometry* g = f->GetGeometryRef();
    if (wkbFlatten(g->getGeometryType()) != wkbPolygon) continue;
    const OGRLinearRing& ring = *g->toPolygon()->getExteriorRing();
    std::vector<std::pair<double, double>> v;
    for (int i = 0; i < ring.getNumPoints(); ++i)
      v.emplace_back(ring.getX(i), ring.getY(i));
    EXPECT_GT(SignedArea(v), 0.0);  // counter-clockwise
    ++polygons;
  }
  EXPECT_EQ(polygons, 2);

  // KML: every polygon's outer ring counter-clockwise, read from the text.
  const std::string kml = ReadFileBytes(Path("cw.kml"));
  const std::regex outer(R"(<outerBoundaryIs><LinearRing><coordinates>([^<]*)</coordinates>)");
  int rings = 0;
  for (std::sregex_iterator it(kml.begin(), kml.end(), outer), end; it != end; ++it) {
    std::vector<std::pair<double, double>> v;
    std::istringstream coords((*it)[1].str());
    for (std::string pair; coords >> pair;) {
      const size_t comma = pair.find(',');
      v.emplace_back(std::stod(pair.substr(0, comma)), std::stod(pair.substr(comma + 1)));
    }
    EXPECT_GT(SignedArea(v), 0.0) << (*it)[1];
    ++rings;
  }
  EXPECT_EQ(rings, 2);

  // GeoPackage: the R-tree index of every layer, read with sqlite3.
  const Result rtree = RunShell(
      "sqlite3 " + Path("cw.gpkg") +
      " \"SELECT table_name FROM gpkg_extensions WHERE extension_name = 'gpkg_rtree_index' "
      "ORDER BY table_name; SELECT count(*) FROM rtree_points_geom; "
      "SELECT count(*) FROM rtree_parcels_geom;\"");
  EXPECT_EQ(rtree.out, "parcel_lines\nparcels\npoints\n4\n2\n");
}

// On disk a GeoPackage's rows are inserted and its R-tree packed once GDAL has closed the
// file; in GDAL's memory GDAL inserts both a row at a time. Both must hold the same rows,
// value for value and type for type, the same extents, counts and sequences, the same
// index rows with the same single-precision bounds, beside the same tables, triggers and
// extension entries, and SQLite must find the packed tree sound and answer a window query
// from it alike.
TEST_F(Gis, GeoPackageRowsAndIndexAreThoseGdalInserts) {
  std::string sima = "G00,01,scatter,\r\nA00,\r\n";
  uint32_t seed = 12345;
  const auto millimetres = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 8) % 9'000'000) - 4'500'000;
  };
  char at[64];
  int x = 0, y = 0;
  for (int i = 1; i <= 3000; ++i) {
    if (i % 7 != 0) {  // every seventh point on the one before: boxes that tie
      x = millimetres();
      y = millimetres();
    }
    std::snprintf(at, sizeof at, ",%.3f,%.3f,0.000,\r\n", x / 1000.0, y / 1000.0);
    sima += "A01," + std::to_string(i) + ",p" + std::to_string(i) + at;
  }
  sima += "A99,\r\n";
  for (int parcel = 0; parcel < 100; ++parcel) {
    sima += "D00," + std::to_string(parcel + 1) + ",lot,1,\r\n";
    for (int corner = 1; corner <= 4; ++corner) {
      const int point = parcel * 29 + corner * 5;
      sima += "B01," + std::to_string(point) + ",p" + std::to_string(point) + ",\r\n";
    }
    sima += "D99,\r\n";
  }
  sima +=
      "F00,1,road,\r\nB01,1,p1,\r\nB01,2,p2,\r\nF99,\r\n"  // an index of one leaf
      "F00,2,lane,\r\nB01,3,p3,\r\nB01,4,p4,\r\nB01,5,p5,\r\nF99,\r\n";
  const std::string scatter = Write("scatter.sim", sima);
  // Odd texts and numbers, triangles, an open parcel and lines.
  const std::string odd =
      Write("odd.sim", Utf8ToCp932(std::string(kOddPoints) +
                                   "A01,6,,100.000,1234567890123.457,1234567890123.456,,\r\n"
                                   "D00,1,p,1,\r\nB01,1,a,\r\nB01,5,b,\r\nB01,2147483647,c,\r\n"
                                   "B01,2,d,\r\nE01,1,a,5,b,2,d,\r\nD99,\r\n"
                                   "D00,2,地番,0,\r\nB01,1,a,\r\nB01,5,b,\r\nB01,6,d,\r\nD99,\r\n"
                                   "F00,1,l,\r\nB01,2,a,\r\nB01,6,b,\r\nF99,\r\n")
                           .text);
  const auto exportTo = [&](const std::string& site, const std::string& name,
                            const std::string& env) {
    const Result r =
        RunShell(env + kCli + " export " + site + " -o " + Path(name) + " --crs EPSG:6677");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("made in memory") != std::string::npos, !env.empty()) << r.out;
    return Path(name);
  };
  const auto sql = [](const std::string& file, const std::string& query) {
    return RunShell("sqlite3 " + file + " \"" + query + "\"").out;
  };
  std::string packed, inserted;
  // The first line where file's answer differs from GDAL's own file's, empty when none
  // does.
  const auto differs = [&](const std::string& query, const std::string& file) {
    std::istringstream a(sql(file, query)), b(sql(inserted, query));
    for (std::string lineA, lineB;;) {
      const bool moreA = static_cast<bool>(std::getline(a, lineA));
      const bool moreB = static_cast<bool>(std::getline(b, lineB));
      if (!moreA && !moreB) return std::string();
      if (!moreA || !moreB || lineA != lineB)
        return (moreA ? lineA : "(end)") + " | " + (moreB ? lineB : "(end)");
    }
  };
  // Every value with its type, reals to the last bit.
  const auto value = [](const std::string& column) {
    return "typeof(" + column + "), CASE typeof(" + column +
           ") WHEN 'real' THEN printf('%!.17g', " + column + ") WHEN 'blob' THEN hex(" + column +
           ") ELSE " + column + " END";
  };
  // A table's entries in the contents and its rows; the points' rows with every field.
  const auto tableContents = [&](const std::string& table) {
    return "SELECT table_name, data_type, identifier, description, " + value("min_x") + ", " +
           value("min_y") + ", " + value("max_x") + ", " + value("max_y") +
           ", srs_id FROM gpkg_contents WHERE table_name LIKE '" + table +
           "' ORDER BY table_name; SELECT * FROM gpkg_ogr_contents WHERE table_name LIKE '" +
           table + "' ORDER BY table_name; ";
  };
  const std::string pointRows = "SELECT fid, " + value("geom") + ", " + value("number") + ", " +
                                value("name") + ", " + value("x") + ", " + value("y") + ", " +
                                value("z") + ", " + value("mark") + ", " + value("remarks") + ", " +
                                value("marked") + " FROM points ORDER BY fid; ";
  const std::string contents =
      "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name; "
      "SELECT * FROM gpkg_extensions ORDER BY table_name; " +
      tableContents("%") + "SELECT * FROM sqlite_sequence ORDER BY name; " + pointRows +
      "SELECT fid, " + value("geom") + ", " + value("name") + ", " + value("area") +
      " FROM parcels ORDER BY fid; ";
  const std::string shapes = "SELECT fid, " + value("geom") + ", " + value("name") + " FROM ";
  packed = exportTo(odd, "odd-packed.gpkg", "");
  inserted = exportTo(odd, "odd-inserted.gpkg", "TMPDIR=" + Path("missing") + " ");
  EXPECT_EQ(differs(contents, packed), "");
  for (const std::string layer : {"parcel_lines", "triangles", "polylines"})
    EXPECT_EQ(differs(shapes + layer + " ORDER BY fid", packed), "") << layer;
  EXPECT_EQ(sql(packed, "SELECT count(*) FROM triangles; SELECT count(*) FROM parcel_lines"),
            "1\n2\n");
  // Named like the files the rows wait in.
  const Result clash = RunShell(kCli + " export " + odd + " -o " + Path("rows-0") +
                                " --format gpkg --crs EPSG:6677");
  EXPECT_EQ(clash.status, 0) << clash.out;
  EXPECT_EQ(differs(contents, Path("rows-0")), "");
  packed = exportTo(scatter, "packed.gpkg", "");
  inserted = exportTo(scatter, "inserted.gpkg", "TMPDIR=" + Path("missing") + " ");
  EXPECT_EQ(differs(contents, packed), "");
  for (const std::string layer : {"points", "parcels", "parcel_lines", "polylines"}) {
    SCOPED_TRACE(layer);
    const std::string rtree = "rtree_" + layer + "_geom";
    EXPECT_EQ(sql(packed, "SELECT rtreecheck('" + rtree + "')"), "ok\n");
    if (layer != "points") {
      EXPECT_EQ(differs(shapes + layer + " ORDER BY fid", packed), "");
    }
    EXPECT_EQ(differs("SELECT * FROM " + rtree + " ORDER BY id", packed), "");
    const std::string window = "SELECT id FROM " + rtree +
                               " WHERE maxx >= -1000 AND minx <= 1500 AND maxy >= -2000 AND "
                               "miny <= 0 ORDER BY id";
    EXPECT_NE(sql(packed, window), "");
    EXPECT_EQ(differs(window, packed), "");
  }
  // 3,000 points take two levels above the leaves, 100 parcels one.
  EXPECT_EQ(sql(packed,
                "SELECT hex(substr(data, 1, 2)) FROM rtree_points_geom_node WHERE nodeno = 1; "
                "SELECT hex(substr(data, 1, 2)) FROM rtree_parcels_geom_node WHERE nodeno = 1"),
            "0002\n0001\n");

  // A table longer than a run: the points copied without an index and packed again in
  // runs of 1,000 rows (three), 1,500 (two) and 2,999 (a full one and one row); a run's
  // fids do not follow on from one another where rows were deleted. The index tables
  // of whole runs are kept, to be made again below.
  const std::string indexTables =
      "SELECT nodeno, hex(data) FROM rtree_points_geom_node ORDER BY nodeno; "
      "SELECT * FROM rtree_points_geom_parent ORDER BY nodeno; "
      "SELECT * FROM rtree_points_geom_rowid ORDER BY rowid; ";
  std::map<size_t, std::string> packedIndex;
  for (const size_t run : {1000, 1500, 2999}) {
    SCOPED_TRACE(run);
    const std::string copy = Path("copy.gpkg");
    fs::remove(copy);
    ASSERT_EQ(
        RunShell("ogr2ogr -preserve_fid -lco SPATIAL_INDEX=NO " + copy + " " + inserted + " points")
            .status,
        0);
    const std::string kept = run == 1500 ? " WHERE fid % 7 != 3" : "";
    if (!kept.empty()) sql(copy, "DELETE FROM points WHERE fid % 7 = 3");
    gis::PackGpkgSpatialIndexes(copy, {"points"}, run);
    EXPECT_EQ(sql(copy, "SELECT rtreecheck('rtree_points_geom')"), "ok\n");
    EXPECT_EQ(differs("SELECT * FROM rtree_points_geom" + kept + " ORDER BY id", copy), "");
    if (kept.empty()) packedIndex[run] = sql(copy, indexTables);
  }

  // The points' rows made only as they are inserted, into the table GDAL left empty, and
  // their index packed from the cells noted on the way, each run read and sorted while
  // the one before is written: GDAL's rows, and the index packed from the rows read back.
  // A maker's failure, too few rows, or the insert failing while the maker waits for room
  // fails the fill.
  const Dataset gdalPoints(inserted);
  OGRLayer* const points = gdalPoints.Layer("points");
  ASSERT_NE(points, nullptr);
  const OGRFeatureDefn& defn = *points->GetLayerDefn();
  std::vector<std::string> fields;
  for (int i = 0; i < defn.GetFieldCount(); ++i)
    fields.emplace_back(defn.GetFieldDefn(i)->GetNameRef());
  // GDAL's points, times times over, as rows; a failure instead of the row numbered last.
  const auto makeRows = [&](size_t last, int times) {
    return [&points, &defn, last, times](gis::GpkgRow& row) {
      size_t made = 0;
      for (int time = 0; time < times; ++time) {
        points->ResetReading();
        for (const auto& f : *points) {
          if (made++ == last) throw Error(MessageId::kGisCannotFinish, {"GeoPackage", ": stop"});
          row.Begin();
          row.Geometry(f->GetGeometryRef());
          for (int i = 0; i < defn.GetFieldCount(); ++i) {
            const OGRFieldType type = defn.GetFieldDefn(i)->GetType();
            if (f->IsFieldNull(i)) {
              row.Null();
            } else if (type == OFTInteger || type == OFTInteger64) {
              row.Integer(f->GetFieldAsInteger64(i));
            } else if (type == OFTReal) {
              row.Real(f->GetFieldAsDouble(i));
            } else {
              row.Text(f->GetFieldAsString(i));
            }
          }
          row.End();
        }
      }
    };
  };
  const auto fillLater = [&](size_t rows, size_t last, size_t run, int times = 1,
                             const std::string& before = "") {
    const std::string copy = Path("later.gpkg");
    fs::remove(copy);
    EXPECT_EQ(RunShell("ogr2ogr -preserve_fid -lco SPATIAL_INDEX=NO -where \"fid < 0\" " + copy +
                       " " + inserted + " points")
                  .status,
              0);
    if (!before.empty()) sql(copy, before);
    gis::GpkgRows later(Path("later-rows"));
    later.Later("points", fields, rows, makeRows(last, times));
    later.Fill(copy);
    later.PackSpatialIndexes(copy, {"points"}, run);
    return copy;
  };
  const size_t all = static_cast<size_t>(points->GetFeatureCount());
  ASSERT_EQ(all, 3000u);
  for (const size_t run : {1000, 2999}) {
    SCOPED_TRACE(run);
    const std::string copy = fillLater(all, all, run);
    EXPECT_EQ(differs(tableContents("points") + pointRows, copy), "");
    EXPECT_EQ(sql(copy, "SELECT rtreecheck('rtree_points_geom')"), "ok\n");
    EXPECT_EQ(sql(copy, indexTables), packedIndex[run]);
  }
  // About 300 KB of rows are made before the maker fails; the insert fails on the 3001st
  // row, a number again, while 1.8 MB are made, more than the room between the two.
  const std::string refuse = "CREATE UNIQUE INDEX once ON points (number)";
  const struct {
    size_t made, said;
    int times;
    std::string before, error;
  } failures[] = {{2900, all, 1, "", "stop"},
                  {all, all + 1, 1, "", "whole"},
                  {6 * all, 6 * all, 6, refuse, "UNIQUE"}};
  for (const auto& f : failures) {
    try {
      fillLater(f.said, f.made, 1000, f.times, f.before);
      ADD_FAILURE() << f.error;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(f.error), std::string::npos) << e.what();
    }
  }
}

TEST_F(Gis, OpenParcelsAreLinesWithoutAreaAndEveryParcelComesBack) {
  CoordinateData data;
  std::string sima = "G00,01,x,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\n";
  // Where c is, after it: the lines run through c, the first point there.
  for (int n = 4; n <= 40; ++n)
    sima += "A01," + std::to_string(n) + ",d,10,10,0,\r\n";
  sima +=
      "D00,1,open,0,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nD99,\r\n"
      "D00,2,closed,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nD99,\r\n"
      "F00,1,road,\r\nB01,3,c,\r\nB01,1,a,\r\nF99,\r\n";
  ASSERT_TRUE(LoadCoordinateText(sima, "t.sim", data, false));
  GisExportOptions o;
  o.Epsg = 6677;
  const GisExport gis = BuildGisExport(data, o, "t.gpkg");
  EXPECT_TRUE(GisExportWarnings(gis, "t.gpkg").empty());
  WriteGisExport(gis, Path("t.gpkg"));
  Dataset d(Path("t.gpkg"));
  ASSERT_TRUE(d.Layer("parcels"));
  std::vector<std::string> parcels;
  for (auto& f : *d.Layer("parcels"))
    parcels.push_back(f->GetFieldAsString("name"));
  EXPECT_EQ(parcels, std::vector<std::string>{"closed"});
  std::map<std::string, int> points;
  for (auto& f : *d.Layer("parcel_lines")) {
    const OGRLineString& l = *f->GetGeometryRef()->toLineString();
    points[f->GetFieldAsString("name")] = l.getNumPoints();
  }
  // The open boundary runs a, b, c; the closed one returns to a.
  EXPECT_EQ(points, (std::map<std::string, int>{{"closed", 4}, {"open", 3}}));

  // Loaded again, both are parcels as the SIMA file had them; GeoPackage to SIMA to
  // GeoPackage keeps them.
  CoordinateData back;
  LoadReport report;
  const std::string onC =
      "t.gpkg: 3 vertices of the parcels and polylines stand where more than one point "
      "stands, and were taken for the first of them read";
  EXPECT_EQ(LoadGisPoints(Path("t.gpkg"), "t.gpkg", 0, back, false, report),
            std::vector<std::string>{onC});
  ASSERT_EQ(back.Sima.SimaBlocks.size(), 3u);
  const SimaBlock& road = back.Sima.SimaBlocks[2];
  EXPECT_TRUE(road.Polyline);
  EXPECT_EQ(road.Name, "road");
  ASSERT_EQ(road.Records.size(), 2u);
  EXPECT_EQ(road.Records[0].Point.Number, 3);
  EXPECT_EQ(road.Records[1].Point.Number, 1);
  for (size_t b = 0; b < 2; ++b) {
    const SimaBlock& a = data.Sima.SimaBlocks[b];
    const SimaBlock& is = back.Sima.SimaBlocks[b];
    EXPECT_EQ(is.Name, a.Name);
    EXPECT_EQ(is.Closing, a.Closing) << a.Name;
    EXPECT_FALSE(is.Polyline);
    ASSERT_EQ(is.Records.size(), 3u) << a.Name;
    for (size_t r = 0; r < 3; ++r)
      EXPECT_EQ(is.Records[r].Point.Number, static_cast<int32_t>(r + 1)) << a.Name << r;
  }
  ASSERT_EQ(RunCli("export " + Path("t.gpkg") + " -o " + Path("t2.sim")).status, 0);
  const Result r =
      RunCli("export " + Path("t2.sim") + " -o " + Path("t2.gpkg") + " --crs EPSG:6677");
  ASSERT_EQ(r.status, 0) << r.out;
  Dataset again(Path("t2.gpkg"));
  for (const char* kind : {"parcels", "parcel_lines", "polylines"}) {
    std::vector<std::string> was, is;
    for (auto& f : *d.Layer(kind))
      was.push_back(f->GetFieldAsString("name") + f->GetGeometryRef()->exportToWkt());
    ASSERT_TRUE(again.Layer(kind)) << kind;
    for (auto& f : *again.Layer(kind))
      is.push_back(f->GetFieldAsString("name") + f->GetGeometryRef()->exportToWkt());
    EXPECT_EQ(is, was) << kind;
  }

  // A line that does not run through the points is no parcel, and is named.
  d.ds.reset();
  {
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(Path("t.gpkg").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds);
    OGRLayer* lines = ds->GetLayerByName("parcel_lines");
    OGRFeature f(lines->GetLayerDefn());
    f.SetField("name", "stray");
    OGRLineString stray;
    stray.addPoint(0.0, 0.0);
    stray.addPoint(5.0, 5.0);
    f.SetGeometry(&stray);
    ASSERT_EQ(lines->CreateFeature(&f), OGRERR_NONE);
  }
  CoordinateData more;
  EXPECT_EQ(LoadGisPoints(Path("t.gpkg"), "t.gpkg", 0, more, false, report),
            (std::vector<std::string>{
                "t.gpkg: 1 features of the layer parcel_lines do not run through points that "
                "were read and were not made parcels or polylines (feature 3 is the first)",
                onC}));
  EXPECT_EQ(more.Sima.SimaBlocks.size(), 3u);
}

TEST_F(Gis, ShapefileSetIsWrittenAsOne) {
  // Through a link: the set goes beside the file it names, under that file's name.
  fs::create_directory(Path("real"));
  fs::create_symlink(Path("real/set.shp"), Path("link.shp"));
  Result r = RunCli("export " + kSite + " -o " + Path("link.shp") + " --crs EPSG:6677");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::is_symlink(Path("link.shp")));
  for (const char* part : {"set.shx", "set.dbf", "set.prj", "set.cpg", "set_parcels.shp",
                           "set_parcels.dbf", "set_triangles.shp"})
    EXPECT_TRUE(fs::exists(Path(std::string("real/") + part))) << part;
  for (const char* part : {"link.shx", "link.dbf", "link_parcels.shp"})
    EXPECT_FALSE(fs::exists(Path(part))) << part;
  Dataset d(Path("real/set.shp"));
  ASSERT_TRUE(d.ds);
  EXPECT_EQ(d.ds->GetLayer(0)->GetFeatureCount(), 11);
  // Standard output by any of its names is one stream, no place for a set of files: the
  // file the shell appends to keeps its bytes and nothing appears beside it.
  WriteFileAtomic(Path("log.txt"), "earlier\n");
  r = RunShell(kCli + " export " + kSite + " --format shp --crs EPSG:6677 -o /dev/stdout >> " +
                   Path("log.txt") + " 2>/dev/null",
               false);
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(ReadFileBytes(Path("log.txt")), "earlier\n");
  EXPECT_FALSE(fs::exists(Path("log.dbf")));
  EXPECT_EQ(d.ds->GetLayer(0)->GetLayerDefn()->GetFieldCount(), 8);

  // Points alone to the same name: the earlier parcels, triangles and lines go, and so
  // does a part in the other letter case that a reader might take instead.
  WriteFileAtomic(Path("real/set.DBF"), "stale");
  const std::string list = Write("p.csv", "1\ta\t0\t0\t0\r\n2\tb\t1\t1\t0\r\n");
  r = RunCli("export " + list + " -o " + Path("link.shp") + " --crs EPSG:6677");
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(Path("real")))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{"set.cpg", "set.dbf", "set.prj", "set.shp", "set.shx"}));

  // No part of the set may be an input, nor a part of an input Shapefile.
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("s.shp") + " --crs EPSG:6677").status, 0);
  const auto before = ReadFileBytes(Path("s_parcels.dbf"));
  r = RunCli("export " + Path("s_parcels.shp") + " " + kSite + " -o " + Path("s.shp") +
             " --crs EPSG:6677");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("is the input " + Path("s_parcels.shp")), std::string::npos) << r.out;
  r = RunCli("export " + Path("s.shp") + " -o " + Path("s.SHP") + " --crs EPSG:6677");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(ReadFileBytes(Path("s_parcels.dbf")), before);
  // Nor may any command write into a file read with an input Shapefile: its attributes,
  // system, or the parcels and polylines read from beside it.
  for (const std::string& command :
       {"export " + Path("s.shp") + " --format zhy -o " + Path("s.dbf"),
        "export " + Path("s.shp") + " --crs EPSG:6677 -o " + Path("s_parcel_lines.shp"),
        "export " + Path("s.shp") + " --format sima -o " + Path("s_polylines.dbf"),
        "convert " + Path("s.shp") + " -o " + Path("s.prj"),
        "plot " + Path("s.shp") + " -o " + Path("s.cpg")}) {
    r = RunCli(command);
    EXPECT_EQ(r.status, 2) << command << "\n" << r.out;
    EXPECT_NE(r.out.find("is read with the input " + Path("s.shp")), std::string::npos) << r.out;
  }
  EXPECT_EQ(ReadFileBytes(Path("s_parcels.dbf")), before);

  // A part that cannot be replaced (here a read-only one) leaves every file as it was.
  const auto prj = ReadFileBytes(Path("s.prj"));
  fs::permissions(Path("s_triangles.shx"), fs::perms::owner_read);
  r = RunCli("export " + kSite + " -o " + Path("s.shp") + " --crs EPSG:6669");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(ReadFileBytes(Path("s.prj")), prj);
  fs::permissions(Path("s_triangles.shx"), fs::perms::owner_all);
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("s.shp") + " --crs EPSG:6669").status, 0);
  EXPECT_NE(ReadFileBytes(Path("s.prj")), prj);
}

TEST_F(Gis, ImportSaysWhatItCouldNotRead) {
  const std::string json = Write("w.geojson",
                                 R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"name":"a","z":"high","marked":"yes"},
 "geometry":{"type":"Point","coordinates":[139.8333333333,36.0]}},
{"type":"Feature","properties":{"name":"b","z":"1.5","marked":2,"number":"7b","mark":"境界杭（コンクリート）"},
 "geometry":{"type":"Point","coordinates":[139.8333333333,36.0]}},
{"type":"Feature","properties":{"name":")" +
                                     std::string(300, 'c') + R"(","marked":" 1.0 "},
 "geometry":{"type":"Point","coordinates":[139.8333333333,36.0]}}]})");
  CoordinateData data;
  LoadReport report;
  const std::vector<std::string> w = LoadGisPoints(json, "w.geojson", 6677, data, false, report);
  ASSERT_EQ(data.Table.PointCount, 3);
  EXPECT_EQ(data.Table.Points[3].Marked, 1);
  EXPECT_EQ(data.Table.Points[1].Z, 0.0);
  EXPECT_EQ(data.Table.Points[2].Z, 1.5);
  EXPECT_EQ(data.Table.Points[1].Marked, 0);
  EXPECT_EQ(data.Table.Points[2].Marked, 0);
  EXPECT_EQ(w, (std::vector<std::string>{
                   "w.geojson: 1 z value of the layer w is not a number and read as 0 (feature 0 "
                   "(\"high\"))",
                   "w.geojson: 2 marked values of the layer w are neither 1 nor 0 and read as "
                   "unmarked (feature 0 (\"yes\") is the first)",
                   "w.geojson: 2 texts of the layer w are longer than a point keeps (a name or "
                   "remarks 255 bytes, a mark 15, in Shift_JIS) and were cut (feature 1 is the "
                   "first)",
                   "w.geojson: 1 point number of the layer w is not a whole number; such a point "
                   "takes its row's number (feature 1 (\"7b\"))"}));
  EXPECT_EQ(data.Table.Points[2].Number, 2);
  // Fields of a layer's own: numbered by row, no names, and said.
  CoordinateData own;
  EXPECT_EQ(LoadGisPoints(Write("own.geojson", GeoJsonPoints(2,
                                                             [](int i) {
                                                               return R"("PointNo":)" +
                                                                      std::to_string(i) +
                                                                      R"(,"PtName":"K")";
                                                             }) +
                                                   "]}"),
                          "own.geojson", 6677, own, false, report),
            (std::vector<std::string>{
                "own.geojson: the layer own has no field named number (or no) or name (its "
                "fields: PointNo, PtName); its points were numbered by row and have no names"}));
  EXPECT_EQ(own.Table.Points[2].Number, 2);
  EXPECT_EQ(data.Table.Points[2].Mark, "\x8b\xab\x8a\x45\x8d\x59\x81\x69\x83\x52\x83\x93\x83\x4e");
  EXPECT_EQ(data.Table.Points[3].Name, std::string(255, 'c'));
  // convert says that nothing would be drawn.
  const std::string none = Write("u.geojson", R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"marked":0},"geometry":{"type":"Point","coordinates":[139.8,36.0]}},
{"type":"Feature","properties":{"marked":"x"},"geometry":{"type":"Point","coordinates":[139.9,36.0]}}]})");
  const Result r = RunCli("convert " + none + " -o " + Path("w.jww") + " --crs EPSG:6677");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("every one of the 2 points is unmarked"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(Path("w.jww")));

  // A Shapefile without .dbf; one without .cpg whose texts are code page 932.
  ASSERT_EQ(RunCli("export " + kSite + " -o " + Path("s.shp") + " --crs EPSG:6677").status, 0);
  fs::remove(Path("s.cpg"));
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})  // told of elsewhere
    fs::remove(Path(std::string("s_triangles") + ext));
  CoordinateData site;
  ASSERT_TRUE(LoadCoordinateFile(kSite, site, false));
  {
    // Texts that are all UTF-8 are read as UTF-8.
    CoordinateData utf8;
    LoadReport r1;
    EXPECT_TRUE(LoadGisPoints(Path("s.shp"), "s.shp", 6677, utf8, false, r1).empty());
    ASSERT_EQ(utf8.Table.PointCount, 11);
    for (int32_t i = 1; i <= 11; ++i) {
      EXPECT_EQ(utf8.Table.Points[i].Name, site.Table.Points[i].Name) << i;
      EXPECT_EQ(utf8.Table.Points[i].Remarks, site.Table.Points[i].Remarks) << i;
    }
  }
  // Its names as code page 932 bytes in the .dbf: write them again without the .cpg. The
  // half-width kana "ﾃｽ" (C3 BD) would read as UTF-8 "ý" alone; the layer's other texts
  // say it is code page 932.
  site.Table.Points[1].Name = "\xC3\xBD";
  {
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(Path("s.shp").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr,
                          std::vector<const char*>{"ENCODING=", nullptr}.data(), nullptr));
    ASSERT_TRUE(ds);
    OGRLayer* layer = ds->GetLayer(0);
    for (auto& f : *layer) {
      f->SetField("name", std::string(site.Table.Points[f->GetFID() + 1].Name).c_str());
      // 境界杭（コンクリート）, longer than a mark keeps
      if (f->GetFID() == 3)
        f->SetField("mark",
                    "\x8b\xab\x8a\x45\x8d\x59\x81\x69\x83\x52\x83\x93\x83\x4e\x83\x8a\x81\x5b\x83"
                    "\x67\x81\x6a");
      ASSERT_EQ(layer->SetFeature(f.get()), OGRERR_NONE);
    }
  }
  fs::remove(Path("s.cpg"));
  fs::remove(Path("s.prj"));  // metres, as they stand, need no word
  CoordinateData back;
  LoadReport r2;
  std::vector<std::string> w2 = LoadGisPoints(Path("s.shp"), "s.shp", 6677, back, false, r2);
  ASSERT_EQ(back.Table.PointCount, 11);
  for (int32_t i = 1; i <= 11; ++i)
    EXPECT_EQ(back.Table.Points[i].Name, site.Table.Points[i].Name) << i;
  EXPECT_EQ(back.Table.Points[4].Mark, "\x8b\xab\x8a\x45\x8d\x59\x81\x69\x83\x52\x83\x93\x83\x4e");
  EXPECT_EQ(w2, (std::vector<std::string>{
                    "s.shp: has no .cpg naming the code page of its .dbf, and 10 texts of the "
                    "layer s are not UTF-8 (feature 2 is the first): every text of the layer read "
                    "as code page 932 (Shift_JIS)",
                    "s.shp: 1 text of the layer s is longer than a point keeps (a name or remarks "
                    "255 bytes, a mark 15, in Shift_JIS) and was cut (feature 3)"}));
  // The same .dbf whose header names Shift_JIS (language driver 0x13, as Japanese
  // programs write it) is read as code page 932 without a guess, and without a word.
  {
    std::fstream dbf(Path("s.dbf"), std::ios::in | std::ios::out | std::ios::binary);
    dbf.seekp(29);
    dbf.put('\x13');
  }
  CoordinateData named;
  w2 = LoadGisPoints(Path("s.shp"), "s.shp", 6677, named, false, r2);
  for (int32_t i = 1; i <= 11; ++i)
    EXPECT_EQ(named.Table.Points[i].Name, site.Table.Points[i].Name) << i;
  EXPECT_EQ(w2, (std::vector<std::string>{
                    "s.shp: 1 text of the layer s is longer than a point keeps (a name or remarks "
                    "255 bytes, a mark 15, in Shift_JIS) and was cut (feature 3)"}));
  // A .dbf cut short, or with no header, gave fewer points, or points without numbers
  // and names, without a word: the load is refused.
  const std::string dbf = ReadFileBytes(Path("s.dbf"));
  for (const size_t keep : {dbf.size() / 2, size_t{20}, size_t{0}}) {
    WriteFileAtomic(Path("s.dbf"), dbf.substr(0, keep));
    CoordinateData cut;
    try {
      LoadGisPoints(Path("s.shp"), "s.shp", 6677, cut, false, r2);
      ADD_FAILURE() << keep;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("s.shp: its .dbf holds the numbers and names of", 0),
                0u)
          << e.what();
    }
    EXPECT_EQ(cut.Table.PointCount, 0);
  }
  fs::remove(Path("s.dbf"));
  w2 = LoadGisPoints(Path("s.shp"), "s.shp", 6677, back, false, r2);
  ASSERT_EQ(w2.size(), 1u);
  EXPECT_EQ(w2[0].substr(0, 30), "s.shp: has no .dbf beside it, ");

  // A GeoPackage with a damaged page among its points: SQLite stops there, and GDAL
  // gave the points before it as if they were all.
  {
    std::string list;
    for (int i = 1; i <= 20000; ++i)
      list += std::to_string(i) + ",P" + std::to_string(i) + "," + std::to_string(-12000 - i) +
              "," + std::to_string(-30000 + i) + ",1.5,,,\r\n";
    ASSERT_EQ(RunCli("export " + Write("many.zhy", list) + " -o " + Path("many.gpkg") +
                     " --crs EPSG:6677")
                  .status,
              0);
    std::fstream gpkg(Path("many.gpkg"), std::ios::in | std::ios::out | std::ios::binary);
    gpkg.seekp(fs::file_size(Path("many.gpkg")) / 2 / 4096 * 4096);
    gpkg << std::string(4096, '\xFF');
    gpkg.close();
    CoordinateData damaged;
    try {
      LoadGisPoints(Path("many.gpkg"), "many.gpkg", 6677, damaged, false, r2);
      ADD_FAILURE() << "a damaged GeoPackage was read";
    } catch (const Error& e) {
      EXPECT_EQ(
          std::string(e.what()).rfind("many.gpkg: the layer points cannot be read past its", 0), 0u)
          << e.what();
    }
    EXPECT_EQ(damaged.Table.PointCount, 0);
  }

  // Degrees in a Shapefile that names no system are read as metres, and the user hears so.
  {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    std::unique_ptr<GDALDataset> ds(
        driver->Create(Path("ll.shp").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_TRUE(ds);
    OGRLayer* layer = ds->CreateLayer("ll", nullptr, wkbPoint, nullptr);
    for (const auto& [lon, lat] : {std::pair{139.495354, 35.890956}, {139.4955, 35.8912}}) {
      OGRFeature f(layer->GetLayerDefn());
      OGRPoint at(lon, lat);
      f.SetGeometry(&at);
      ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
  }
  CoordinateData degrees;
  w2 = LoadGisPoints(Path("ll.shp"), "ll.shp", 6677, degrees, false, r2);
  EXPECT_EQ(degrees.Table.Points[1].X, 35.890956);
  EXPECT_EQ(w2, (std::vector<std::string>{
                    "ll.shp: the layer ll names no coordinate system, and every point lies "
                    "where Japan is in longitude and latitude (120..155, 20..46); they were "
                    "read as survey X and Y in metres. If they are degrees, give the file its "
                    "system (a Shapefile's .prj)"}));
}

// Points of the old datum (JGD2000) read into the new (JGD2011): where the 2011 earthquake
// moved the ground the conversion needs a grid Debian's PROJ data does not hold, and PROJ
// falls back to leaving the numbers as they are.
TEST_F(Gis, AConversionWithoutItsGridIsToldOf) {
  // Where PROJ could find the grid (a folder of its own, its network), there is nothing to
  // tell.
  std::vector<fs::path> folders = {"/usr/share/proj", "/usr/local/share/proj"};
  for (const char* variable : {"PROJ_DATA", "PROJ_LIB", "HOME"}) {
    if (const char* value = std::getenv(variable))
      folders.push_back(std::string(variable) == "HOME" ? fs::path(value) / ".local/share/proj"
                                                        : fs::path(value));
  }
  for (const fs::path& folder : folders) {
    for (const char* grid : {"touhokutaiheiyouoki2011.gsb", "jp_gsi_touhokutaiheiyouoki2011.tif"}) {
      if (fs::exists(folder / grid)) GTEST_SKIP() << (folder / grid) << " is installed";
    }
  }
  if (const char* network = std::getenv("PROJ_NETWORK"); network && std::string(network) == "ON")
    GTEST_SKIP() << "PROJ may fetch the grid";
  // examples/site.sim lies in Saitama; the same numbers in Kyushu, in zone II, need no grid.
  for (const auto& [zone, old, warned] : {std::tuple{6677, "2451", true}, {6670, "2444", false}}) {
    const std::string out = Path("old" + std::string(old) + ".gpkg");
    ASSERT_EQ(RunCli("export " + kSite + " -o " + out + " --crs EPSG:" + old).status, 0);
    CoordinateData data;
    LoadReport report;
    std::vector<std::string> w = LoadGisPoints(out, "old.gpkg", zone, data, false, report);
    ASSERT_EQ(data.Table.PointCount, 11);
    ASSERT_FALSE(w.empty());
    EXPECT_NE(w.front().find("the layer triangles is not read back"), std::string::npos);
    w.erase(w.begin());
    if (!warned) {
      EXPECT_TRUE(w.empty()) << w.front();
      continue;
    }
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0],
              "old.gpkg: the points were converted from JGD2000 / Japan Plane Rectangular CS IX "
              "to JGD2011 / Japan Plane Rectangular CS IX without the correction "
              "grid touhokutaiheiyouoki2011.gsb, which is not installed here; the conversion it "
              "gives in Japan - northern Honshu prefectures affected by 2011 Tohoku earthquake: "
              "Aomori, Iwate, Miyagi, Akita, Yamaguta, Fukushima, Ibaraki, Tochigi, Gumma, "
              "Saitama, Chiba, Tokyo, Kanagawa, Niigata, Toyama, Ishikawa, Fukui, Yamanashi, "
              "Nagano, Gifu (accurate to 0.2 m) was left for a plainer one, and points in that "
              "area may be off");
  }
}

// Exports of site (its stem naming them) to each format peak below bound megabytes.
[[maybe_unused]] void ExpectExportPeaksBelow(const std::string& site,
                                             const std::vector<std::string>& formats,
                                             double bound) {
  for (const std::string& ext : formats) {
    const std::string out = fs::path(site).replace_extension(ext).string();
    const double peak =
        test::PeakMegabytes({kCli, "export", site, "-o", out, "--crs", "EPSG:6677"});
    EXPECT_GT(peak, 0.0) << ext;
    EXPECT_LT(peak, bound) << ext;
  }
}

// Every export holds the site's table but not the file it writes: on a site of 200,000
// points with long remarks (its table some 80 MB), a file, the DXF's entities or
// GeoJSON's features held whole take hundreds of megabytes.
TEST_F(Gis, LargeExportsAreWrittenAsTheyAreMade) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory hides the program's";
#else
  // About 120 to 150 MB as they are; 275 to 506 MB when a whole file was held.
  constexpr double kLargeExportBoundMb = 200.0;
  const std::string site = Path("large.sim");
  test::WriteLargeSite(site, 200'000);
  ExpectExportPeaksBelow(site, {"dxf", "gpkg", "shp", "kml", "geojson"}, kLargeExportBoundMb);
  // What was written is whole: every point is in it.
  Dataset gpkg(Path("large.gpkg"));
  ASSERT_NE(gpkg.Layer("points"), nullptr);
  EXPECT_EQ(gpkg.Layer("points")->GetFeatureCount(), 200'000);
  // More parcels than points: the segments and labels a drawing would show of them (some
  // 60 MB here) are not made for an export. About 125 MB; 180 MB with them.
  const std::string parcels = Path("parcels.sim");
  {
    std::ofstream out(parcels, std::ios::binary);
    out << "G00,01,parcels,\r\nA00,\r\n";
    for (int i = 1; i <= 50'000; ++i)
      out << "A01," << i << ",P" << i << "," << -12000 - i / 100 << "," << -30000 + i % 100
          << ",1.5,\r\n";
    out << "A99,\r\n";
    for (int p = 0; p < 150'000; ++p) {
      out << "D00," << p + 1 << ",F" << p + 1 << ",1,\r\n";
      for (int c = 0; c < 8; ++c)
        out << "B01," << (p * 2 + c) % 50'000 + 1 << ",\r\n";
      out << "D99,\r\n";
    }
  }
  ExpectExportPeaksBelow(parcels, {"kml"}, 150.0);
#endif
  // A folder left by an export that was killed goes with the next export; a running
  // one's stays.
  const std::string tmp = Path("tmp");
  fs::create_directories(tmp + "/kestrova-gis-99999999-abcdef/shp");
  fs::create_directories(tmp + "/kestrova-gis-1-abcdef");
  ASSERT_EQ(RunShell("TMPDIR=" + tmp + " " + kCli + " export " + kSite + " -o " + Path("t.shp") +
                     " --crs EPSG:6677")
                .status,
            0);
  EXPECT_FALSE(fs::exists(tmp + "/kestrova-gis-99999999-abcdef"));
  EXPECT_TRUE(fs::exists(tmp + "/kestrova-gis-1-abcdef"));
}

// A KML's placemarks are written as text beside GDAL's writer, which writes each layer's
// first and any whose text the writer would make its own way (coordinates it moves into
// range or writes as whole or fixed numbers). Without a temporary folder GDAL writes the
// whole file in memory; the two are the same, byte for byte, over texts XML escapes or
// drops, leading spaces and numbers from 0 to 1e+20.
TEST_F(Gis, KmlIsTheTextGdalWrites) {
  // The shapes, many times over: they are made in batches of thousands, those GDAL
  // writes among them.
  std::string shapes;
  for (int i = 0; i < 1500; ++i) {
    shapes +=
        "D00,1,p,1,\r\nB01,1,a,\r\nB01,5,b,\r\nB01,2147483647,c,\r\n"
        "B01,2,d,\r\nE01,1,a,5,b,2,d,\r\nD99,\r\n"
        "D00,2,&<p,1,\r\nB01,1,a,\r\nB01,5,b,\r\nB01,2147483647,c,\r\n"
        "B01,6,d,\r\nE01,1,a,5,b,6,d,\r\nD99,\r\n"
        "D00,3,o,1,\r\nB01,1,a,\r\nB01,3,b,\r\nB01,6,c,\r\n"
        "E01,1,a,3,b,6,c,\r\nD99,\r\n"
        "F00,1,l,\r\nB01,2,a,\r\nB01,6,b,\r\nF99,\r\n"
        "F00,2,\"l\",\r\nB01,2,a,\r\nB01,5,b,\r\nB01,6,c,\r\nF99,\r\n"
        "F00,3,o,\r\nB01,3,a,\r\nB01,4,b,\r\nF99,\r\n";
  }
  const std::string site =
      Write("odd.sim", Utf8ToCp932(std::string(kOddPoints) +
                                   "A01,6,,100.000,100.000,1234567890123.456,,\r\n"
                                   "A01,7,z,-12030.000,-30505.000,-0.000,,\r\n" +
                                   shapes)
                           .text);
  // A user's own precision for GDAL's coordinates leaves them to GDAL.
  for (const std::string env : {"", "OGR_WKT_PRECISION=10 "}) {
    ASSERT_EQ(
        RunShell(env + kCli + " export " + site + " -o " + Path("disk.kml") + " --crs EPSG:6677")
            .status,
        0);
    const Result r = RunShell(env + "TMPDIR=" + Path("missing") + " " + kCli + " export " + site +
                              " -o " + Path("memory.kml") + " --crs EPSG:6677");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("the export was made in memory"), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find("(points 8, parcels 4500, parcel_lines 4500, triangles 4500, polylines 4500)"),
        std::string::npos)
        << r.out;
    const std::string kml = ReadFileBytes(Path("disk.kml"));
    // Compared whole, not shown: the files are megabytes long.
    EXPECT_TRUE(ReadFileBytes(Path("memory.kml")) == kml) << env;
    EXPECT_NE(kml.find("<name>&quot;l&quot;</name>"), std::string::npos) << kml;
  }
  // GeoJSON's shapes are made in the same batches, all of them as text: one collection,
  // every feature in its layer's order with the KML's shape (written last with GDAL's
  // coordinates cut to 10 digits).
  ASSERT_EQ(
      RunShell(kCli + " export " + site + " -o " + Path("all.geojson") + " --crs EPSG:6677").status,
      0);
  Dataset json(Path("all.geojson"));
  Dataset kml(Path("disk.kml"));
  ASSERT_NE(json.ds, nullptr);
  ASSERT_NE(kml.ds, nullptr);
  OGRLayer* features = json.ds->GetLayer(0);
  ASSERT_EQ(features->GetFeatureCount(), 8 + 4 * 4500);
  features->ResetReading();
  for (int i = 0; i < 8; ++i)
    OGRFeature::DestroyFeature(features->GetNextFeature());
  for (const char* layer : {"parcels", "parcel_lines", "triangles", "polylines"}) {
    OGRLayer* placemarks = kml.Layer(layer);
    ASSERT_NE(placemarks, nullptr) << layer;
    placemarks->ResetReading();
    for (int i = 0; i < 4500; ++i) {
      std::unique_ptr<OGRFeature> f(features->GetNextFeature());
      std::unique_ptr<OGRFeature> k(placemarks->GetNextFeature());
      ASSERT_TRUE(f && k) << layer << " " << i;
      ASSERT_STREQ(f->GetFieldAsString("layer"), layer) << i;
      ASSERT_STREQ(f->GetFieldAsString("name"), k->GetFieldAsString("Name")) << layer << " " << i;
      ASSERT_TRUE(f->GetGeometryRef()->Equals(k->GetGeometryRef()) ||
                  f->GetGeometryRef()->Distance(k->GetGeometryRef()) < 1e-6)
          << layer << " " << i;
    }
  }
}

// A Shapefile's points after the first are added to GDAL's files without GDAL; a number
// wider than its field (which GDAL widens in every record) hands the rest back to GDAL.
// Without a temporary folder GDAL writes every file itself, in memory; the files are the
// same, byte for byte: texts cut where a character starts, numbers cut to their field,
// -0 and 0 as the bounds' ends.
TEST_F(Gis, ShapefilesAreTheFilesGdalWrites) {
  const std::string longText = "a" + [] {
    std::string s;
    for (int i = 0; i < 120; ++i)
      s += "境";
    return s;
  }();
  const std::string rows =
      "G00,01,odd,\r\n"
      "A01,1,P1,-12045.318,-30512.406,24.115,\r\n"
      "A01,2,A&B,0.000,0.000,0.000,&,<r>\r\n"
      "A01,3,q,-0.000,-0.000,-0.000,," +
      longText +
      "\r\n"
      "A01,999999999,a\tb,-123456789.123,-0.001,100000000000000000000.000,,\r\n"
      "A01,-99999999,境界ﾃｽﾄ,-12080.100,-30520.000,23.940,,it's\r\n"
      "D00,1,p,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nD99,\r\n";
  const std::string wide =
      "A01,2147483647,wide,1,2,3,,\r\n"
      "A01,8,after,-5,-6,7,,\r\n";
  struct Case {
    std::string tail, env, name;
    size_t files;  // .shp .shx .dbf .prj .cpg of points, parcels and parcel lines
  };
  // A name GDAL launders ("a_b") and a user's own encoding leave the points to GDAL.
  for (const Case& c : {Case{"", "", "odd", 15}, Case{wide, "", "odd", 15}, Case{"", "", "a:b", 14},
                        Case{"", "SHAPE_ENCODING=CP932 ", "odd", 15}}) {
    SCOPED_TRACE(c.env + c.name + c.tail);
    const std::string site = Write("odd.sim", Utf8ToCp932(rows + c.tail).text);
    const auto exportTo = [&](const std::string& folder, const std::string& env) {
      fs::remove_all(Path(folder));
      fs::create_directories(Path(folder));
      const Result r = RunShell(env + c.env + kCli + " export " + site + " -o '" +
                                Path(folder + "/" + c.name + ".shp") + "' --crs EPSG:6677");
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_NE(r.out.find("1 text"), std::string::npos) << r.out;  // the long one was cut
      if (!env.empty()) {
        EXPECT_NE(r.out.find("made in memory"), std::string::npos) << r.out;
      }
      std::map<std::string, std::string> files;
      for (const auto& e : fs::directory_iterator(Path(folder)))
        files[e.path().filename().string()] = ReadFileBytes(e.path());
      return files;
    };
    const auto disk = exportTo("disk", "");
    EXPECT_EQ(disk.size(), c.files);
    EXPECT_TRUE(disk == exportTo("memory", "TMPDIR=" + Path("missing") + " "));
  }
}

// GDAL's files go to a temporary folder: when its disk fills up the export fails, saying
// so, and writes nothing (GDAL's KML writer alone would go on and leave half a file). A DXF keeps
// only its tables there.
TEST_F(Gis, FullTemporaryFolderFailsTheExport) {
  if (::geteuid() != 0) GTEST_SKIP() << "a small file system of the test's own needs root";
  const std::string small = Path("small");
  fs::create_directories(small);
  if (RunShell("mount -t tmpfs -o size=64k tmpfs " + small).status != 0)
    GTEST_SKIP() << "no tmpfs can be mounted here";
  struct Unmount {
    std::string folder;
    ~Unmount() { RunShell("umount " + folder); }
  } unmount{small};
  const std::string mid = Path("mid.sim"), few = Path("few.sim");
  test::WriteLargeSite(mid, 5'000);
  test::WriteLargeSite(few, 20);  // a GeoPackage's first tables alone fill the disk
  for (const auto& [site, ext] : {std::pair{mid, "kml"},
                                  {mid, "gpkg"},
                                  {few, "gpkg"},
                                  {mid, "shp"},
                                  {mid, "geojson"},
                                  {mid, "dxf"}}) {
    const std::string out = Path(std::string("out.") + ext);
    const Result r = RunShell("TMPDIR=" + small + " " + kCli + " export " + site + " -o " + out +
                              " --crs EPSG:6677");
    if (std::string_view(ext) == "dxf") {
      EXPECT_EQ(r.status, 0) << r.out;
      continue;
    }
    EXPECT_EQ(r.status, 1) << ext << ": " << r.out;
    // The reason is the full disk, not what failed after it.
    EXPECT_TRUE(r.out.find("No space left on device") != std::string::npos ||
                r.out.find("disk is full") != std::string::npos)
        << ext << ": " << r.out;
    EXPECT_FALSE(fs::exists(out)) << ext;
  }
  EXPECT_TRUE(fs::is_empty(small));

  // A set that fills the disk as it replaces a smaller one, once some of its parts are
  // in place, leaves the earlier set as it was, and nothing that was kept to put it back.
  const std::string smaller = Path("smaller");
  fs::create_directories(smaller);
  ASSERT_EQ(RunShell("mount -t tmpfs -o size=32k tmpfs " + smaller).status, 0);
  const Unmount unmountSmaller{smaller};
  const std::string set = smaller + "/set.shp";
  const std::string list = Write("p.csv", "1\ta\t0\t0\t0\r\n2\tb\t1\t1\t0\r\n");
  ASSERT_EQ(RunCli("export " + list + " -o " + set + " --crs EPSG:6677").status, 0);
  const auto files = [&smaller] {
    std::map<std::string, std::string> bytes;
    for (const auto& e : fs::directory_iterator(smaller))
      bytes[e.path().filename().string()] = ReadFileBytes(e.path().string());
    return bytes;
  };
  const auto before = files();
  EXPECT_EQ(RunCli("export " + kSite + " -o " + set + " --crs EPSG:6677").status, 1);
  EXPECT_EQ(files(), before);
}

// A file that may not grow (the shell's ulimit -f) fails the export with that reason, at
// whichever step reaches the limit: SQLite alone would say only "disk I/O error".
TEST_F(Gis, AFileSizeLimitIsTheReasonGiven) {
  const std::string site = Path("mid.sim");
  test::WriteLargeSite(site, 5'000);
  for (const auto& [ext, kilobytes] :
       {std::pair{"gpkg", 256}, {"gpkg", 1024}, {"geojson", 256}, {"kml", 256}, {"shp", 256}}) {
    const std::string out = Path(std::string("out.") + ext);
    const Result r = RunShell("(ulimit -f " + std::to_string(kilobytes) + "; " + kCli + " export " +
                              site + " -o " + out + " --crs EPSG:6677) 2>&1");
    EXPECT_EQ(r.status, 1) << ext << " " << kilobytes << ": " << r.out;
    EXPECT_NE(r.out.find("File too large"), std::string::npos)
        << ext << " " << kilobytes << ": " << r.out;
    EXPECT_FALSE(fs::exists(out)) << ext;
  }
}

// Sites of files over 64 MB are gathered in temporary files, never held as a table: 400,000
// points with long remarks (a 100 MB file, over 250 MB as a table) stay at about 90 MB for
// the drawing and 110 MB for the other formats.
TEST_F(Gis, LargeSitesAreExportedWithoutATable) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory hides the program's";
#else
  constexpr double kStreamedBoundMb = 150.0;
  const std::string site = Path("larger.sim");
  test::WriteLargeSite(site, 400'000);
  ExpectExportPeaksBelow(site, {"dxf", "geojson"}, kStreamedBoundMb);
  // Every point is in it, with its name and remarks, and every parcel.
  {
    const std::string json = ReadFileBytes(Path("larger.geojson"));
    const auto count = [&json](const std::string& text) {
      size_t n = 0;
      for (size_t at = json.find(text); at != std::string::npos; at = json.find(text, at + 1))
        ++n;
      return n;
    };
    EXPECT_EQ(count(R"("layer": "points")"), 400'000u);
    EXPECT_EQ(count(R"("layer": "parcels")"), 40'000u);
    EXPECT_EQ(count(R"("name": "P400000", )"), 1u);
    // The points in their order across the batches their texts are made in.
    EXPECT_LT(json.find(R"("name": "P16384", )"), json.find(R"("name": "P16385", )"));
    EXPECT_LT(json.find(R"("name": "P16385", )"), json.find(R"("name": "P400000", )"));
    // Each feature after the first of all has its separator, in every batch.
    EXPECT_EQ(count("}\n{"), 0u);
    EXPECT_EQ(count("}{"), 0u);
    EXPECT_EQ(count(",\n{ \"type\": \"Feature\""), count("{ \"type\": \"Feature\"") - 1);
    EXPECT_EQ(count(R"("remarks": ")" + std::string(200, 'r') + "\""), 400'000u);
  }  // the text goes before the peaks are measured: a child starts at its parent's
  // Each command of the layer read back peaks below bound megabytes.
  const auto peaksBelow = [&](const std::string& layer, const std::string& second, double bound) {
    const std::string out = Path(fs::path(layer).stem().string() + "-out");
    for (const std::string& command : {std::string("info"), second}) {
      std::vector<std::string> args{kCli, command, layer};
      if (command != "info") args.insert(args.end(), {"-o", out});
      const double peak = test::PeakMegabytes(args);
      EXPECT_GT(peak, 0.0) << command;
      EXPECT_LT(peak, bound) << command;
    }
  };
  // Read back, the GeoPackage's points stream and its parcels find them a part at a time:
  // about 105 MB, where a table took 210 MB.
  const std::string gpkg = Path("larger.gpkg");
  ASSERT_EQ(RunCli("export " + site + " -o " + gpkg + " --crs EPSG:6677").status, 0);
  peaksBelow(gpkg, "plot", 140.0);
  // The same points without parcels: 80-95 MB, where a table took 160-180 MB.
  const std::string points = Path("points.sim");
  test::WriteLargeSite(points, 400'000, false);
  const std::string layer = Path("points.gpkg");
  ASSERT_EQ(RunCli("export " + points + " -o " + layer + " --crs EPSG:6677").status, 0);
  peaksBelow(layer, "convert", 125.0);
  // A list of short lines holds 2.4 million points in 61 MB, under the size a table is
  // taken for: its lines count too, here ended by carriage returns but for a last line
  // feed. Gathered, its GeoPackage export peaks at about 205 MB; from a table, 255 MB.
  const std::string dense = Path("dense.zhy");
  {
    std::ofstream out(dense, std::ios::binary);
    for (int i = 1; i <= 2'400'000; ++i)
      out << i << ",," << -1200 - (i % 1000) / 2 << ".5," << -3000 + i / 1000 << ".0,\r";
    out << "\n";
  }
  ExpectExportPeaksBelow(dense, {"gpkg"}, 230.0);
  fs::remove(dense);
  fs::remove(Path("dense.gpkg"));
#endif
}

// A point that cannot be placed in longitude/latitude fails the KML and GeoJSON exports,
// named once, and leaves no file; the points around it are placed together with it.
TEST_F(Gis, PointsFarOutsideTheirSystemAreRefusedOrToldOf) {
  const std::string site = Path("far.zhy");
  std::ofstream(site, std::ios::binary) << "1,a,0,0,0\r\n2,b,1e20,1e20,0\r\n3,c,10,10,0\r\n";
  // 20,000 km north of the origin the longitude and latitude wrap past the far pole and
  // would read back some 40,000 km away.
  const std::string wraps = Write("wraps.zhy", "1,a,0,0,0\r\n2,w,20000000,0,0\r\n");
  for (const char* ext : {"kml", "geojson"}) {
    const std::string out = Path(std::string("far.") + ext);
    const Result r = RunCli("export " + site + " -o " + out + " --crs EPSG:6677");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("kestrova-cli: error: point 2 \"b\" (X 1E20, Y 1E20) cannot be placed "
                         "in longitude/latitude: "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("ERROR 1: "), r.out.rfind("ERROR 1: ")) << r.out;  // at most once
    EXPECT_FALSE(fs::exists(out)) << ext;
    const Result wrapped = RunCli("export " + wraps + " -o " + out + " --crs EPSG:6677");
    EXPECT_EQ(wrapped.status, 1) << wrapped.out;
    EXPECT_NE(wrapped.out.find("point 2 \"w\" (X 20000000, Y 0) cannot be placed in "
                               "longitude/latitude: it lies so far"),
              std::string::npos)
        << wrapped.out;
    EXPECT_FALSE(fs::exists(out)) << ext;
  }
  // Past the pole but within reach the place leads back: it is written, and told of, as is
  // such a point in a format of survey metres and a layer read back.
  const std::string pole = Write("pole.zhy", "1,a,0,0,0\r\n2,p,7000000,0,0\r\n3,q,0,-2e6,0\r\n");
  for (const char* ext : {"geojson", "gpkg"}) {
    const std::string out = Path(std::string("pole.") + ext);
    const Result r = RunCli("export " + pole + " -o " + out + " --crs EPSG:6677");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(": 2 points lie more than 100 km outside the area EPSG:6677 is meant "
                         "for; check their X and Y and the survey system (point 2 \"p\" (X "
                         "7000000, Y 0) is the first)\n"),
              std::string::npos)
        << r.out;
    const Result back = RunCli("export " + out + " -o " + Path("back.zhy") + " --crs EPSG:6677");
    EXPECT_EQ(back.status, 0) << back.out;
    EXPECT_NE(back.out.find(": 2 points of the layer "), std::string::npos) << back.out;
    EXPECT_EQ(ReadFileBytes(Path("back.zhy")),
              "1,a,0,0,0,,,\r\n2,p,7000000,0,0,,,\r\n3,q,0,-2000000,0,,,\r\n")
        << ext;
  }
  // Within a hundred kilometres of the area nothing is said.
  const Result near = RunCli("export " + Write("near.zhy", "1,a,-840000,0,0\r\n2,b,0,0,0\r\n") +
                             " -o " + Path("near.geojson") + " --crs EPSG:6677");
  EXPECT_EQ(near.out, "kestrova-cli: wrote 2 points to " + Path("near.geojson") + " (near 2)\n");
}

// A site read through a pipe is gathered in temporary files: the export is the one its file,
// held as a table, gives (the example's parcels, triangles and polyline, survey axes).
TEST_F(Gis, PipedSitesAreExportedAsTheirFiles) {
  for (const char* ext : {"dxf", "geojson", "kml"}) {
    fs::create_directories(Path("piped"));
    const std::string piped = Path(std::string("piped/site.") + ext);
    const std::string file = Path(std::string("site.") + ext);
    ASSERT_EQ(RunShell("cat " + kSite + " | " + kCli + " export - -o " + piped + " --crs EPSG:6677")
                  .status,
              0);
    ASSERT_EQ(RunCli("export " + kSite + " -o " + file + " --crs EPSG:6677").status, 0);
    EXPECT_EQ(ReadFileBytes(piped), ReadFileBytes(file)) << ext;
  }
}

TEST(SurveySystems, ZonesAndNames) {
  // Every zone of the three datums.
  const std::vector<SurveySystem>& s = OfferedSurveySystems();
  ASSERT_EQ(s.size(), 57u);
  EXPECT_EQ(s[8].Name, "JGD2011 平面直角座標系 第IX系");
  EXPECT_EQ(s[46].Name, "日本測地系 平面直角座標系 第IX系");
  for (const SurveySystem& system : s) {
    EXPECT_EQ(SystemOfZone(*ZoneOfSystem(system.Epsg), *DatumOfSystem(system.Epsg)), system.Epsg);
  }
  EXPECT_EQ(ParseEpsgName(" epsg:6677 "), 6677);
  EXPECT_EQ(ParseEpsgName("EPSG:2443"), 2443);
  for (const char* bad : {"6677", "EPSG:", "EPSG:-1", "EPSGZ6677", "EPSG:66x", "EPSG:99999999999"})
    EXPECT_FALSE(ParseEpsgName(bad)) << bad;
  EXPECT_EQ(EpsgName(6677), "EPSG:6677");
  // The zone a SIMA title names, however it was typed.
  EXPECT_EQ(ZoneNamedIn("世界測地系 第IX系"), 9);
  EXPECT_EQ(ZoneNamedIn("第ＸＩＸ系"), 19);
  EXPECT_EQ(ZoneNamedIn("第Ⅳ系 座標"), 4);
  EXPECT_EQ(ZoneNamedIn("平面直角 第１２系"), 12);
  for (const char* none : {"座標リスト", "第20系", "第XX系", "第IX", "第一系"})
    EXPECT_FALSE(ZoneNamedIn(none)) << none;
  EXPECT_EQ(ZoneOfSystem(2451), 9);
  EXPECT_FALSE(ZoneOfSystem(4326));
  // The datum it names: "世界測地系" fits either JGD, a realisation only itself.
  const auto fits = [](const char* title) {
    std::string f;
    if (const auto d = DatumNamedIn(title)) {
      for (Datum datum : {Datum::kTokyo, Datum::kJgd2000, Datum::kJgd2011})
        f += d->Fits(datum) ? "1" : "0";
    }
    return f;
  };
  EXPECT_EQ(fits("世界測地系 第IX系"), "011");
  EXPECT_EQ(fits("旧日本測地系　第９系"), "100");
  EXPECT_EQ(fits("旧測地系"), "100");
  EXPECT_EQ(fits("世界測地系(測地成果２０１１)"), "001");
  EXPECT_EQ(fits("ｊｇｄ 2000 第Ⅸ系"), "010");
  EXPECT_EQ(fits("日本測地系２０１１ 第IX系"), "001");
  EXPECT_EQ(fits("日本測地系（2000）"), "010");
  EXPECT_EQ(fits("日本測地系2011(JGD2011)"), "001");
  EXPECT_EQ(fits("日本測地系【2011】"), "001");
  EXPECT_EQ(fits("日本測地系 2000年度 第IX系"), "100");
  for (const char* none : {"座標リスト", "日本測地系から世界測地系へ", "TOKYO 第IX系"})
    EXPECT_EQ(fits(none), "") << none;
  EXPECT_EQ(DatumName(*DatumNamedIn("測地成果2011"), true), "世界測地系（JGD2011）");
  EXPECT_EQ(GisFormatFromPath("A.GeoJSON"), GisFormat::kGeoJson);
  EXPECT_EQ(GisFormatFromPath("a.json"), GisFormat::kGeoJson);
  EXPECT_FALSE(GisFormatFromPath("a.zhy"));
  EXPECT_TRUE(IsGisFile("x.GPKG"));
  EXPECT_FALSE(IsGisFile("x.dxf"));
}

}  // namespace
}  // namespace kestrova
