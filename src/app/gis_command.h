#pragma once

#include "app/commands.h"

namespace kestrova {

// The table to GIS and other CAD programs: the coordinate system and format chosen in a
// dialog and remembered in the settings, then the file.
void GisExportCommand(CommandContext& ctx);

// The window's load of a GIS point layer, brought into the survey system epsg (0: the
// layer's own plane system), or appended to points read from GIS files, into theirs;
// notices collects what the user should hear, in Japanese.
bool LoadGisFileWithNotices(const std::filesystem::path& file, int32_t epsg, CoordinateData& data,
                            bool append, std::vector<std::string>& notices);

}  // namespace kestrova
