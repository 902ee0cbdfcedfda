#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// A settings file with Windows profile semantics: "[Section]" lines open sections,
// "Key=Value" lines follow; section and key names match without regard to case; the
// first matching section and key count. Setting a value changes only its own line, so
// everything else a user wrote by hand (other sections, keys, comments) stays.
class IniFile {
 public:
  static IniFile Parse(std::string_view text);

  // The value with blanks around it removed, and one pair of enclosing quotes.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // Replaces the key's value, or adds the key at the end of the section, or the section
  // at the end of the file. The section's header takes the spelling given here.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // The file's text, every line ended by CR LF.
  std::string Text() const;

 private:
  std::optional<size_t> FindSection(std::string_view section) const;
  std::vector<std::string> lines_;
};

}  // namespace kestrova
