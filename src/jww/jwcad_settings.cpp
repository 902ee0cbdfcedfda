#include "jww/jwcad_settings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/utf8.h"

namespace kestrova {

void JwCadSettingsMap::SetString(std::string_view key, std::string_view name,
                                 std::string_view value) {
  Value v;
  v.kind = Value::Kind::kString;
  v.text = std::string(value);
  keys_[AsciiLower(key)][AsciiLower(name)] = std::move(v);
}

void JwCadSettingsMap::SetDword(std::string_view key, std::string_view name, uint32_t value) {
  Value v;
  v.kind = Value::Kind::kDword;
  v.dword = value;
  keys_[AsciiLower(key)][AsciiLower(name)] = std::move(v);
}

void JwCadSettingsMap::SetOther(std::string_view key, std::string_view name) {
  keys_[AsciiLower(key)][AsciiLower(name)] = Value{};
}

void JwCadSettingsMap::RemoveValue(std::string_view key, std::string_view name) {
  auto it = keys_.find(AsciiLower(key));
  if (it != keys_.end()) it->second.erase(AsciiLower(name));
}

void JwCadSettingsMap::RemoveKey(std::string_view key) {
  keys_.erase(AsciiLower(key));
}

bool JwCadSettingsMap::HasKey(std::string_view key) const {
  return keys_.count(AsciiLower(key)) != 0;
}

bool JwCadSettingsMap::OpenKey(std::string_view key) {
  auto it = keys_.find(AsciiLower(key));
  open_ = it == keys_.end() ? nullptr : &it->second;
  return open_ != nullptr;
}

std::optional<JwCadSettingsSource::Value> JwCadSettingsMap::ReadValue(std::string_view name) {
  if (!open_) return std::nullopt;
  auto it = open_->find(AsciiLower(name));
  if (it == open_->end()) return std::nullopt;
  return it->second;
}

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The text of a registry file as UTF-8.
std::string RegTextToUtf8(std::string_view bytes) {
  if (bytes.substr(0, 2) == "\xFF\xFE") return Utf16ToUtf8(bytes.substr(2), true);
  if (bytes.substr(0, 2) == "\xFE\xFF") return Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp932ToUtf8(bytes);  // REGEDIT4 files are in the ANSI code page
}

class RegParser {
 public:
  RegParser(const std::string& name, JwCadSettingsMap& out) : name_(name), out_(out) {}

  void Parse(const std::string& text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
      if (i == text.size() || text[i] == '\n') {
        std::string_view line(text.data() + start, i - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = i + 1;
      }
    }
    size_t first = 0;
    while (first < lines.size() && TrimBlanks(lines[first]).empty())
      ++first;
    const std::string_view header = first < lines.size() ? TrimBlanks(lines[first]) : "";
    if (header == "WINE REGISTRY Version 2") {
      wine_ = true;
    } else if (header != "Windows Registry Editor Version 5.00" && header != "REGEDIT4") {
      throw Error(MessageId::kRegistryFileUnknown, {name_});
    }
    for (size_t i = first + 1; i < lines.size(); ++i) {
      lineNumber_ = i + 1;
      std::string line(TrimLeftBlanks(lines[i]));
      // A value continues on the next line after a trailing backslash (hex data).
      while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
             i + 1 < lines.size()) {
        line.pop_back();
        line += TrimBlanks(lines[++i]);
      }
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (line[0] == '[') {
        KeyLine(line);
      } else if (line[0] == '"' || line[0] == '@') {
        if (key_) ValueLine(line);
      }
    }
  }

 private:
  [[noreturn]] void Fail(MessageId id, const std::string& text = {}) const {
    std::vector<std::string> args{name_, std::to_string(lineNumber_)};
    if (!text.empty()) args.push_back(text);
    throw Error(id, std::move(args));
  }

