#pragma once

#include <QIcon>

namespace kestrova {

// The nine toolbar images, index 0..8: new table, open, save, drawing save, transfer to
// Jw_win, print, options, help, quit; drawn here so they stay sharp at any scale.
inline constexpr int kToolbarIconCount = 9;
QIcon ToolbarIcon(int index);

// The window icon: a survey point mark on a sheet.
QIcon ProgramIcon();

}  // namespace kestrova
