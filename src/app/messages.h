#pragma once

#include <exception>
#include <string>
#include <vector>

#include "common/error.h"

namespace kestrova {

// The messages the core raises by id. {1}, {2}, ... in a text stand for the arguments
// in the order listed here; where a system error is behind a message, its reason is
// the last argument.
enum class MessageId : int {
  // Reading and writing files.
  kFileCannotOpen,         // file, reason
  kFileCannotRead,         // file, reason
  kFileReadFailed,         // file
  kIsFolder,               // file
  kReadOnly,               // file
  kCannotWrite,            // file, reason
  kCannotSetPermissions,   // file, reason
  kCannotReplace,          // file, reason
  kCannotFollowLink,       // file, reason
  kTooManyLinks,           // file
  kTemporaryCannotCreate,  // folder, reason
  kTemporaryCannotWrite,   // folder, reason
  kTemporaryCannotRead,    // folder, reason
  // Loading coordinate files.
  kNotText,                // file
  kWrittenNotRead,         // file, format (DXF, KML)
  kFewerThanTwoLines,      // file
  kLaterFilesNotLoaded,    // the files' names
  kClosingFlagNotInteger,  // file, line, flag, parcel name
  kNoPointRead,            // file
  kNoApaPointRead,         // file
  // What a load had to change or guess.
  kConvertedFromUnicode,  // file
  kReplacedCharacters,    // file, count
  kNotANumberField,       // file, line, count (1)
  kNotANumberFields,      // file, line, count
  kUnclosedParcel,        // file, line
  kUnclosedPolyline,      // file, line
  kMoreUnclosedBlocks,    // file, count
  kRepeatedNumber,        // file, count (1)
  kRepeatedNumbers,       // file, count
  kRepeatedWithin,        // file, count (1), number
  kRepeatedWithinMany,    // file, count, first number
  kCommentsLikeRows,      // file, line, count
  kMisspeltRecords,       // file, line, count, the first code
  kMisspeltApaRecords,    // file, line, count, the first code
  kApaPointsAfterEnd,     // file, line of "Z", count
  kOneLineNotReadBack,    // file
  kUnsplitLine,           // file, line, count (1), separator
  kUnsplitLines,          // file, line, count, separator
  kTextCut,               // file, line, count (1)
  kTextsCut,              // file, line, count
  kLinesNotUtf8,          // file, line, count
  kUtf8ReadAsSjis,        // file, line, count
  // Settings files.
  kSettingsNotText,            // file
  kSettingNotANumber,          // file, section, key, value, value used
  kCircleDiameterNotPositive,  // diameter
  // What a save could not keep.
  kBlockNotSaved,       // file, count (1)
  kBlocksNotSaved,      // file, count
  kCornerElsewhere,     // file, count (1)
  kCornersElsewhere,    // file, count
  kNumberNotSaved,      // file, count (1)
  kNumbersNotSaved,     // file, count
  kUnmarkedNotSaved,    // file, count (1)
  kUnmarkedsNotSaved,   // file, count
  kPointCodeNotSaved,   // file, count (1), version
  kPointCodesNotSaved,  // file, count, version
  kMarkNotSaved,        // file, count (1)
  kMarksNotSaved,       // file, count
  kTextSplit,           // file, count (1), the separator in the message's language
  kTextsSplit,          // file, count, the separator in the message's language
  kHeadSplit,           // file
  kBlockCutShort,       // file, count (1)
  kBlocksCutShort,      // file, count
  kTriangleLeftOut,     // file, count (1)
  kTrianglesLeftOut,    // file, count
  // Temporary files and text conversion.
  kTemporaryWrittenAfterRead,   // folder
  kTemporaryReadBeforeWritten,  // folder
  kTemporaryShorter,            // folder
  kTextConverterMissing,        // converter, reason
  kTextConversionFailed,        // reason
  // Settings that give no drawing, positions a drawing cannot hold.
  kScaleNotUsable,      // scale
  kPointTooFar,         // number, name, row, X, Y, scale
  kLineTooFar,          // X, Y, scale
  kLabelTooFar,         // label, scale
  kCircleTooLarge,      // diameter, scale
  kTextKindNotFinite,   // text kind
  kCannotWriteDrawing,  // file, reason
  // The clipboard.
  kCannotBuildClipboardDrawing,    // reason
  kClipboardBusy,                  //
  kClipboardCannotRegisterFormat,  // format, reason
  kClipboardNoMemory,              // reason
  kClipboardCannotPrepare,         // reason
  kClipboardCannotOpen,            // reason
  kClipboardCannotEmpty,           // reason
  kClipboardCannotClose,           // reason
  kClipboardCannotPut,             // reason
  kClipboardCannotReadBack,        // reason
  // Jw_cad's settings: a registry export, or a value Jw_cad would not have written.
  kRegistryFileUnknown,         // file
  kRegistryKeyUnclosed,         // file, line
  kRegistryTextUnclosed,        // file, line
  kRegistryValueWithoutEquals,  // file, line
  kRegistryNotDword,            // file, line, text
  kJwCadSettingNotHex,          // source, key, name, text
  kJwCadSettingNotInteger,      // source, key, name, text
  kJwCadSettingMissing,         // source, key, name
  kJwCadSettingNotDword,        // source, key, name
  kJwCadSettingNotText,         // source, key, name
  // Printing the coordinate list.
  kPrinterNoUsablePage,    // width, height, horizontal dpi, vertical dpi
  kPrintLayoutOutOfRange,  // which value
  kScreenNoResolution,     //
  kGridNoRowsToPrint,      //
  kPageTooSmall,           // height needed, height between the margins
  kPrintCannotStart,       // printer
  kPrintNotStarted,        //
  kPrinterRefusedPage,     // printer
  kPrintFailed,            // printer
  kNoPrinter,              // (none)
  // GIS export from the window.
  kGisFormatUnknown,      // format
  kGisFormatNeedsSystem,  // format, hint
  // What a GIS export could not hold.
  kGisParcelNoArea,          // file, count (1)
  kGisParcelsNoArea,         // file, count
  kGisTriangleLeftOut,       // file, count (1)
  kGisTrianglesLeftOut,      // file, count
  kGisTextCut,               // file, count (1)
  kGisTextsCut,              // file, count
  kGisBlanksDropped,         // file, count (1)
  kGisBlanksDroppedMany,     // file, count
  kGisKmlBlanksDropped,      // file, count (1)
  kGisKmlBlanksDroppedMany,  // file, count
  kGisPointFar,              // file, count (1), survey system, point
  kGisPointsFar,             // file, count, survey system, first point
  kGisVertexOnPoints,        // file, count (1)
  kGisVerticesOnPoints,      // file, count
  kGisMadeInMemory,          // file, why no temporary folder could be made
  // GIS files. gdal: ": GDAL's own words", or empty.
  kGisSystemUnknown,              // system, hint
  kGisSystemNotPlane,             // system, its name, hint
  kGisCannotRead,                 // file, gdal
  kGisNoPointLayer,               // file
  kGisSystemCannotConvert,        // file, the points' system, survey system, gdal
  kGisLongitudeLatitude,          // file, the points' system, hint
  kGisFeatureNoPosition,          // file, feature, layer
  kGisFeatureCannotConvert,       // file, feature, layer, survey system, gdal
  kGisFeatureNotANumber,          // file, feature, layer
  kGisLayerHoldsNoPoint,          // file, layer
  kGisFeaturesNotPoints,          // file, count, layer
  kGisShapesNotOnPoints,          // file, count, layer, first feature
  kGisNumberNotWhole,             // file, count (1), layer, first feature
  kGisNumbersNotWhole,            // file, count, layer, first feature
  kGisSurveySystemCannotConvert,  // longitude/latitude system, gdal
  kGisPointCannotPlace,           // number, name, X, Y, gdal
  kGisPointLeadsElsewhere,        // number, name, X, Y
  kGisFeatureNotWritten,          // layer, gdal
  kGisLayerNotMade,               // layer, gdal
  kGisFieldNotMade,               // field, gdal
  kGisDxfEntitiesNotMade,         // gdal
  kGisDxfEntityNotWritten,        // gdal
  kGisFormatPlacesBySystem,       // format, hint
  kGisNoDriver,                   // format
  kGisCannotMake,                 // format, gdal
  kGisCannotFinish,               // format, gdal
  kGisWroteNothing,               // file
  kGisNoDbf,                      // file
  kGisPlacedInRemembered,         // file, system
  kGisExportNotInPointsSystem,    // chosen system, the points' system
  kGisTitleZoneQuestion,          // title, its zone, the chosen zone
  kGisTitleDatumQuestion,         // title, its datum, the chosen system's datum
  kGisDbfShort,                   // file, records, points
  kGisReadStopped,                // file, layer, features read, gdal
  kGisZNotNumber,                 // file, count (1), layer, feature
  kGisZsNotNumber,                // file, count, layer, first feature
  kGisMarkedNotBinary,            // file, count (1), layer, feature
  kGisMarksNotBinary,             // file, count, layer, first feature
  kGisTextNotUtf8,                // file, count (1), layer, first feature
  kGisTextsNotUtf8,               // file, count, layer, first feature
  kGisTextCutOnReading,           // file, count (1), layer, feature
  kGisTextsCutOnReading,          // file, count, layer, first feature
  kGisTrianglesNotRead,           // file, count
  kGisFeatureFar,                 // file, count (1), layer, feature, survey system
  kGisFeaturesFar,                // file, count, layer, first feature, survey system
  kGisNoSystemDegrees,            // file, layer
  kGisNoNumberOrName,             // file, layer, its fields
  kGisBlockNotDrawn,              // file, count (1)
  kGisBlocksNotDrawn,             // file, count
  kGisGridMissing,                // file, from, to (systems' names), grids, accuracy (m), area
  kGisLinkCannotFollow,           // file, reason
  kGisEarlierFileStays,           // file, reason
  kGisSystemsDiffer,              // file, its system, the earlier points' system, hint
};
inline constexpr int kMessageIdCount = static_cast<int>(MessageId::kGisSystemsDiffer) + 1;

enum class Language { kEnglish, kJapanese };

// How a message names the Windows registry as the source of Jw_cad's settings; the
// window says "レジストリ" instead.
inline constexpr char kRegistrySource[] = "the registry";

// The catalogue's text of id in language, before its arguments are put in.
const char* MessageTemplate(MessageId id, Language language);

// The text with its arguments put in; a missing argument stays empty.
std::string MessageText(MessageId id, const std::vector<std::string>& args, Language language);

// What the window says for a failure: the Japanese text of an Error raised with an id
// (a system error's reason in Japanese where the catalogue knows it), otherwise the
// failure's own text.
std::string WindowText(const std::exception& failure);

}  // namespace kestrova
