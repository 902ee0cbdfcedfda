#include "gis/gis_export.h"

#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "gis/gdal_support.h"
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

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::optional<GisFormat> GisFormatFromName(std::string_view name) {
  for (const FormatInfo& i : kFormats) {
    if (name == i.name) return i.format;
  }
  return std::nullopt;
}

std::optional<GisFormat> GisFormatFromPath(const std::filesystem::path& path) {
  const std::string ext = Lower(path.extension().string());
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

// What the SIMA blocks describe, with every point looked up in the table as the reader
// did: a parcel whose boundary names a missing point ends there and has no area.
struct Parcel {
  const SimaBlock* block = nullptr;
  std::vector<const SurveyPoint*> vertices;
  bool complete = true;
};
struct Triangle {
  const SimaBlock* block = nullptr;
  std::array<const SurveyPoint*, 3> corners{};
};
struct SimaShapes {
  std::vector<Parcel> parcels;
  std::vector<Parcel> polylines;
  std::vector<Triangle> triangles;
  size_t trianglesMissing = 0;
};

SimaShapes CollectShapes(const CoordinateData& data) {
  SimaShapes out;
  const PointTable& table = data.Table;
  const auto find = [&table](int32_t number) -> const SurveyPoint* {
    const std::optional<int32_t> row = FindPointIndex(table, number);
    return row ? &table.Points[*row] : nullptr;
  };
  for (const SimaBlock& block : data.Sima.SimaBlocks) {
    Parcel shape;
    shape.block = &block;
    for (size_t i = 0; i < block.Records.size(); ++i) {
      const SimaBlockRecord& record = block.Records[i];
      if (record.RecordKind == SimaBlockRecord::kCorner) continue;
      if (record.RecordKind == SimaBlockRecord::kTriangle) {
        Triangle t{&block, {}};
        for (size_t k = 0; k < 3 && i + k < block.Records.size(); ++k)
          t.corners[k] = find(block.Records[i + k].Point.Number);
        if (std::find(t.corners.begin(), t.corners.end(), nullptr) != t.corners.end()) {
          ++out.trianglesMissing;
        } else {
          out.triangles.push_back(t);
        }
        continue;
      }
      const SurveyPoint* p = find(record.Point.Number);
      if (!p) {
        shape.complete = false;
        break;
      }
      shape.vertices.push_back(p);
    }
    (block.Polyline ? out.polylines : out.parcels).push_back(std::move(shape));
  }
  return out;
}

// Survey X is northing and Y easting: the geometry's x is Y and its y is X, then
// converted to longitude/latitude where the format wants them.
class Positions {
 public:
  Positions(const OGRSpatialReference* survey, const OGRSpatialReference* output) {
    if (survey && output && !survey->IsSame(output)) {
      transform_.reset(OGRCreateCoordinateTransformation(survey, output));
      if (!transform_) {
        throw Error(MessageId::kGisSurveySystemCannotConvert,
                    {output->GetName(), gis::GdalReason()});
      }
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
    return OGRPoint(gx, gy);
  }

 private:
  std::unique_ptr<OGRCoordinateTransformation> transform_;
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
class FeatureWriter {
 public:
  FeatureWriter(GDALDataset& ds, GisFormat format, const OGRSpatialReference* srs, std::string stem)
      : ds_(ds), format_(format), srs_(srs), stem_(std::move(stem)) {}

  // Makes the layer even when nothing goes into it.
  void Ensure(const Kind& kind) { LayerFor(kind); }
  OGRFeature* New(const Kind& kind) {
    OGRLayer* layer = LayerFor(kind);
    auto* f = new OGRFeature(layer->GetLayerDefn());
    if (format_ == GisFormat::kGeoJson) f->SetField("layer", kind.layer);
    return f;
  }
  void Add(const Kind& kind, OGRFeature* feature) {
    std::unique_ptr<OGRFeature> owned(feature);
    if (LayerFor(kind)->CreateFeature(owned.get()) != OGRERR_NONE) {
      throw Error(MessageId::kGisFeatureNotWritten, {kind.layer, gis::GdalReason()});
    }
    ++counts_[LayerName(kind)];
  }
  std::vector<GisLayerCount> Counts() const {
    std::vector<GisLayerCount> out;
    for (const std::string& name : order_)
      out.push_back({name, counts_.at(name)});
    return out;
  }

 private:
  std::string LayerName(const Kind& kind) const {
    if (format_ == GisFormat::kGeoJson) return stem_;
    if (format_ == GisFormat::kShp)
      return kind.layer == kPoints.layer ? stem_ : stem_ + "_" + kind.layer;
    return kind.layer;
  }
  OGRLayer* LayerFor(const Kind& kind) {
    const std::string name = LayerName(kind);
    if (const auto it = layers_.find(name); it != layers_.end()) return it->second;
    char** options = nullptr;
    if (format_ == GisFormat::kShp) options = CSLSetNameValue(options, "ENCODING", "UTF-8");
    if (format_ == GisFormat::kGpkg) options = CSLSetNameValue(options, "SPATIAL_INDEX", "NO");
    const OGRwkbGeometryType type = format_ == GisFormat::kGeoJson ? wkbUnknown : kind.type;
    OGRLayer* layer =
        ds_.CreateLayer(name.c_str(), const_cast<OGRSpatialReference*>(srs_), type, options);
    CSLDestroy(options);
    if (!layer) throw Error(MessageId::kGisLayerNotMade, {name, gis::GdalReason()});
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
        throw Error(MessageId::kGisFieldNotMade, {f.name, gis::GdalReason()});
      }
    }
    layers_[name] = layer;
    counts_[name] = 0;
    order_.push_back(name);
    return layer;
  }

  GDALDataset& ds_;
  GisFormat format_;
  const OGRSpatialReference* srs_;
  std::string stem_;
  std::map<std::string, OGRLayer*> layers_;
  std::map<std::string, size_t> counts_;
  std::vector<std::string> order_;
};

OGRLineString Line(const Positions& at, const std::vector<const SurveyPoint*>& v, bool close) {
  OGRLineString line;
  for (const SurveyPoint* p : v) {
    const OGRPoint q = at.At(*p);
    line.addPoint(&q);
  }
  if (close) {
    const OGRPoint q = at.At(*v.front());
    line.addPoint(&q);
  }
  return line;
}

OGRPolygon Polygon(const Positions& at, const std::vector<const SurveyPoint*>& v) {
  OGRLinearRing ring;
  for (const SurveyPoint* p : v) {
    const OGRPoint q = at.At(*p);
    ring.addPoint(&q);
  }
  ring.closeRings();
  OGRPolygon polygon;
  polygon.addRing(&ring);
  return polygon;
}

void WriteGisLayers(GDALDataset& ds, const CoordinateData& data, const GisExportOptions& o,
                    const std::string& stem, GisExport& result) {
  std::unique_ptr<OGRSpatialReference> survey;
  if (o.Epsg != 0) survey = gis::SurveyReference(o.Epsg);
  std::unique_ptr<OGRSpatialReference> output;
  if (o.Format == GisFormat::kGeoJson || o.Format == GisFormat::kKml) {
    output = gis::Wgs84Reference();
  } else if (survey) {
    output = std::make_unique<OGRSpatialReference>(*survey);
  }
  const Positions at(survey.get(), output.get());
  FeatureWriter w(ds, o.Format, output.get(), stem);

  // A Shapefile field holds 254 bytes, and 255 bytes of code page 932 may take up to
  // 382 in UTF-8: the user hears how many texts were cut.
  const auto text = [&](OGRFeature* f, const char* field, std::string_view cp932) {
    const std::string utf8 = Utf8(cp932);
    if (o.Format == GisFormat::kShp && utf8.size() > static_cast<size_t>(kShapefileText))
      ++result.textsCut;
    f->SetField(field, utf8.c_str());
  };
  const PointTable& table = data.Table;
  w.Ensure(kPoints);  // a reader of the file finds where the points would be
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    const SurveyPoint& p = table.Points[r];
    OGRFeature* f = w.New(kPoints);
    f->SetField("number", p.Number);
    text(f, "name", p.Name);
    f->SetField("x", p.X);
    f->SetField("y", p.Y);
    f->SetField("z", p.Z);
    text(f, "mark", p.Mark);
    text(f, "remarks", p.Remarks);
    f->SetField("marked", p.Marked);
    OGRPoint g = at.At(p);
    f->SetGeometry(&g);
    w.Add(kPoints, f);
  }

  const SimaShapes shapes = CollectShapes(data);
  // Layer after layer: KML cannot go back to a layer once another one was written to.
  for (const Parcel& parcel : shapes.parcels) {
    if (parcel.complete && parcel.vertices.size() >= 3) {
      OGRFeature* f = w.New(kParcels);
      text(f, "name", parcel.block->Name);
      f->SetField("area", ShoelaceArea(parcel.vertices));
      OGRPolygon g = Polygon(at, parcel.vertices);
      f->SetGeometry(&g);
      w.Add(kParcels, f);
    } else if (!parcel.vertices.empty() || !parcel.complete) {
      ++result.parcelsNotWritten;
    }
  }
  for (const Parcel& parcel : shapes.parcels) {
    if (parcel.vertices.size() < 2) continue;
    OGRFeature* f = w.New(kParcelLines);
    text(f, "name", parcel.block->Name);
    const bool close = parcel.complete && parcel.block->Closing == 1;
    OGRLineString g = Line(at, parcel.vertices, close);
    f->SetGeometry(&g);
    w.Add(kParcelLines, f);
  }
  for (const Triangle& t : shapes.triangles) {
    OGRFeature* f = w.New(kTriangles);
    text(f, "name", t.block->Name);
    OGRPolygon g = Polygon(at, {t.corners.begin(), t.corners.end()});
    f->SetGeometry(&g);
    w.Add(kTriangles, f);
  }
  result.trianglesNotWritten = shapes.trianglesMissing;
  for (const Parcel& line : shapes.polylines) {
    if (line.vertices.size() < 2) continue;
    OGRFeature* f = w.New(kPolylines);
    text(f, "name", line.block->Name);
    OGRLineString g = Line(at, line.vertices, false);
    f->SetGeometry(&g);
    w.Add(kPolylines, f);
  }
  result.Layers = w.Counts();
}

