// A GIS module as an older build left it: the table of another program version.

#include "gis/gis_module.h"

extern "C" __attribute__((visibility("default"))) const kestrova::GisModule* KestrovaGisModule() {
  static kestrova::GisModule table;
  table.ProgramVersion = "0.0.1";
  return &table;
}
