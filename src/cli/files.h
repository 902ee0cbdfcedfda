#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/atomic_file.h"
#include "common/spill_file.h"
#include "coords/coordinate_file.h"

namespace kestrova::cli {

// The files a command reads and writes. "-" stands for standard input or output; any
// other name is a file (or a pipe, FIFO or device), written through AtomicFileWriter.
inline constexpr std::string_view kStandardStream = "-";

// The name used in messages: the path, or "standard input" / "standard output" for "-".
std::string InputName(const std::string& input);
std::string OutputName(const std::string& output);

// All bytes of an input.
std::string ReadInput(const std::string& input);
// The same in a temporary file, read a piece at a time (standard input or a pipe, to be
// read more than once): made once the first bytes are read, so that a closed standard
// input says so rather than its number going to the temporary file. Each piece is shown
// to look first, which may throw, or return false where the bytes so far are all the
// reader will use.
std::unique_ptr<SpillFile> SpoolInput(const std::string& input,
                                      const std::function<bool(std::string_view)>& look);

// Loads a coordinate input as LoadCoordinateFile does: a file a piece at a time;
// standard input, or a pipe or device named as a file, from where it is kept for the
// whole command once read.
bool LoadInput(const std::string& input, CoordinateData& data, bool append, LoadReport* report,
               ProgressMonitor* progress, const LoadTuning& tuning = {});
// The same handing the points to sink (see StreamCoordinateFile).
bool StreamInput(const std::string& input, LoadSink& sink, CoordinateData& data, LoadReport* report,
                 ProgressMonitor* progress);

// Refuses, as a usage error, an empty output name and an output that is one of the
// inputs (the same file by identity, whatever the spelling or links): writing it would
// replace what is being read. A file output is refused as well when standard error
// goes to it ("-o - > out.jww 2>&1"), as the messages would land among its bytes,
// unless the output is text for people to read (textOutput).
void CheckOutput(const std::string& output, const std::vector<std::string>& inputs,
                 bool textOutput = false);
// The same for several outputs (the files of one set), looking at the inputs once. An
// output read with an input Shapefile (its .dbf, the parcels' set beside it) is refused
// as well.
void CheckOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs,
                  bool textOutput = false);

// The name with its extension's letters in upper case: "site.SHP" for "site.shp".
std::filesystem::path UpperExtension(const std::filesystem::path& name);

// The writer for an output; Commit it when everything is written.
std::unique_ptr<AtomicFileWriter> OpenOutput(const std::string& output);

// Writes bytes to an output and commits.
void WriteOutput(const std::string& output, std::string_view bytes);

// Prints into a writer, for code that writes to a stream. A write the writer fails sets
// badbit, with errno saying why (see CheckWritten); nothing is written after it.
class WriterStream final : public std::ostream {
 public:
  explicit WriterStream(AtomicFileWriter& writer);
  ~WriterStream() override;  // hands on what it holds, as a plain stream would

  // Hands on what it holds; throws the writer's own error for any write that failed.
  void Finish();

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
};

// Throws the error of a stream that could not be written (a full disk, a failing
// device), naming it; errno, as the failed write left it, gives the reason.
void CheckWritten(std::ostream& out, const std::string& name);

}  // namespace kestrova::cli