  void KeyLine(std::string_view line) {
    const size_t close = line.find(']');
    if (close == std::string_view::npos) Fail(MessageId::kRegistryKeyUnclosed);
    std::string_view path = line.substr(1, close - 1);
    bool remove = false;
    if (!path.empty() && path[0] == '-') {
      remove = true;
      path.remove_prefix(1);
    }
    std::string key;
    if (wine_) {
      // Wine doubles the backslashes of key paths.
      for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\') ++i;
        key += path[i];
      }
    } else {
      key = std::string(path);
      const std::string lower = AsciiLower(key);
      size_t cut = 0;
      for (const char* hive : {"hkey_current_user\\", "hkcu\\"}) {
        if (lower.rfind(hive, 0) == 0) cut = std::strlen(hive);
      }
      if (cut == 0) {
        key_.reset();
        return;
      }
      key = key.substr(cut);
    }
    constexpr std::string_view kRoot = "software\\jw_cad\\jw_win";
    const std::string lower = AsciiLower(key);
    if (lower.rfind(kRoot, 0) != 0 ||
        (lower.size() > kRoot.size() && lower[kRoot.size()] != '\\')) {
      key_.reset();
      return;
    }
    key_ = lower.size() > kRoot.size() ? key.substr(kRoot.size() + 1) : std::string();
    if (remove) {
      out_.RemoveKey(*key_);
      key_.reset();
      return;
    }
    out_.SetOther(*key_, "\x01placeholder");  // the key exists even without values
    out_.RemoveValue(*key_, "\x01placeholder");
  }

  // Reads a quoted string starting at line[pos] (the opening quote); pos ends after it.
  std::string Quoted(std::string_view line, size_t& pos) const {
    std::string out;
    ++pos;
    while (pos < line.size() && line[pos] != '"') {
      char c = line[pos++];
      if (c != '\\' || pos >= line.size()) {
        out += c;
        continue;
      }
      c = line[pos++];
      switch (c) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'a':
          out += '\a';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'v':
          out += '\v';
          break;
        case 'e':
          out += '\x1B';
          break;
        case 'x': {
          uint32_t cp = 0;
          int digits = 0;
          while (digits < 4 && pos < line.size() && IsHexDigit(line[pos])) {
            const char h = line[pos++];
            cp = cp * 16 + static_cast<uint32_t>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
            ++digits;
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          if (c >= '0' && c <= '7') {
            uint32_t cp = static_cast<uint32_t>(c - '0');
            for (int k = 0; k < 2 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                 ++k) {
              cp = cp * 8 + static_cast<uint32_t>(line[pos++] - '0');
            }
            AppendUtf8(out, cp);
          } else {
            out += c;  // \\ and \" and anything else stand for themselves
          }
      }
    }
    if (pos >= line.size()) Fail(MessageId::kRegistryTextUnclosed);
    ++pos;
    return out;
  }

  void ValueLine(std::string_view line) {
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else {
      name = Quoted(line, pos);
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
      ++pos;
    if (pos >= line.size() || line[pos] != '=') Fail(MessageId::kRegistryValueWithoutEquals);
    ++pos;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
      ++pos;
    const std::string_view rest = line.substr(pos);
    if (line[0] == '@') return;  // the default value is not one of Jw_cad's settings
    if (rest == "-") {
      out_.RemoveValue(*key_, name);
    } else if (!rest.empty() && rest[0] == '"') {
      size_t p = pos;
      out_.SetString(*key_, name, Quoted(line, p));
    } else if (rest.rfind("str(2):\"", 0) == 0 || rest.rfind("str(1):\"", 0) == 0) {
      size_t p = pos + 7;
      out_.SetString(*key_, name, Quoted(line, p));
    } else if (rest.rfind("dword:", 0) == 0) {
      const auto v = ParseHex(rest.substr(6));
      if (!v) Fail(MessageId::kRegistryNotDword, std::string(rest));
      out_.SetDword(*key_, name, *v);
    } else {
      out_.SetOther(*key_, name);
    }
  }

  const std::string& name_;
  JwCadSettingsMap& out_;
  bool wine_ = false;
  size_t lineNumber_ = 0;
  std::optional<std::string> key_;  // relative to Software\Jw_cad\jw_win; none outside it
};

}  // namespace

JwCadSettingsMap JwCadSettingsMap::FromRegText(std::string_view bytes, const std::string& name) {
  JwCadSettingsMap map(name);
  RegParser(name, map).Parse(RegTextToUtf8(bytes));
  return map;
}

JwCadSettingsMap JwCadSettingsMap::FromRegFile(const std::filesystem::path& path) {
  return FromRegText(ReadFileBytes(path), path.string());
}

