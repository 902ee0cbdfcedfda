#pragma once

#include <filesystem>
#include <memory>

#include "app/messages.h"
#include "app/options_form.h"
#include "common/atomic_file.h"
#include "common/progress.h"
#include "coords/cell_grid.h"
#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "jww/clipboard.h"
#include "jww/document.h"
#include "jww/jwcad_settings.h"
#include "view/plot_view.h"

namespace kestrova {

class StreamedDrawingData;

// Everything one run of the program works on.
struct Workspace {
  CoordinateData Coords;
  DataBounds Bounds;
  OutputSettings Settings;
  uint32_t JwwVersion = 420;  // chosen per run, not stored
  JwwDocument Drawing;
  JwCadExtras JwCad;
  // The desktop program's editing surface and view; the command-line tool leaves them.
  CellGrid Grid;
  bool AppendOnLoad = false;  // the next load adds to the table
  PlotViewState View;
  bool GridEditable = true;              // a right click on the plot disables the grid and back
  OptionsForm Options;                   // the options dialog's controls between two openings
  bool ReplacedTextNoticeShown = false;  // typed characters without a code page 932 form
  // Points typed or changed since the table was loaded or saved, and a site name changed
  // since then, which only a SIMA file keeps.
  bool Unsaved = false;
  bool SiteNameUnsaved = false;
};

// The drawing-file save from the header defaults to the file: header defaults with
// Jw_cad's settings (source may be null: none), paper, write group and its scale, the
// conversion at baseRow, header and entities at JwwVersion, written atomically to path.
// Errors (no point, a scale of 0, Jw_cad settings that cannot be read, a file that
// cannot be written) throw kestrova::Error and leave any existing file as it was, and
// no temporary file. The entities go to the file as they are made: ws.Drawing keeps
// the header and EntityListCount, its lists stay empty. progress (may be null) hears
// how far the writing is; when it asks to stop, Cancelled is thrown with the same
// guarantee.
void SaveJwwFile(Workspace& ws, const std::filesystem::path& path, int baseRow,
                 JwCadSettingsSource* source, ProgressMonitor* progress = nullptr);
// The same through a writer already open (standard output for the command-line tool);
// the dialogs' start folder is left as it is.
void SaveJwwFile(Workspace& ws, std::unique_ptr<AtomicFileWriter> file, int baseRow,
                 JwCadSettingsSource* source, ProgressMonitor* progress = nullptr);

// The same save of points gathered without a table, for drawings too large to hold: the
// same bytes the same files loaded into ws.Coords give. ws.Coords is not used; simaLoaded
// says whether the last file read was SIMA.
void SaveStreamedJwwFile(Workspace& ws, const StreamedDrawingData& data, bool simaLoaded,
                         std::unique_ptr<AtomicFileWriter> file, JwCadSettingsSource* source,
                         ProgressMonitor* progress = nullptr);

// The transfer to a running Jw_cad: the conversion at baseRow with the text sizes the
// header holds (kinds still without a size take the defaults of a drawing file), then
// the payload to the sink. The header's group scales are the same afterwards. As with
// the save, ws.Drawing keeps only the header and the count; progress as there (a
// cancelled transfer hands nothing to the sink).
void TransferToJwCad(Workspace& ws, int baseRow, ClipboardSink& sink,
                     ProgressMonitor* progress = nullptr);
// The same transfer of points gathered without a table: the same payload the same files
// loaded into ws.Coords give (simaLoaded as for SaveStreamedJwwFile).
void TransferStreamedToJwCad(Workspace& ws, const StreamedDrawingData& data, bool simaLoaded,
                             ClipboardSink& sink, ProgressMonitor* progress = nullptr);

// "データが、ありません。" in UTF-8: the table holds no point.
extern const char kNoDataMessage[];
// The table's points are all unmarked, and no SIMA lines or texts would be drawn either.
extern const char kNoMarkedPointsMessage[];
// What the window says when the table is read back only up to grid row row, whose X
// cell is empty (UnreadGridRow): before a save, a drawing or a transfer goes on.
std::string UnreadGridRowText(int32_t row);
// The question before an appending load, which fills the grid again from the points:
// what the rows from row on held is lost.
std::string UnreadGridRowBeforeAppendText(int32_t row);
// What the window says of the number cells that hold no number, which the points take as
// 0 (FindCellsNotNumbers), shown as the first holds text (CP932).
std::string CellsNotNumbersText(const CellsNotNumbers& cells, const std::string& text,
                                bool appending = false);
// The question before a save whose typed name (UTF-8) loses more than its extension to
// the stem the file is named by: "R6.12.10 境界.jww" is saved as "R6.jww".
std::string CutNameQuestion(const std::string& typed, const std::string& written);

// Whether a drawing of data has anything in it: only marked points are drawn, beside a
// SIMA file's lines and texts.
bool DrawsSomething(const CoordinateData& data);

// What a drawing of version jwwVersion could not keep: the point codes of the drawn points
// that carry one, which drawings before version 300 do not hold. coded: how many there
// are. Empty when nothing was lost.
std::string PointCodesNotSaved(const std::string& name, int32_t coded, uint32_t jwwVersion,
                               const OutputSettings& settings, Language language);
// The drawn points of the table that carry a point code.
int32_t CodedPoints(const CoordinateData& data, const OutputSettings& settings);

}  // namespace kestrova
