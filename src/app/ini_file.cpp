#include "app/ini_file.h"

#include "common/sjis.h"

namespace kestrova {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimBlanks(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(line.substr(1, close - 1));
}

// The key of a "Key=Value" line; nullopt for comments and other lines.
std::optional<std::string_view> KeyName(std::string_view line) {
  const std::string_view t = TrimLeftBlanks(line);
  if (t.empty() || t[0] == ';' || t[0] == '[') return std::nullopt;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return TrimBlanks(line.substr(0, eq));
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  // A UTF-8 byte-order mark is not part of the first section name; editors that add one
  // to a file that already has one leave several, and all of them go.
  while (text.substr(0, 3) == "\xEF\xBB\xBF")
    text.remove_prefix(3);
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
      if (i < text.size() || start < text.size())
        ini.lines_.emplace_back(text.substr(start, i - start));
      if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  return ini;
}

std::optional<size_t> IniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionName(lines_[i]);
    if (name && SameName(*name, section)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const auto at = FindSection(section);
  if (!at) return std::nullopt;
  for (size_t i = *at + 1; i < lines_.size() && !SectionName(lines_[i]); ++i) {
    const auto name = KeyName(lines_[i]);
    if (!name || !SameName(*name, key)) continue;
    std::string_view value =
        TrimBlanks(std::string_view(lines_[i]).substr(lines_[i].find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string line = std::string(key) + "=" + std::string(value);
  auto at = FindSection(section);
  if (!at) {
    if (!lines_.empty() && !TrimBlanks(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(line);
    return;
  }
  lines_[*at] = "[" + std::string(section) + "]";
  size_t end = *at + 1;
  for (; end < lines_.size() && !SectionName(lines_[end]); ++end) {
    const auto name = KeyName(lines_[end]);
    if (name && SameName(*name, key)) {
      lines_[end] = line;
      return;
    }
  }
  // After the section's last non-blank line.
  size_t insert = end;
  while (insert > *at + 1 && TrimBlanks(lines_[insert - 1]).empty())
    --insert;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), line);
}

std::string IniFile::Text() const {
  std::string out;
  for (const std::string& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

}  // namespace kestrova