// A label of the drawing as DXF text: OGR's anchor positions 1..9 are the same left,
// centre and right of the bottom, middle and top line as the drawing's base positions.
std::string LabelStyle(const std::string& utf8, double height, int32_t basePosition) {
  std::string quoted;
  for (const char c : utf8) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return "LABEL(f:\"MS Gothic\",t:\"" + quoted + "\",s:" + FormatGeneral(height) +
         "g,p:" + std::to_string(std::clamp(basePosition, 1, 9)) + ")";
}

// Jw_cad names a layer by its group and number in hexadecimal: "8-1".
std::string DrawingLayer(uint32_t group, uint32_t layer) {
  static const char kHex[] = "0123456789ABCDEF";
  return std::string(1, kHex[group & 15]) + "-" + kHex[layer & 15];
}

constexpr int kCircleSides = 72;

std::string Fixed8(double v) {
  return FormatFixed(RoundOff(34, v), 8, 3);
}

void WriteDxf(GDALDataset& ds, const CoordinateData& data, const GisExportOptions& o,
              GisExport& result) {
  const OutputSettings& s = o.Settings;
  OGRLayer* layer = ds.CreateLayer("entities", nullptr, wkbUnknown, nullptr);
  if (!layer) throw Error(MessageId::kGisDxfEntitiesNotMade, {gis::GdalReason()});
  size_t count = 0;
  const auto add = [&](OGRGeometry& g, const std::string& dxfLayer, const std::string& style) {
    OGRFeature f(layer->GetLayerDefn());
    f.SetField("Layer", dxfLayer.c_str());
    if (!style.empty()) f.SetStyleString(style.c_str());
    f.SetGeometry(&g);
    if (layer->CreateFeature(&f) != OGRERR_NONE) {
      throw Error(MessageId::kGisDxfEntityNotWritten, {gis::GdalReason()});
    }
    ++count;
  };
  // Paper millimetres of a text kind to the drawing's units on the ground.
  const double k = s.WrtBAse.mmFlg ? 1.0 : 1000.0;
  if (!(std::isfinite(s.WrtBAse.Scale) && s.WrtBAse.Scale > 0.0)) {
    throw Error(MessageId::kScaleNotUsable, {FormatGeneral(s.WrtBAse.Scale)});
  }
  const auto height = [&](uint32_t kind) {
    return o.TextKinds[std::clamp<uint32_t>(kind, 1, 10) - 1].Height * s.WrtBAse.Scale / k;
  };
  const uint32_t group = s.WrtBAse.Group;
  const PointTable& table = data.Table;
  const auto eachMarked = [&](auto f) {
    for (int32_t r = 1; r <= table.PointCount; ++r) {
      if (table.Points[r].Marked == 1) f(table.Points[r]);
    }
  };
  if (s.Point.OutFlg) {
    eachMarked([&](const SurveyPoint& p) {
      OGRPoint g(p.Y, p.X);
      add(g, DrawingLayer(group, s.Point.Lay), "");
    });
  }
  if (s.Point.EnkoFlg) {
    // DXF from GDAL has no circle entity: a closed polyline of 72 sides stands for it.
    const double radius = (s.Point.EnkoR / 2) * s.WrtBAse.Scale / k;
    eachMarked([&](const SurveyPoint& p) {
      OGRLineString g;
      for (int i = 0; i <= kCircleSides; ++i) {
        const double a = 2 * 3.141592653589793 * (i % kCircleSides) / kCircleSides;
        g.addPoint(p.Y + radius * std::cos(a), p.X + radius * std::sin(a));
      }
      add(g, DrawingLayer(group, s.Point.Lay), "");
    });
  }
  const auto labels = [&](const OutputSettings::TextSection& ts, auto textOf) {
    if (!ts.OutFlg) return;
    eachMarked([&](const SurveyPoint& p) {
      OGRPoint g(p.Y, p.X);
      add(g, DrawingLayer(group, ts.Lay),
          LabelStyle(Utf8(textOf(p)), height(ts.MojiNo), ts.MojiBs));
    });
  };
  labels(s.PointStr, [](const SurveyPoint& p) { return p.Name; });
  labels(s.XYcoord, [](const SurveyPoint& p) { return Fixed8(p.X) + " ," + Fixed8(p.Y); });
  labels(s.Zcoord, [](const SurveyPoint& p) { return Fixed8(p.Z); });
  for (const SimaLine& l : data.Sima.SimaLines) {
    OGRLineString g;
    g.addPoint(l.StartY, l.StartX);
    g.addPoint(l.EndY, l.EndX);
    add(g, DrawingLayer(group, 4), "");
  }
  for (const SimaText& t : data.Sima.SimaTexts) {
    OGRPoint g(t.Y, t.X);
    add(g, DrawingLayer(group, 5), LabelStyle(Utf8(t.Text), height(t.TextKind), 1));
  }
  result.Layers.push_back({"entities", count});
}

}  // namespace