namespace {

std::string TwoDigits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

// Reads values of the open key the way Jw_cad's own values are typed.
class SettingsReader {
 public:
  SettingsReader(JwCadSettingsSource& source) : source_(source) {}

  bool Open(const std::string& key) {
    key_ = key;
    return source_.OpenKey(key);
  }
  void Close() { source_.CloseKey(); }

  // Text converted to a number; a missing or unconvertible text gives the default.
  double Float(const std::string& name, double fallback) {
    return ParseFloat(Text(name)).value_or(fallback);
  }
  // A text size: a finite number above 0 (at least 0 for a spacing), else the default,
  // as Jw_cad itself never keeps another.
  double Size(const std::string& name, double fallback, bool zeroAllowed) {
    const std::optional<double> v = ParseFloat(Text(name));
    return v && std::isfinite(*v) && (*v > 0.0 || (zeroAllowed && *v == 0.0)) ? *v : fallback;
  }
  // Text holding hexadecimal digits (Jw_cad's colours and patterns).
  uint32_t Hex(const std::string& name) {
    const std::string text = Text(name);
    const auto v = ParseHex(text);
    if (!v) Fail(MessageId::kJwCadSettingNotHex, name, text);
    return *v;
  }
  // Text holding a decimal integer.
  uint32_t Int(const std::string& name) {
    const std::string text = Text(name);
    const auto v = ParseInt(text);
    if (!v) Fail(MessageId::kJwCadSettingNotInteger, name, text);
    return static_cast<uint32_t>(*v);
  }
  uint32_t Dword(const std::string& name) {
    const auto v = source_.ReadValue(name);
    if (!v) Fail(MessageId::kJwCadSettingMissing, name);
    if (v->kind != JwCadSettingsSource::Value::Kind::kDword)
      Fail(MessageId::kJwCadSettingNotDword, name);
    return v->dword;
  }

 private:
  std::string Text(const std::string& name) {
    const auto v = source_.ReadValue(name);
    if (!v) return std::string();
    if (v->kind != JwCadSettingsSource::Value::Kind::kString)
      Fail(MessageId::kJwCadSettingNotText, name);
    return v->text;
  }
  // text: the value as read, for the messages that quote it.
  [[noreturn]] void Fail(MessageId id, const std::string& name,
                         std::optional<std::string> text = std::nullopt) const {
    std::vector<std::string> args{source_.Describe(), key_, name};
    if (text) args.push_back(std::move(*text));
    throw Error(id, std::move(args));
  }

  JwCadSettingsSource& source_;
  std::string key_;
};

}  // namespace

