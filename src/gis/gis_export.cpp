#include "gis/gis_export.h"

#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <system_error>
#include <utility>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/parallel.h"
#include "common/sjis.h"
#include "common/utf8_path.h"
#include "coords/convert.h"
#include "gis/dxf_entities.h"
#include "gis/gdal_support.h"
#include "gis/gpkg_tables.h"
#include "gis/shapefile_points.h"
#include "gis/survey_systems.h"

namespace kestrova {

namespace {

struct FormatInfo {
  GisFormat format;
  const char* name;
  const char* title;
  const char* driver;
};

constexpr FormatInfo kFormats[] = {
    {GisFormat::kGpkg, "gpkg", "GeoPackage", "GPKG"},
    {GisFormat::kGeoJson, "geojson", "GeoJSON", "GeoJSON"},
    {GisFormat::kDxf, "dxf", "DXF", "DXF"},
    {GisFormat::kKml, "kml", "KML", "KML"},
    {GisFormat::kShp, "shp", "Shapefile", "ESRI Shapefile"},
};

const FormatInfo& Info(GisFormat f) {
  return *std::find_if(std::begin(kFormats), std::end(kFormats),
                       [f](const FormatInfo& i) { return i.format == f; });
}

}  // namespace

std::optional<GisFormat> GisFormatFromName(std::string_view name) {
  for (const FormatInfo& i : kFormats) {
    if (name == i.name) return i.format;
  }
  return std::nullopt;
}

std::optional<GisFormat> GisFormatFromPath(const std::filesystem::path& path) {
  const std::string ext = AsciiLower(path.extension().string());
  if (ext == ".json") return GisFormat::kGeoJson;
  if (ext.size() > 1) return GisFormatFromName(std::string_view(ext).substr(1));
  return std::nullopt;
}

const char* GisFormatTitle(GisFormat format) {
  return Info(format).title;
}

bool GisFormatNeedsSystem(GisFormat format) {
  return format != GisFormat::kDxf;
}

namespace {

using gis::QuietGdal;

// Programs that read a Shapefile (GDAL, shapelib) drop the blanks at either end of its
// texts, which the .dbf pads with blanks.
bool HasOuterBlanks(const SurveyPoint& p) {
  const auto outer = [](std::string_view t) {
    return !t.empty() && (t.front() == ' ' || t.back() == ' ');
  };
  return outer(p.Name.view()) || outer(p.Mark.view()) || outer(p.Remarks.view());
}

// A KML file's texts lose their leading blanks, as GDAL writes them.
bool HasLeadingBlanks(const SurveyPoint& p) {
  const auto leading = [](std::string_view t) { return !t.empty() && t.front() == ' '; };
  return leading(p.Name.view()) || leading(p.Mark.view()) || leading(p.Remarks.view());
}

// Absolute area of the closed polygon through the vertices (stored X, Y), taken
// relative to the first vertex so that large plane coordinates keep their digits.
double ShoelaceArea(const std::vector<const SurveyPoint*>& v) {
  long double twice = 0.0L;
  const long double x0 = v[0]->X;
  const long double y0 = v[0]->Y;
  for (size_t i = 0; i < v.size(); ++i) {
    const SurveyPoint& a = *v[i];
    const SurveyPoint& b = *v[(i + 1) % v.size()];
    twice += (a.X - x0) * (b.Y - y0) - (b.X - x0) * (a.Y - y0);
  }
  return static_cast<double>(std::fabs(twice) / 2);
}

std::string Utf8(std::string_view cp932) {
  return Cp932ToUtf8(cp932);
}

// The loaded table as a source: its numbers looked up as the reader looks them up.
class TableSource final : public GisSource {
 public:
  explicit TableSource(const CoordinateData& data) : data_(data) {}
  bool SimaLoaded() const override { return data_.Sima.SimaLoaded; }
  size_t PointCount() const override { return static_cast<size_t>(data_.Table.PointCount); }
  void EachPoint(const std::function<void(const SurveyPoint&)>& take) const override {
    for (int32_t r = 1; r <= data_.Table.PointCount; ++r)
      take(data_.Table.Points[r]);
  }
  void EachBlock(
      const std::function<void(const SimaBlock&, const std::vector<const SurveyPoint*>&)>& take)
      const override {
    const PointTable& table = data_.Table;
    std::vector<const SurveyPoint*> points;
    for (const SimaBlock& block : data_.Sima.SimaBlocks) {
      points.clear();
      for (const SimaBlockRecord& record : block.Records) {
        // The point it named when read, wherever it stands and whatever its number now.
        if (record.Row > 0 && record.Row <= table.PointCount) {
          points.push_back(&table.Points[record.Row]);
          continue;
        }
        const std::optional<int32_t> row = FindPointIndex(table, record.Point.Number);
        points.push_back(row ? &table.Points[*row] : nullptr);
      }
      take(block, points);
    }
  }
  void EachLine(const std::function<void(const SimaLine&)>& take) const override {
    for (const SimaLine& l : data_.Sima.SimaLines)
      take(l);
  }
  void EachText(const std::function<void(const SimaText&)>& take) const override {
    for (const SimaText& t : data_.Sima.SimaTexts)
      take(t);
  }

 private:
  const CoordinateData& data_;
};

// What a SIMA block describes: a parcel whose boundary names a missing point ends there
// and has no area, and so do the triangles after it.
struct Parcel {
  const SimaBlock* block = nullptr;
  std::vector<const SurveyPoint*> vertices;
  bool complete = true;
};
struct Triangle {
  const SimaBlock* block = nullptr;
  std::array<const SurveyPoint*, 3> corners{};
};
struct BlockShape {
  Parcel outline;
  std::vector<Triangle> triangles;
  size_t trianglesMissing = 0;
};

BlockShape ShapeOf(const SimaBlock& block, const std::vector<const SurveyPoint*>& points) {
  BlockShape out;
  out.outline.block = &block;
  for (size_t i = 0; i < block.Records.size(); ++i) {
    const SimaBlockRecord& record = block.Records[i];
    if (record.RecordKind == SimaBlockRecord::kCorner) continue;
    if (record.RecordKind == SimaBlockRecord::kTriangle) {
      Triangle t{&block, {}};
      for (size_t k = 0; k < 3 && i + k < block.Records.size(); ++k)
        t.corners[k] = points[i + k];
      if (std::find(t.corners.begin(), t.corners.end(), nullptr) != t.corners.end()) {
        ++out.trianglesMissing;
      } else {
        out.triangles.push_back(t);
      }
      continue;
    }
    if (!points[i]) {
      out.outline.complete = false;
      break;
    }
    out.outline.vertices.push_back(points[i]);
  }
  return out;
}

// Survey X is northing and Y easting: the geometry's x is Y and its y is X, then
// converted to longitude/latitude where the format wants them.
class Positions {
 public:
  Positions(const OGRSpatialReference* survey, const OGRSpatialReference* output,
            const std::optional<gis::SurveyArea>& area)
      : area_(area) {
    if (survey && output && !survey->IsSame(output)) {
      transform_.reset(OGRCreateCoordinateTransformation(survey, output));
      if (!transform_) {
        throw Error(MessageId::kGisSurveySystemCannotConvert,
                    {output->GetName(), gis::GdalReason()});
      }
      back_.reset(OGRCreateCoordinateTransformation(output, survey));
    }
  }
  OGRPoint At(const SurveyPoint& p) const { return At(p.X, p.Y, p); }
  OGRPoint At(double x, double y, const SurveyPoint& about) const {
    double gx = y;
    double gy = x;
    if (transform_ && !transform_->Transform(1, &gx, &gy)) {
      throw Error(MessageId::kGisPointCannotPlace,
                  {std::to_string(about.Number), Utf8(about.Name), FormatGeneral(x),
                   FormatGeneral(y), gis::GdalReason()});
    }
    if (transform_) LeadsBack(x, y, gx, gy, about);
    return OGRPoint(gx, gy);
  }
  // Where each of points goes, as At places them one by one: a call to the transformation
  // for all of them, which costs far less than one for each.
  void AtAll(std::span<const SurveyPoint> points, std::vector<double>& xs,
             std::vector<double>& ys) const {
    AtEach(
        points.size(), [&points](size_t i) -> const SurveyPoint& { return points[i]; }, xs, ys);
  }
  // The same for a shape's vertices.
  void AtAll(const std::vector<const SurveyPoint*>& vertices, std::vector<double>& xs,
             std::vector<double>& ys) const {
    AtEach(
        vertices.size(), [&vertices](size_t i) -> const SurveyPoint& { return *vertices[i]; }, xs,
        ys);
  }

 private:
  template <class Point>
  void AtEach(size_t n, const Point& point, std::vector<double>& xs,
              std::vector<double>& ys) const {
    xs.resize(n);
    ys.resize(n);
    for (size_t i = 0; i < n; ++i) {
      xs[i] = point(i).Y;
      ys[i] = point(i).X;
    }
    if (!transform_ || n == 0) return;
    std::vector<int> placed(n, FALSE);
    // A point that cannot be placed is told of once, by At below.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    transform_->Transform(static_cast<int>(n), xs.data(), ys.data(), nullptr, placed.data());
    CPLPopErrorHandler();
    for (size_t i = 0; i < n; ++i) {
      if (placed[i]) {
        LeadsBack(point(i).X, point(i).Y, xs[i], ys[i], point(i));
        continue;
      }
      const OGRPoint g = At(point(i));  // throws why it cannot be placed
      xs[i] = g.getX();
      ys[i] = g.getY();
    }
  }

  // Far outside its system's area a point's place may not lead back to it: past half the
  // globe a plane system's longitude and latitude wrap around. Such a point is refused,
  // not written somewhere else.
  void LeadsBack(double x, double y, double gx, double gy, const SurveyPoint& about) const {
    if (!back_ || (area_ && area_->Holds(y, x))) return;
    constexpr double kWithin = 0.001;  // metres
    double east = gx;
    double north = gy;
    if (back_->Transform(1, &east, &north) && std::abs(east - y) <= kWithin &&
        std::abs(north - x) <= kWithin) {
      return;
    }
    throw Error(MessageId::kGisPointLeadsElsewhere, {std::to_string(about.Number), Utf8(about.Name),
                                                     FormatGeneral(x), FormatGeneral(y)});
  }

