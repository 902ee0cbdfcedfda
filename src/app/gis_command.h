#pragma once

#include "app/commands.h"

namespace kestrova {

// The table to GIS and other CAD programs: the coordinate system and format chosen in a
// dialog and remembered in the settings, then the file.
void GisExportCommand(CommandContext& ctx);

}  // namespace kestrova
