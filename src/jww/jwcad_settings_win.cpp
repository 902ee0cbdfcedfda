// Jw_cad's settings from the Windows registry (current user), read only.

#include <windows.h>

#include <string>

#include "app/messages.h"
#include "common/windows_text.h"
#include "jww/jwcad_settings.h"

namespace kestrova {

namespace {

class RegistrySource : public JwCadSettingsSource {
 public:
  ~RegistrySource() override { CloseKey(); }

  bool OpenKey(std::string_view key) override {
    CloseKey();
    const std::wstring path = L"Software\\Jw_cad\\jw_win\\" + Utf8ToWide(key);
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key_) == ERROR_SUCCESS;
  }

  void CloseKey() override {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

  std::optional<Value> ReadValue(std::string_view name) override {
    if (!key_) return std::nullopt;
    const std::wstring wname = Utf8ToWide(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    Value v;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD d = 0;
      if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&d),
                           &size) != ERROR_SUCCESS) {
        return std::nullopt;
      }
      v.kind = Value::Kind::kDword;
      v.dword = d;
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
      DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
      if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(text.data()), &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
      }
      text.resize(bytes / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0')
        text.pop_back();
      v.kind = Value::Kind::kString;
      v.text = WideToUtf8(text);
    }
    return v;
  }

  std::string Describe() const override { return kRegistrySource; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

std::unique_ptr<JwCadSettingsSource> DefaultJwCadSettingsSource() {
  return std::make_unique<RegistrySource>();
}

}  // namespace kestrova
