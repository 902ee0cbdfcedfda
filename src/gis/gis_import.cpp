#include "gis/gis_import.h"

#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <tuple>
#include <utility>

#include "app/messages.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/spill_file.h"
#include "gis/gdal_support.h"
#include "gis/survey_systems.h"

namespace kestrova {

namespace {

using gis::QuietGdal;

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

OGRLayer* PointLayer(GDALDataset& ds) {
  for (int i = 0; i < ds.GetLayerCount(); ++i) {
    OGRLayer* layer = ds.GetLayer(i);
    if (AsciiLower(layer->GetName()) == "points") return layer;
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
  int x = -1, y = -1;  // the survey X and Y an export wrote beside the position
};

Fields FindFields(OGRFeatureDefn& defn) {
  Fields f;
  // The names an export writes first; then those a Japanese layer or another program
  // gives the same values (点番号, 点名, 標高 in UTF-8), where the first are missing.
  for (const bool other : {false, true}) {
    for (int i = 0; i < defn.GetFieldCount(); ++i) {
      const std::string n = AsciiLower(defn.GetFieldDefn(i)->GetNameRef());
      int* slot = nullptr;
      if (!other) {
        slot = n == "number" || n == "no" ? &f.number
               : n == "name"              ? &f.name
               : n == "z"                 ? &f.z
               : n == "mark"              ? &f.mark
               : n == "remarks"           ? &f.remarks
               : n == "marked"            ? &f.marked
               : n == "x"                 ? &f.x
               : n == "y"                 ? &f.y
                                          : nullptr;
      } else {
        // A .dbf read without a code page gives its names as code page 932 bytes.
        const auto is = [&n](std::string_view utf8) {
          return n == utf8 || n == AsciiLower(Utf8ToCp932(utf8).text);
        };
        slot = is("点番号")                                      ? &f.number
               : is("点名") || is("測点名")                      ? &f.name
               : is("標高") || n == "elevation" || n == "height" ? &f.z
               : is("備考")                                      ? &f.remarks
                                                                 : nullptr;
      }
      if (slot && *slot < 0) *slot = i;
    }
  }
  return f;
}

// Whether a GeoJSON file's members before its "features" are known and name no "crs":
// its points are then longitude/latitude (WGS 84). Unsure (no "features" in the first
// 64 KB, the file unreadable) is false, and GDAL decides.
bool GeoJsonHeadInDegrees(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(64 * 1024, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  for (size_t at = head.find("\"features\""); at != std::string::npos;
       at = head.find("\"features\"", at + 1)) {
    size_t next = at + 10;
    while (next < head.size() &&
           (head[next] == ' ' || head[next] == '\t' || head[next] == '\r' || head[next] == '\n'))
      ++next;
    if (next < head.size() && head[next] == ':') {
      return std::string_view(head).substr(0, at).find("\"crs\"") == std::string_view::npos;
    }
  }
  return false;
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
  const std::string ext = AsciiLower(path.extension().string());
  return ext == ".gpkg" || ext == ".geojson" || ext == ".json" || ext == ".shp";
}

namespace {

// What a .dbf's header says that the reading needs: how many records the file holds in
// full (those its header counts, as far as the file reaches; none without a header), and
// whether its language driver (byte 29) is one of the two that stand for Japanese
// Shift_JIS, code page 932.
struct DbfHeader {
  uint64_t records = 0;
  bool shiftJis = false;
};

DbfHeader ReadDbfHeader(const std::filesystem::path& dbf) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(dbf, ec);
  std::ifstream in(dbf, std::ios::binary);
  unsigned char header[32] = {};
  if (ec || size < 32 || !in.read(reinterpret_cast<char*>(header), sizeof header)) return {};
  DbfHeader out;
  out.shiftJis = header[29] == 0x13 || header[29] == 0x7B;
  const uint64_t records = header[4] | header[5] << 8 | header[6] << 16 | uint64_t{header[7]} << 24;
  const uint64_t headerSize = header[8] | header[9] << 8;
  const uint64_t recordSize = header[10] | header[11] << 8;
  if (headerSize >= 32 && recordSize > 0 && size >= headerSize) {
    out.records = std::min(records, (size - headerSize) / recordSize);
  }
  return out;
}

// A layer's features from its start, one at a time. GDAL ends a layer it cannot read on
// (a damaged page of a GeoPackage) as it ends a whole one: its error tells them apart,
// and is thrown, naming the file, the layer and how far it was read.
class LayerFeatures {
 public:
  LayerFeatures(OGRLayer& layer, const std::string& file) : layer_(layer), file_(file) {
    layer_.ResetReading();
  }
  std::unique_ptr<OGRFeature> Next() {
    CPLErrorReset();
    std::unique_ptr<OGRFeature> f(layer_.GetNextFeature());
    if (f) {
      ++read_;
    } else if (CPLGetLastErrorType() >= CE_Failure) {
      throw Error(MessageId::kGisReadStopped,
                  {file_, layer_.GetName(), std::to_string(read_), gis::GdalReason()});
    }
    return f;
  }

 private:
  OGRLayer& layer_;
  const std::string& file_;
  int64_t read_ = 0;
};

// A GIS file's point layer, open and read a feature at a time as points of the site.
class PointLayerReader {
 public:
  PointLayerReader(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                   Language language)
      : path_(path), name_(name), epsg_(epsg), language_(language) {
    gis::EnsureGdal();
    // A file that is not there is said to be missing, not to be one GDAL cannot read.
    std::error_code missing;
    if (!std::filesystem::exists(path, missing) && !missing) {
      throw Error(MessageId::kFileCannotOpen, {name, std::generic_category().message(ENOENT)},
                  ENOENT);
    }
    // GDAL's own messages are not the user's: what fails is told in the program's words.
    QuietGdal quiet;
    static const char* const kDrivers[] = {"GPKG", "GeoJSON", "ESRI Shapefile", nullptr};
    // GDAL takes UTF-8 file names on every system.
    const std::u8string u8 = path.u8string();
    const std::string file(reinterpret_cast<const char*>(u8.data()), u8.size());
    const std::string ext = AsciiLower(path.extension().string());
    // A Shapefile's texts are in the code page its .cpg names, else the one the .dbf's
    // header names for Japanese (Shift_JIS, which GDAL converts from); without either
    // they are taken as they are: UTF-8 when they are that, else code page 932 (see Read).
    if (ext == ".shp") {
      const auto beside = [&path](const char* part) {
        std::error_code ec;
        for (const std::string& e : {std::string(part), Upper(part)}) {
          std::filesystem::path p = path;
          p.replace_extension(e);
          if (std::filesystem::exists(p, ec)) return p;
        }
        return std::filesystem::path();
      };
      const std::filesystem::path dbf = beside(".dbf");
      if (dbf.empty()) {
        openWarnings_.push_back(MessageText(MessageId::kGisNoDbf, {name}, language));
      } else {
        const DbfHeader header = ReadDbfHeader(dbf);
        dbfRecords_ = header.records;
        if (beside(".cpg").empty()) noCodePage_ = !header.shiftJis;
      }
    }
    // GDAL reads a whole GeoJSON file to open it, minutes for millions of points; one
    // in degrees (no "crs" before its features) cannot be read without --crs, which is
    // known from its first bytes.
    if (epsg == 0 && (ext == ".geojson" || ext == ".json") && GeoJsonHeadInDegrees(path)) {
      throw Error(MessageId::kGisLongitudeLatitude, {name, "WGS 84", kSurveySystemHint});
    }
    const char* const openOptions[] = {"ENCODING=", nullptr};
    ds_.reset(GDALDataset::Open(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, kDrivers,
                                noCodePage_ ? openOptions : nullptr, nullptr));
    if (!ds_) throw Error(MessageId::kGisCannotRead, {name, gis::GdalReason()});
    layer_ = PointLayer(*ds_);
    if (!layer_) throw Error(MessageId::kGisNoPointLayer, {name});
    layerName_ = layer_->GetName();
    // GDAL reads a Shapefile's points without their numbers and names where its .dbf has
    // no header, and stops early without a word where the .dbf is cut short.
    if (dbfRecords_) {
      const GIntBig points = layer_->GetFeatureCount(TRUE);
      if (points >= 0 && *dbfRecords_ < static_cast<uint64_t>(points)) {
        throw Error(MessageId::kGisDbfShort,
                    {name, std::to_string(*dbfRecords_), std::to_string(points)});
      }
    }
    // A Shapefile holds one layer: an export puts its parcels, polylines and triangles in
    // the files beside it, named after it (site_parcel_lines.shp beside site.shp).
    if (ext == ".shp") {
      for (const char* kind : {"parcel_lines", "parcels", "polylines", "triangles"}) {
        std::filesystem::path beside = path;
        beside.replace_filename(path.stem().u8string() + u8"_" +
                                std::u8string(kind, kind + std::strlen(kind)) +
                                path.extension().u8string());
        std::error_code ec;
        if (!std::filesystem::is_regular_file(beside, ec)) continue;
        std::filesystem::path cpg = beside;
        const bool ownCodePage = std::filesystem::exists(cpg.replace_extension(".cpg"), ec) ||
                                 std::filesystem::exists(cpg.replace_extension(".CPG"), ec);
        const std::u8string u8Beside = beside.u8string();
        std::unique_ptr<GDALDataset> shapes(GDALDataset::Open(
            reinterpret_cast<const char*>(u8Beside.c_str()), GDAL_OF_VECTOR | GDAL_OF_READONLY,
            kDrivers, noCodePage_ && !ownCodePage ? openOptions : nullptr, nullptr));
        if (shapes && shapes->GetLayerCount() == 1) siblings_[kind] = std::move(shapes);
      }
    }
    for (const char* kind : {"parcel_lines", "parcels", "polylines"})
      shapesBeside_ = shapesBeside_ || ShapeLayer(kind);
    // The triangles an export wrote beside the parcels are not read back: the user hears
    // how many stay behind.
    OGRLayer* triangles = ShapeLayer("triangles");
    const GIntBig unread = triangles ? triangles->GetFeatureCount(TRUE) : 0;
    if (unread > 0) {
      openWarnings_.push_back(MessageText(MessageId::kGisTrianglesNotRead,
                                          {name, std::to_string(unread), triangles->GetName()},
                                          language));
    }

    std::unique_ptr<OGRSpatialReference>& target = target_;
    if (epsg != 0) target = gis::SurveyReference(epsg);
    std::unique_ptr<OGRSpatialReference>& source = source_;
    if (const OGRSpatialReference* srs = layer_->GetSpatialRef()) {
      source.reset(srs->Clone());
      source->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }
    noSystem_ = !source;
    if (source && target && !source->IsSame(target.get())) {
      transform_.reset(OGRCreateCoordinateTransformation(source.get(), target.get()));
      if (!transform_) {
        throw Error(MessageId::kGisSystemCannotConvert,
                    {name, source->GetName(), EpsgName(epsg), gis::GdalReason()});
      }
    } else if (source && !target && !source->IsProjected()) {
      throw Error(MessageId::kGisLongitudeLatitude, {name, source->GetName(), kSurveySystemHint});
    }
    // Points are checked against the area the survey system is meant for: the one asked
    // for, or the layer's own where it is read as it is.
    if (target) {
      area_ = gis::AreaOfUse(*target);
      areaSystem_ = EpsgName(epsg);
    } else if (source && source->IsProjected()) {
      area_ = gis::AreaOfUse(*source);
      areaSystem_ = source->GetName();
    }
    fields_ = FindFields(*layer_->GetLayerDefn());
    // A layer of fields of its own (PointNo, PtName) and none of a point's gives points
    // numbered by row and without names: the user hears which fields it has. (The "FID"
    // GDAL gives a Shapefile made without fields is none of them.)
    const Fields& f = fields_;
    if (f.number < 0 && f.name < 0 && f.z < 0 && f.mark < 0 && f.remarks < 0 && f.marked < 0) {
      const OGRFeatureDefn& defn = *layer_->GetLayerDefn();
      std::string own;
      int listed = 0;
      for (int i = 0; i < defn.GetFieldCount(); ++i) {
        const std::string field = defn.GetFieldDefn(i)->GetNameRef();
        if (AsciiLower(field) == "fid") continue;
        if (++listed > 12) {
          own += ", ...";
          break;
        }
        own += (own.empty() ? "" : ", ") + field;
      }
      if (!own.empty()) {
        openWarnings_.push_back(
            MessageText(MessageId::kGisNoNumberOrName, {name, layerName_, own}, language));
      }
    }
  }

  // Opened for this file and survey system.
  bool Opened(const std::filesystem::path& path, const std::string& name, int32_t epsg,
              Language language) const {
    return path == path_ && name == name_ && epsg == epsg_ && language == language_;
  }
  ~PointLayerReader() {
    QuietGdal quiet;
    siblings_.clear();
    ds_.reset();
  }
  PointLayerReader(const PointLayerReader&) = delete;
  PointLayerReader& operator=(const PointLayerReader&) = delete;

  GDALDataset& Dataset() { return *ds_; }
  // The layer of parcels or polylines (kind as an export names it) beside the points,
  // in the file or, for a Shapefile, in the one beside it; null when there is none.
  OGRLayer* ShapeLayer(const char* kind) const {
    if (const auto it = siblings_.find(kind); it != siblings_.end()) return it->second->GetLayer(0);
    OGRLayer* shapes = ds_->GetLayerByName(kind);
    return shapes != layer_ ? shapes : nullptr;
  }
  OGRLayer* Layer() { return layer_; }
  // The EPSG code of the layer's projected system, also of a Shapefile's .prj that names
  // none but is the same as an EPSG system; 0 when there is none such.
  int32_t ProjectedEpsg() const {
    if (!source_ || !source_->IsProjected()) return 0;
    QuietGdal quiet;
    OGRSpatialReference srs(*source_);
    const char* authority = srs.GetAuthorityName(nullptr);
    if (!(authority && std::string_view(authority) == "EPSG") &&
        srs.AutoIdentifyEPSG() != OGRERR_NONE) {
      int count = 0;
      int* confidence = nullptr;
      OGRSpatialReferenceH* matches = srs.FindMatches(nullptr, &count, &confidence);
      const bool same = count > 0 && confidence[0] == 100;
      if (same) srs = *OGRSpatialReference::FromHandle(matches[0]);
      OSRFreeSRSArray(matches);
      CPLFree(confidence);
      if (!same) return 0;
    }
    authority = srs.GetAuthorityName(nullptr);
    const char* code = srs.GetAuthorityCode(nullptr);
    if (!authority || std::string_view(authority) != "EPSG" || !code) return 0;
    return static_cast<int32_t>(std::strtol(code, nullptr, 10));
  }
  // The file's name in messages.
  const std::string& Name() const { return name_; }
  // The points' layer's features as the file counts them, when it can without reading
  // them; else 0.
  int64_t FeatureCount() const { return std::max<GIntBig>(0, layer_->GetFeatureCount(FALSE)); }
  // Parcels or polylines lie beside the points, running through them.
  bool ShapesBeside() const { return shapesBeside_; }
  // The texts are decoded only once every one has been seen.
  bool TextsWaitForAll() const { return noCodePage_; }
  // Some point is known to have a "marked" value other than 1 (a text "1.0" counts as
  // other). Only a GeoPackage is asked, which its database answers at once; other files
  // would be read through for it, and their reading finds it anyway.
  bool SomeUnmarked() {
    if (fields_.marked < 0 || std::string_view(ds_->GetDriverName()) != "GPKG") return false;
    QuietGdal quiet;
    const std::string field = layer_->GetLayerDefn()->GetFieldDefn(fields_.marked)->GetNameRef();
    if (field.find('"') != std::string::npos) return true;
    const bool filtered =
        layer_->SetAttributeFilter(("\"" + field + "\" <> 1").c_str()) == OGRERR_NONE;
    layer_->ResetReading();
    const bool some = !filtered || std::unique_ptr<OGRFeature>(layer_->GetNextFeature()) != nullptr;
    layer_->SetAttributeFilter(nullptr);
    return some;
  }

  // Hands every point of the layer to take(point, x, y) in file order, numbered from
  // firstRow, with the place it has in the file's own coordinates. Texts are brought to
  // code page 932, report counting what could not be; where they wait for all, they are
  // handed as they are, for Decode. take returns false to stop.
  template <class Take>
  void Read(int32_t firstRow, LoadReport& report, const Take& take) {
    const auto text = [&](const OGRFeature& f, int field, size_t limit,
                          const std::string& feature) -> PointText {
      if (!Has(f, field)) return PointText();
      const char* t = f.GetFieldAsString(field);
      if (!noCodePage_) {
        bool cut = false;
        std::string cp932 = ToCp932(t, limit, report, &cut);
        if (cut && cut_++ == 0) firstCut_ = feature;
        return cp932;
      }
      const bool utf8 = IsValidUtf8(t);
      if (!utf8 && notUtf8_++ == 0) firstNotUtf8_ = feature;
      // Whether a text is cut depends on how the layer's texts turn out to be read. No
      // character takes more bytes in code page 932 than in UTF-8: a text within the limit
      // as it is read is within it either way.
      if (std::strlen(t) > limit) {
        if (cutAsCp932_++ == 0) firstCutAsCp932_ = feature;
        if (utf8 && Utf8ToCp932(t).text.size() > limit && cut_++ == 0) firstCut_ = feature;
      }
      return PointText(t);
    };
    QuietGdal quiet;
    skipped_ = badNumbers_ = notUtf8_ = badZ_ = badMarked_ = cut_ = cutAsCp932_ = far_ = 0;
    allDegrees_ = true;
    int32_t row = firstRow;
    LayerFeatures features(*layer_, name_);
    for (std::unique_ptr<OGRFeature> f = features.Next(); f; f = features.Next()) {
      const std::vector<std::string> which{name_, std::to_string(f->GetFID()), layerName_};
      OGRGeometry* g = f->GetGeometryRef();
      if (!g || g->IsEmpty()) throw Error(MessageId::kGisFeatureNoPosition, which);
      // The parcels and lines an export put beside the points in one GeoJSON layer are
      // not points, and are not read back from it: the user hears how many were left. A
      // point is a point whatever its fields say (a layer from a drawing has a "Layer"
      // field of the drawing's layer names).
      if (wkbFlatten(g->getGeometryType()) != wkbPoint) {
        ++skipped_;
        continue;
      }
      const OGRPoint& pt = *g->toPoint();
      const double fileX = pt.getX();
      const double fileY = pt.getY();
      // Japan in degrees, east longitude and north latitude.
      allDegrees_ = allDegrees_ && fileX >= 120 && fileX <= 155 && fileY >= 20 && fileY <= 46;
      if (row == firstRow && transform_) AskForMissingGrids(fileX, fileY);
      double x = fileX;
      double y = fileY;
      if (transform_ && !transform_->Transform(1, &x, &y)) {
        std::vector<std::string> args = which;
        args.insert(args.end(), {EpsgName(epsg_), gis::GdalReason()});
        throw Error(MessageId::kGisFeatureCannotConvert, std::move(args));
      }
      if (!std::isfinite(x) || !std::isfinite(y)) {
        throw Error(MessageId::kGisFeatureNotANumber, which);
      }
      SurveyPoint p;
      p.Number = row;
      if (Has(*f, fields_.number)) {
        std::optional<int32_t> n;
        if (IsNumeric(*f, fields_.number)) {
          const double v = f->GetFieldAsDouble(fields_.number);
          if (v == std::floor(v) && v >= INT32_MIN && v <= INT32_MAX) n = static_cast<int32_t>(v);
        } else {
          n = ParseInt(TrimBlanks(f->GetFieldAsString(fields_.number)));
        }
        if (n) {
          p.Number = *n;
        } else if (badNumbers_++ == 0) {
          firstBadNumber_ =
              std::to_string(f->GetFID()) + " (\"" + f->GetFieldAsString(fields_.number) + "\")";
        }
      }
      const std::string feature = std::to_string(f->GetFID());
      p.Name = text(*f, fields_.name, kNameLimit, feature);
      p.Mark = text(*f, fields_.mark, kMarkLimit, feature);
      p.Remarks = text(*f, fields_.remarks, kRemarksLimit, feature);
      p.X = y;
      p.Y = x;
      // A position in degrees keeps some tenths of a millimetre (a GeoJSON file's nine
      // decimals); the export wrote the survey X and Y beside it as they were. Where they
      // still agree with the position they are taken: the site comes back to the digit.
      if (transform_ && Has(*f, fields_.x) && Has(*f, fields_.y) && IsNumeric(*f, fields_.x) &&
          IsNumeric(*f, fields_.y)) {
        constexpr double kAgree = 0.001;  // metres
        const double surveyX = f->GetFieldAsDouble(fields_.x);
        const double surveyY = f->GetFieldAsDouble(fields_.y);
        if (std::abs(surveyX - p.X) <= kAgree && std::abs(surveyY - p.Y) <= kAgree) {
          p.X = surveyX;
          p.Y = surveyY;
        }
      }
      if (area_ && !area_->Holds(p.Y, p.X) && far_++ == 0) firstFar_ = feature;
      if (Has(*f, fields_.z)) {
        std::optional<double> z;
        if (IsNumeric(*f, fields_.z)) {
          z = f->GetFieldAsDouble(fields_.z);
        } else {
          z = ParseFloat(TrimBlanks(f->GetFieldAsString(fields_.z)));
        }
        if (!z || !std::isfinite(*z)) {
          if (badZ_++ == 0) firstBadZ_ = feature + " (\"" + f->GetFieldAsString(fields_.z) + "\")";
          z = 0.0;
        }
        p.Z = *z;
      } else if (pt.Is3D()) {
        p.Z = pt.getZ();
      }
      p.Marked = 1;
      if (Has(*f, fields_.marked)) {
        const std::string v(TrimBlanks(f->GetFieldAsString(fields_.marked)));
        const std::optional<double> d =
            IsNumeric(*f, fields_.marked)
                ? std::optional<double>(f->GetFieldAsDouble(fields_.marked))
                : ParseFloat(v);
        if (d == 1.0) {
          p.Marked = 1;
        } else if (d == 0.0) {
          p.Marked = 0;
        } else {
          p.Marked = 0;
          if (badMarked_++ == 0) firstBadMarked_ = feature + " (\"" + v + "\")";
        }
      }
      ++row;
      if (!take(std::move(p), fileX, fileY)) return;
    }
    if (row == firstRow) throw Error(MessageId::kGisLayerHoldsNoPoint, {name_, layerName_});
  }

  // The texts of points read while they waited for all: every text is UTF-8, or all of
  // them are taken as code page 932.
  void Decode(SurveyPoint& p, LoadReport& report) const {
    if (!noCodePage_) return;
    const auto decode = [&](PointText& t, size_t limit) {
      t = notUtf8_ > 0 ? std::string(CutToBytes(t.view(), limit))
                       : ToCp932(t.view(), limit, report);
    };
    decode(p.Name, kNameLimit);
    decode(p.Mark, kMarkLimit);
    decode(p.Remarks, kRemarksLimit);
  }

  // What the reading found worth telling, with the shapes' warnings in their place.
  std::vector<std::string> Warnings(const std::vector<std::string>& shapeWarnings) const {
    std::vector<std::string> warnings = openWarnings_;
    const auto counted = [&](size_t count, MessageId one, MessageId many,
                             const std::string& first) {
      if (count == 0) return;
      warnings.push_back(MessageText(count == 1 ? one : many,
                                     {name_, std::to_string(count), layerName_, first}, language_));
    };
    counted(badZ_, MessageId::kGisZNotNumber, MessageId::kGisZsNotNumber, firstBadZ_);
    counted(badMarked_, MessageId::kGisMarkedNotBinary, MessageId::kGisMarksNotBinary,
            firstBadMarked_);
    counted(notUtf8_, MessageId::kGisTextNotUtf8, MessageId::kGisTextsNotUtf8, firstNotUtf8_);
    if (noCodePage_ && notUtf8_ > 0) {
      counted(cutAsCp932_, MessageId::kGisTextCutOnReading, MessageId::kGisTextsCutOnReading,
              firstCutAsCp932_);
    } else {
      counted(cut_, MessageId::kGisTextCutOnReading, MessageId::kGisTextsCutOnReading, firstCut_);
    }
    if (missingGrids_) {
      warnings.push_back(MessageText(MessageId::kGisGridMissing,
                                     {name_, source_->GetName(), target_->GetName(),
                                      missingGrids_->grids, FormatGeneral(missingGrids_->accuracy),
                                      missingGrids_->area.empty() ? "?" : missingGrids_->area},
                                     language_));
    }
    // A layer that names no system is read as survey metres; degrees would land every
    // point within a few hundred metres of the zone's origin. (A site of its own local
    // metres near 0, 0 lies nowhere near Japan's degrees.)
    if (noSystem_ && allDegrees_) {
      warnings.push_back(
          MessageText(MessageId::kGisNoSystemDegrees, {name_, layerName_}, language_));
    }
    if (far_ > 0) {
      warnings.push_back(MessageText(
          far_ == 1 ? MessageId::kGisFeatureFar : MessageId::kGisFeaturesFar,
          {name_, std::to_string(far_), layerName_, firstFar_, areaSystem_}, language_));
    }
    if (skipped_ > 0) {
      warnings.push_back(MessageText(MessageId::kGisFeaturesNotPoints,
                                     {name_, std::to_string(skipped_), layerName_}, language_));
    }
    warnings.insert(warnings.end(), shapeWarnings.begin(), shapeWarnings.end());
    counted(badNumbers_, MessageId::kGisNumberNotWhole, MessageId::kGisNumbersNotWhole,
            firstBadNumber_);
    return warnings;
  }

 private:
  // Whether a better conversion than the one made needs grids that are missing, asked
  // at the site's first point (a site is far smaller than any grid's area).
  void AskForMissingGrids(double fileX, double fileY) {
    double lon = fileX;
    double lat = fileY;
    if (!source_->IsGeographic()) {
      std::unique_ptr<OGRSpatialReference> degrees(source_->CloneGeogCS());
      if (!degrees) return;
      degrees->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
      std::unique_ptr<OGRCoordinateTransformation> toDegrees(
          OGRCreateCoordinateTransformation(source_.get(), degrees.get()));
      if (!toDegrees || !toDegrees->Transform(1, &lon, &lat)) return;
    }
    missingGrids_ = gis::BetterConversionMissing(*source_, *target_, lon, lat);
  }

  // cut (when given) learns whether the text was longer than limit.
  static std::string ToCp932(std::string_view t, size_t limit, LoadReport& report,
                             bool* cut = nullptr) {
    Cp932Text c = Utf8ToCp932(t);
    report.replacedCharacters += c.replaced;
    if (cut) *cut = c.text.size() > limit;
    return std::string(CutToBytes(c.text, limit));
  }

  std::filesystem::path path_;
  std::string name_;
  int32_t epsg_ = 0;
  Language language_;
  std::vector<std::string> openWarnings_;
  bool noCodePage_ = false;
  std::optional<uint64_t> dbfRecords_;  // a Shapefile's, when it has a .dbf
  bool shapesBeside_ = false;
  std::unique_ptr<GDALDataset> ds_;
  std::map<std::string, std::unique_ptr<GDALDataset>, std::less<>> siblings_;
  OGRLayer* layer_ = nullptr;
  std::string layerName_;
  std::unique_ptr<OGRSpatialReference> source_, target_;
  std::unique_ptr<OGRCoordinateTransformation> transform_;
  std::optional<gis::MissingGrids> missingGrids_;
  Fields fields_;
  bool noSystem_ = false;
  bool allDegrees_ = true;  // every point read lies where Japan is in degrees
  size_t skipped_ = 0, badNumbers_ = 0, notUtf8_ = 0, badZ_ = 0, badMarked_ = 0;
  size_t cut_ = 0, cutAsCp932_ = 0;
  std::optional<gis::SurveyArea> area_;
  std::string areaSystem_;
  size_t far_ = 0;  // points outside area_
  std::string firstFar_;
  std::string firstBadNumber_, firstNotUtf8_, firstBadZ_, firstBadMarked_, firstCut_,
      firstCutAsCp932_;
};

// Files opened to decide whether their points stream stay open for the reading that
// follows: GDAL's GeoJSON reader reads the whole file to open it.
std::mutex openReadersMutex;
std::vector<std::unique_ptr<PointLayerReader>> openReaders;

void KeepOpen(std::unique_ptr<PointLayerReader> reader) {
  const std::lock_guard lock(openReadersMutex);
  openReaders.push_back(std::move(reader));
}

std::unique_ptr<PointLayerReader> OpenReader(const std::filesystem::path& path,
                                             const std::string& name, int32_t epsg,
                                             Language language) {
  {
    const std::lock_guard lock(openReadersMutex);
    for (auto it = openReaders.begin(); it != openReaders.end(); ++it) {
      if ((*it)->Opened(path, name, epsg, language)) {
        std::unique_ptr<PointLayerReader> reader = std::move(*it);
        openReaders.erase(it);
        return reader;
      }
    }
  }
  return std::make_unique<PointLayerReader>(path, name, epsg, language);
}

// The projected system a layer's points are read in: epsg, else the layer's own (0 when
// it names none). Kept in its own, a layer in another system than the GIS points already
// in table (null: none) would lie beside them hundreds of kilometres off: it is refused.
int32_t SystemBeside(const PointLayerReader& reader, const std::string& name, int32_t epsg,
                     const PointTable* table) {
  const int32_t system = epsg != 0 ? epsg : reader.ProjectedEpsg();
  if (table && table->GisSystem != 0 && system != 0 && system != table->GisSystem) {
    throw Error(MessageId::kGisSystemsDiffer,
                {name, EpsgName(system), EpsgName(table->GisSystem), kSurveySystemHint});
  }
  return system;
}

// The parcels and polylines an export of this program puts beside the points, a feature
// at a time: take(kind, feature, name field, curve, vertices, closed), curve null for a
// feature that is no line. parcel_lines holds every parcel with its boundary in the
// order the block named it, closed where the parcel is; parcels (polygons only) stands
// in for it in a file without it.
constexpr const char* kShapeKinds[] = {"parcel_lines", "parcels", "polylines"};
constexpr uint8_t kPolylines = 2;

template <class Take>
void EachShape(PointLayerReader& reader, const Take& take) {
  const auto layer = [&](uint8_t kind) {
    const bool polyline = kind == kPolylines;
    OGRLayer* shapes = reader.ShapeLayer(kShapeKinds[kind]);
    if (!shapes) return false;
    const int nameField = shapes->GetLayerDefn()->GetFieldIndex("name");
    QuietGdal quiet;
    LayerFeatures features(*shapes, reader.Name());
    for (std::unique_ptr<OGRFeature> f = features.Next(); f; f = features.Next()) {
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
      take(kind, *f, nameField, curve, n, closed);
    }
    return true;
  };
  if (!layer(0)) layer(1);
  layer(kPolylines);
}

// The shapes come back as SIMA blocks over the points they run through, numbered in
// their order; a shape with a vertex on no point, or with fewer than two, is counted
// for a warning of its kind.
class ShapeBlocks {
 public:
  ShapeBlocks(const std::string& name, Language language, LoadReport& report)
      : name_(name), language_(language), report_(report) {}

  // Whether the shape with these records is kept; if so, block is made of it.
  bool Make(uint8_t kind, int64_t fid, bool closed, const char* shapeName,
            std::vector<SimaBlockRecord>& records, bool onPoints, SimaBlock& block) {
    const bool polyline = kind == kPolylines;
    if (kind_ != kind) {
      Said();
      kind_ = kind;
    }
    if (!onPoints || records.size() < 2) {
      if (notOnPoints_++ == 0) first_ = std::to_string(fid);
      return false;
    }
    block = SimaBlock();
    block.Polyline = polyline;
    block.Closing = closed ? 1 : 0;
    block.Number = std::to_string(polyline ? ++polylines_ : ++parcels_);
    if (shapeName) {
      Cp932Text text = Utf8ToCp932(shapeName);
      report_.replacedCharacters += text.replaced;
      block.Name = std::move(text.text);
    }
    block.Records = std::move(records);
    return true;
  }

  // What was said of the shapes not on the points, a layer at a time, and of vertices
  // where several points stand (shared of them), which name the first read there: a
  // point with the same place and another number is not told apart by its place.
  std::vector<std::string> Warnings(uint64_t shared) {
    Said();
    if (shared > 0) {
      warnings_.push_back(
          MessageText(shared == 1 ? MessageId::kGisVertexOnPoints : MessageId::kGisVerticesOnPoints,
                      {name_, std::to_string(shared)}, language_));
    }
    return std::move(warnings_);
  }

 private:
  void Said() {
    if (notOnPoints_ > 0) {
      warnings_.push_back(MessageText(
          MessageId::kGisShapesNotOnPoints,
          {name_, std::to_string(notOnPoints_), kShapeKinds[kind_], first_}, language_));
    }
    notOnPoints_ = 0;
  }

  const std::string& name_;
  Language language_;
  LoadReport& report_;
  uint8_t kind_ = 0;
  size_t notOnPoints_ = 0;
  std::string first_;
  int32_t parcels_ = 0, polylines_ = 0;
  std::vector<std::string> warnings_;
};

// Finds the points the shapes beside streamed points run through without holding the
// points: the points' places go to files by a hash of the place, the shapes' vertices to
// the same parts, and each part is sorted in memory and its vertices looked up, the points
// found going to buckets of the vertices' order. The shapes are then made in their order
// a bucket at a time.
//
// The temporary files' records, in the machine's byte order:
//   place   X, Y (double), number (int32), name length (uint16), name
//   vertex  X, Y (double), its place among all vertices (uint64)
//   shape   kind (uint8), feature (int64), closed (uint8), name given (uint8), name
//           length (uint32), name, vertices (uint32)
//   found   its place in its bucket (uint32), number (int32), name length (uint16), name
class PlaceJoin {
 public:
  // For a layer of about points features (or none said) in a file of fileBytes.
  PlaceJoin(int64_t points, uint64_t fileBytes, const PlaceJoinTuning& tuning)
      : perBucket_(std::max<size_t>(tuning.verticesPerBucket, 1)), shapes_(kBuffer, kKeep) {
    const uint64_t count = points > 0 ? static_cast<uint64_t>(points) : kUnknownPoints;
    // A part holds the points of at most 64 MB of the file, however long their names.
    const size_t parts = std::max(SpillFileCount(count, std::max<size_t>(tuning.pointsPerPart, 1)),
                                  SpillFileCount(fileBytes, kFileBytesPerPart));
    for (size_t j = 0; j < parts; ++j) {
      places_.push_back(parts == 1 ? std::make_unique<SpillFile>(kBuffer, kKeep)
                                   : std::make_unique<SpillFile>(kPartBuffer));
      vertices_.push_back(parts == 1 ? std::make_unique<SpillFile>(kBuffer, kKeep)
                                     : std::make_unique<SpillFile>(kPartBuffer));
    }
  }

  void AddPoint(double x, double y, int32_t number, std::string_view name) {
    SpillFile& out = *places_[PartOf(x, y)];
    out.Put(x);
    out.Put(y);
    out.Put(number);
    out.Put(static_cast<uint16_t>(name.size()));  // at most kNameLimit bytes
    out.Write(name.data(), name.size());
    longestName_ = std::max(longestName_, name.size());
  }

  void AddShape(uint8_t kind, const OGRFeature& f, int nameField, const OGRSimpleCurve* curve,
                int vertices, bool closed) {
    shapes_.Put(kind);
    shapes_.Put(static_cast<int64_t>(f.GetFID()));
    shapes_.Put(static_cast<uint8_t>(closed));
    const bool named = Has(f, nameField);
    shapes_.Put(static_cast<uint8_t>(named));
    const std::string_view name = named ? f.GetFieldAsString(nameField) : "";
    shapes_.Put(static_cast<uint32_t>(name.size()));
    shapes_.Write(name.data(), name.size());
    shapes_.Put(static_cast<uint32_t>(std::max(vertices, 0)));
    for (int i = 0; i < vertices; ++i) {
      const double x = curve->getX(i);
      const double y = curve->getY(i);
      // A vertex at no place stands on no point: it is not looked up.
      if (std::isfinite(x) && std::isfinite(y)) {
        SpillFile& out = *vertices_[PartOf(x, y)];
        out.Put(x);
        out.Put(y);
        out.Put(vertexCount_);
      }
      ++vertexCount_;
    }
  }

  // Vertices where more than one point stands, known once EachShape has run.
  uint64_t SharedPlaces() const { return shared_; }

  // Hands take(kind, fid, closed, name or null, records, onPoints) every shape in order.
  template <class Take>
  void EachShape(const Take& take) {
    Resolve();
    std::vector<Resolved> bucket;
    std::string bucketNames;
    size_t current = SIZE_MAX;
    const auto load = [&](size_t b) {
      bucket.assign(std::min<uint64_t>(perBucket_, vertexCount_ - b * perBucket_), Resolved{});
      bucketNames.clear();
      SpillFile& in = *found_[b];
      in.Rewind();
      uint32_t at = 0;
      while (in.Read(&at, sizeof at)) {
        Resolved& f = bucket.at(at);
        f.Number = in.Get<int32_t>();
        f.NameLength = in.Get<uint16_t>();
        f.NameAt = static_cast<uint32_t>(bucketNames.size());
        bucketNames.resize(bucketNames.size() + f.NameLength);
        in.ReadExactly(bucketNames.data() + f.NameAt, f.NameLength);
        f.Found = true;
      }
      if (current < found_.size()) found_[current].reset();
      current = b;
    };
    shapes_.Rewind();
    std::vector<SimaBlockRecord> records;
    std::string name;
    uint64_t vertex = 0;
    uint8_t kind = 0;
    while (shapes_.Read(&kind, sizeof kind)) {
      const auto fid = shapes_.Get<int64_t>();
      const bool closed = shapes_.Get<uint8_t>() != 0;
      const bool named = shapes_.Get<uint8_t>() != 0;
      name.resize(shapes_.Get<uint32_t>());
      shapes_.ReadExactly(name.data(), name.size());
      const auto count = shapes_.Get<uint32_t>();
      records.clear();
      bool onPoints = true;
      for (uint32_t i = 0; i < count; ++i, ++vertex) {
        const auto b = static_cast<size_t>(vertex / perBucket_);
        if (b != current) load(b);
        const Resolved& f = bucket[static_cast<size_t>(vertex % perBucket_)];
        onPoints = onPoints && f.Found;
        if (!onPoints) continue;
        SimaBlockRecord& record = records.emplace_back();
        record.Point.Number = f.Number;
        record.Point.Name = std::string_view(bucketNames).substr(f.NameAt, f.NameLength);
      }
      take(kind, fid, closed, named ? name.c_str() : nullptr, records, onPoints);
    }
  }

 private:
  static constexpr size_t kBuffer = size_t{1} << 20;
  static constexpr size_t kPartBuffer = size_t{64} << 10;
  // A file alone of its kind stays in memory up to this size.
  static constexpr size_t kKeep = size_t{16} << 20;
  static constexpr uint64_t kFileBytesPerPart = uint64_t{64} << 20;
  static constexpr uint64_t kBucketBytes = uint64_t{64} << 20;
  // Parts of a layer that does not say how many features it has.
  static constexpr uint64_t kUnknownPoints = 8'000'000;

  struct Place {
    double X = 0.0;
    double Y = 0.0;
    int32_t Number = 0;
    uint16_t NameLength = 0;
    uint32_t NameAt = 0;
  };
  struct Resolved {
    int32_t Number = 0;
    uint32_t NameAt = 0;
    uint16_t NameLength = 0;
    bool Found = false;
  };

  // The part of the places a place is looked up in: -0 stands where 0 does.
  size_t PartOf(double x, double y) const {
    if (places_.size() == 1) return 0;
    const auto bits = [](double v) {
      v += 0.0;
      uint64_t b = 0;
      std::memcpy(&b, &v, sizeof b);
      return b;
    };
    // SplitMix64's finaliser over both coordinates.
    uint64_t h = bits(x) ^ (bits(y) * 0x9E3779B97F4A7C15u);
    h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9u;
    h = (h ^ (h >> 27)) * 0x94D049BB133111EBu;
    h ^= h >> 31;
    return static_cast<size_t>(((h >> 32) * places_.size()) >> 32);
  }

  // Each vertex's point, a part of the places at a time, into the bucket of its order.
  void Resolve() {
    // A bucket's vertices carry their points' names: however long, a bucket stays small.
    perBucket_ = std::max<uint64_t>(
        std::min<uint64_t>(perBucket_, kBucketBytes / (sizeof(Resolved) + longestName_)), 1);
    const size_t buckets = vertexCount_ == 0 ? 0 : SpillFileCount(vertexCount_, perBucket_);
    perBucket_ = vertexCount_ == 0 ? 1 : (vertexCount_ + buckets - 1) / buckets;
    if (perBucket_ > UINT32_MAX) throw Error("too many vertices of parcels and polylines");
    for (size_t b = 0; b < buckets; ++b) {
      found_.push_back(buckets == 1 ? std::make_unique<SpillFile>(kBuffer, kKeep)
                                    : std::make_unique<SpillFile>(kPartBuffer));
    }
    const auto before = [](const Place& a, const Place& b) {
      return std::tie(a.X, a.Y) < std::tie(b.X, b.Y);
    };
    std::vector<Place> places;
    std::string names;
    for (size_t j = 0; j < places_.size(); ++j) {
      places.clear();
      names.clear();
      SpillFile& in = *places_[j];
      in.Rewind();
      double x = 0.0;
      while (in.Read(&x, sizeof x)) {
        Place& p = places.emplace_back();
        p.X = x;
        p.Y = in.Get<double>();
        p.Number = in.Get<int32_t>();
        p.NameLength = in.Get<uint16_t>();
        p.NameAt = static_cast<uint32_t>(names.size());
        names.resize(names.size() + p.NameLength);
        in.ReadExactly(names.data() + p.NameAt, p.NameLength);
      }
      places_[j].reset();
      // The first point read at a place is the one its vertices stand on.
      std::stable_sort(places.begin(), places.end(), before);
      SpillFile& refs = *vertices_[j];
      refs.Rewind();
      while (refs.Read(&x, sizeof x)) {
        const Place vertex{x, refs.Get<double>()};
        const auto order = refs.Get<uint64_t>();
        const auto at = std::lower_bound(places.begin(), places.end(), vertex, before);
        if (at == places.end() || before(vertex, *at)) continue;
        for (auto other = std::next(at); other != places.end() && !before(*at, *other); ++other) {
          if (other->Number == at->Number) continue;
          ++shared_;
          break;
        }
        SpillFile& out = *found_[static_cast<size_t>(order / perBucket_)];
        out.Put(static_cast<uint32_t>(order % perBucket_));
        out.Put(at->Number);
        out.Put(at->NameLength);
        out.Write(names.data() + at->NameAt, at->NameLength);
      }
      vertices_[j].reset();
    }
  }

  uint64_t perBucket_;
  std::vector<std::unique_ptr<SpillFile>> places_;
  std::vector<std::unique_ptr<SpillFile>> vertices_;
  std::vector<std::unique_ptr<SpillFile>> found_;
  SpillFile shapes_;
  uint64_t vertexCount_ = 0;
  size_t longestName_ = 0;
  uint64_t shared_ = 0;
};

}  // namespace

bool GisPointsStream(const std::filesystem::path& path, const std::string& name, int32_t epsg) {
  std::unique_ptr<PointLayerReader> reader = OpenReader(path, name, epsg, Language::kEnglish);
  const bool streams = !reader->TextsWaitForAll() && !reader->SomeUnmarked();
  KeepOpen(std::move(reader));
  return streams;
}

int32_t GisFileSystem(const std::filesystem::path& path, const std::string& name) {
  std::unique_ptr<PointLayerReader> reader;
  try {
    reader = OpenReader(path, name, 0, Language::kEnglish);
  } catch (const Error&) {
    return 0;  // the reading that follows says why
  }
  const int32_t epsg = reader->ProjectedEpsg();
  KeepOpen(std::move(reader));
  return epsg;
}

bool StreamGisPoints(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                     LoadSink& sink, CoordinateData& data, LoadReport& report,
                     std::vector<std::string>& warnings) {
  return StreamGisPoints(path, name, epsg, sink, data, report, warnings, PlaceJoinTuning());
}

bool StreamGisPoints(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                     LoadSink& sink, CoordinateData& data, LoadReport& report,
                     std::vector<std::string>& warnings, const PlaceJoinTuning& tuning) {
  std::unique_ptr<PointLayerReader> reader = OpenReader(path, name, epsg, Language::kEnglish);
  const int32_t system = SystemBeside(*reader, name, epsg, &data.Table);
  if (reader->TextsWaitForAll()) {
    KeepOpen(std::move(reader));
    return false;
  }
  std::optional<PlaceJoin> join;
  if (reader->ShapesBeside()) {
    QuietGdal quiet;
    std::error_code ec;
    const uintmax_t bytes = std::filesystem::file_size(path, ec);
    join.emplace(reader->Layer()->GetFeatureCount(FALSE), ec ? 0 : bytes, tuning);
  }
  constexpr size_t kRange = 4096;
  std::vector<SurveyPoint> rows;
  rows.reserve(kRange);
  int32_t first = data.Table.PointCount + 1;
  bool allMarked = true;
  reader->Read(first, report, [&](SurveyPoint&& p, double x, double y) {
    if (p.Marked != 1) return allMarked = false;
    if (join) join->AddPoint(x, y, p.Number, p.Name.view());
    rows.push_back(std::move(p));
    if (rows.size() == kRange) {
      sink.TakePoints(rows, first);
      first += static_cast<int32_t>(kRange);
      rows.clear();
    }
    return true;
  });
  if (!allMarked) {
    KeepOpen(std::move(reader));
    return false;
  }
  if (!rows.empty()) sink.TakePoints(rows, first);
  data.Table.PointCount = first - 1 + static_cast<int32_t>(rows.size());
  if (data.Table.GisSystem == 0) data.Table.GisSystem = system;
  data.Sima.SimaLoaded = false;
  ShapeBlocks blocks(name, Language::kEnglish, report);
  if (join) {
    QuietGdal quiet;
    EachShape(*reader, [&](uint8_t kind, const OGRFeature& f, int nameField,
                           const OGRSimpleCurve* curve, int vertices, bool closed) {
      join->AddShape(kind, f, nameField, curve, vertices, closed);
    });
    // The shapes follow every point: each of their records names a point read before.
    std::vector<int32_t> rowsBefore;
    SimaBlock block;
    join->EachShape([&](uint8_t kind, int64_t fid, bool closed, const char* shapeName,
                        std::vector<SimaBlockRecord>& records, bool onPoints) {
      if (!blocks.Make(kind, fid, closed, shapeName, records, onPoints, block)) return;
      block.RowsBefore = data.Table.PointCount;
      rowsBefore.assign(block.Records.size(), data.Table.PointCount);
      sink.TakeBlock(block, rowsBefore.data(), false);
      records = std::move(block.Records);
    });
  }
  warnings = reader->Warnings(blocks.Warnings(join ? join->SharedPlaces() : 0));
  return true;
}

std::vector<std::string> LoadGisPoints(const std::filesystem::path& path, const std::string& name,
                                       int32_t epsg, CoordinateData& data, bool appendOnLoad,
                                       LoadReport& report, Language language,
                                       ProgressMonitor* progress) {
  QuietGdal quiet;
  const std::unique_ptr<PointLayerReader> opened = OpenReader(path, name, epsg, language);
  PointLayerReader& reader = *opened;
  const int32_t system = SystemBeside(reader, name, epsg, appendOnLoad ? &data.Table : nullptr);
  const int32_t firstRow = appendOnLoad ? data.Table.PointCount + 1 : 1;
  // Laid out as a table's points (row r is element r), so that a load that replaces the
  // table takes them without a copy.
  std::vector<SurveyPoint> points(1);
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
  const bool shapesBeside = reader.ShapesBeside();
  // The points are most of the work; a stop leaves the table as it was.
  const double total = progress ? static_cast<double>(reader.FeatureCount()) : 0;
  reader.Read(firstRow, report, [&](SurveyPoint&& p, double x, double y) {
    if (shapesBeside) pointAt.push_back({x, y, points.size()});
    points.push_back(std::move(p));
    if (total > 0 && points.size() % 8192 == 0) {
      ReportProgress(progress, std::min(1.0, static_cast<double>(points.size()) / total));
    }
    return true;
  });
  for (size_t i = 1; i < points.size(); ++i)
    reader.Decode(points[i], report);
  std::stable_sort(pointAt.begin(), pointAt.end(), before);

  std::vector<SimaBlock> blocks;
  ShapeBlocks made(name, language, report);
  uint64_t shared = 0;
  std::vector<SimaBlockRecord> records;
  EachShape(reader, [&](uint8_t kind, const OGRFeature& f, int nameField,
                        const OGRSimpleCurve* curve, int vertices, bool closed) {
    records.clear();
    bool onPoints = true;
    for (int i = 0; i < vertices && onPoints; ++i) {
      const Place place{curve->getX(i), curve->getY(i), 0};
      const auto at = std::lower_bound(pointAt.begin(), pointAt.end(), place, before);
      // A vertex at no place stands on no point.
      onPoints = std::isfinite(place.x) && std::isfinite(place.y) && at != pointAt.end() &&
                 !before(place, *at);
      if (!onPoints) break;
      for (auto other = std::next(at); other != pointAt.end() && !before(*at, *other); ++other) {
        if (points[other->row].Number == points[at->row].Number) continue;
        ++shared;
        break;
      }
      SimaBlockRecord& record = records.emplace_back();
      record.Point.Number = points[at->row].Number;
      record.Point.Name = points[at->row].Name;
      record.Row = static_cast<int32_t>(at->row);  // of this layer's points, for now
    }
    const char* shapeName = Has(f, nameField) ? f.GetFieldAsString(nameField) : nullptr;
    if (SimaBlock block; made.Make(kind, f.GetFID(), closed, shapeName, records, onPoints, block))
      blocks.push_back(std::move(block));
  });

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
  if (!appendOnLoad || data.Table.GisSystem == 0) data.Table.GisSystem = system;
  data.Sima.SimaLoaded = false;
  for (SimaBlock& block : blocks) {
    block.RowsBefore = data.Table.PointCount;  // they follow the points
    for (SimaBlockRecord& record : block.Records)
      record.Row += rowsBefore;
    data.Sima.SimaBlocks.push_back(std::move(block));
  }
  if (rowsBefore > 0) {
    for (int32_t r = rowsBefore + 1; r <= data.Table.PointCount; ++r) {
      if (*FindPointIndex(data.Table, data.Table.Points[r].Number) <= rowsBefore)
        ++report.repeatedNumbers;
    }
  }

  return reader.Warnings(made.Warnings(shared));
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