  std::optional<gis::SurveyArea> area_;
  std::unique_ptr<OGRCoordinateTransformation> transform_;
  std::unique_ptr<OGRCoordinateTransformation> back_;  // for points outside area_
};

constexpr int kShapefileText = 254;

struct FieldSpec {
  const char* name;
  OGRFieldType type;
};

constexpr FieldSpec kPointFields[] = {
    {"number", OFTInteger}, {"name", OFTString}, {"x", OFTReal},         {"y", OFTReal},
    {"z", OFTReal},         {"mark", OFTString}, {"remarks", OFTString}, {"marked", OFTInteger},
};

// One kind of feature: points, parcels, parcel boundary lines, triangles, polylines.
struct Kind {
  const char* layer;
  OGRwkbGeometryType type;
  std::vector<FieldSpec> fields;
};

const Kind kPoints{"points", wkbPoint,
                   std::vector<FieldSpec>(std::begin(kPointFields), std::end(kPointFields))};
const Kind kParcels{"parcels", wkbPolygon, {{"name", OFTString}, {"area", OFTReal}}};
const Kind kParcelLines{"parcel_lines", wkbLineString, {{"name", OFTString}}};
const Kind kTriangles{"triangles", wkbPolygon, {{"name", OFTString}}};
const Kind kPolylines{"polylines", wkbLineString, {{"name", OFTString}}};

// Writes features into the dataset: a layer per kind, or, for GeoJSON (one layer per
// file), every kind in one layer with its kind in the field "layer".
void AppendGeoJsonFeature(std::string& out, const OGRFeature& f);
// The text AppendGeoJsonFeature makes of a point's feature, made without one.
void AppendGeoJsonPoint(std::string& out, const SurveyPoint& p, const OGRPoint& at);
// GDAL's KML placemark for a point, made without a feature; false where the text would not
// be GDAL's byte for byte.
bool AppendKmlPoint(std::string& out, const SurveyPoint& p, const OGRPoint& at);
// The same for a parcel, triangle or line of the layer named layer; area where it has one.
bool AppendKmlShape(std::string& out, const char* layer, std::string_view name, const double* area,
                    const OGRGeometry& g);

// GDAL's last failure, which befell subject in ds: a GeoPackage's "disk I/O error" with
// the system's reason behind it.
// A dataset whose folder has no room left: GDAL may call a file it could not write there
// "unreadable, or corrupt" when it reads it back, and the full disk is the reason to give.
bool FolderIsFull(GDALDataset& ds) {
  std::error_code ec;
  std::filesystem::path where = Utf8Path(ds.GetDescription());
  if (!std::filesystem::is_directory(where, ec)) where = where.parent_path();
  const std::filesystem::space_info room = std::filesystem::space(where, ec);
  constexpr std::uintmax_t kNoRoom = 4096;  // less than one block of the file system
  return !ec && room.available < kNoRoom;
}

Error GdalFailure(MessageId id, const std::string& subject, GDALDataset* ds) {
  if (ds != nullptr && FolderIsFull(*ds)) {
    return Error(id, {subject, ": " + std::generic_category().message(ENOSPC)}, ENOSPC);
  }
  void* db = ds ? ds->GetInternalHandle("SQLITE_HANDLE") : nullptr;
  return gis::SqliteFailure(id, subject, db, gis::GdalReason());
}

// Closes a dataset as GDAL finishes it (most drivers write their index, trailer or header
// only then); throws when that failed.
void CloseDataset(std::unique_ptr<GDALDataset> ds, const char* title) {
  CPLErrorReset();
  GDALClose(GDALDataset::ToHandle(ds.release()));
  if (CPLGetLastErrorType() == CE_Failure) {
    throw Error(MessageId::kGisCannotFinish, {title, gis::GdalReason()});
  }
}

// A Shapefile's points on disk, in a dataset of their own: GDAL writes the first point,
// its file set is closed, and ShapefilePointAppender adds the others. Should one need
// GDAL's own writing, the set is opened again and GDAL writes the rest.
class ShapefilePoints {
 public:
  // base: the points' file set without its extension.
  ShapefilePoints(std::unique_ptr<GDALDataset> ds, std::string folder, std::string base)
      : ds_(std::move(ds)), folder_(std::move(folder)), base_(std::move(base)) {}

