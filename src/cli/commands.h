#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "coords/point_table.h"

namespace kestrova::cli {

// A command line that parses but asks for something impossible (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads the files in order, the first replacing and the rest appending. A file of
// fewer than two lines is an error here: the user named it and would get nothing.
CoordinateData LoadFiles(const std::vector<std::string>& files);

int RunInfo(const std::vector<std::string>& files, std::ostream& out);
int RunExport(const std::vector<std::string>& files, const std::string& output,
              const std::string& format, std::ostream& err);

struct DrawingOptions {
  std::vector<std::string> files;
  std::string output;         // empty: standard output (clip only)
  std::string settingsFile;   // empty: the defaults
  std::string jwcadSettings;  // empty: this machine's Jw_cad settings, if any
  uint32_t jwwVersion = 420;
  int baseRow = 1;
};

// Writes the loaded points as a Jw_cad drawing file.
int RunConvert(const DrawingOptions& options, std::ostream& err);
// Builds the clipboard drawing ("Jw_win" payload) into a file or standard output.
int RunClip(const DrawingOptions& options, std::ostream& out, std::ostream& err);

// Reads a drawing and prints its header and one line per entity (JSON with json).
int RunDump(const std::string& file, bool json, std::ostream& out);

}  // namespace kestrova::cli