GisExport BuildGisExport(const CoordinateData& data, const GisExportOptions& o,
                         const std::string& fileName) {
  gis::EnsureGdal();
  QuietGdal quiet;
  const FormatInfo& info = Info(o.Format);
  if (o.Epsg == 0 && GisFormatNeedsSystem(o.Format)) {
    throw Error(MessageId::kGisFormatPlacesBySystem, {info.title, kSurveySystemHint});
  }
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(info.driver);
  if (!driver) throw Error(MessageId::kGisNoDriver, {info.title});
  const std::filesystem::path file = std::filesystem::path(fileName).filename();
  const std::string stem = file.stem().string();
  gis::MemoryFolder folder;
  // A Shapefile "dataset" is a folder of one file set per layer.
  const std::string target =
      o.Format == GisFormat::kShp ? folder.File("shp") : folder.File(file.string());
  GisExport result;
  {
    std::unique_ptr<GDALDataset> ds(driver->Create(target.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) throw Error(MessageId::kGisCannotMake, {info.title, gis::GdalReason()});
    if (o.Format == GisFormat::kDxf) {
      WriteDxf(*ds, data, o, result);
    } else {
      WriteGisLayers(*ds, data, o, stem, result);
    }
    // Most drivers write their index, trailer or header only on closing.
    CPLErrorReset();
    GDALClose(GDALDataset::ToHandle(ds.release()));
    if (CPLGetLastErrorType() == CE_Failure) {
      throw Error(MessageId::kGisCannotFinish, {info.title, gis::GdalReason()});
    }
  }
  const auto take = [&result](const std::string& path, const std::string& name) {
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(path.c_str(), &length, FALSE);
    if (!bytes) throw Error(MessageId::kGisWroteNothing, {name});
    result.Files.push_back(
        {name, std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length))});
  };
  if (o.Format != GisFormat::kShp) {
    take(target, file.string());
    return result;
  }
  // The points' .shp first: it is the file the user named.
  const std::string main = stem + ".shp";
  char** names = VSIReadDir(target.c_str());
  std::vector<std::string> sorted;
  for (char** n = names; n && *n; ++n)
    sorted.emplace_back(*n);
  CSLDestroy(names);
  std::sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
    return std::pair(a != main, a) < std::pair(b != main, b);
  });
  for (const std::string& name : sorted)
    take(target + "/" + name, name);
  return result;
}

void WriteGisExport(const GisExport& gis, const std::filesystem::path& target) {
  const std::filesystem::path folder = target.parent_path();
  std::vector<std::unique_ptr<AtomicFileWriter>> writers;
  for (size_t i = 0; i < gis.Files.size(); ++i) {
    const GisFile& f = gis.Files[i];
    writers.push_back(std::make_unique<AtomicFileWriter>(i == 0 ? target : folder / f.Name));
    writers.back()->Write(f.Bytes.data(), f.Bytes.size());
  }
  for (const auto& w : writers)
    w->Commit();
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
  return out;
}

}  // namespace kestrova

namespace kestrova {

GisExport ExportGisFile(const CoordinateData& data, const GisExportOptions& options,
                        const std::filesystem::path& path) {
  GisExport gis = BuildGisExport(data, options, path.filename().string());
  WriteGisExport(gis, path);
  return gis;
}

}  // namespace kestrova