  GDALDataset& Dataset() { return *ds_; }
  bool Appending() const { return appender_ != nullptr; }
  // After GDAL has written a point. Null while the appender takes the points, else the
  // layer GDAL writes them to.
  OGRLayer* Written() {
    if (started_) return layer_;
    started_ = true;
    // The user's GDAL settings for Shapefiles (another encoding for their texts, files
    // held to 2 GB) leave every record to GDAL.
    if (CPLGetConfigOption("SHAPE_ENCODING", nullptr) ||
        CPLTestBool(CPLGetConfigOption("SHAPE_2GB_LIMIT", "NO")))
      return layer_ = ds_->GetLayer(0);
    CloseDataset(std::move(ds_), "Shapefile");
    appender_ = ShapefilePointAppender::Open(base_);
    return appender_ ? nullptr : Reopen();
  }
  bool Append(const SurveyPoint& p, const OGRPoint& at, size_t& textsCut) {
    return appender_->Append(p, at.getX(), at.getY(), textsCut);
  }
  // The layer to write the points to from now on.
  OGRLayer* Reopen() {
    if (appender_) appender_->Finish();
    appender_.reset();
    ds_.reset(GDALDataset::Open(folder_.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
    layer_ = ds_ ? ds_->GetLayer(0) : nullptr;
    if (!layer_) throw Error(MessageId::kGisCannotFinish, {"Shapefile", gis::GdalReason()});
    return layer_;
  }
  void Finish() {
    if (appender_) appender_->Finish();
    appender_.reset();
    if (ds_) CloseDataset(std::move(ds_), "Shapefile");
  }

 private:
  std::unique_ptr<GDALDataset> ds_;
  std::string folder_;
  std::string base_;
  bool started_ = false;
  std::unique_ptr<ShapefilePointAppender> appender_;
  OGRLayer* layer_ = nullptr;
};

// Makes the layers and adds the features to them; GeoJSON's features are written as
// text to geoJson instead, one after another.
class FeatureWriter {
 public:
  // kmlText: where GDAL's KML goes, when it is a file of this program's. points: where the
  // points' layer is made, when not in ds.
  FeatureWriter(GDALDataset& ds, GisFormat format, const OGRSpatialReference* srs, std::string stem,
                std::FILE* geoJson, std::FILE* kmlText, GDALDataset* points)
      : ds_(ds),
        points_(points),
        format_(format),
        srs_(srs),
        stem_(std::move(stem)),
        geoJson_(geoJson),
        kmlText_(kmlText) {}

  // The layer the kind's features go to from now on (null: none through GDAL).
  void Rebind(const Kind& kind, OGRLayer* layer) { layers_[LayerName(kind)] = layer; }
  // A feature written without GDAL.
  void Counted(const Kind& kind, size_t n) { counts_[LayerName(kind)] += n; }

  // Makes the layer even when nothing goes into it.
  void Ensure(const Kind& kind) { LayerFor(kind); }
  // Layers made from now on get no spatial index from GDAL (a GeoPackage's is packed
  // once the file is closed).
  void WithoutSpatialIndexes() { spatialIndexes_ = false; }
  // A GeoPackage's features go to rows, inserted into its tables once GDAL has made
  // them, not through GDAL.
  void IntoRows(gis::GpkgRows& rows) { rows_ = &rows; }
  // The row of a feature of kind begun: its geometry and fields follow in the kind's
  // order. Its layer is made by MakeLayersOfRows.
  gis::GpkgRow& BeginRow(const Kind& kind) {
    // A million points in a row are of one kind: its name and fields are found once.
    if (&kind != rowKind_) {
      rowLayer_ = &RowLayer(kind);
      rowKind_ = &kind;
    }
    return rows_->Begin(rowLayer_->first, rowLayer_->second);
  }
  // The rows of kind made as its table is filled (gis::GpkgRows::Later).
  void RowsLater(const Kind& kind, size_t rows, std::function<void(gis::GpkgRow&)> make) {
    const auto& [name, fields] = RowLayer(kind);
    rows_->Later(name, fields, rows, std::move(make));
  }
  // Makes the layers of those of kinds that have rows, in kinds' order.
  void MakeLayersOfRows(std::initializer_list<const Kind*> kinds) {
    for (const Kind* kind : kinds) {
      const std::string name = LayerName(*kind);
      const size_t rows = rows_->Rows(name);
      if (rows == 0) continue;
      LayerFor(*kind);
      counts_[name] += rows;
    }
  }
  OGRFeatureDefn* Definition(const Kind& kind) { return LayerFor(kind)->GetLayerDefn(); }
  // Where the field name is among the features' fields of that kind.
  int Field(const Kind& kind, const char* name) {
    return LayerFor(kind)->GetLayerDefn()->GetFieldIndex(name);
  }
  OGRFeature* New(const Kind& kind) {
    OGRLayer* layer = LayerFor(kind);
    auto* f = new OGRFeature(layer->GetLayerDefn());
    if (format_ == GisFormat::kGeoJson) f->SetField("layer", kind.layer);
    return f;
  }
  void Add(const Kind& kind, OGRFeature* feature) {
    std::unique_ptr<OGRFeature> owned(feature);
    if (geoJson_) {
      AddGeoJson(kind, [&owned](std::string& out) { AppendGeoJsonFeature(out, *owned); });
      return;
    }
    if (LayerFor(kind)->CreateFeature(owned.get()) != OGRERR_NONE) {
      throw GdalFailure(MessageId::kGisFeatureNotWritten, kind.layer, &ds_);
    }
    ++counts_[LayerName(kind)];
  }
  // GeoJSON only: a feature's text, made by make.
  template <class Make>
  void AddGeoJson(const Kind& kind, const Make& make) {
    text_.clear();
    if (written_++ > 0) text_ += ",\n";
    make(text_);
    WriteText(kind, geoJson_, text_);
    ++counts_[LayerName(kind)];
  }
  // GeoJSON only: whether a feature was written (those after it are preceded by ",\n").
  bool GeoJsonStarted() const { return written_ > 0; }
  // GeoJSON only: the text of features features of kind, made elsewhere, with their
  // separators.
  void AddGeoJsonText(const Kind& kind, std::string_view text, size_t features) {
    WriteText(kind, geoJson_, text);
    written_ += features;
    counts_[LayerName(kind)] += features;
  }
  // KML only: a placemark made by make (false when it cannot be) written as text between
  // GDAL's writes, once GDAL has written the layer's first (and with it what heads the
  // layer and its schema). False when GDAL is to write it.
  template <class Make>
  bool AddKml(const Kind& kind, const Make& make) {
    if (!kmlText_) return false;
    const auto counted = counts_.find(LayerName(kind));
    if (counted == counts_.end() || counted->second == 0) return false;
    text_.clear();
    if (!make(text_)) return false;
    WriteText(kind, kmlText_, text_);
    ++counted->second;
    return true;
  }
  // KML only: the placemarks of features features of kind, made elsewhere, once GDAL
  // has written the layer's first.
  void AddKmlText(const Kind& kind, std::string_view text, size_t features) {
    WriteText(kind, kmlText_, text);
    counts_[LayerName(kind)] += features;
  }
  // How many features of kind were written.
  size_t Count(const Kind& kind) const {
    const auto counted = counts_.find(LayerName(kind));
    return counted == counts_.end() ? 0 : counted->second;
  }
  std::vector<GisLayerCount> Counts() const {
    std::vector<GisLayerCount> out;
    for (const std::string& name : order_)
      out.push_back({name, counts_.at(name)});
    return out;
  }

 private:
  static void WriteText(const Kind& kind, std::FILE* file, std::string_view text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
      throw Error(MessageId::kGisFeatureNotWritten,
                  {kind.layer, std::string(": ") + std::strerror(errno ? errno : EIO)});
    }
  }
  std::string LayerName(const Kind& kind) const {
    if (format_ == GisFormat::kGeoJson) return stem_;
    if (format_ == GisFormat::kShp)
      return kind.layer == kPoints.layer ? stem_ : stem_ + "_" + kind.layer;
    return kind.layer;
  }
  // A kind's layer name and the names of its fields, as its rows have them.
  const std::pair<const std::string, std::vector<std::string>>& RowLayer(const Kind& kind) {
    auto [fields, first] = rowFields_.try_emplace(LayerName(kind));
    if (first) {
      for (const FieldSpec& f : kind.fields)
        fields->second.emplace_back(f.name);
    }
    return *fields;
  }
  OGRLayer* LayerFor(const Kind& kind) {
    const std::string name = LayerName(kind);
    if (const auto it = layers_.find(name); it != layers_.end()) return it->second;
    char** options = nullptr;
    if (format_ == GisFormat::kShp) options = CSLSetNameValue(options, "ENCODING", "UTF-8");
    if (!spatialIndexes_) options = CSLSetNameValue(options, "SPATIAL_INDEX", "NO");
    const OGRwkbGeometryType type = format_ == GisFormat::kGeoJson ? wkbUnknown : kind.type;
    GDALDataset& ds = points_ && kind.layer == kPoints.layer ? *points_ : ds_;
    OGRLayer* layer =
        ds.CreateLayer(name.c_str(), const_cast<OGRSpatialReference*>(srs_), type, options);
    CSLDestroy(options);
    if (!layer) throw GdalFailure(MessageId::kGisLayerNotMade, name, &ds);
    std::vector<FieldSpec> fields = kind.fields;
    if (format_ == GisFormat::kGeoJson) {
      fields.insert(fields.begin(), {"layer", OFTString});
      for (const Kind* other : {&kParcels, &kParcelLines, &kTriangles, &kPolylines}) {
        for (const FieldSpec& f : other->fields) {
          if (std::none_of(fields.begin(), fields.end(),
                           [&f](const FieldSpec& g) { return std::string_view(g.name) == f.name; }))
            fields.push_back(f);
        }
      }
    }
    for (const FieldSpec& f : fields) {
      OGRFieldDefn defn(f.name, f.type);
      if (format_ == GisFormat::kShp && f.type == OFTString) defn.SetWidth(kShapefileText);
      if (layer->CreateField(&defn) != OGRERR_NONE) {
        throw GdalFailure(MessageId::kGisFieldNotMade, f.name, &ds);
      }
    }
    layers_[name] = layer;
    counts_[name] = 0;
    order_.push_back(name);
    return layer;
  }

  GDALDataset& ds_;
  GDALDataset* points_;
  GisFormat format_;
  const OGRSpatialReference* srs_;
  std::string stem_;
  std::FILE* geoJson_;
  std::FILE* kmlText_;
  bool spatialIndexes_ = true;
  gis::GpkgRows* rows_ = nullptr;
  std::map<std::string, std::vector<std::string>> rowFields_;
  const Kind* rowKind_ = nullptr;  // the kind of the row begun last, and its entry above
  const std::pair<const std::string, std::vector<std::string>>* rowLayer_ = nullptr;
  std::string text_;
  size_t written_ = 0;
  std::map<std::string, OGRLayer*> layers_;
  std::map<std::string, size_t> counts_;
  std::vector<std::string> order_;
};

OGRLineString Line(const Positions& at, const std::vector<const SurveyPoint*>& v, bool close) {
  std::vector<double> xs, ys;
  at.AtAll(v, xs, ys);
  if (close && !v.empty()) {
    xs.push_back(xs.front());
    ys.push_back(ys.front());
  }
  OGRLineString line;
  line.setPoints(static_cast<int>(xs.size()), xs.data(), ys.data());
  return line;
}

OGRPolygon Polygon(const Positions& at, const std::vector<const SurveyPoint*>& v) {
  std::vector<double> xs, ys;
  at.AtAll(v, xs, ys);
  OGRLinearRing ring;
  ring.setPoints(static_cast<int>(xs.size()), xs.data(), ys.data());
  ring.closeRings();
  // Exterior rings run counter-clockwise, as GeoJSON (RFC 7946) and KML have them;
  // the Shapefile driver turns them the way Shapefiles want.
  if (ring.isClockwise()) ring.reverseWindingOrder();
  OGRPolygon polygon;
  polygon.addRing(&ring);
  return polygon;
}

void WriteGisLayers(GDALDataset& ds, const GisSource& source, const GisExportOptions& o,
                    const std::string& stem, std::FILE* geoJson, std::FILE* kmlText,
                    ShapefilePoints* shp, gis::GpkgRows* gpkgRows, GisExport& result) {
  std::unique_ptr<OGRSpatialReference> survey;
  if (o.Epsg != 0) survey = gis::SurveyReference(o.Epsg);
  std::unique_ptr<OGRSpatialReference> output;
  if (o.Format == GisFormat::kGeoJson || o.Format == GisFormat::kKml) {
    output = gis::Wgs84Reference();
  } else if (survey) {
    output = std::make_unique<OGRSpatialReference>(*survey);
  }
  std::optional<gis::SurveyArea> meantFor;
  if (survey) meantFor = gis::AreaOfUse(*survey);
  result.surveySystem = EpsgName(o.Epsg);
  // Counted by whichever core writes the points, one at a time and in their order.
  const auto noteFar = [meantFor, &result](const SurveyPoint& p) {
    if (!meantFor || meantFor->Holds(p.Y, p.X)) return;
    if (result.pointsFar++ == 0) {
      result.firstFar = std::to_string(p.Number) + " \"" + Utf8(p.Name) + "\" (X " +
                        FormatGeneral(p.X) + ", Y " + FormatGeneral(p.Y) + ")";
    }
  };
  const Positions at(survey.get(), output.get(), meantFor);
  FeatureWriter w(ds, o.Format, output.get(), stem, geoJson, kmlText,
                  shp ? &shp->Dataset() : nullptr);
  if (gpkgRows) {
    w.WithoutSpatialIndexes();
    w.IntoRows(*gpkgRows);
  }

  // A Shapefile field holds 254 bytes, and 255 bytes of code page 932 may take up to
  // 382 in UTF-8: the user hears how many texts were cut.
  const auto text = [&](OGRFeature* f, int field, std::string_view cp932) {
    const std::string utf8 = Utf8(cp932);
    if (o.Format == GisFormat::kShp && utf8.size() > static_cast<size_t>(kShapefileText))
      ++result.textsCut;
    f->SetField(field, utf8.c_str());
  };
  w.Ensure(kPoints);  // a reader of the file finds where the points would be
  // A million points look their fields up once, not a million times.
  const auto pointField = [&w](const char* name) { return w.Field(kPoints, name); };
  const int number = pointField("number"), name = pointField("name"), x = pointField("x"),
            y = pointField("y"), z = pointField("z"), mark = pointField("mark"),
            remarks = pointField("remarks"), marked = pointField("marked");
  // A point at g through GDAL.
  const auto gdalPoint = [&](const SurveyPoint& p, const OGRPoint& g) {
    OGRFeature* f = w.New(kPoints);
    f->SetField(number, p.Number);
    text(f, name, p.Name);
    f->SetField(x, p.X);
    f->SetField(y, p.Y);
    f->SetField(z, p.Z);
    text(f, mark, p.Mark);
    text(f, remarks, p.Remarks);
    f->SetField(marked, p.Marked);
    f->SetGeometry(&g);
    w.Add(kPoints, f);
    if (shp) w.Rebind(kPoints, shp->Written());
  };
  // A point as a KML placemark's text where it can be, or through GDAL (a Shapefile's
  // points on disk and a GeoPackage's points are written apart, below).
  const auto writePoint = [&](const SurveyPoint& p) {
    OGRPoint g = at.At(p);
    if (w.AddKml(kPoints, [&](std::string& out) { return AppendKmlPoint(out, p, g); })) return;
    gdalPoint(p, g);
  };
  // GeoJSON's and KML's points are placed and made into text on every core, a batch at a
  // time, and the texts are written here in the points' order while the next batch is
  // made. Each part has its own placing: a coordinate transformation is not shared
  // between threads. A placemark that cannot be made as text (and the layer's first,
  // which GDAL writes with what heads the layer) goes through writePoint.
  constexpr size_t kBatch = 16'384;
  constexpr size_t kParts = 4;
  struct Part {
    size_t first = 0;  // the part's first point in the batch
    std::string text;
    std::vector<size_t> ends;  // each point's text's end, where it has one
    std::vector<char> made;
    std::vector<double> xs, ys;  // the points' places
  };
  // A batch handed on: its points and their texts. Two are used in turn, one being made
  // while the other is written.
  struct Made {
    std::vector<SurveyPoint> points;
    std::array<Part, kParts> parts;
  };
  std::vector<SurveyPoint> batch;
  std::array<Made, 2> handed;
  size_t handedCount = 0;
  std::vector<std::unique_ptr<Positions>> places;
  if (geoJson || kmlText) {
    for (size_t i = 0; i < kParts; ++i)
      places.push_back(std::make_unique<Positions>(survey.get(), output.get(), meantFor));
  }
  Aside<void> made;  // the making of handed[(handedCount - 1) % 2]
  // Writes the texts made of a batch.
  const auto writeMade = [&](const Made& m) {
    for (size_t k = 0; k < kParts; ++k) {
      const Part& part = m.parts[k];
      size_t from = 0, count = 0;  // the texts not yet written
      const auto flush = [&](size_t to) {
        if (count > 0) {
          const std::string_view texts = std::string_view(part.text).substr(from, to - from);
          geoJson ? w.AddGeoJsonText(kPoints, texts, count) : w.AddKmlText(kPoints, texts, count);
        }
        from = to;
        count = 0;
      };
      for (size_t i = 0; i < part.made.size(); ++i) {
        if (part.made[i]) {
          ++count;
          continue;
        }
        flush(part.ends[i]);
        writePoint(m.points[part.first + i]);
      }
      flush(part.text.size());
    }
  };
  // Hands the gathered batch on to be made, and writes the one made before.
  const auto handPoints = [&] {
    Made* before = nullptr;
    if (made.valid()) {
      made.get();
      before = &handed[(handedCount - 1) % 2];
    }
    if (!batch.empty()) {
      // The first text of all has no separator before it (GDAL writes none before).
      const bool first = handedCount == 0 && !w.GeoJsonStarted();
      Made* m = &handed[handedCount++ % 2];
      m->points.swap(batch);
      batch.clear();
      made = RunAside([&, first, m] {
        InShares(m->points.size(), kParts, [&](size_t k, size_t begin, size_t end) {
          Part& part = m->parts[k];
          part.first = begin;
          part.text.clear();
          part.ends.clear();
          part.made.clear();
          places[k]->AtAll(std::span<const SurveyPoint>(m->points).subspan(begin, end - begin),
                           part.xs, part.ys);
          for (size_t i = begin; i < end; ++i) {
            const size_t start = part.text.size();
            const OGRPoint g(part.xs[i - begin], part.ys[i - begin]);
            bool ok = true;
            if (geoJson) {
              if (!first || i > 0) part.text += ",\n";
              AppendGeoJsonPoint(part.text, m->points[i], g);
            } else {
              ok = AppendKmlPoint(part.text, m->points[i], g);
              if (!ok) part.text.resize(start);
            }
            part.ends.push_back(part.text.size());
            part.made.push_back(ok ? 1 : 0);
          }
        });
      });
    }
    if (before) writeMade(*before);
  };
  // A Shapefile's points go to files of their own on another core while this one writes
  // the other layers through GDAL: the points' files mostly wait for the disk, the other
  // layers mostly for GDAL. GDAL, w and result are used by one thread at a time (gdal);
  // the points are placed by a transformation of their own and counted apart.
  std::mutex gdal;
  std::unique_ptr<Positions> shpAt;
  size_t shpAppended = 0, shpCut = 0, shpBlanks = 0;
  Aside<void> shpWritten;  // after everything it uses: its end waits for it
  if (shp) {
    shpAt = std::make_unique<Positions>(survey.get(), output.get(), meantFor);
    const auto writePoints = [&] {
      const gis::QuietGdal quiet;  // its messages are told as this program's, as here
      source.EachPoint([&](const SurveyPoint& p) {
        shpBlanks += HasOuterBlanks(p);
        noteFar(p);
        const OGRPoint g = shpAt->At(p);
        if (shp->Appending() && shp->Append(p, g, shpCut)) {
          ++shpAppended;
          return;
        }
        const std::lock_guard lock(gdal);
        if (shp->Appending()) w.Rebind(kPoints, shp->Reopen());
        gdalPoint(p, g);
      });
      const std::lock_guard lock(gdal);
      shp->Finish();
    };
    shpWritten = RunAside(writePoints);
  } else if (gpkgRows) {
    // A GeoPackage's points are made into rows only as SQLite inserts them, on another
    // core, rather than waiting in a file. Their table comes first, as the points do.
    const auto placing = std::make_shared<const Positions>(survey.get(), output.get(), meantFor);
    w.RowsLater(kPoints, source.PointCount(), [&source, placing, noteFar](gis::GpkgRow& row) {
      const gis::QuietGdal quiet;
      source.EachPoint([&](const SurveyPoint& p) {
        noteFar(p);
        const OGRPoint g = placing->At(p);
        row.Begin();
        row.Geometry(&g);
        row.Integer(p.Number);
        row.Text(Utf8(p.Name));
        row.Real(p.X);
        row.Real(p.Y);
        row.Real(p.Z);
        row.Text(Utf8(p.Mark));
        row.Text(Utf8(p.Remarks));
        row.Integer(p.Marked);
        row.End();
      });
    });
  } else {
    source.EachPoint([&](const SurveyPoint& p) {
      noteFar(p);
      if (o.Format == GisFormat::kKml) result.kmlBlanksDropped += HasLeadingBlanks(p);
      // GDAL writes a KML layer's first placemark.
      if (geoJson || (kmlText && w.Count(kPoints) > 0)) {
        batch.push_back(p);
        if (batch.size() == kBatch) handPoints();
        return;
      }
      writePoint(p);
    });
    handPoints();  // the last batch gathered
    handPoints();  // and written
  }
  // Once the other layers are written: the points' counts, or their failure.
  const auto pointsWritten = [&] {
    if (!shpWritten.valid()) return;
    shpWritten.get();
    w.Counted(kPoints, shpAppended);
    result.textsCut += shpCut;
    result.blanksDropped += shpBlanks;
  };

  // A parcel's, triangle's or line's feature, named shapeName, with its area where it has one,
  // through GDAL.
  const auto gdalShape = [&](const Kind& kind, const std::string& shapeName, const double* area,
                             OGRGeometry& g) {
    const std::lock_guard lock(gdal);
    OGRFeature* f = w.New(kind);
    text(f, f->GetFieldIndex("name"), shapeName);
    if (area) f->SetField("area", *area);
    f->SetGeometry(&g);
    w.Add(kind, f);
  };
  // The same as a GeoPackage's row, as KML text where it can be, else through GDAL.
  const auto addShape = [&](const Kind& kind, const std::string& shapeName, const double* area,
                            OGRGeometry& g) {
    if (gpkgRows) {
      gis::GpkgRow& row = w.BeginRow(kind);
      row.Geometry(&g);
      row.Text(Utf8(shapeName));
      if (&kind == &kParcels) area ? row.Real(*area) : row.Null();
      row.End();
      return;
    }
    if (w.AddKml(kind, [&](std::string& out) {
          return AppendKmlShape(out, kind.layer, shapeName, area, g);
        }))
      return;
    gdalShape(kind, shapeName, area, g);
  };

  // GeoJSON's shapes, and KML's after each layer's first, are placed and made into text on
  // every core as the points are, a batch at a time while the blocks are read on, and
  // written here in their order. A KML shape GDAL would write its own way goes to GDAL in
  // its turn; one that cannot be placed stops the export there, as it would have without
  // the batches.
  enum class Form { kPolygon, kLine, kClosedLine };
  struct ShapeJob {
    const Kind* kind = nullptr;
    std::string name;
    std::optional<double> area;
    Form form = Form::kLine;
    std::vector<SurveyPoint> vertices;  // their numbers, names and places
    OGRFeatureDefn* geoJson = nullptr;  // GeoJSON's features' fields
    // Made on another core:
    std::string text;
    bool made = false;
    std::unique_ptr<OGRGeometry> geometry;  // for GDAL, when there is no text
    std::exception_ptr failure;
  };
  // A batch holds 4096 shapes or 16 MB of their vertices, whichever comes first.
  constexpr size_t kShapeBatch = 4096;
  constexpr size_t kShapeBatchBytes = size_t{16} << 20;
  std::vector<ShapeJob> queuedShapes(kShapeBatch), makingShapes(kShapeBatch);
  size_t queued = 0, queuedBytes = 0, makingCount = 0;
  bool makingFirst = false;  // the batch holds GeoJSON's first feature
  // GeoJSON's one collection: every kind's features have its fields.
  OGRFeatureDefn* const geoJsonFields = geoJson ? w.Definition(kPoints) : nullptr;
  const auto makeShapes = [&](size_t k, size_t begin, size_t end) {
    std::vector<const SurveyPoint*> vertices;
    for (size_t i = begin; i < end; ++i) {
      ShapeJob& job = makingShapes[i];
      job.text.clear();
      job.geometry.reset();
      job.failure = nullptr;
      try {
        vertices.clear();
        for (const SurveyPoint& v : job.vertices)
          vertices.push_back(&v);
        std::unique_ptr<OGRGeometry> g;
        if (job.form == Form::kPolygon) {
          g = std::make_unique<OGRPolygon>(Polygon(*places[k], vertices));
        } else {
          g = std::make_unique<OGRLineString>(
              Line(*places[k], vertices, job.form == Form::kClosedLine));
        }
        if (job.geoJson) {
          // The feature gdalShape makes, and its text as the writer makes it.
          if (!makingFirst || i > 0) job.text += ",\n";
          OGRFeature f(job.geoJson);
          f.SetField("layer", job.kind->layer);
          f.SetField(f.GetFieldIndex("name"), Utf8(job.name).c_str());
          if (job.area) f.SetField("area", *job.area);
          f.SetGeometryDirectly(g.release());
          AppendGeoJsonFeature(job.text, f);
          job.made = true;
          continue;
        }
        job.made = AppendKmlShape(job.text, job.kind->layer, job.name,
                                  job.area ? &*job.area : nullptr, *g);
        if (!job.made) job.geometry = std::move(g);
      } catch (...) {
        job.failure = std::current_exception();
        return;  // the shapes after it are never written
      }
    }
  };
  Aside<void> shapesMade;  // after the jobs and their making: waited for first
  const auto writeShapes = [&] {
    if (!shapesMade.valid()) return;
    shapesMade.get();
    for (size_t i = 0; i < makingCount; ++i) {
      ShapeJob& job = makingShapes[i];
      if (job.failure) std::rethrow_exception(job.failure);
      if (job.geoJson) {
        w.AddGeoJsonText(*job.kind, job.text, 1);
      } else if (job.made) {
        w.AddKmlText(*job.kind, job.text, 1);
      } else {
        gdalShape(*job.kind, job.name, job.area ? &*job.area : nullptr, *job.geometry);
      }
      // A long line's room is not kept for the short ones after it.
      if (job.vertices.capacity() > 4096) std::vector<SurveyPoint>().swap(job.vertices);
    }
  };
  const auto handShapes = [&] {
    writeShapes();
    std::swap(queuedShapes, makingShapes);
    makingCount = std::exchange(queued, 0);
    queuedBytes = 0;
    if (makingCount == 0) return;
    makingFirst = geoJson && !w.GeoJsonStarted();
    shapesMade = RunAside([&, n = makingCount] { InShares(n, kParts, makeShapes); });
  };
  const auto placeShape = [&](const Kind& kind, const std::string& shapeName, const double* area,
                              const std::vector<const SurveyPoint*>& v, Form form) {
    if (geoJson || (kmlText && w.Count(kind) > 0)) {
      ShapeJob& job = queuedShapes[queued++];
      job.kind = &kind;
      job.geoJson = geoJsonFields;
      job.name = shapeName;
      job.area = area ? std::optional<double>(*area) : std::nullopt;
      job.form = form;
      job.vertices.resize(v.size());
      for (size_t i = 0; i < v.size(); ++i) {
        job.vertices[i].Number = v[i]->Number;
        job.vertices[i].Name = v[i]->Name;
        job.vertices[i].X = v[i]->X;
        job.vertices[i].Y = v[i]->Y;
      }
      queuedBytes += job.name.size() + v.size() * sizeof(SurveyPoint);
      if (queued == kShapeBatch || queuedBytes >= kShapeBatchBytes) handShapes();
      return;
    }
    if (form == Form::kPolygon) {
      OGRPolygon g = Polygon(at, v);
      addShape(kind, shapeName, area, g);
    } else {
      OGRLineString g = Line(at, v, form == Form::kClosedLine);
      addShape(kind, shapeName, area, g);
    }
  };
  const auto parcels = [&](const BlockShape& shape) {
    const Parcel& parcel = shape.outline;
    // A boundary the drawing leaves open (closing flag not 1) has no area: it is only a
    // line in parcel_lines.
    if (parcel.block->Polyline || parcel.block->Closing != 1) return;
    if (parcel.complete && parcel.vertices.size() >= 3) {
      const double area = ShoelaceArea(parcel.vertices);
      placeShape(kParcels, parcel.block->Name, &area, parcel.vertices, Form::kPolygon);
    } else if (!parcel.vertices.empty() || !parcel.complete) {
      ++result.parcelsNotWritten;
    }
  };
  const auto parcelLines = [&](const BlockShape& shape) {
    const Parcel& parcel = shape.outline;
    if (parcel.block->Polyline || parcel.vertices.size() < 2) return;
    const bool close = parcel.complete && parcel.block->Closing == 1;
    placeShape(kParcelLines, parcel.block->Name, nullptr, parcel.vertices,
               close ? Form::kClosedLine : Form::kLine);
  };
  const auto triangles = [&](const BlockShape& shape) {
    for (const Triangle& t : shape.triangles) {
      placeShape(kTriangles, t.block->Name, nullptr, {t.corners.begin(), t.corners.end()},
                 Form::kPolygon);
    }
    result.trianglesNotWritten += shape.trianglesMissing;
  };
  const auto polylines = [&](const BlockShape& shape) {
    const Parcel& line = shape.outline;
    if (!line.block->Polyline || line.vertices.size() < 2) return;
    placeShape(kPolylines, line.block->Name, nullptr, line.vertices, Form::kLine);
  };
  if (gpkgRows) {
    // Rows wait for their tables: one pass over the blocks gives each table its rows in
    // the same order, and the layers are made afterwards in theirs.
    source.EachBlock([&](const SimaBlock& block, const std::vector<const SurveyPoint*>& points) {
      const BlockShape shape = ShapeOf(block, points);
      parcels(shape);
      parcelLines(shape);
      triangles(shape);
      polylines(shape);
    });
    w.MakeLayersOfRows({&kPoints, &kParcels, &kParcelLines, &kTriangles, &kPolylines});
  } else {
    // Layer after layer, the blocks read again for each: KML cannot go back to a layer
    // once another one was written to.
    for (const auto& take : std::initializer_list<std::function<void(const BlockShape&)>>{
             parcels, parcelLines, triangles, polylines}) {
      source.EachBlock(
          [&take](const SimaBlock& block, const std::vector<const SurveyPoint*>& points) {
            take(ShapeOf(block, points));
          });
      handShapes();
      writeShapes();
      makingCount = 0;
    }
  }
  pointsWritten();
  result.Layers = w.Counts();
}

// Jw_cad names a layer by its group and number in hexadecimal: "8-1".
// Sets the layer's name ("0-2") in place: every entity names one, millions of them.
void SetDrawingLayer(std::string& name, uint32_t group, uint32_t layer) {
  static const char kHex[] = "0123456789ABCDEF";
  name.resize(3);
  name[0] = kHex[group & 15];
  name[1] = '-';
  name[2] = kHex[layer & 15];
}

std::string Fixed8(double v) {
  return FormatFixed(RoundOff(34, v), 8, 3);
}

// Hands each of the drawing's entities to f in the drawing's order, in ground units: a
// paper millimetre is scale / k of them. Each position is the drawing's without its base
// point and scale, on the drawing's axes (x from Y and y from X under survey axes).
// Without texts, the texts' entities come without their text.
template <class F>
void ForEachDxfEntity(const GisSource& source, const GisExportOptions& o, bool texts, F&& f) {
  const OutputSettings& s = o.Settings;
  const double k = s.WrtBAse.mmFlg ? 1.0 : 1000.0;
  CheckDrawingSettings(s);
  // The drawing's transform without base point and scale moves no position: it only
  // puts X and Y on the drawing's axes.
  struct {
    bool swap;
    void Apply(double x, double y, double& u, double& v) const {
      u = swap ? y : x;
      v = swap ? x : y;
    }
  } const ground{DrawingHasSurveyAxes(s, source.SimaLoaded())};
  const auto height = [&](uint32_t kind) {
    return o.TextKinds[std::clamp<uint32_t>(kind, 1, 10) - 1].Height * s.WrtBAse.Scale / k;
  };
  const uint32_t group = s.WrtBAse.Group;
  const auto eachMarked = [&](auto make) {
    source.EachPoint([&](const SurveyPoint& p) {
      if (p.Marked != 1) return;
      dxf::Entity e;
      make(p, e);
      f(e);
    });
  };
  using EKind = dxf::Entity::Kind;
  if (s.Point.OutFlg) {
    eachMarked([&](const SurveyPoint& p, dxf::Entity& e) {
      e.kind = EKind::kPoint;
      SetDrawingLayer(e.layer, group, s.Point.Lay);
      e.pen = static_cast<uint16_t>(s.Point.LColor);
      ground.Apply(p.X, p.Y, e.x, e.y);
    });
  }
  if (s.Point.EnkoFlg) {
    // The drawing's radius is (EnkoR / 2) * k / scale paper millimetres, which is
    // EnkoR / 2 on the ground at any scale.
    const double radius = s.Point.EnkoR / 2;
    eachMarked([&](const SurveyPoint& p, dxf::Entity& e) {
      e.kind = EKind::kCircle;
      SetDrawingLayer(e.layer, group, s.Point.Lay);
      e.pen = static_cast<uint16_t>(s.Point.LColor);
      ground.Apply(p.X, p.Y, e.x, e.y);
      e.radius = radius;
    });
  }
  const auto labels = [&](const OutputSettings::TextSection& ts, auto textOf) {
    if (!ts.OutFlg) return;
    eachMarked([&](const SurveyPoint& p, dxf::Entity& e) {
      e.kind = EKind::kText;
      SetDrawingLayer(e.layer, group, ts.Lay);
      e.pen = static_cast<uint16_t>(ts.MojiCl);
      ground.Apply(p.X, p.Y, e.x, e.y);
      if (texts) e.text = Utf8(textOf(p));
      e.height = height(ts.MojiNo);
      e.basePosition = std::clamp<int32_t>(static_cast<int32_t>(ts.MojiBs), 1, 9);
    });
  };
  labels(s.PointStr, [](const SurveyPoint& p) { return p.Name; });
  labels(s.XYcoord, [](const SurveyPoint& p) { return Fixed8(p.X) + " ," + Fixed8(p.Y); });
  labels(s.Zcoord, [](const SurveyPoint& p) { return Fixed8(p.Z); });
  source.EachLine([&](const SimaLine& l) {
    dxf::Entity e;
    e.kind = EKind::kLine;
    SetDrawingLayer(e.layer, group, 4);
    e.pen = l.PenColor;
    e.lineType = static_cast<uint16_t>(l.PenStyle & 0xFF);
    ground.Apply(l.StartX, l.StartY, e.x, e.y);
    ground.Apply(l.EndX, l.EndY, e.x2, e.y2);
    f(e);
  });
  source.EachText([&](const SimaText& t) {
    dxf::Entity e;
    e.kind = EKind::kText;
    SetDrawingLayer(e.layer, group, 5);
    e.pen = 2;
    ground.Apply(t.X, t.Y, e.x, e.y);
    if (texts) e.text = Utf8(t.Text);
    e.height = height(t.TextKind);
    e.basePosition = 1;
    f(e);
  });
}

// The entities' count and extents, and those that bring a layer, a line type or the
// first text into the drawing: GDAL puts these into its tables.
struct DxfOutline {
  dxf::EntitySummary summary;
  std::vector<dxf::Entity> firsts;
};

DxfOutline OutlineDxf(const GisSource& source, const GisExportOptions& o) {
  DxfOutline out;
  std::vector<std::string> layers;
  std::vector<uint16_t> lineTypes;
  bool text = false;
  ForEachDxfEntity(source, o, false, [&](const dxf::Entity& e) {
    out.summary.Add(e);
    bool first = false;
    if (std::find(layers.begin(), layers.end(), e.layer) == layers.end()) {
      layers.push_back(e.layer);
      first = true;
    }
    if (std::find(lineTypes.begin(), lineTypes.end(), e.lineType) == lineTypes.end()) {
      lineTypes.push_back(e.lineType);
      first = true;
    }
    if (e.kind == dxf::Entity::Kind::kText && !text) {
      text = true;
      first = true;
    }
    if (first) out.firsts.push_back(e);
  });
  return out;
}

// GDAL makes the file around the entities: one stand-in per layer, line type and the
// text style puts them into its tables; the entity section is ours (dxf::EntitySection).
// entities: at least those that bring a layer, a line type or the first text.
void WriteDxfTables(GDALDataset& ds, const std::vector<dxf::Entity>& entities,
                    const GisExportOptions& o) {
  OGRLayer* layer = ds.CreateLayer("entities", nullptr, wkbUnknown, nullptr);
  if (!layer) throw Error(MessageId::kGisDxfEntitiesNotMade, {gis::GdalReason()});
  const auto add = [&](OGRGeometry& g, const std::string& dxfLayer, const std::string& lineType,
                       const std::string& style) {
    OGRFeature f(layer->GetLayerDefn());
    f.SetField("Layer", dxfLayer.c_str());
    if (!lineType.empty()) f.SetField("Linetype", lineType.c_str());
    if (!style.empty()) f.SetStyleString(style.c_str());
    f.SetGeometry(&g);
    if (layer->CreateFeature(&f) != OGRERR_NONE) {
      throw Error(MessageId::kGisDxfEntityNotWritten, {gis::GdalReason()});
    }
  };
  const double groundPerPaperMm =
      o.Settings.WrtBAse.Scale / (o.Settings.WrtBAse.mmFlg ? 1.0 : 1000.0);
  std::vector<std::string> layers;
  std::vector<uint16_t> lineTypes;
  bool text = false;
  for (const dxf::Entity& e : entities) {
    if (std::find(layers.begin(), layers.end(), e.layer) == layers.end()) {
      layers.push_back(e.layer);
      OGRPoint g(0, 0);
      add(g, e.layer, "", "");
    }
    const std::string name = dxf::LineTypeName(e.lineType);
    if (!name.empty() &&
        std::find(lineTypes.begin(), lineTypes.end(), e.lineType) == lineTypes.end()) {
      lineTypes.push_back(e.lineType);
      std::string pattern;
      for (const double d : dxf::LineTypeDashes(e.lineType, groundPerPaperMm))
        pattern += (pattern.empty() ? "" : " ") + FormatGeneral(std::fabs(d)) + "g";
      OGRLineString g;
      g.addPoint(0, 0);
      g.addPoint(1, 0);
      add(g, e.layer, name, "PEN(p:\"" + pattern + "\")");
    }
    if (e.kind == dxf::Entity::Kind::kText && !text) {
      text = true;
      OGRPoint g(0, 0);
      add(g, e.layer, "", "LABEL(f:\"MS Gothic\",t:\"-\",s:1g)");
    }
  }
}

// GeoJSON as RFC 7946 has it, written here from GDAL's features as they are made:
// GDAL's own writer turns a text that looks like JSON ("{...}", "[...]") into an object.
// Longitude and latitude with nine decimals (about 0.1 mm), no "crs" member.
void AppendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendJsonNumber(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  std::array<char, kMostShortest> buf;
  const std::string_view text(buf.data(),
                              static_cast<size_t>(PutShortest(buf.data(), v) - buf.data()));
  out += text;
  // A whole number keeps its point, or a reader takes the field for an integer one.
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void AppendCoordinate(std::string& out, double lon, double lat) {
  out += '[';
  out += FormatFixed(lon, 0, 9);
  out += ", ";
  out += FormatFixed(lat, 0, 9);
  out += ']';
}

void AppendLine(std::string& out, const OGRSimpleCurve& line) {
  out += '[';
  for (int i = 0; i < line.getNumPoints(); ++i) {
    if (i) out += ", ";
    AppendCoordinate(out, line.getX(i), line.getY(i));
  }
  out += ']';
}

void AppendGeometry(std::string& out, const OGRGeometry* g) {
  if (!g) {
    out += "null";
    return;
  }
  switch (wkbFlatten(g->getGeometryType())) {
    case wkbPoint:
      out += "{ \"type\": \"Point\", \"coordinates\": ";
      AppendCoordinate(out, g->toPoint()->getX(), g->toPoint()->getY());
      break;
    case wkbLineString:
      out += "{ \"type\": \"LineString\", \"coordinates\": ";
      AppendLine(out, *g->toLineString());
      break;
    case wkbPolygon: {
      out += "{ \"type\": \"Polygon\", \"coordinates\": [";
      const OGRPolygon& p = *g->toPolygon();
      for (int r = 0; r <= p.getNumInteriorRings(); ++r) {
        if (r) out += ", ";
        AppendLine(out, r == 0 ? *p.getExteriorRing() : *p.getInteriorRing(r - 1));
      }
      out += ']';
      break;
    }
    default:
      throw Error("a feature of this kind cannot be written to GeoJSON");
  }
  out += " }";
}

// The collection's text before its features, named name.
std::string GeoJsonHead(const std::string& name) {
  std::string out = "{\n\"type\": \"FeatureCollection\",\n\"name\": ";
  AppendJsonString(out, name);
  out += ",\n\"features\": [\n";
  return out;
}
constexpr std::string_view kGeoJsonTail = "\n]\n}\n";

void AppendGeoJsonFeature(std::string& out, const OGRFeature& f) {
  out += "{ \"type\": \"Feature\", \"properties\": { ";
  bool firstField = true;
  for (int i = 0; i < f.GetFieldCount(); ++i) {
    if (!f.IsFieldSetAndNotNull(i)) continue;
    if (!firstField) out += ", ";
    firstField = false;
    const OGRFieldDefn& defn = *f.GetFieldDefnRef(i);
    AppendJsonString(out, defn.GetNameRef());
    out += ": ";
    switch (defn.GetType()) {
      case OFTInteger:
      case OFTInteger64:
        out += std::to_string(f.GetFieldAsInteger64(i));
        break;
      case OFTReal:
        AppendJsonNumber(out, f.GetFieldAsDouble(i));
        break;
      default:
        AppendJsonString(out, f.GetFieldAsString(i));  // a string, whatever it looks like
        break;
    }
  }
  out += " }, \"geometry\": ";
  AppendGeometry(out, f.GetGeometryRef());
  out += " }";
}

void AppendGeoJsonPoint(std::string& out, const SurveyPoint& p, const OGRPoint& at) {
  // The fields in the order the points' layer has them, every one set.
  const auto text = [&out](const char* member, std::string_view cp932) {
    out += member;
    // Cut at a NUL, as a feature's text is (and the other formats' are).
    const std::string utf8 = Cp932ToUtf8(cp932);
    AppendJsonString(out, std::string_view(utf8).substr(0, utf8.find('\0')));
  };
  out += "{ \"type\": \"Feature\", \"properties\": { \"layer\": \"points\", \"number\": ";
  out += std::to_string(p.Number);
  text(", \"name\": ", p.Name);
  out += ", \"x\": ";
  AppendJsonNumber(out, p.X);
  out += ", \"y\": ";
  AppendJsonNumber(out, p.Y);
  out += ", \"z\": ";
  AppendJsonNumber(out, p.Z);
  text(", \"mark\": ", p.Mark);
  text(", \"remarks\": ", p.Remarks);
  out += ", \"marked\": ";
  out += std::to_string(p.Marked);
  out += " }, \"geometry\": ";
  AppendGeometry(out, &at);
  out += " }";
}

// A text field as GDAL's KML writer has it: cut at a NUL, without its leading spaces, with
// XML's characters escaped (and control characters dropped) by GDAL's own escaping.
bool AppendKmlText(std::string& out, std::string_view cp932) {
  std::string utf8 = Cp932ToUtf8(cp932);
  utf8.resize(std::min(utf8.size(), utf8.find('\0')));
  std::string_view text(utf8);
  text.remove_prefix(std::min(text.size(), text.find_first_not_of(' ')));
  if (!CPLIsUTF8(text.data(), static_cast<int>(text.size()))) return false;
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && c != '<' && c != '>' && c != '&' && c != '"' && u != 0xEF;
  });
  if (plain) {
    out += text;
    return true;
  }
  char* escaped = CPLEscapeString(text.data(), static_cast<int>(text.size()), CPLES_XML);
  out += escaped;
  CPLFree(escaped);
  return true;
}

// printf's %.15g: the general form, which is the same wherever it needs no exponent and
// the value is not zero.
void AppendG15(std::string& out, double v) {
  if (v != 0) {  // AppendGeneral writes -0 as 0
    const size_t at = out.size();
    AppendGeneral(out, v);
    if (std::none_of(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(),
                     [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; })) {
      return;
    }
    out.resize(at);
  }
  std::array<char, 32> buf{};
  const auto r =
      std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::general, 15);
  out.append(buf.data(), r.ptr);
}

// A degree as GDAL writes a KML coordinate: 15 significant digits (std::ostream's way,
// which is printf's %.15G). Only what that rule alone makes is written here: values
// under 1 (fixed and rounded), whole ones, exponents and those GDAL would move into range
// are left to GDAL.
bool AppendKmlDegree(std::string& out, double v, double limit) {
  if (!std::isfinite(v) || std::fabs(v) < 1 || std::fabs(v) > limit) return false;
  const size_t at = out.size();
  AppendG15(out, v);
  const std::string_view text = std::string_view(out).substr(at);
  if (text.find('.') == std::string_view::npos || text.find('e') != std::string_view::npos) {
    out.resize(at);
    return false;
  }
  return true;
}

bool AppendKmlPoint(std::string& out, const SurveyPoint& p, const OGRPoint& at) {
  if (at.IsEmpty() || !std::isfinite(p.X) || !std::isfinite(p.Y) || !std::isfinite(p.Z))
    return false;
  std::array<char, 32> buf{};
  const auto field = [&out](const char* name) {
    out += "\t\t<SimpleData name=\"";
    out += name;
    out += "\">";
  };
  const auto number = [&](const char* name, int64_t v) {
    field(name);
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    out.append(buf.data(), r.ptr);
    out += "</SimpleData>\n";
  };
  const auto real = [&](const char* name, double v) {
    field(name);
    AppendG15(out, v);
    out += "</SimpleData>\n";
  };
  const auto text = [&](const char* name, std::string_view cp932) {
    field(name);
    if (!AppendKmlText(out, cp932)) return false;
    out += "</SimpleData>\n";
    return true;
  };
  // The fields in the order of the points' layer; "name" is the placemark's own.
  out += "  <Placemark>\n\t<name>";
  if (!AppendKmlText(out, p.Name)) return false;
  out += "</name>\n\t<ExtendedData><SchemaData schemaUrl=\"#points\">\n";
  number("number", p.Number);
  real("x", p.X);
  real("y", p.Y);
  real("z", p.Z);
  if (!text("mark", p.Mark) || !text("remarks", p.Remarks)) return false;
  number("marked", static_cast<int>(p.Marked));
  out += "\t</SchemaData></ExtendedData>\n      <Point><coordinates>";
  if (!AppendKmlDegree(out, at.getX(), 180)) return false;
  out += ',';
  if (!AppendKmlDegree(out, at.getY(), 90)) return false;
  out += "</coordinates></Point>\n  </Placemark>\n";
  return true;
}

bool AppendKmlCoordinates(std::string& out, const OGRSimpleCurve& line) {
  if (line.Is3D() || line.IsMeasured()) return false;
  out += "<coordinates>";
  for (int i = 0; i < line.getNumPoints(); ++i) {
    if (i) out += ' ';
    if (!AppendKmlDegree(out, line.getX(i), 180)) return false;
    out += ',';
    if (!AppendKmlDegree(out, line.getY(i), 90)) return false;
  }
  out += "</coordinates>";
  return true;
}

bool AppendKmlShape(std::string& out, const char* layer, std::string_view name, const double* area,
                    const OGRGeometry& g) {
  out += "  <Placemark>\n\t<name>";
  if (!AppendKmlText(out, name)) return false;
  // A feature without a style of its own is drawn in red lines, unfilled.
  out +=
      "</name>\n\t<Style><LineStyle><color>ff0000ff</color></LineStyle>"
      "<PolyStyle><fill>0</fill></PolyStyle></Style>\n";
  if (area) {
    if (!std::isfinite(*area)) return false;
    out += "\t<ExtendedData><SchemaData schemaUrl=\"#";
    out += layer;
    out += "\">\n\t\t<SimpleData name=\"area\">";
    AppendG15(out, *area);
    out += "</SimpleData>\n\t</SchemaData></ExtendedData>\n";
  }
  out += "      ";
  switch (g.getGeometryType()) {  // 2D only: a Z or M type is another value
    case wkbLineString:
      out += "<LineString>";
      if (!AppendKmlCoordinates(out, *g.toLineString())) return false;
      out += "</LineString>";
      break;
    case wkbPolygon: {
      const OGRPolygon& polygon = *g.toPolygon();
      if (!polygon.getExteriorRing() || polygon.getNumInteriorRings() != 0) return false;
      out += "<Polygon><outerBoundaryIs><LinearRing>";
      if (!AppendKmlCoordinates(out, *polygon.getExteriorRing())) return false;
      out += "</LinearRing></outerBoundaryIs></Polygon>";
      break;
    }
    default:
      return false;
  }
  out += "\n  </Placemark>\n";
  return true;
}

// A temporary file's failure, in where, with the system's reason.
[[noreturn]] void TemporaryFailure(MessageId id, const std::string& where) {
  const int error = errno != 0 ? errno : EIO;
  throw Error(id, {where, std::strerror(error)}, error);
}

using VsiFile = std::unique_ptr<VSILFILE, int (*)(VSILFILE*)>;

size_t WriteToFile(const void* data, size_t size, size_t count, std::FILE* file) {
  return std::fwrite(data, size, count, file);
}

// A file in the temporary folder written as a std::FILE*, its bytes going through an
// AtomicFileWriter: past the system's file cache where the file system allows it (a
// large export's text is not copied into the cache, nor left for a later flush to
// write). Made whole, the file is left at path for the export to link into place.
class ScratchTextFile {
 public:
  ScratchTextFile(const std::string& path, const std::string& folder) : folder_(folder) {
    try {
      writer_ = std::make_unique<AtomicFileWriter>(path);
    } catch (const Error& e) {
      errno = e.SystemError();
      TemporaryFailure(MessageId::kTemporaryCannotCreate, folder_);
    }
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, size_t size) -> ssize_t {
      auto& self = *static_cast<ScratchTextFile*>(cookie);
      try {
        self.writer_->Write(data, size);
        return static_cast<ssize_t>(size);
      } catch (const Error& e) {
        self.error_ = e.SystemError() != 0 ? e.SystemError() : EIO;
        errno = self.error_;  // what the failed fwrite is told
        return -1;
      }
    };
    file_ = fopencookie(this, "w", io);
    if (!file_) TemporaryFailure(MessageId::kTemporaryCannotCreate, folder_);
    std::setvbuf(file_, nullptr, _IOFBF, size_t{1} << 20);
  }
  ~ScratchTextFile() {
    if (file_) std::fclose(file_);
  }
  ScratchTextFile(const ScratchTextFile&) = delete;
  ScratchTextFile& operator=(const ScratchTextFile&) = delete;

