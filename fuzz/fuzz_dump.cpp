// kestrova-cli dump from arbitrary drawing bytes: whatever a drawing holds (names in any
// encoding, NaN and infinite values, any counts), the text is UTF-8 and the JSON is one
// valid JSON document listing as many entities as the text does.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "common/error.h"
#include "fuzz_support.h"

namespace {

// The drawing is handed over as a file, as the command reads one: a file in memory.
std::string DrawingFile(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("fuzz-dump.jww", 0);
  kestrova::fuzz::Require(fd >= 0);
  kestrova::fuzz::Require(ftruncate(fd, 0) == 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    kestrova::fuzz::Require(n > 0);
    done += static_cast<size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

size_t Lines(const std::string& text) {
  size_t n = 0;
  for (const char c : text)
    n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  using fuzz::Require;
  const std::string file = DrawingFile(data, size);
  std::ostringstream text;
  std::ostringstream json;
  bool textRead = true;
  bool jsonRead = true;
  try {
    Require(cli::RunDump(file, false, text) == 0);
  } catch (const Error&) {
    textRead = false;
  }
  try {
    Require(cli::RunDump(file, true, json) == 0);
  } catch (const Error&) {
    jsonRead = false;
  }
  Require(textRead == jsonRead);
  if (!textRead) return 0;
  const std::string t = text.str();
  const std::string j = json.str();
  Require(fuzz::ValidUtf8(t));
  Require(fuzz::JsonCheck::Valid(j));
  // One line per entity and block member after the header lines in both forms.
  const size_t header = t.find("\nentities: ");
  Require(header != std::string::npos);
  const size_t textEntities = Lines(t.substr(t.find('\n', header + 1) + 1));
  const size_t jsonEntities = Lines(j.substr(j.find("\"entities\":[") + 1)) - 2;
  Require(textEntities == jsonEntities);
  return 0;
}
