#include "app/settings_file.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"

namespace kestrova {

namespace {

class Reader {
 public:
  Reader(const IniFile& ini, std::vector<std::string>* adjusted, std::vector<UnreadSetting>* unread)
      : ini_(ini), adjusted_(adjusted), unread_(unread) {}

  // A value out of reach of the options dialog is read as the nearest valid one, and
  // told (section, key, the file's value and the one used), so no hand edit is lost
  // without a word.
  int32_t InRange(const char* section, const char* key, int32_t value, int32_t low,
                  int32_t high) const {
    const int32_t used = std::clamp(value, low, high);
    if (used != value && adjusted_) {
      adjusted_->push_back("[" + std::string(section) + "] " + key + "=" + std::to_string(value) +
                           " \xE2\x86\x92 " + std::to_string(used));
    }
    return used;
  }

  int32_t Int(const char* section, const char* key, int32_t fallback) const {
    const auto text = ini_.Get(section, key);
    if (!text) return fallback;
    const auto value = ParseInt(*text, IntForms::kDecimalOrHex0x);
    if (!value) Unread(section, key, *text, std::to_string(fallback));
    return value.value_or(fallback);
  }
  uint16_t U16(const char* section, const char* key, int32_t fallback) const {
    return static_cast<uint16_t>(Int(section, key, fallback) & 0xFFFF);
  }
  bool Bool(const char* section, const char* key, bool fallback) const {
    return Int(section, key, fallback ? 1 : 0) != 0;
  }
  double Float(const char* section, const char* key, double fallback) const {
    const auto text = ini_.Get(section, key);
    if (!text) return fallback;
    const auto value = ParseFloat(*text);  // no infinity, no NaN
    if (!value) Unread(section, key, *text, FormatGeneral(fallback));
    return value.value_or(fallback);
  }
  std::string Text(const char* section, const char* key, const std::string& fallback) const {
    return ini_.Get(section, key).value_or(fallback);
  }

 private:
  // A value that is there and not a number is told; an empty one is a value left out.
  void Unread(const char* section, const char* key, const std::string& value,
              std::string used) const {
    if (unread_ && !TrimBlanks(value).empty()) {
      unread_->push_back(UnreadSetting{section, key, value, std::move(used)});
    }
  }

  const IniFile& ini_;
  std::vector<std::string>* adjusted_;
  std::vector<UnreadSetting>* unread_;
};

// The text of a settings file: UTF-16 with its byte-order mark becomes UTF-8; other
// text is taken as it is. What is no INI text is refused rather than read as all
// defaults, and rather than replaced by a settings file at the next close.
std::string SettingsText(const std::filesystem::path& file) {
  std::string bytes = ReadFileBytes(file);
  const std::string_view view(bytes);
  if (view.substr(0, 2) == "\xFF\xFE" || view.substr(0, 2) == "\xFE\xFF") {
    bytes = Utf16ToUtf8(view.substr(2), view[0] == '\xFF');
  } else if (view.starts_with("\xEF\xBB\xBF")) {
    bytes.erase(0, 3);  // the mark some editors put before UTF-8 text
  }
  // Control codes other than tab, line ends, form feed and an end-of-file mark are no
  // text; lines that hold something but no section header are no settings.
  bool text = std::none_of(bytes.begin(), bytes.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\t' && u != '\r' && u != '\n' && u != '\f' && u != 0x1A) || u == 0x7F;
  });
  if (text) {
    bool content = false;
    bool section = false;
    size_t start = 0;
    while (start <= bytes.size() && !section) {
      size_t end = bytes.find_first_of("\r\n", start);
      if (end == std::string::npos) end = bytes.size();
      const std::string_view line = TrimBlanks(std::string_view(bytes).substr(start, end - start));
      if (!line.empty() && line[0] != ';' && line[0] != '#') {
        content = true;
        section = line[0] == '[' && line.find(']') != std::string_view::npos;
      }
      start = end + 1;
    }
    text = section || !content;
  }
  if (!text) {
    const std::u8string name = file.u8string();
    throw Error(MessageId::kSettingsNotText, {std::string(name.begin(), name.end())});
  }
  return bytes;
}

OutputSettings::TextSection ReadText(const Reader& r, const char* section,
                                     const OutputSettings::TextSection& d) {
  OutputSettings::TextSection t;
  t.Lay = static_cast<uint16_t>(r.InRange(section, "Lay", r.U16(section, "Lay", d.Lay), 0, 15));
  t.MojiNo = static_cast<uint32_t>(r.InRange(
      section, "MojiNo", r.Int(section, "MojiNo", static_cast<int32_t>(d.MojiNo)), 1, 10));
  t.MojiCl = static_cast<uint32_t>(r.Int(section, "MojiCl", static_cast<int32_t>(d.MojiCl)));
  t.MojiBs = r.InRange(section, "MojiBs", r.Int(section, "MojiBs", d.MojiBs), 1, 9);
  t.OutFlg = r.Bool(section, "OutFlg", d.OutFlg);
  return t;
}

void WriteText(IniFile& ini, const char* section, const OutputSettings::TextSection& t) {
  ini.Set(section, "Lay", std::to_string(t.Lay));
  ini.Set(section, "MojiNo", std::to_string(t.MojiNo));
  // Read as a signed number, so written as one: a hand-edited -5 must read back the same.
  ini.Set(section, "MojiCl", std::to_string(static_cast<int32_t>(t.MojiCl)));
  ini.Set(section, "MojiBs", std::to_string(t.MojiBs));
  ini.Set(section, "OutFlg", t.OutFlg ? "1" : "0");
}

// Reading drops the blanks around a value and one pair of enclosing quotes, as Windows
// does: a text that would lose something by that is written inside quotes.
std::string ProfileText(const std::string& value) {
  const bool enclosed = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
  if (enclosed || TrimBlanks(value).size() != value.size()) return "\"" + value + "\"";
  return value;
}

}  // namespace