  std::FILE* File() const { return file_; }

  // Throws when any write failed; else puts the file at its path.
  void Finish() {
    std::FILE* file = std::exchange(file_, nullptr);
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) {
      errno = error_;
      TemporaryFailure(MessageId::kTemporaryCannotWrite, folder_);
    }
    try {
      writer_->Commit();
    } catch (const Error& e) {
      errno = e.SystemError();
      TemporaryFailure(MessageId::kTemporaryCannotWrite, folder_);
    }
  }

 private:
  std::unique_ptr<AtomicFileWriter> writer_;
  std::FILE* file_ = nullptr;
  std::string folder_;
  int error_ = 0;
};

// GDAL's KML writer does not look at what its writes return: on a full disk it would
// leave a KML cut short and say nothing. It writes to /vsistdout/ instead, sent here to a
// file whose writes are checked, while this lives.
class CheckedKmlFile {
 public:
  CheckedKmlFile(const std::string& path, const std::string& folder) : file_(path, folder) {
    VSIStdoutSetRedirection(WriteToFile, file_.File());
  }
  ~CheckedKmlFile() { VSIStdoutSetRedirection(WriteToFile, stdout); }
  CheckedKmlFile(const CheckedKmlFile&) = delete;
  CheckedKmlFile& operator=(const CheckedKmlFile&) = delete;

