// The desktop program's "--print-pdf" road without its window, so the PDF can be
// tested before and apart from the main window.

#include <QApplication>

#include "gui/printing.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return kestrova::RunPrintPdf(QApplication::arguments().mid(1));
}
