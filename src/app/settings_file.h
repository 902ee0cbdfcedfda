#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "app/messages.h"
#include "coords/output_settings.h"

namespace kestrova {

// A value of the file that is not a number (or not a finite one): the setting keeps
// its default, used.
struct UnreadSetting {
  std::string Section;
  std::string Key;
  std::string Value;
  std::string Used;
};

// The warnings for them, naming the file (UTF-8), in language.
std::vector<std::string> UnreadSettingWarnings(const std::vector<UnreadSetting>& unread,
                                               const std::string& file, Language language);

// Fills settings from the settings file's text. A missing key or a value that does
// not convert gives the default (a value that is there but does not convert is added to
// unread when given); 16-bit settings keep the low 16 bits. Values a hand
// edit may have put out of reach of the options dialog are brought to the nearest
// valid one: base points to 1..9, text kinds to 1..10, layers and the group to 0..15;
// each such value is added to adjusted when given ("[Section] Key=file's → used").
// programFolder is the default of Folder.name.
OutputSettings ReadSettings(const IniFile& ini, const std::string& programFolder,
                            std::vector<std::string>* adjusted = nullptr,
                            std::vector<UnreadSetting>* unread = nullptr);

// Writes every setting into ini, under "WrtBAse", "Point", "PointStr", "XYcoord",
// "Zcoord", "Coordinate" and "Folder".
void WriteSettings(const OutputSettings& settings, IniFile& ini);

// The window's recorded place when it can be used: a size of at least 200 x 150, the
// splitter brought within the window. nullopt: never recorded or out of reach, the
// window opens where it always did.
std::optional<OutputSettings::WindowSection> UsableWindowPlace(
    const OutputSettings::WindowSection& window);

// The settings file's name wherever it lives, and the name earlier versions gave it
// beside the program on Linux.
inline constexpr char kSettingsFileName[] = "Kestrova.INI";
inline constexpr char kOldSettingsFileName[] = "kestrova.INI";

// Reads the file (a missing file reads as empty: all defaults). A missing Kestrova.INI
// is looked for under its old name in the same folder. UTF-16 with a byte-order mark is
// read as text; a file that is no INI text (NUL bytes, control codes, no section: a
// drawing, UTF-16 without its mark, random bytes) throws an Error naming it.
OutputSettings ReadSettingsFile(const std::filesystem::path& path, const std::string& programFolder,
                                std::vector<std::string>* adjusted = nullptr,
                                std::vector<UnreadSetting>* unread = nullptr);

// Writes the settings into the file, keeping whatever else it holds, atomically;
// creates its folder when needed. An existing file that is no INI text is not
// replaced: an Error names it.
void WriteSettingsFile(const OutputSettings& settings, const std::filesystem::path& path);

// Where the settings live: Kestrova.INI beside the program when that folder is writable,
// as Windows users keep it; otherwise the user's configuration folder ($XDG_CONFIG_HOME,
// else ~/.config; on Windows %APPDATA%), then Kestrova/Kestrova.INI.
std::filesystem::path SettingsFilePath(const std::filesystem::path& programFile);

}  // namespace kestrova
