#include "cli/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "cli/commands.h"
#include "common/utf8_path.h"

namespace kestrova::cli {

namespace {

bool IsStandard(const std::string& name) {
  return name == kStandardStream;
}

}  // namespace

std::string InputName(const std::string& input) {
  return IsStandard(input) ? "standard input" : input;
}

std::string OutputName(const std::string& output) {
  return IsStandard(output) ? "standard output" : output;
}

std::string ReadInput(const std::string& input) {
  if (IsStandard(input)) return ReadDescriptorBytes(STDIN_FILENO, InputName(input));
  return ReadFileBytes(Utf8Path(input));
}

void CheckOutput(const std::string& output, const std::vector<std::string>& inputs) {
  if (output.empty())
    throw UsageError("the output name is empty; give a file name, or - for standard output");
  if (IsStandard(output)) return;
  struct stat out;
  // A device or pipe as output is not replaced; only an existing file can be an input.
  if (::stat(output.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) return;
  for (const std::string& input : inputs) {
    struct stat in;
    if (input.empty() || IsStandard(input) || ::stat(input.c_str(), &in) != 0) continue;
    if (in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      throw UsageError("the output " + output + " is the input " + input +
                       "; writing it would replace the file being read");
    }
  }
}

std::unique_ptr<AtomicFileWriter> OpenOutput(const std::string& output) {
  if (IsStandard(output)) {
    std::cout.flush();
    return AtomicFileWriter::ForDescriptor(STDOUT_FILENO, OutputName(output));
  }
  return std::make_unique<AtomicFileWriter>(Utf8Path(output));
}

void WriteOutput(const std::string& output, std::string_view bytes) {
  const auto writer = OpenOutput(output);
  writer->Write(bytes.data(), bytes.size());
  writer->Commit();
}

}  // namespace kestrova::cli
