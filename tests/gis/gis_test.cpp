// The export to GIS formats and DXF, read back by GDAL's own ogrinfo and by the import.

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/sjis.h"
#include "coords/coordinate_file.h"
#include "gis/gis_export.h"
#include "gis/gis_import.h"
#include "gis/survey_systems.h"
#include "support/run_program.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

const std::string kCli = KESTROVA_CLI;
const std::string kSite = KESTROVA_SOURCE_DIR "/examples/site.sim";
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
    EXPECT_TRUE(warnings.empty()) << ext << ": " << warnings.front();
    ASSERT_EQ(back.Table.PointCount, 11) << ext;
    for (int32_t i = 1; i <= 11; ++i) {
      const SurveyPoint& a = original.Table.Points[i];
      const SurveyPoint& b = back.Table.Points[i];
      EXPECT_EQ(b.Number, a.Number) << ext << i;
      EXPECT_EQ(b.Name, a.Name) << ext << i;  // code page 932 again
      EXPECT_NEAR(b.X, a.X, 1e-3) << ext << i;
      EXPECT_NEAR(b.Y, a.Y, 1e-3) << ext << i;
      EXPECT_EQ(b.Z, a.Z) << ext << i;
      EXPECT_EQ(b.Mark, a.Mark) << ext << i;
      EXPECT_EQ(b.Remarks, a.Remarks) << ext << i;
      EXPECT_EQ(b.Marked, a.Marked) << ext << i;
    }
    EXPECT_TRUE(back.Sima.SimaBlocks.empty());
  }
  // Through the command line, appended after a coordinate file.
  const Result info = RunCli("info " + kSite + " " + Path("site.geojson") + " --crs EPSG:6677");
  EXPECT_EQ(info.status, 0) << info.out;
  EXPECT_NE(info.out.find("points: 22\nX: -12095 .. -12010.552\nY: -30545 .. -30490\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("11 points repeat point numbers"), std::string::npos) << info.out;
}

TEST_F(Gis, ImportMapsFieldsAndIsAllOrNothing) {
  // Field names in any case, "no" for the number, a number as text, one missing, a
  // height only in the geometry, and a line that is not a point.
  const std::string json = Write("in.geojson",
                                 R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"NO":"7","Name":"甲","MARK":"3","Remarks":"杭"},
 "geometry":{"type":"Point","coordinates":[139.8333333333333333,36.0]}},
{"type":"Feature","properties":{"Name":"乙","z":"2.5","marked":0},
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
  fails(Write("lines.geojson", R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{},"geometry":{"type":"LineString","coordinates":[[1,2],[3,4]]}}]})"),
        6677, "f: the layer lines holds no point; nothing was loaded");
  fails(Write("not.gpkg", "not a GeoPackage"), 6677, "f: cannot be read as a GeoPackage");
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
  // A circle of 2 mm across at 1:250 has a radius of 0.25 m around its point.
  EXPECT_EQ(withCircles[0].at("Layer"), "A-1");
  EXPECT_EQ(withCircles[0].at("Geometry").substr(0, 40),
            "LINESTRING (-30512.156 -12045.318,-30512");
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
            "JGD2000 zones EPSG:2443 to 2461)\n");
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
  r = RunCli("export " + kSite + " -o - --format dxf --jwcad-settings " + reg + " > " +
             Path("o.dxf"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(DxfEntities(Path("o.dxf")).size(), 59u);
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
                "fewer than three; only the boundary line was written",
                "t.gpkg: 1 triangle names a point that is not in the table and was left out"}));
  // The window says the same in Japanese.
  EXPECT_EQ(GisExportWarnings(gis, "t.gpkg", Language::kJapanese),
            (std::vector<std::string>{
                "t.gpkg\r\n区画 1 個は境界点が表にないか 3 点に満たないため面にできず、"
                "境界線だけを書き出しました。",
                "t.gpkg\r\n三角形 1 個は表にない点を使っているため、書き出しませんでした。"}));

  // 120 double-byte characters: 240 bytes here, 360 in UTF-8.
  std::string longName;
  for (int k = 0; k < 120; ++k)
    longName += "\x8b\xab";  // 境
  data.Table.Points[1].Name = longName;
  o.Format = GisFormat::kShp;
  const GisExport shp = BuildGisExport(data, o, "t.shp");
  EXPECT_EQ(shp.textsCut, 1u);
  EXPECT_EQ(shp.Files.front().Name, "t.shp");
  EXPECT_EQ(shp.Files.size(), 5u * 3);  // points, parcels, parcel lines
}

TEST(SurveySystems, ZonesAndNames) {
  // Every zone of both datums.
  const std::vector<SurveySystem>& s = OfferedSurveySystems();
  ASSERT_EQ(s.size(), 38u);
  EXPECT_EQ(s[8].Name, "JGD2011 平面直角座標系 第IX系");
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
  EXPECT_EQ(GisFormatFromPath("A.GeoJSON"), GisFormat::kGeoJson);
  EXPECT_EQ(GisFormatFromPath("a.json"), GisFormat::kGeoJson);
  EXPECT_FALSE(GisFormatFromPath("a.zhy"));
  EXPECT_TRUE(IsGisFile("x.GPKG"));
  EXPECT_FALSE(IsGisFile("x.dxf"));
}

}  // namespace
}  // namespace kestrova