bool ReadJwCadSettings(JwCadSettingsSource& source, JwwHeader& h, JwCadExtras& x) {
  SettingsReader r(source);
  bool meshFound = false;
  if (r.Open("Mesh")) {
    meshFound = true;
    h.GridMinimum = r.Float("Minimum", 15.0);
    h.GridIntervalX = r.Float("IntrvlX", 5.0);
    h.GridIntervalY = r.Float("IntrvlY", 5.0);
    r.Close();
  }
  if (r.Open("Hikage")) {
    h.ShadeHours = r.Dword("9-15Ji");
    h.ShadeMSize = r.Dword("MSize");
    h.ShadeLatitude = r.Float("Ido", 36.0);
    h.ShadeLevel = r.Float("Level", 0.0);
    h.ShadeTenkor = r.Float("TENKOR", 50.0);
    h.ShadeTLevel = r.Float("TLevel", 0.0);
    r.Close();
  }
  if (r.Open("FUKUSEN")) {
    h.ParallelEnd = r.Float("TomeDe", 0.0);
    for (int i = 0; i < 10; ++i)
      h.ParallelDistances[i] = r.Float("Value0" + std::to_string(i), 0.0);
    r.Close();
  }
  if (r.Open("Pen")) {
    for (int pen = 0; pen <= 9; ++pen) {
      h.Pens[pen].Color = r.Hex("Color" + TwoDigits(pen));
      if (pen >= 1) h.Pens[pen].Width = r.Int("Width" + TwoDigits(pen));
    }
    r.Close();
  }
  for (int pen = 1; pen <= 8; ++pen) {
    if (r.Open("Pen")) {
      h.PrinterPens[pen].Color = r.Hex("PrCol" + TwoDigits(pen));
      h.PrinterPens[pen].Width = r.Int("PrWid" + TwoDigits(pen));
      r.Close();
    }
    if (r.Open("Point")) {
      h.PrinterPens[pen].PointRadius = r.Float("Point" + std::to_string(pen), 0.1);
      r.Close();
    }
  }
  if (r.Open("Line")) {
    const auto lineType = [&r](int t, JwwLineType& l) {
      l.Pattern = r.Hex("Type_" + TwoDigits(t));
      l.UnitDots = r.Dword("Unit_" + TwoDigits(t));
      l.Pitch = r.Dword("Pitch" + TwoDigits(t));
      l.PrinterPitch = r.Dword("PrPit" + TwoDigits(t));
    };
    for (int t = 2; t <= 9; ++t)
      lineType(t, h.LineTypes[t - 2]);
    for (int t = 11; t <= 15; ++t) {
      JwwRandomLine& l = h.RandomLines[t - 11];
      l.Pattern = r.Hex("Type_" + TwoDigits(t));
      l.Amplitude = r.Dword("RandW" + TwoDigits(t));
      l.Pitch = r.Dword("Pitch" + TwoDigits(t));
      l.PrinterAmplitude = r.Dword("PrRnd" + TwoDigits(t));
      l.PrinterPitch = r.Dword("PrPit" + TwoDigits(t));
    }
    for (int t = 16; t <= 19; ++t)
      lineType(t, h.DoubleLineTypes[t - 16]);
    x.Haba100 = r.Dword("HABA-100");
    x.MaxWidth = r.Dword("MaxWidth");
    r.Close();
  }
  if (r.Open("MOJI")) {
    for (int k = 1; k <= 10; ++k) {
      JwwTextKind& t = h.TextKinds[k - 1];
      t.Width = r.Size("SizeX" + TwoDigits(k), k, false);
      t.Height = r.Size("SizeY" + TwoDigits(k), k, false);
      t.Spacing = r.Size("SizeD" + TwoDigits(k), k / 10.0, true);
      t.Color = r.Dword("Color" + TwoDigits(k));
    }
    for (int d = 1; d <= 3; ++d) {
      const double fallback = d - 2.0;  // -1, 0, 1
      h.TextOffsetX[d - 1] = r.Float("OfstX" + std::to_string(d), fallback);
      h.TextOffsetY[d - 1] = r.Float("OfstY" + std::to_string(d), fallback);
    }
    // These three are read each under its own guard: a failure gives 0 and goes on.
    try {
      x.DrawOutLine = r.Dword("DrawOutLine");
    } catch (const Error&) {
      x.DrawOutLine = 0;
    }
    try {
      x.LastDraw = r.Dword("LastDraw");
    } catch (const Error&) {
      x.LastDraw = 0;
    }
    try {
      x.OutLineExpansion = r.Float("OutLineExpansion", 1.0);
    } catch (const Error&) {
      x.OutLineExpansion = 0.0;
    }
    r.Close();
  }
  if (r.Open("Printer")) {
    h.Switches[6] = r.Dword("Color");
    h.Switches[7] = r.Dword("LayerJUN");
    h.Switches[8] = r.Dword("ColorJUN");
    r.Close();
  }
  return meshFound;
}

void InitHeaderDefaults(JwwHeader& header, JwCadSettingsSource* source, JwCadExtras& extras) {
  if (source) ReadJwCadSettings(*source, header, extras);
  SetFixedHeaderValues(header);
}

#ifndef _WIN32
std::unique_ptr<JwCadSettingsSource> DefaultJwCadSettingsSource() {
  std::vector<std::filesystem::path> candidates;
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
    candidates.push_back(std::filesystem::path(prefix) / "user.reg");
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    candidates.push_back(std::filesystem::path(home) / ".wine" / "user.reg");
  }
  for (const auto& candidate : candidates) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) {
      return std::make_unique<JwCadSettingsMap>(JwCadSettingsMap::FromRegFile(candidate));
    }
  }
  return nullptr;
}
#endif

}  // namespace kestrova
