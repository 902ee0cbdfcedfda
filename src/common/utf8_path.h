#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrova {

// A path from UTF-8 text (command-line arguments, settings). A path made straight from a
// std::string reads it in the C runtime's narrow code page on Windows, which mangles
// names such as "C:\測量\現場A\"; elsewhere the two are the same.
inline std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// The path as the system would find it from the current folder: std::filesystem::absolute,
// but on Windows a network name (\\server\share\...) stays one.
std::filesystem::path AbsolutePath(const std::filesystem::path& path);

}  // namespace kestrova
