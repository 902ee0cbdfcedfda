#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

// How points become a Jw_cad drawing. Each setting is named by the settings file's
// section and key: WrtBAse.Scale is the key Scale of the section WrtBAse.
struct OutputSettings {
  struct WrtBAseSection {
    int32_t Size = 2;         // paper: "A-0" .. "A-4", "2A" .. "5A"
    double Scale = 500.0;     // the drawing is 1 : Scale
    uint32_t Group = 8;       // layer group of the drawing
    bool OutBaseFlg = false;  // the grid cursor's point is the base instead of the centre
    bool mmFlg = false;       // coordinates are millimetres, not metres
  } WrtBAse;
  struct PointSection {
    uint16_t Lay = 1;
    uint16_t LColor = 2;
    bool OutFlg = true;
    bool CodeFlg = true;
    uint16_t Code = 0;  // mark list entry: ・ △ □ ○ (none) ■ ▲ ● ∫ ＞ ／
    bool EnkoFlg = false;
    double EnkoR = 1.0;  // circle diameter
  } Point;
  struct TextSection {
    uint16_t Lay;
    uint32_t MojiNo;  // text kind 1..10
    uint32_t MojiCl;  // colour 1..8
    int32_t MojiBs;   // base point 1..9: left/centre/right of bottom, middle, top
    bool OutFlg;
  };
  TextSection PointStr{2, 3, 2, 1, true};
  TextSection XYcoord{0, 3, 1, 1, true};
  TextSection Zcoord{8, 3, 2, 1, true};
  struct CoordinateSection {
    bool Flg = true;  // survey axes (X up, Y right); false: mathematical axes
  } Coordinate;
  struct FolderSection {
    std::string name;  // start folder of the file dialogs
  } Folder;
  // The export to GIS and DXF remembers its choices in a section of its own.
  struct GisSection {
    std::string Crs;     // the survey coordinate system, "EPSG:6677"; empty: not chosen
    std::string Format;  // "gpkg", "geojson", "dxf", "kml" or "shp"; empty: not chosen
  } Gis;
  // Where the desktop program's window was when it last closed, in screen pixels; a width
  // or height of 0: never recorded.
  struct WindowSection {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t GridWidth = 0;  // the splitter: the grid's width
    bool Maximized = false;
  } Window;
};

}  // namespace kestrova
