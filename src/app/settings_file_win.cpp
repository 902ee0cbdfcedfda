// Where the settings live on Windows: beside the program, as users of portable tools
// expect; when the program sits in a folder the user cannot write (C:\Program Files),
// in %APPDATA%\Kestrova.

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "app/settings_file.h"

namespace kestrova {

namespace {

// Access bits and attributes do not tell whether a folder takes new files (ACLs,
// virtualised folders, read-only media); creating one does.
bool FolderTakesFiles(const std::filesystem::path& folder) {
  const std::filesystem::path probe = folder / L".kestrova-write-test.tmp";
  const HANDLE handle = CreateFileW(
      probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return true;
  }
  // Someone else's probe of the same name: the folder takes files.
  return GetLastError() == ERROR_FILE_EXISTS;
}

std::filesystem::path RoamingAppData() {
  wchar_t* folder = nullptr;
  std::filesystem::path result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder)) && folder) {
    result = folder;
  } else if (const wchar_t* env = _wgetenv(L"APPDATA"); env && *env) {
    result = env;
  }
  CoTaskMemFree(folder);
  return result;
}

}  // namespace

std::filesystem::path SettingsFilePath(const std::filesystem::path& programFile) {
  const std::filesystem::path folder =
      programFile.has_parent_path() ? programFile.parent_path() : L".";
  const std::filesystem::path beside = folder / kSettingsFileName;
  if (FolderTakesFiles(folder)) return beside;
  const std::filesystem::path appData = RoamingAppData();
  if (appData.empty()) return beside;
  return appData / L"Kestrova" / kSettingsFileName;
}

}  // namespace kestrova
