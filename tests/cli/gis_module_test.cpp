// kestrova-cli takes GDAL through the GIS module, and only when a command needs it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/gis_loader.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "support/run_program.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

const fs::path kCli = KESTROVA_CLI;
const fs::path kModule = KESTROVA_GIS_MODULE;
const std::string kSite = KESTROVA_SOURCE_DIR "/examples/site.sim";

class GisModuleLoad : public test::FolderTest {
 protected:
  GisModuleLoad() : FolderTest("kestrova-gis-module-") {}
  // kestrova-cli alone in a bin folder, as an installed program without its module.
  std::string InstalledCli() const {
    fs::create_directories(dir_ / "bin");
    fs::copy_file(kCli, dir_ / "bin" / "kestrova-cli");
    return (dir_ / "bin" / "kestrova-cli").string();
  }
  // The dynamic loader's account of every file a run maps, on standard error.
  static test::ShellResult Traced(const std::string& command) {
    return test::RunShell("LD_DEBUG=files " + command);
  }
};

TEST_F(GisModuleLoad, GdalIsMappedOnlyForGisWork) {
  WriteFileAtomic(dir_ / "one.sim", "A00,\r\nA01,1,P1,1,2,3,\r\nA99,\r\n");
  test::ShellResult r = Traced(kCli.string() + " info " + Path("one.sim"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("points: 1\n"), std::string::npos) << r.out;
  ASSERT_NE(r.out.find("file=libstdc++"), std::string::npos) << "no trace:\n" << r.out;
  EXPECT_EQ(r.out.find("libgdal"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("kestrova-gis"), std::string::npos) << r.out;

  r = Traced(kCli.string() + " export " + kSite + " -o " + Path("site.geojson") +
             " --crs EPSG:6677");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("file=" + (kCli.parent_path() / "kestrova-gis.so").string()),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("file=libgdal"), std::string::npos) << r.out;
}

TEST_F(GisModuleLoad, WithoutTheModuleGisWorkFailsNamingItAndTheRestWorks) {
  const std::string cli = InstalledCli();
  const std::string beside = (dir_ / "bin" / "kestrova-gis.so").string();
  const std::string installed =
      (dir_ / "bin" / KESTROVA_GIS_MODULE_FROM_BIN / "kestrova-gis.so").lexically_normal().string();
  const std::string missing = ": cannot open shared object file: No such file or directory";
  test::ShellResult r =
      test::RunShell(cli + " export " + kSite + " -o " + Path("site.gpkg") + " --crs EPSG:6677");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.out,
      "kestrova-cli: error: the gpkg format needs the GIS module kestrova-gis.so, which could "
      "not be loaded: " +
          beside + missing + "; " + installed + missing + "\n");
  EXPECT_FALSE(fs::exists(Path("site.gpkg")));
  WriteFileAtomic(dir_ / "p.geojson", R"({"type":"FeatureCollection","features":[]})");
  r = test::RunShell(cli + " info " + Path("p.geojson"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("kestrova-cli: error: " + Path("p.geojson") +
                            ": reading points from GIS files needs the GIS module",
                        0),
            0u)
      << r.out;

  // Everything else needs no module.
  r = test::RunShell(cli + " export " + kSite + " -o " + Path("site.zhy"));
  EXPECT_EQ(r.status, 0) << r.out;
  r = test::RunShell(cli + " info " + Path("site.zhy"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("points: 11\n"), std::string::npos) << r.out;

  // Something that is no module beside the program: said so, and the installed one is
  // taken instead.
  WriteFileAtomic(beside, std::string(4096, 'x'));
  r = test::RunShell(cli + " export " + kSite + " -o " + Path("site.gpkg") + " --crs EPSG:6677");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(beside + ": invalid ELF header; " + installed + missing), std::string::npos)
      << r.out;
  fs::create_directories(fs::path(installed).parent_path());
  fs::copy_file(kModule, installed);
  r = test::RunShell(cli + " export " + kSite + " -o " + Path("site.gpkg") + " --crs EPSG:6677");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(Path("site.gpkg")));
}

TEST(GisModule, ErrorsThrownInsideReachTheCallerAsTheirTypes) {
  // Another build's module is refused before anything is called in it.
  try {
    cli::LoadGisModule({KESTROVA_STALE_GIS_MODULE}, "the test");
    ADD_FAILURE() << "a stale module was taken";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "the test needs the GIS module kestrova-gis.so, which could not be loaded: " +
                  std::string(KESTROVA_STALE_GIS_MODULE) +
                  ": it belongs to another build (kestrova 0.0.1), not to kestrova " +
                  KESTROVA_VERSION);
  }

  const GisModule& gis = cli::LoadGisModule({"/nonexistent/kestrova-gis.so", kModule}, "the test");
  CoordinateData data;
  std::vector<std::string> warnings;
  try {
    gis.LoadAnyCoordinateFile("/nonexistent/p.geojson", "p.geojson", 6677, data, false, warnings);
    ADD_FAILURE() << "a missing file was read";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("p.geojson", 0), 0u) << e.what();
  }
  GisExportOptions options;
  options.Format = *gis.GisFormatFromName("gpkg");
  options.Epsg = 4326;
  EXPECT_THROW(gis.BuildGisExport(data, options, "x.gpkg"), Error);
}

}  // namespace
}  // namespace kestrova
