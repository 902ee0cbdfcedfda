// The desktop program's start on a large site: from the moment the window is built to
// the grid filled with every point of a SIMA file and painted, on Qt's offscreen
// platform. Runs five times in one process (the first pays for font and style set-up)
// and prints each time and the median of the last four.
//
//   QT_QPA_PLATFORM=offscreen kestrova_window_load [points]

#include <QApplication>
#include <QHeaderView>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/generate.h"
#include "gui/fonts.h"
#include "gui/main_window.h"
#include "gui/point_grid.h"
#include "gui/qt_text.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  kestrova::InstallFontSubstitutes();
  QApplication::setFont(kestrova::GothicFont(12));
  const int points = argc > 1 ? std::atoi(argv[1]) : 100'000;
  const std::filesystem::path sima = kestrova::bench::GeneratedSima(points);
  QTemporaryDir settings;

  std::vector<double> times;
  for (int run = 0; run < 5; ++run) {
    auto ws = std::make_unique<kestrova::Workspace>();
    const auto start = std::chrono::steady_clock::now();
    kestrova::MainWindowSetup setup;
    setup.settingsFile = kestrova::QtToPath(settings.filePath(QStringLiteral("Kestrova.INI")));
    setup.programFolder = kestrova::QtToPath(settings.path());
    kestrova::MainWindow window(*ws, std::move(setup));
    window.Start();
    window.show();
    window.LoadFiles({sima});
    QApplication::processEvents();
    window.Grid().viewport()->repaint();
    window.Grid().verticalHeader()->viewport()->repaint();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ws->Coords.Table.PointCount != points) {
      std::fprintf(stderr, "loaded %d points of %d\n", ws->Coords.Table.PointCount, points);
      return 1;
    }
    times.push_back(seconds);
    std::printf("run %d: %.3f s\n", run + 1, seconds);
  }
  std::vector<double> warm(times.begin() + 1, times.end());
  std::sort(warm.begin(), warm.end());
  std::printf("points: %d\nfirst run: %.3f s\nmedian of the other runs: %.3f s\n", points,
              times.front(), (warm[1] + warm[2]) / 2.0);
  return 0;
}
