#pragma once

#include "app/commands.h"
#include "common/progress.h"

namespace kestrova {

// The table to GIS and other CAD programs: the coordinate system and format chosen in a
// dialog and remembered in the settings, then the file.
void GisExportCommand(CommandContext& ctx);

// The window's load of a GIS point layer: in its own plane system, or appended to points
// read from GIS files, in theirs; a layer in longitude and latitude in the survey system
// epsg (the one remembered). notices collects what the user should hear, in Japanese;
// progress (may be null) follows the points' reading and may stop it.
bool LoadGisFileWithNotices(const std::filesystem::path& file, int32_t epsg, CoordinateData& data,
                            bool append, std::vector<std::string>& notices,
                            ProgressMonitor* progress = nullptr);

}  // namespace kestrova
