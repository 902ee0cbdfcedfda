#include "gis/gdal_support.h"

#include <cpl_vsi.h>
#include <gdal.h>

#include <atomic>
#include <mutex>

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