std::vector<std::string> UnreadSettingWarnings(const std::vector<UnreadSetting>& unread,
                                               const std::string& file, Language language) {
  std::vector<std::string> out;
  for (const UnreadSetting& u : unread) {
    out.push_back(MessageText(
        MessageId::kSettingNotANumber,
        {file, u.Section, u.Key, IsValidUtf8(u.Value) ? u.Value : Cp932ToUtf8(u.Value), u.Used},
        language));
  }
  return out;
}

OutputSettings ReadSettings(const IniFile& ini, const std::string& programFolder,
                            std::vector<std::string>* adjusted,
                            std::vector<UnreadSetting>* unread) {
  const Reader r(ini, adjusted, unread);
  const OutputSettings d;
  OutputSettings s;
  // The drawing's header takes the paper as it is. The dialog lists nine; Jw_cad's own
  // paper codes go up to 14 (its larger sheets), which a hand edit may mean. Beyond them
  // no paper is meant.
  s.WrtBAse.Size = r.InRange("WrtBAse", "Size", r.Int("WrtBAse", "Size", d.WrtBAse.Size), 0, 14);
  s.WrtBAse.Scale = r.Float("WrtBase", "Scale", 500.0);
  s.WrtBAse.Group =
      static_cast<uint32_t>(r.InRange("WrtBase", "Group", r.Int("WrtBase", "Group", 8), 0, 15));
  s.WrtBAse.OutBaseFlg = r.Bool("WrtBase", "OutBaseFlg", false);
  s.WrtBAse.mmFlg = r.Bool("WrtBAse", "mmFlg", false);
  s.Point.Lay =
      static_cast<uint16_t>(r.InRange("Point", "Lay", r.U16("Point", "Lay", d.Point.Lay), 0, 15));
  s.Point.LColor = r.U16("Point", "LColor", d.Point.LColor);
  s.Point.OutFlg = r.Bool("Point", "OutFlg", d.Point.OutFlg);
  s.Point.CodeFlg = r.Bool("Point", "CodeFlg", d.Point.CodeFlg);
  s.Point.Code = r.U16("Point", "Code", d.Point.Code);
  s.Point.EnkoFlg = r.Bool("Point", "EnkoFlg", d.Point.EnkoFlg);
  s.Point.EnkoR = r.Float("Point", "EnkoR", 1.0);
  s.PointStr = ReadText(r, "PointStr", d.PointStr);
  s.XYcoord = ReadText(r, "XYcoord", d.XYcoord);
  s.Zcoord = ReadText(r, "Zcoord", d.Zcoord);
  s.Coordinate.Flg = r.Bool("Coordinate", "Flg", d.Coordinate.Flg);
  s.Folder.name = r.Text("Folder", "name", programFolder);
  // This program writes UTF-8; a folder typed in with Notepad on a Japanese Windows, or
  // kept from other software, is code page 932 (and as such no name a path can be made of
  // on Windows). Elsewhere a folder's name may be any bytes: one that is there stays.
  if (!IsValidUtf8(s.Folder.name)) {
    std::error_code ec;
#ifdef _WIN32
    const bool there = false;
#else
    const bool there = std::filesystem::is_directory(s.Folder.name, ec);
#endif
    if (!there) s.Folder.name = Cp932ToUtf8(s.Folder.name);
  }
  s.Gis.Crs = r.Text("Gis", "Crs", "");
  s.Gis.Format = r.Text("Gis", "Format", "");
  s.Window.Left = r.Int("Window", "Left", 0);
  s.Window.Top = r.Int("Window", "Top", 0);
  s.Window.Width = r.Int("Window", "Width", 0);
  s.Window.Height = r.Int("Window", "Height", 0);
  s.Window.GridWidth = r.Int("Window", "GridWidth", 0);
  s.Window.Maximized = r.Bool("Window", "Maximized", false);
  // Without point output there is no point to carry a code (the options dialog clears
  // the code switch in that case too).
  if (!s.Point.OutFlg) s.Point.CodeFlg = false;
  return s;
}