  std::FILE* File() const { return file_.File(); }

  // After GDAL has closed the dataset: throws when any write failed.
  void Finish() {
    VSIStdoutSetRedirection(WriteToFile, stdout);
    file_.Finish();
  }

 private:
  ScratchTextFile file_;
};

// Hands the file at path (GDAL's name) to sink a few megabytes at a time.
void CopyPieces(const std::string& path, const GisFileSink& sink) {
  const VsiFile in(VSIFOpenL(path.c_str(), "rb"), VSIFCloseL);
  if (!in) TemporaryFailure(MessageId::kTemporaryCannotRead, path);
  std::string piece(size_t{4} << 20, '\0');
  for (;;) {
    const size_t n = VSIFReadL(piece.data(), 1, piece.size(), in.get());
    if (n > 0) sink(std::string_view(piece.data(), n));
    if (n < piece.size()) break;
  }
  if (!VSIFEofL(in.get())) TemporaryFailure(MessageId::kTemporaryCannotRead, path);
}

}  // namespace

namespace {

// source: kept as long as the export's files are.
GisExport BuildFrom(const std::shared_ptr<const GisSource>& source, const GisExportOptions& o,
                    const std::string& fileName) {
  gis::EnsureGdal();
  QuietGdal quiet;
  const FormatInfo& info = Info(o.Format);
  if (o.Epsg == 0 && GisFormatNeedsSystem(o.Format)) {
    throw Error(MessageId::kGisFormatPlacesBySystem, {info.title, kSurveySystemHint});
  }
  // GeoJSON's layer is GDAL's in memory, which gives its features their fields; the
  // features themselves are written as text (AppendGeoJsonFeature).
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(
      o.Format == GisFormat::kGeoJson ? "Memory" : info.driver);
  if (!driver) throw Error(MessageId::kGisNoDriver, {info.title});
  const std::filesystem::path file = std::filesystem::path(fileName).filename();
  const std::string stem = file.stem().string();
  // GDAL writes the files into a folder of their own on disk (in memory only where no
  // such folder can be made), from where they are copied a piece at a time to where they
  // belong: an export of any size is never held in memory. The folder goes when the last
  // of the export's files does.
  const auto folder = std::make_shared<const gis::ScratchFolder>();
  // A Shapefile "dataset" is a folder of one file set per layer.
  const std::string target = o.Format == GisFormat::kShp ? folder->File("shp")
                             : o.Format == GisFormat::kGpkg
                                 ? folder->File("export.gpkg")  // beside its rows' files
                                 : folder->File(file.string());
  GisExport result;
  result.madeInMemory = folder->InMemoryBecause();
  // A GeoJSON file is written whole in the folder, to be linked into place where it can;
  // in memory its text is gathered and put into GDAL's memory when whole.
  const std::string geoJsonFile = folder->File("collection.json");
  std::optional<ScratchTextFile> geoJsonOnDisk;
  struct InMemory {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* file = nullptr;
    ~InMemory() {
      if (file) std::fclose(file);
      std::free(text);
    }
  } geoJsonInMemory;
  std::FILE* geoJson = nullptr;
  const auto writeGeoJson = [&geoJson, &folder](std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), geoJson) != text.size())
      TemporaryFailure(MessageId::kTemporaryCannotWrite, folder->Path());
  };
  if (o.Format == GisFormat::kGeoJson) {
    if (folder->InMemoryBecause().empty()) {
      geoJson = geoJsonOnDisk.emplace(geoJsonFile, folder->Path()).File();
    } else {
      geoJson = geoJsonInMemory.file = open_memstream(&geoJsonInMemory.text, &geoJsonInMemory.size);
      if (!geoJson) TemporaryFailure(MessageId::kTemporaryCannotCreate, folder->Path());
    }
    writeGeoJson(GeoJsonHead(stem));
  }
  DxfOutline outline;
  if (o.Format == GisFormat::kDxf) outline = OutlineDxf(*source, o);
  // GDAL inserts a GeoPackage's features and spatial index a row at a time; on disk
  // they are inserted and packed instead, once GDAL has made the tables and closed the
  // file (in GDAL's memory SQLite cannot reach it).
  std::optional<gis::GpkgRows> gpkgRows;
  if (o.Format == GisFormat::kGpkg && folder->InMemoryBecause().empty())
    gpkgRows.emplace(folder->File("rows"));
  std::optional<CheckedKmlFile> kml;
  if (o.Format == GisFormat::kKml && folder->InMemoryBecause().empty()) {
    kml.emplace(target, folder->Path());
  }
  // KML placemarks are written beside GDAL's writer only as it writes them by default:
  // a user's own precision for its coordinates leaves them all to GDAL.
  const char* precision = CPLGetConfigOption("OGR_WKT_PRECISION", nullptr);
  std::FILE* kmlText = kml && (!precision || std::atoi(precision) == 15) ? kml->File() : nullptr;
  // A Shapefile's points on disk are a dataset of their own, in a folder beside the other
  // layers' (ShapefilePoints).
  const std::string pointsFolder = folder->File("shp-points");
  std::optional<ShapefilePoints> shp;
  if (o.Format == GisFormat::kShp && folder->InMemoryBecause().empty()) {
    std::unique_ptr<GDALDataset> points(
        driver->Create(pointsFolder.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!points) throw Error(MessageId::kGisCannotMake, {info.title, gis::GdalReason()});
    shp.emplace(std::move(points), pointsFolder, pointsFolder + "/" + stem);
  }
  {
    // A driver may hand back a dataset it failed to finish making (a GeoPackage whose
    // disk filled up has no tables): the failure told while making it is the reason, not
    // what fails later for want of the tables.
    CPLErrorReset();
    std::unique_ptr<GDALDataset> ds(
        driver->Create(kml ? "/vsistdout/" : target.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds || CPLGetLastErrorType() == CE_Failure) {
      throw GdalFailure(MessageId::kGisCannotMake, info.title, ds.get());
    }
    if (o.Format == GisFormat::kDxf) {
      WriteDxfTables(*ds, outline.firsts, o);
      result.Layers.push_back({"entities", outline.summary.count});
    } else {
      // A GeoPackage takes its features in one transaction, not one each.
      const bool transaction =
          o.Format == GisFormat::kGpkg && ds->StartTransaction() == OGRERR_NONE;
      WriteGisLayers(*ds, *source, o, stem, geoJson, kmlText, shp ? &*shp : nullptr,
                     gpkgRows ? &*gpkgRows : nullptr, result);
      if (transaction && ds->CommitTransaction() != OGRERR_NONE) {
        throw GdalFailure(MessageId::kGisCannotFinish, "GeoPackage", ds.get());
      }
    }
    if (o.Format == GisFormat::kGeoJson) {
      writeGeoJson(kGeoJsonTail);
      if (geoJsonOnDisk) {
        geoJsonOnDisk->Finish();
      } else {
        const bool failed = std::ferror(geoJson) != 0;
        if (std::fclose(std::exchange(geoJsonInMemory.file, nullptr)) != 0 || failed)
          TemporaryFailure(MessageId::kTemporaryCannotWrite, folder->Path());
        const VsiFile memory(VSIFOpenL(geoJsonFile.c_str(), "wb"), VSIFCloseL);
        if (!memory || VSIFWriteL(geoJsonInMemory.text, 1, geoJsonInMemory.size, memory.get()) !=
                           geoJsonInMemory.size)
          TemporaryFailure(MessageId::kTemporaryCannotWrite, folder->Path());
      }
      GisFile& f = result.Files.emplace_back();
      f.Name = file.string();
      f.Stream = [folder, path = geoJsonFile](const GisFileSink& sink) { CopyPieces(path, sink); };
      if (folder->InMemoryBecause().empty()) f.Finished = geoJsonFile;
      return result;
    }
    CloseDataset(std::move(ds), info.title);
    if (kml) kml->Finish();
  }
  if (gpkgRows) {
    gpkgRows->Fill(target);
    std::vector<std::string> tables;
    for (const GisLayerCount& layer : result.Layers)
      tables.push_back(layer.Layer);
    gpkgRows->PackSpatialIndexes(target, tables, gis::kGpkgIndexRunRows);
    gpkgRows.reset();
  }
  const auto take = [&result, &folder](const std::string& path, const std::string& name) {
    VSIStatBufL st;
    if (VSIStatL(path.c_str(), &st) != 0) throw Error(MessageId::kGisWroteNothing, {name});
    GisFile& f = result.Files.emplace_back();
    f.Name = name;
    f.Stream = [folder, path](const GisFileSink& sink) { CopyPieces(path, sink); };
    if (folder->InMemoryBecause().empty()) f.Finished = path;
  };
  if (o.Format != GisFormat::kShp) {
    if (o.Format != GisFormat::kDxf) {
      take(target, file.string());
      return result;
    }
    // GDAL's DXF is the small file around the entities, which are made again as the
    // file is written, never held all at once.
    GisFile& f = result.Files.emplace_back();
    f.Name = file.string();
    {
      std::string gdalDxf;
      CopyPieces(target, [&gdalDxf](std::string_view piece) { gdalDxf += piece; });
      const auto section = std::make_shared<const dxf::EntitySection>(
          gdalDxf, outline.summary, dxf::FirstTextStyle(gdalDxf), o.Settings.WrtBAse.mmFlg);
      // The entities are made here a batch at a time; each batch's text is made on every
      // core and written while the next batch is made.
      f.Stream = [source, o, section](const GisFileSink& sink) {
        constexpr size_t kBatch = 16'384;
        constexpr size_t kParts = 4;
        sink(section->Head());
        uint32_t handle = section->FirstHandle();
        // Entities are copied into slots kept from batch to batch, whose texts keep
        // their memory.
        std::vector<dxf::Entity> batch(kBatch), writing(kBatch);
        size_t filled = 0, toWrite = 0;
        std::array<dxf::TextBuffer, kParts> texts;
        Aside<void> written;
        const auto hand = [&] {
          if (written.valid()) written.get();
          if (filled == 0) return;
          writing.swap(batch);
          toWrite = filled;
          filled = 0;
          const uint32_t first = handle;
          handle += static_cast<uint32_t>(toWrite);
          written = RunAside([&, first] {
            InShares(toWrite, kParts, [&](size_t part, size_t begin, size_t end) {
              dxf::TextBuffer& text = texts[part];
              text.Clear();
              uint32_t h = first + static_cast<uint32_t>(begin);
              for (size_t i = begin; i < end; ++i)
                section->Append(text, writing[i], h);
            });
            for (const dxf::TextBuffer& text : texts) {
              if (!text.View().empty()) sink(text.View());
            }
          });
        };
        ForEachDxfEntity(*source, o, true, [&](const dxf::Entity& e) {
          batch[filled++] = e;
          if (filled == kBatch) hand();
        });
        hand();
        if (written.valid()) written.get();
        if (handle - section->FirstHandle() != section->Count())
          throw Error("the DXF's entities changed while they were written");
        sink(section->Tail());
      };
    }
    return result;
  }
  // The points' .shp first: it is the file the user named.
  const std::string main = stem + ".shp";
  std::vector<std::pair<std::string, std::string>> sorted;  // name, folder
  for (const std::string& in : {target, pointsFolder}) {
    char** names = VSIReadDir(in.c_str());
    for (char** n = names; n && *n; ++n) {
      if (std::string_view(*n) != "." && std::string_view(*n) != "..") sorted.emplace_back(*n, in);
    }
    CSLDestroy(names);
  }
  std::sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
    return std::pair(a.first != main, a.first) < std::pair(b.first != main, b.first);
  });
  for (const auto& [name, in] : sorted)
    take(in + "/" + name, name);
  return result;
}

}  // namespace

