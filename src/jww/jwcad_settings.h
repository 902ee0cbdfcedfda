#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "jww/header.h"

namespace kestrova {

// Where Jw_cad keeps its environment settings: the current user's registry key
// "Software\Jw_cad\jw_win" on Windows; a registry export or a Wine prefix's user.reg
// elsewhere. Keys are named relative to "Software\Jw_cad\jw_win", names match without
// regard to case, as in the registry.
class JwCadSettingsSource {
 public:
  struct Value {
    enum class Kind { kString, kDword, kOther };
    Kind kind = Kind::kOther;
    std::string text;  // UTF-8
    uint32_t dword = 0;
  };

  virtual ~JwCadSettingsSource() = default;
  // Opens the key for reading without creating it; false when it does not exist.
  virtual bool OpenKey(std::string_view key) = 0;
  virtual void CloseKey() = 0;
  // A value of the open key; nullopt when it is missing.
  virtual std::optional<Value> ReadValue(std::string_view name) = 0;
  // Names the source in messages ("~/.wine/user.reg", "the registry").
  virtual std::string Describe() const = 0;
};

// Settings held in memory: what tests build, and what a .reg text parses into.
class JwCadSettingsMap : public JwCadSettingsSource {
 public:
  explicit JwCadSettingsMap(std::string description = "Jw_cad settings")
      : description_(std::move(description)) {}

  void SetString(std::string_view key, std::string_view name, std::string_view value);
  void SetDword(std::string_view key, std::string_view name, uint32_t value);
  void SetOther(std::string_view key, std::string_view name);
  void RemoveValue(std::string_view key, std::string_view name);
  void RemoveKey(std::string_view key);
  bool HasKey(std::string_view key) const;

  bool OpenKey(std::string_view key) override;
  void CloseKey() override { open_ = nullptr; }
  std::optional<Value> ReadValue(std::string_view name) override;
  std::string Describe() const override { return description_; }

  // Parses a registry export ("Windows Registry Editor Version 5.00" or "REGEDIT4";
  // UTF-16LE with byte-order mark, UTF-8 or code page 932) or a Wine prefix's user.reg
  // ("WINE REGISTRY Version 2"), keeping what lies under Software\Jw_cad\jw_win of the
  // current user. Throws kestrova::Error naming the file and line when it is neither.
  static JwCadSettingsMap FromRegText(std::string_view bytes, const std::string& name);
  static JwCadSettingsMap FromRegFile(const std::filesystem::path& path);

 private:
  using Values = std::map<std::string, Value>;
  std::map<std::string, Values> keys_;  // lower-case key -> lower-case name -> value
  Values* open_ = nullptr;
  std::string description_;
};

// Jw_cad's settings that live outside the drawing header.
struct JwCadExtras {
  uint32_t Haba100 = 0;
  uint32_t MaxWidth = 0;
  uint32_t DrawOutLine = 0;  // the text renderer's outline switch
  uint32_t LastDraw = 0;
  double OutLineExpansion = 0.0;  // margin of the text background box
};

// Reads Jw_cad's settings in Jw_cad's order into the header and extras. A missing key
// is skipped and its targets keep their values. A missing or malformed value that has
// no default ends the reading with kestrova::Error; what was read before stays.
// Returns whether the "Mesh" key exists.
bool ReadJwCadSettings(JwCadSettingsSource& source, JwwHeader& header, JwCadExtras& extras);

// Reads Jw_cad's settings again (when there is a source), then gives every header field
// with a fixed value that value.
void InitHeaderDefaults(JwwHeader& header, JwCadSettingsSource* source, JwCadExtras& extras);

// The source of this machine: the registry on Windows; elsewhere $WINEPREFIX/user.reg,
// else ~/.wine/user.reg, else none (nullptr).
std::unique_ptr<JwCadSettingsSource> DefaultJwCadSettingsSource();

}  // namespace kestrova