void WriteSettings(const OutputSettings& s, IniFile& ini) {
  ini.Set("WrtBAse", "Size", std::to_string(s.WrtBAse.Size));
  ini.Set("WrtBAse", "Scale", FormatGeneral(s.WrtBAse.Scale));
  ini.Set("WrtBAse", "Group", std::to_string(s.WrtBAse.Group));
  ini.Set("WrtBAse", "OutBaseFlg", s.WrtBAse.OutBaseFlg ? "1" : "0");
  ini.Set("WrtBAse", "mmFlg", s.WrtBAse.mmFlg ? "1" : "0");
  ini.Set("Point", "Lay", std::to_string(s.Point.Lay));
  ini.Set("Point", "LColor", std::to_string(s.Point.LColor));
  ini.Set("Point", "OutFlg", s.Point.OutFlg ? "1" : "0");
  ini.Set("Point", "CodeFlg", s.Point.CodeFlg ? "1" : "0");
  ini.Set("Point", "Code", std::to_string(s.Point.Code));
  ini.Set("Point", "EnkoFlg", s.Point.EnkoFlg ? "1" : "0");
  ini.Set("Point", "EnkoR", FormatGeneral(s.Point.EnkoR));
  WriteText(ini, "PointStr", s.PointStr);
  WriteText(ini, "XYcoord", s.XYcoord);
  WriteText(ini, "Zcoord", s.Zcoord);
  ini.Set("Coordinate", "Flg", s.Coordinate.Flg ? "1" : "0");
  ini.Set("Folder", "name", ProfileText(s.Folder.name));
  // A file of someone who never exported to GIS stays as it was: the section appears
  // with the first choice.
  for (const auto& [key, value] :
       {std::pair{"Crs", &s.Gis.Crs}, std::pair{"Format", &s.Gis.Format}}) {
    if (!value->empty() || ini.Get("Gis", key)) ini.Set("Gis", key, ProfileText(*value));
  }
  // Likewise the window's place: the command-line tool and a window never shown leave
  // the file as it was.
  const OutputSettings::WindowSection& w = s.Window;
  if (w.Width > 0 && w.Height > 0) {
    ini.Set("Window", "Left", std::to_string(w.Left));
    ini.Set("Window", "Top", std::to_string(w.Top));
    ini.Set("Window", "Width", std::to_string(w.Width));
    ini.Set("Window", "Height", std::to_string(w.Height));
    ini.Set("Window", "GridWidth", std::to_string(w.GridWidth));
    ini.Set("Window", "Maximized", w.Maximized ? "1" : "0");
  }
}

std::optional<OutputSettings::WindowSection> UsableWindowPlace(
    const OutputSettings::WindowSection& w) {
  // Beyond these a hand edit or a screen since removed put the window out of reach.
  constexpr int32_t kMinWidth = 200, kMinHeight = 150, kMaxSide = 32767, kMaxOffset = 65535;
  if (w.Width < kMinWidth || w.Height < kMinHeight || w.Width > kMaxSide || w.Height > kMaxSide ||
      w.Left < -kMaxOffset || w.Left > kMaxOffset || w.Top < -kMaxOffset || w.Top > kMaxOffset) {
    return std::nullopt;
  }
  OutputSettings::WindowSection usable = w;
  // The grid keeps room for the plot beside it.
  usable.GridWidth = std::clamp(w.GridWidth, 0, std::max(w.Width - 40, 0));
  return usable;
}

OutputSettings ReadSettingsFile(const std::filesystem::path& path, const std::string& programFolder,
                                std::vector<std::string>* adjusted,
                                std::vector<UnreadSetting>* unread) {
  std::error_code ec;
  std::filesystem::path file = path;
  // Earlier versions named the file after the program, in lower case on Linux: its
  // settings are read until the first close writes Kestrova.INI.
  if (!std::filesystem::exists(file, ec) && path.filename() == kSettingsFileName) {
    file = path.parent_path() / kOldSettingsFileName;
  }
  if (!std::filesystem::exists(file, ec)) return ReadSettings(IniFile{}, programFolder);
  return ReadSettings(IniFile::Parse(SettingsText(file)), programFolder, adjusted, unread);
}

void WriteSettingsFile(const OutputSettings& settings, const std::filesystem::path& path) {
  IniFile ini;
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) ini = IniFile::Parse(SettingsText(path));
  WriteSettings(settings, ini);
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  WriteFileAtomic(path, ini.Text());
}

#ifndef _WIN32  // Windows: settings_file_win.cpp
std::filesystem::path SettingsFilePath(const std::filesystem::path& programFile) {
  const std::filesystem::path folder =
      programFile.has_parent_path() ? programFile.parent_path() : ".";
  const std::filesystem::path beside = folder / kSettingsFileName;
  // A copy unpacked anywhere keeps its settings beside it; one installed in the system's
  // program folders never writes there, even run by the administrator, who may.
  std::error_code ec;
  const std::string where = std::filesystem::weakly_canonical(folder, ec).generic_string() + "/";
  const bool installed =
      !ec && (where.starts_with("/usr/") || where == "/bin/" || where == "/sbin/");
  if (!installed && ::access(folder.c_str(), W_OK) == 0) return beside;
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = std::filesystem::path(home) / ".config";
  } else {
    return beside;
  }
  return config / "Kestrova" / kSettingsFileName;
}
#endif

}  // namespace kestrova