GisExport BuildGisExport(const CoordinateData& data, const GisExportOptions& o,
                         const std::string& fileName) {
  return BuildFrom(std::make_shared<const TableSource>(data), o, fileName);
}

GisExport BuildGisExportFrom(const GisSource& source, const GisExportOptions& o,
                             const std::string& fileName) {
  // The caller keeps the source: held, not owned.
  return BuildFrom(std::shared_ptr<const GisSource>(std::shared_ptr<void>(), &source), o, fileName);
}

namespace {

namespace fs = std::filesystem;

// The file a path finally names, each symbolic link followed.
fs::path FollowLinks(const fs::path& path) {
  fs::path p = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(p, ec)) return p;
    const fs::path next = fs::read_symlink(p, ec);
    if (ec) throw Error(MessageId::kGisLinkCannotFollow, {path.string(), ec.message()}, ec.value());
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  throw Error(MessageId::kTooManyLinks, {path.string()});
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return a == b || fs::equivalent(a, b, ec);
}

// A name in the folder for keeping a file until the new set is in place.
fs::path KeepName(const fs::path& file) {
  static std::mt19937 random{std::random_device{}()};
  return file.parent_path() / ("." + file.filename().string() + ".kestrova-old-" +
                               std::to_string(random() % 1000000000));
}

