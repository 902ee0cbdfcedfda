#include "gis/gis_import.h"

#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <utility>

#include "app/messages.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "gis/gdal_support.h"
#include "gis/survey_systems.h"

namespace kestrova {

namespace {

using gis::QuietGdal;

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

OGRLayer* PointLayer(GDALDataset& ds) {
  for (int i = 0; i < ds.GetLayerCount(); ++i) {
    OGRLayer* layer = ds.GetLayer(i);
    if (Lower(layer->GetName()) == "points") return layer;
  }
  for (int i = 0; i < ds.GetLayerCount(); ++i) {
    OGRLayer* layer = ds.GetLayer(i);
    if (wkbFlatten(layer->GetGeomType()) == wkbPoint) return layer;
  }
  // A GeoJSON file of mixed geometries is one layer: its points are taken.
  return ds.GetLayerCount() == 1 ? ds.GetLayer(0) : nullptr;
}

struct Fields {
  int number = -1, name = -1, z = -1, mark = -1, remarks = -1, marked = -1;
  int layer = -1;  // the kind of feature in a GeoJSON file of this program's
};

Fields FindFields(OGRFeatureDefn& defn) {
  Fields f;
  for (int i = 0; i < defn.GetFieldCount(); ++i) {
    const std::string n = Lower(defn.GetFieldDefn(i)->GetNameRef());
    int* slot = n == "number" || n == "no" ? &f.number
                : n == "name"              ? &f.name
                : n == "z"                 ? &f.z
                : n == "mark"              ? &f.mark
                : n == "remarks"           ? &f.remarks
                : n == "marked"            ? &f.marked
                : n == "layer"             ? &f.layer
                                           : nullptr;
    if (slot && *slot < 0) *slot = i;
  }
  return f;
}

bool Has(const OGRFeature& f, int field) {
  return field >= 0 && f.IsFieldSetAndNotNull(field);
}

bool IsNumeric(const OGRFeature& f, int field) {
  const OGRFieldType t = f.GetFieldDefnRef(field)->GetType();
  return t == OFTInteger || t == OFTInteger64 || t == OFTReal;
}

}  // namespace

bool IsGisFile(const std::filesystem::path& path) {
  const std::string ext = Lower(path.extension().string());
  return ext == ".gpkg" || ext == ".geojson" || ext == ".json" || ext == ".shp";
}

std::vector<std::string> LoadGisPoints(const std::filesystem::path& path, const std::string& name,
                                       int32_t epsg, CoordinateData& data, bool appendOnLoad,
                                       LoadReport& report, Language language) {
  gis::EnsureGdal();
  QuietGdal quiet;
  static const char* const kDrivers[] = {"GPKG", "GeoJSON", "ESRI Shapefile", nullptr};
  // GDAL takes UTF-8 file names on every system.
  const std::u8string u8 = path.u8string();
  const std::string file(reinterpret_cast<const char*>(u8.data()), u8.size());
  // A Shapefile's texts are in the code page its .cpg names; without one they are
  // taken as they are: UTF-8 when they are that, else code page 932 (see below).
  const bool shapefile = Lower(path.extension().string()) == ".shp";
  std::vector<std::string> warnings;
  bool noCodePage = false;
  if (shapefile) {
    const auto beside = [&path](const char* ext) {
      std::error_code ec;
      for (const std::string& e : {std::string(ext), Upper(ext)}) {
        std::filesystem::path p = path;
        p.replace_extension(e);
        if (std::filesystem::exists(p, ec)) return true;
      }
      return false;
    };
    if (!beside(".dbf")) {
      warnings.push_back(MessageText(MessageId::kGisNoDbf, {name}, language));
    } else if (!beside(".cpg")) {
      noCodePage = true;
    }
  }
  const char* const openOptions[] = {"ENCODING=", nullptr};
  std::unique_ptr<GDALDataset> ds(GDALDataset::Open(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY,
                                                    kDrivers, noCodePage ? openOptions : nullptr,
                                                    nullptr));
  if (!ds) throw Error(MessageId::kGisCannotRead, {name, gis::GdalReason()});
  OGRLayer* layer = PointLayer(*ds);
  if (!layer) throw Error(MessageId::kGisNoPointLayer, {name});
  const std::string layerName = layer->GetName();

  std::unique_ptr<OGRSpatialReference> target;
  if (epsg != 0) target = gis::SurveyReference(epsg);
  std::unique_ptr<OGRSpatialReference> source;
  if (const OGRSpatialReference* srs = layer->GetSpatialRef()) {
    source.reset(srs->Clone());
    source->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  }
  std::unique_ptr<OGRCoordinateTransformation> transform;
  if (source && target && !source->IsSame(target.get())) {
    transform.reset(OGRCreateCoordinateTransformation(source.get(), target.get()));
    if (!transform) {
      throw Error(MessageId::kGisSystemCannotConvert,
                  {name, source->GetName(), EpsgName(epsg), gis::GdalReason()});
    }
  } else if (source && !target && !source->IsProjected()) {
    throw Error(MessageId::kGisLongitudeLatitude, {name, source->GetName(), kSurveySystemHint});
  }

  OGRFeatureDefn& defn = *layer->GetLayerDefn();
  const Fields fields = FindFields(defn);
  const int32_t firstRow = appendOnLoad ? data.Table.PointCount + 1 : 1;
  // Laid out as a table's points (row r is element r), so that a load that replaces the
  // table takes them without a copy.
  std::vector<SurveyPoint> points(1);
  size_t skipped = 0;
  size_t badNumbers = 0;
  std::string firstBadNumber;
  size_t notUtf8 = 0;
  std::string firstNotUtf8;
  size_t badZ = 0, badMarked = 0;
  std::string firstBadZ, firstBadMarked;
  // Where each point stands in the file's own coordinates, when parcels or polylines
  // beside the points may run through them: sorted once every point is read, the first
  // point at a place found first.
  struct Place {
    double x, y;
    size_t row;
  };
  const auto before = [](const Place& a, const Place& b) {
    return std::tie(a.x, a.y) < std::tie(b.x, b.y);
  };
  std::vector<Place> pointAt;
  const bool shapesBeside = ds->GetLayerByName("parcel_lines") || ds->GetLayerByName("parcels") ||
                            ds->GetLayerByName("polylines");
  const auto toCp932 = [&report](std::string_view t, size_t limit) {
    Cp932Text c = Utf8ToCp932(t);
    report.replacedCharacters += c.replaced;
    return std::string(CutToBytes(c.text, limit));
  };
  // A text as the point keeps it. A .dbf without .cpg is decoded as a whole once every
  // text has been seen (code page 932 pairs of half-width kana can be valid UTF-8): its
  // texts are kept as they are until then.
  const auto text = [&](const OGRFeature& f, int field, size_t limit,
                        const std::string& feature) -> PointText {
    if (!Has(f, field)) return PointText();
    const char* t = f.GetFieldAsString(field);
    if (!noCodePage) return toCp932(t, limit);
    if (!IsValidUtf8(t) && notUtf8++ == 0) firstNotUtf8 = feature;
    return PointText(t);
  };
  layer->ResetReading();
  for (std::unique_ptr<OGRFeature> f(layer->GetNextFeature()); f;
       f.reset(layer->GetNextFeature())) {
    const std::vector<std::string> which{name, std::to_string(f->GetFID()), layerName};
    OGRGeometry* g = f->GetGeometryRef();
    if (!g || g->IsEmpty()) throw Error(MessageId::kGisFeatureNoPosition, which);
    // The parcels and lines that an export put beside the points are not points.
    if (Has(*f, fields.layer) && std::string_view(f->GetFieldAsString(fields.layer)) != "points") {
      continue;
    }
    if (wkbFlatten(g->getGeometryType()) != wkbPoint) {
      ++skipped;
      continue;
    }
    const OGRPoint& pt = *g->toPoint();
    double x = pt.getX();
    double y = pt.getY();
    if (shapesBeside) pointAt.push_back({x, y, points.size()});
    if (transform && !transform->Transform(1, &x, &y)) {
      std::vector<std::string> args = which;
      args.insert(args.end(), {EpsgName(epsg), gis::GdalReason()});
      throw Error(MessageId::kGisFeatureCannotConvert, std::move(args));
    }
    if (!std::isfinite(x) || !std::isfinite(y)) {
      throw Error(MessageId::kGisFeatureNotANumber, which);
    }
    SurveyPoint p;
    const int32_t row = firstRow + static_cast<int32_t>(points.size() - 1);
    p.Number = row;
    if (Has(*f, fields.number)) {
      std::optional<int32_t> n;
      if (IsNumeric(*f, fields.number)) {
        const double v = f->GetFieldAsDouble(fields.number);
        if (v == std::floor(v) && v >= INT32_MIN && v <= INT32_MAX) n = static_cast<int32_t>(v);
      } else {
        n = ParseInt(TrimBlanks(f->GetFieldAsString(fields.number)));
      }
      if (n) {
        p.Number = *n;
      } else if (badNumbers++ == 0) {
        firstBadNumber =
            std::to_string(f->GetFID()) + " (\"" + f->GetFieldAsString(fields.number) + "\")";
      }
    }
    const std::string feature = std::to_string(f->GetFID());
    p.Name = text(*f, fields.name, kNameLimit, feature);
    p.Mark = text(*f, fields.mark, kMarkLimit, feature);
    p.Remarks = text(*f, fields.remarks, kRemarksLimit, feature);
    p.X = y;
    p.Y = x;
    if (Has(*f, fields.z)) {
      std::optional<double> z;
      if (IsNumeric(*f, fields.z)) {
        z = f->GetFieldAsDouble(fields.z);
      } else {
        z = ParseFloat(TrimBlanks(f->GetFieldAsString(fields.z)));
      }
      if (!z || !std::isfinite(*z)) {
        if (badZ++ == 0) firstBadZ = feature + " (\"" + f->GetFieldAsString(fields.z) + "\")";
        z = 0.0;
      }
      p.Z = *z;
    } else if (pt.Is3D()) {
      p.Z = pt.getZ();
    }
    p.Marked = 1;
    if (Has(*f, fields.marked)) {
      const std::string v(TrimBlanks(f->GetFieldAsString(fields.marked)));
      const std::optional<double> d =
          IsNumeric(*f, fields.marked) ? std::optional<double>(f->GetFieldAsDouble(fields.marked))
                                       : ParseFloat(v);
      if (d == 1.0) {
        p.Marked = 1;
      } else if (d == 0.0) {
        p.Marked = 0;
      } else {
        p.Marked = 0;
        if (badMarked++ == 0) firstBadMarked = feature + " (\"" + v + "\")";
      }
    }
    points.push_back(std::move(p));
  }
  if (points.size() == 1) {
    throw Error(MessageId::kGisLayerHoldsNoPoint, {name, layerName});
  }
  if (noCodePage) {
    // Every text is UTF-8, or all of them are taken as code page 932.
    const auto decode = [&](PointText& t, size_t limit) {
      t = notUtf8 > 0 ? std::string(CutToBytes(t.view(), limit)) : toCp932(t.view(), limit);
    };
    for (size_t i = 1; i < points.size(); ++i) {
      decode(points[i].Name, kNameLimit);
      decode(points[i].Mark, kMarkLimit);
      decode(points[i].Remarks, kRemarksLimit);
    }
  }
  std::stable_sort(pointAt.begin(), pointAt.end(), before);

  // The parcels and polylines an export of this program puts beside the points come
  // back as SIMA blocks over the points they run through. parcel_lines holds every
  // parcel with its boundary in the order the block named it, closed where the parcel
  // is; parcels (polygons only) stands in for it in a file without it.
  std::vector<SimaBlock> blocks;
  std::vector<std::string> shapeWarnings;
  int32_t parcelNumber = 0, polylineNumber = 0;
  const auto readBlocks = [&](const char* kind, bool polyline) {
    OGRLayer* shapes = ds->GetLayerByName(kind);
    if (!shapes || shapes == layer) return false;
    const int nameField = shapes->GetLayerDefn()->GetFieldIndex("name");
    size_t notOnPoints = 0;
    std::string first;
    shapes->ResetReading();
    for (std::unique_ptr<OGRFeature> f(shapes->GetNextFeature()); f;
         f.reset(shapes->GetNextFeature())) {
      const OGRGeometry* g = f->GetGeometryRef();
      const OGRSimpleCurve* curve = nullptr;
      if (g && wkbFlatten(g->getGeometryType()) == wkbLineString) {
        curve = g->toLineString();
      } else if (g && !polyline && wkbFlatten(g->getGeometryType()) == wkbPolygon) {
        curve = g->toPolygon()->getExteriorRing();
      }
      int n = curve ? curve->getNumPoints() : 0;
      const bool closed = !polyline && n >= 4 && curve->getX(0) == curve->getX(n - 1) &&
                          curve->getY(0) == curve->getY(n - 1);
      if (closed) --n;
      SimaBlock block;
      block.Polyline = polyline;
      block.Closing = closed ? 1 : 0;
      for (int i = 0; i < n; ++i) {
        const Place place{curve->getX(i), curve->getY(i), 0};
        const auto at = std::lower_bound(pointAt.begin(), pointAt.end(), place, before);
        if (at == pointAt.end() || before(place, *at)) {
          n = 0;
          break;
        }
        SimaBlockRecord record;
        record.Point.Number = points[at->row].Number;
        record.Point.Name = points[at->row].Name;
        block.Records.push_back(std::move(record));
      }
      if (n < 2) {
        if (notOnPoints++ == 0) first = std::to_string(f->GetFID());
        continue;
      }
      block.Number = std::to_string(polyline ? ++polylineNumber : ++parcelNumber);
      if (Has(*f, nameField)) {
        Cp932Text blockName = Utf8ToCp932(f->GetFieldAsString(nameField));
        report.replacedCharacters += blockName.replaced;
        block.Name = std::move(blockName.text);
      }
      blocks.push_back(std::move(block));
    }
    if (notOnPoints > 0) {
      shapeWarnings.push_back(MessageText(MessageId::kGisShapesNotOnPoints,
                                          {name, std::to_string(notOnPoints), kind, first},
                                          language));
    }
    return true;
  };
  if (!readBlocks("parcel_lines", false)) readBlocks("parcels", false);
  readBlocks("polylines", true);

  // Everything was read: only now does the table change.
  const int32_t rowsBefore = appendOnLoad ? data.Table.PointCount : 0;
  if (!appendOnLoad) {
    data = CoordinateData{};  // nothing of the previous site stays
    data.Table.PointCount = static_cast<int32_t>(points.size() - 1);
    data.Table.Points = std::move(points);
  } else {
    // Grown as appending grows it: many layers appended one by one are not copied whole
    // for each.
    std::vector<SurveyPoint>& table = data.Table.Points;
    if (table.capacity() - table.size() < points.size() - 1)
      table.reserve(std::max(table.size() + points.size() - 1, 2 * table.capacity()));
    for (size_t i = 1; i < points.size(); ++i)
      AppendPoint(data.Table) = std::move(points[i]);
  }
  data.Sima.SimaLoaded = false;
  for (SimaBlock& block : blocks) {
    block.RowsBefore = data.Table.PointCount;  // they follow the points
    data.Sima.SimaBlocks.push_back(std::move(block));
  }
  if (rowsBefore > 0) {
    for (int32_t r = rowsBefore + 1; r <= data.Table.PointCount; ++r) {
      if (*FindPointIndex(data.Table, data.Table.Points[r].Number) <= rowsBefore)
        ++report.repeatedNumbers;
    }
  }

  if (badZ > 0) {
    warnings.push_back(
        MessageText(badZ == 1 ? MessageId::kGisZNotNumber : MessageId::kGisZsNotNumber,
                    {name, std::to_string(badZ), layerName, firstBadZ}, language));
  }
  if (badMarked > 0) {
    warnings.push_back(
        MessageText(badMarked == 1 ? MessageId::kGisMarkedNotBinary : MessageId::kGisMarksNotBinary,
                    {name, std::to_string(badMarked), layerName, firstBadMarked}, language));
  }
  if (notUtf8 > 0) {
    warnings.push_back(
        MessageText(notUtf8 == 1 ? MessageId::kGisTextNotUtf8 : MessageId::kGisTextsNotUtf8,
                    {name, std::to_string(notUtf8), layerName, firstNotUtf8}, language));
  }
  if (skipped > 0) {
    warnings.push_back(MessageText(MessageId::kGisFeaturesNotPoints,
                                   {name, std::to_string(skipped), layerName}, language));
  }
  warnings.insert(warnings.end(), shapeWarnings.begin(), shapeWarnings.end());
  if (badNumbers > 0) {
    warnings.push_back(MessageText(
        badNumbers == 1 ? MessageId::kGisNumberNotWhole : MessageId::kGisNumbersNotWhole,
        {name, std::to_string(badNumbers), layerName, firstBadNumber}, language));
  }
  return warnings;
}

}  // namespace kestrova

namespace kestrova {

bool LoadAnyCoordinateFile(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                           CoordinateData& data, bool appendOnLoad,
                           std::vector<std::string>& warnings) {
  LoadReport report;
  if (IsGisFile(path)) {
    std::vector<std::string> more = LoadGisPoints(path, name, epsg, data, appendOnLoad, report);
    for (std::string& w : LoadWarnings(report, name))
      warnings.push_back(std::move(w));
    warnings.insert(warnings.end(), more.begin(), more.end());
    return true;
  }
  if (!LoadCoordinateFile(path, data, appendOnLoad, &report)) return false;
  for (std::string& w : LoadWarnings(report, name))
    warnings.push_back(std::move(w));
  return true;
}

}  // namespace kestrova
