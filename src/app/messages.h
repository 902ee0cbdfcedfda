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
  kFewerThanTwoLines,      // file
  kClosingFlagNotInteger,  // file, line, flag, parcel name
  kNoPointRead,            // file
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
  kUnsplitLine,           // file, line, count (1), separator
  kUnsplitLines,          // file, line, count, separator
  kLinesNotUtf8,          // file, line, count
  kUtf8ReadAsSjis,        // file, line, count
  // Settings files.
  kSettingsNotText,            // file
  kSettingNotANumber,          // file, section, key, value, value used
  kCircleDiameterNotPositive,  // diameter
  // What a save could not keep.
  kBlockNotSaved,   // file, count (1)
  kBlocksNotSaved,  // file, count
};
inline constexpr int kMessageIdCount = static_cast<int>(MessageId::kBlocksNotSaved) + 1;

enum class Language { kEnglish, kJapanese };

// The catalogue's text of id in language, before its arguments are put in.
const char* MessageTemplate(MessageId id, Language language);

// The text with its arguments put in; a missing argument stays empty.
std::string MessageText(MessageId id, const std::vector<std::string>& args, Language language);

// What the window says for a failure: the Japanese text of an Error raised with an id
// (a system error's reason in Japanese where the catalogue knows it), otherwise the
// failure's own text.
std::string WindowText(const std::exception& failure);

}  // namespace kestrova
