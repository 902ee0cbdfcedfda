#include "gis/gdal_support.h"

#include <cpl_vsi.h>
#include <gdal.h>

#ifdef KESTROVA_HAVE_PROJ
#include <proj.h>
#endif

#include <atomic>
#include <mutex>
#include <vector>

#include "app/messages.h"
#include "common/error.h"
#include "common/spill_file.h"
#include "gis/survey_systems.h"

namespace kestrova::gis {

void EnsureGdal() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

QuietGdal::QuietGdal() {
  CPLPushErrorHandler(CPLQuietErrorHandler);
  CPLErrorReset();
}

QuietGdal::~QuietGdal() {
  CPLPopErrorHandler();
}

std::string QuietGdal::Explain(const std::string& what) {
  return what + GdalReason();
}

std::string GdalReason() {
  const char* message = CPLGetLastErrorMsg();
  if (message == nullptr || *message == '\0') return {};
  return std::string(": ") + message;
}

namespace {

std::unique_ptr<OGRSpatialReference> TraditionalOrder(std::unique_ptr<OGRSpatialReference> srs) {
  srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

}  // namespace

std::unique_ptr<OGRSpatialReference> SurveyReference(int32_t epsg) {
  EnsureGdal();
  QuietGdal quiet;
  auto srs = std::make_unique<OGRSpatialReference>();
  if (srs->importFromEPSG(epsg) != OGRERR_NONE) {
    throw Error(MessageId::kGisSystemUnknown, {EpsgName(epsg), kSurveySystemHint});
  }
  if (!srs->IsProjected()) {
    throw Error(MessageId::kGisSystemNotPlane, {EpsgName(epsg), srs->GetName(), kSurveySystemHint});
  }
  return TraditionalOrder(std::move(srs));
}

std::unique_ptr<OGRSpatialReference> Wgs84Reference() {
  EnsureGdal();
  auto srs = std::make_unique<OGRSpatialReference>();
  srs->SetWellKnownGeogCS("WGS84");
  return TraditionalOrder(std::move(srs));
}

std::optional<SurveyArea> AreaOfUse(const OGRSpatialReference& survey) {
  QuietGdal quiet;
  double west = 0, south = 0, east = 0, north = 0;
  const char* name = nullptr;
  if (!survey.GetAreaOfUse(&west, &south, &east, &north, &name) || west > east) return {};
  std::unique_ptr<OGRSpatialReference> degrees(survey.CloneGeogCS());
  if (!degrees) return {};
  degrees->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::unique_ptr<OGRCoordinateTransformation> toSurvey(
      OGRCreateCoordinateTransformation(degrees.get(), &survey));
  SurveyArea a;
  if (!toSurvey || !toSurvey->TransformBounds(west, south, east, north, &a.minEast, &a.minNorth,
                                              &a.maxEast, &a.maxNorth, 21)) {
    return {};
  }
  a.minEast -= SurveyArea::kMargin;
  a.minNorth -= SurveyArea::kMargin;
  a.maxEast += SurveyArea::kMargin;
  a.maxNorth += SurveyArea::kMargin;
  return a;
}

#ifdef KESTROVA_HAVE_PROJ
std::optional<MissingGrids> BetterConversionMissing(const OGRSpatialReference& source,
                                                    const OGRSpatialReference& target,
                                                    double longitude, double latitude) {
  const auto wkt = [](const OGRSpatialReference& srs) {
    const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
    char* text = nullptr;
    std::string out;
    if (srs.exportToWkt(&text, options) == OGRERR_NONE && text) out = text;
    CPLFree(text);
    return out;
  };
  const std::string from = wkt(source);
  const std::string to = wkt(target);
  if (from.empty() || to.empty()) return std::nullopt;
  // PROJ's own context, quiet: what it lacks is told in the program's words.
  struct Context {
    PJ_CONTEXT* ctx = proj_context_create();
    std::vector<PJ*> objects;
    PJ_OBJ_LIST* list = nullptr;
    PJ_OPERATION_FACTORY_CONTEXT* factory = nullptr;
    ~Context() {
      if (list) proj_list_destroy(list);
      if (factory) proj_operation_factory_context_destroy(factory);
      for (PJ* o : objects)
        proj_destroy(o);
      proj_context_destroy(ctx);
    }
    PJ* Keep(PJ* o) {
      if (o) objects.push_back(o);
      return o;
    }
  } c;
  if (!c.ctx) return std::nullopt;
  proj_log_level(c.ctx, PJ_LOG_NONE);
  PJ* a = c.Keep(proj_create(c.ctx, from.c_str()));
  PJ* b = c.Keep(proj_create(c.ctx, to.c_str()));
  c.factory = proj_create_operation_factory_context(c.ctx, nullptr);
  if (!a || !b || !c.factory) return std::nullopt;
  proj_operation_factory_context_set_grid_availability_use(c.ctx, c.factory,
                                                           PROJ_GRID_AVAILABILITY_IGNORED);
  proj_operation_factory_context_set_spatial_criterion(c.ctx, c.factory,
                                                       PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
  proj_operation_factory_context_set_area_of_interest(c.ctx, c.factory, longitude, latitude,
                                                      longitude, latitude);
  c.list = proj_create_operations(c.ctx, a, b, c.factory);
  if (!c.list) return std::nullopt;
  // Accuracies in metres; an unknown one (-1) is no better than any.
  double made = -1;
  std::optional<MissingGrids> missing;
  for (int i = 0; i < proj_list_get_count(c.list); ++i) {
    PJ* op = c.Keep(proj_list_get(c.ctx, c.list, i));
    if (!op) continue;
    const double accuracy = proj_coordoperation_get_accuracy(c.ctx, op);
    if (proj_coordoperation_is_instantiable(c.ctx, op)) {
      if (accuracy >= 0 && (made < 0 || accuracy < made)) made = accuracy;
      continue;
    }
    if (accuracy < 0 || (missing && missing->accuracy <= accuracy)) continue;
    MissingGrids m;
    m.accuracy = accuracy;
    const char* area = nullptr;
    if (proj_get_area_of_use(c.ctx, op, nullptr, nullptr, nullptr, nullptr, &area) && area) {
      m.area = area;  // its description, a sentence
      if (!m.area.empty() && m.area.back() == '.') m.area.pop_back();
    }
    for (int g = 0; g < proj_coordoperation_get_grid_used_count(c.ctx, op); ++g) {
      const char* name = nullptr;
      int available = 0;
      if (proj_coordoperation_get_grid_used(c.ctx, op, g, &name, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &available) &&
          !available && name) {
        m.grids += (m.grids.empty() ? "" : ", ") + std::string(name);
      }
    }
    if (!m.grids.empty()) missing = std::move(m);
  }
  if (made >= 0 && missing && made <= missing->accuracy) return std::nullopt;
  return missing;
}
#else
std::optional<MissingGrids> BetterConversionMissing(const OGRSpatialReference&,
                                                    const OGRSpatialReference&, double, double) {
  return std::nullopt;
}
#endif

ScratchFolder::ScratchFolder() {
  try {
    path_ = MakeTemporaryFolder("kestrova-gis-").string();
  } catch (const Error& e) {
    static std::atomic<uint64_t> counter{0};
    path_ = "/vsimem/kestrova-gis-" + std::to_string(++counter);
    VSIMkdir(path_.c_str(), 0755);
    inMemoryBecause_ = e.what();
  }
}

ScratchFolder::~ScratchFolder() {
  VSIRmdirRecursive(path_.c_str());
}

}  // namespace kestrova::gis