void WriteShapefileSet(const GisExport& gis, const fs::path& target) {
  const fs::path real = FollowLinks(target);
  const fs::path folder = real.parent_path().empty() ? fs::path(".") : real.parent_path();
  const std::string builtStem = fs::path(gis.Files.front().Name).stem().string();
  const std::string stem = real.stem().string();
  // The parts take the letter case of the extension the user gave: SITE.SHP, SITE.DBF.
  const std::string mainExt = real.extension().string();
  const bool upper =
      !mainExt.empty() && mainExt == Upper(mainExt) && mainExt != AsciiLower(mainExt);
  std::vector<fs::path> paths;
  for (size_t i = 0; i < gis.Files.size(); ++i) {
    if (i == 0) {
      paths.push_back(real);
      continue;
    }
    std::string name = gis.Files[i].Name;
    if (name.rfind(builtStem, 0) == 0) name = stem + name.substr(builtStem.size());
    if (upper) {
      const fs::path n(name);
      name = n.stem().string() + Upper(n.extension().string());
    }
    paths.push_back(folder / name);
  }
  // What an earlier export left that this one does not write: extra layers it does not
  // have, and parts of the points' set in the other letter case, which a reader might
  // take for this set's (unless they belong to a set of their own, "site.SHP" beside
  // "site.shp").
  const auto inCase = [](const std::string& name, bool up) {
    const fs::path n(name);
    return up ? n.stem().string() + Upper(n.extension().string()) : name;
  };
  std::vector<fs::path> candidates;
  for (const std::string& name : ShapefileSetNames(stem))
    candidates.push_back(folder / inCase(name, upper));
  const fs::path otherMain = folder / inCase(stem + ".shp", !upper);
  std::error_code otherEc;
  if (!fs::exists(fs::symlink_status(otherMain, otherEc)) || SameFile(otherMain, real)) {
    for (const char* part : {".shx", ".dbf", ".prj", ".cpg"})
      candidates.push_back(folder / inCase(stem + part, !upper));
  }
  std::vector<fs::path> stale;
  for (const fs::path& p : candidates) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(p, ec))) continue;
    const auto same = [&p](const fs::path& q) { return SameFile(p, q); };
    if (std::any_of(paths.begin(), paths.end(), same) ||
        std::any_of(stale.begin(), stale.end(), same))
      continue;
    stale.push_back(p);
  }

  std::vector<std::unique_ptr<AtomicFileWriter>> writers;
  for (size_t i = 0; i < gis.Files.size(); ++i) {
    writers.push_back(std::make_unique<AtomicFileWriter>(paths[i]));
    WriteGisFile(gis.Files[i], *writers.back());
  }
  // The files replaced or removed are kept under another name until the whole set is
  // in place, and put back when any part fails.
  std::vector<std::pair<fs::path, fs::path>> kept;  // original, kept as
  std::vector<fs::path> created;
  try {
    for (const fs::path& p : paths) {
      std::error_code ec;
      if (!fs::exists(p, ec)) {
        created.push_back(p);
        continue;
      }
      const fs::path keep = KeepName(p);
      fs::create_hard_link(p, keep, ec);
      if (!ec) kept.emplace_back(p, keep);
    }
    for (const fs::path& p : stale) {
      const fs::path keep = KeepName(p);
      std::error_code ec;
      fs::rename(p, keep, ec);
      if (ec) {
        throw Error(MessageId::kGisEarlierFileStays, {p.string(), ec.message()}, ec.value());
      }
      kept.emplace_back(p, keep);
    }
    for (const auto& w : writers)
      w->Commit();
  } catch (...) {
    std::error_code ec;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
      // A part not yet replaced is still the file kept: renaming one name of a file onto
      // another of its names does nothing, and the kept name would stay behind.
      if (SameFile(it->first, it->second)) {
        fs::remove(it->second, ec);
      } else {
        fs::rename(it->second, it->first, ec);
      }
    }
    for (const fs::path& p : created)
      fs::remove(p, ec);
    throw;
  }
  for (const auto& k : kept) {
    std::error_code ec;
    fs::remove(k.second, ec);
  }
}

}  // namespace

