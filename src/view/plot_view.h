#pragma once

namespace kestrova {

// A pair in view axes: h runs to the right on screen, v upwards.
struct ViewPair {
  double h = 0.0;
  double v = 0.0;
};

// The plot's transform and visible window (all zero after the table is cleared).
// A survey point (X, Y) has view coordinates (X, Y) under MathAxes, else (Y, X).
struct PlotViewState {
  double BoxWidth = 0.0;  // plot box size at the last fit, pixels
  double BoxHeight = 0.0;
  double YSign = 0.0;      // -1 once fitted: growing v goes up the screen
  double ViewScale = 0.0;  // pixels per world unit
  double WindowLeft = 0.0;
  double WindowBottom = 0.0;
  double WindowRight = 0.0;
  double WindowTop = 0.0;
  double PanStep = 0.0;  // world distance of one arrow-key pan
  ViewPair ViewMin;      // data corners and extent at the last fit, in view axes
  ViewPair ViewMax;
  ViewPair ViewExtent;
  bool MathAxes = false;  // survey X horizontal; false: X up, Y to the right
};

}  // namespace kestrova
