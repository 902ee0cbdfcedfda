#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "coords/point_table.h"

namespace kestrova {

// What a load had to change to read a file, for the user to hear about.
struct LoadReport {
  bool convertedFromUtf8 = false;  // the file was UTF-8 or UTF-16
  size_t replacedCharacters = 0;   // characters without a code page 932 form, now "?"
};

// Reads a coordinate file into data: SIMA when the first field of the first line is
// "G00", "A00" or "Z00", APA when it is "A" followed by a field starting with "0",
// otherwise a comma, tab or space separated list (the separator chosen by the first
// line). With appendOnLoad the file's points are added after the existing rows (and its
// parcels may refer to them); otherwise the file replaces the points and the SIMA
// segments and labels.
//
// All or nothing: returns false with nothing changed for a file of fewer than two
// lines, throws kestrova::Error ("FILE:LINE: ...") with nothing changed when the file
// cannot be read or a record cannot be understood, and otherwise commits the whole
// file and returns true. Files in UTF-8 (with or without a byte-order mark) are
// recognised and their text brought to code page 932; a valid code page 932 file is
// taken byte for byte. UTF-16 with a byte-order mark is converted too.
bool LoadCoordinateFile(const std::filesystem::path& path, CoordinateData& data, bool appendOnLoad,
                        LoadReport* report = nullptr);

// The same for text already in memory; name is used in error messages only.
bool LoadCoordinateText(std::string bytes, const std::string& name, CoordinateData& data,
                        bool appendOnLoad, LoadReport* report = nullptr);

// Area centroid of the closed polygon through the vertices, (0, 0) for zero area.
struct CentroidResult {
  double X = 0.0;
  double Y = 0.0;
  double Area = 0.0;
};
CentroidResult PolygonCentroid(const std::vector<std::pair<double, double>>& vertices);

enum class CoordinateFormat { kZhy, kSima, kApa, kCsv };

// The save dialog's filter index (1-based): 2 SIMA, 3 APA, 4 tab list, else ZHY.
CoordinateFormat CoordinateFormatFromFilterIndex(int index);
// ".zhy", ".sim", ".apa", ".csv".
const char* CoordinateFormatExtension(CoordinateFormat format);
// From a file name's extension, without regard to case; nullopt when it names none.
std::optional<CoordinateFormat> CoordinateFormatFromPath(const std::filesystem::path& path);
// "zhy", "sima", "apa", "csv".
std::optional<CoordinateFormat> CoordinateFormatFromName(std::string_view name);

// The file's bytes: CR LF after every line, code page 932, numbers rounded to six
// decimals in the general 15-digit form.
std::string FormatCoordinateFile(const CoordinateData& data, CoordinateFormat format);

// Writes all rows (marked or not) to path, atomically.
void SaveCoordinateFile(const std::filesystem::path& path, const CoordinateData& data,
                        CoordinateFormat format);

// The file name without its folder, cut before its first ".".
std::string FileStem(const std::filesystem::path& path);

// The APA check character: 32 + (byte sum of the line modulo 64).
char CheckChar(std::string_view line);

}  // namespace kestrova