void WriteGisExport(const GisExport& gis, const std::filesystem::path& target) {
  if (gis.Files.empty()) return;
  if (gis.Files.size() > 1 ||
      AsciiLower(fs::path(gis.Files.front().Name).extension().string()) == ".shp") {
    WriteShapefileSet(gis, target);
    return;
  }
  AtomicFileWriter w(target);
  WriteGisFile(gis.Files.front(), w);
  w.Commit();
}

std::vector<std::string> GisExportWarnings(const GisExport& gis, const std::string& name) {
  return GisExportWarnings(gis, name, Language::kEnglish);
}

std::vector<std::string> GisExportWarnings(const GisExport& gis, const std::string& name,
                                           Language language) {
  std::vector<std::string> out;
  const auto say = [&](size_t count, MessageId one, MessageId more) {
    if (count == 0) return;
    out.push_back(MessageText(count == 1 ? one : more, {name, std::to_string(count)}, language));
  };
  say(gis.parcelsNotWritten, MessageId::kGisParcelNoArea, MessageId::kGisParcelsNoArea);
  say(gis.trianglesNotWritten, MessageId::kGisTriangleLeftOut, MessageId::kGisTrianglesLeftOut);
  say(gis.textsCut, MessageId::kGisTextCut, MessageId::kGisTextsCut);
  say(gis.blanksDropped, MessageId::kGisBlanksDropped, MessageId::kGisBlanksDroppedMany);
  say(gis.kmlBlanksDropped, MessageId::kGisKmlBlanksDropped, MessageId::kGisKmlBlanksDroppedMany);
  if (gis.pointsFar > 0) {
    out.push_back(MessageText(
        gis.pointsFar == 1 ? MessageId::kGisPointFar : MessageId::kGisPointsFar,
        {name, std::to_string(gis.pointsFar), gis.surveySystem, gis.firstFar}, language));
  }
  if (!gis.madeInMemory.empty())
    out.push_back(MessageText(MessageId::kGisMadeInMemory, {name, gis.madeInMemory}, language));
  return out;
}

}  // namespace kestrova

namespace kestrova {

GisExport ExportGisFile(const CoordinateData& data, const GisExportOptions& options,
                        const std::filesystem::path& path) {
  GisExport gis = BuildGisExport(data, options, path.filename().string());
  WriteGisExport(gis, path);
  // Written: GDAL's scratch files go now, not when the caller is done with the counts.
  for (GisFile& f : gis.Files)
    f.Stream = nullptr;
  return gis;
}

}  // namespace kestrova
