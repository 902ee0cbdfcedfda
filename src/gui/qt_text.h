#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/sjis.h"

namespace kestrova {

// The core keeps code page 932 bytes or UTF-8; Qt wants UTF-16. These are the only
// crossings between the two.
inline QString Utf8ToQt(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline QString Cp932ToQt(std::string_view cp932) {
  return Utf8ToQt(Cp932ToUtf8(cp932));
}

inline std::string QtToUtf8(const QString& text) {
  return text.toStdString();
}

// Windows paths are UTF-16 like Qt's strings and cross unchanged: a narrow string there
// is the ANSI code page, which cannot hold every name a folder may have. Elsewhere a path
// is the bytes the file system holds, which QFile's encoding keeps even when they are not
// valid text.
inline QString PathToQt(const std::filesystem::path& path) {
#ifdef _WIN32
  return QString::fromStdWString(path.native());
#else
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

inline std::filesystem::path QtToPath(const QString& path) {
#ifdef _WIN32
  return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
  return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

}  // namespace kestrova
