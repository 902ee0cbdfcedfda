#include "cli/files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <streambuf>
#include <vector>

#include "app/messages.h"
#include "cli/commands.h"
#include "common/error.h"
#include "common/sjis.h"
#include "common/spill_file.h"
#include "common/utf8_path.h"
#include "gis/gis_export.h"

namespace kestrova::cli {

namespace {

bool IsStandard(const std::string& name) {
  return name == kStandardStream;
}

// Which file a name stands for, whatever its spelling or links: nothing for a name
// that is no existing regular file.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

#ifdef _WIN32
std::optional<FileIdentity> IdentityOf(const std::string& name) {
  const std::filesystem::path path = Utf8Path(name);
  // \\.\pipe\... and other devices: opening one to look could take a pipe's connection.
  const std::wstring& w = path.native();
  if (w.size() > 4 && (w[0] == L'\\' || w[0] == L'/') && (w[1] == L'\\' || w[1] == L'/') &&
      w[2] == L'.' && (w[3] == L'\\' || w[3] == L'/')) {
    return std::nullopt;
  }
  const HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileType(handle) == FILE_TYPE_DISK &&
                     GetFileInformationByHandle(handle, &info) &&
                     (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(handle);
  if (!known) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// Standard input or output that a shell redirected from or to a file ("< a.sim",
// "> out.zhy") is that file.
std::optional<FileIdentity> StandardIdentityOf(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return FileIdentity{info.dwVolumeSerialNumber,
                      (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}
std::optional<FileIdentity> StandardInput() {
  return StandardIdentityOf(STD_INPUT_HANDLE);
}
std::optional<FileIdentity> StandardOutput() {
  return StandardIdentityOf(STD_OUTPUT_HANDLE);
}
std::optional<FileIdentity> StandardError() {
  return StandardIdentityOf(STD_ERROR_HANDLE);
}
#else
std::optional<FileIdentity> Identity(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}
std::optional<FileIdentity> IdentityOf(const std::string& name) {
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) return std::nullopt;
  return Identity(st);
}
// Standard input or output that a shell redirected from or to a file ("< a.sim",
// "> out.zhy") is that file.
std::optional<FileIdentity> StandardIdentityOf(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return Identity(st);
}
std::optional<FileIdentity> StandardInput() {
  return StandardIdentityOf(STDIN_FILENO);
}
std::optional<FileIdentity> StandardOutput() {
  return StandardIdentityOf(STDOUT_FILENO);
}
std::optional<FileIdentity> StandardError() {
  return StandardIdentityOf(STDERR_FILENO);
}
#endif

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

namespace {

// All bytes of an input handed to take a piece at a time as they are read, until take
// returns false.
void ReadInputPieces(const std::string& input, const std::function<bool(std::string_view)>& take) {
  if (IsStandard(input)) {
    ReadDescriptorPieces(STDIN_FILENO, InputName(input), take);
    return;
  }
  const std::filesystem::path path = Utf8Path(input);
  std::error_code ec;
  std::ifstream in;
  if (!std::filesystem::is_directory(path, ec)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    take(ReadFileBytes(path));  // the message a whole read gives
    return;
  }
  std::vector<char> block(size_t{1} << 20);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    if (in.gcount() > 0 &&
        !take(std::string_view(block.data(), static_cast<size_t>(in.gcount())))) {
      return;
    }
  }
  if (in.bad()) throw Error(MessageId::kFileReadFailed, {InputName(input)});
}

// Coordinates that can be read only once (standard input, or a pipe or device named as
// a file, as a shell's <(...) gives), read into a temporary file at their first reading:
// a load goes over them twice, and a command that finds it needs a table after streaming
// them reads them once more. Nothing for a file that can be read again.
SpillFile* OnceOnlySpool(const std::string& input) {
  if (!IsStandard(input)) {
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(Utf8Path(input), ec).type();
    if (ec || type == std::filesystem::file_type::regular ||
        type == std::filesystem::file_type::directory) {
      return nullptr;
    }
  }
  static std::map<std::string, std::unique_ptr<SpillFile>> spools;
  std::unique_ptr<SpillFile>& spool = spools[input];
  if (!spool) {
    spool = SpoolText(InputName(input),
                      [&input](const PieceTaker& take) { ReadInputPieces(input, take); });
  }
  return spool.get();
}

}  // namespace

std::unique_ptr<SpillFile> SpoolInput(const std::string& input,
                                      const std::function<bool(std::string_view)>& look) {
  std::unique_ptr<SpillFile> spool;
  ReadInputPieces(input, [&spool, &look](std::string_view piece) {
    const bool more = look(piece);
    if (!spool) spool = MakeInputSpool();
    spool->Write(piece.data(), piece.size());
    return more;
  });
  return spool ? std::move(spool) : MakeInputSpool();
}

bool LoadInput(const std::string& input, CoordinateData& data, bool append, LoadReport* report,
               ProgressMonitor* progress, const LoadTuning& tuning) {
  if (SpillFile* spool = OnceOnlySpool(input)) {
    return LoadCoordinateSpool(*spool, InputName(input), data, append, report, progress, tuning);
  }
  return LoadCoordinateFile(Utf8Path(input), data, append, report, progress, tuning);
}

bool StreamInput(const std::string& input, LoadSink& sink, CoordinateData& data, LoadReport* report,
                 ProgressMonitor* progress) {
  if (SpillFile* spool = OnceOnlySpool(input)) {
    return StreamCoordinateSpool(*spool, InputName(input), sink, data, report, progress);
  }
  return StreamCoordinateFile(Utf8Path(input), sink, data, report, progress);
}

namespace {

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A file an output must not replace: an input, or a file read with one (the parts of an
// input Shapefile).
struct ReadFile {
  FileIdentity identity;
  const std::string* input;
  bool part;
};

// The files read with an input Shapefile: its own parts, and the parcels' and polylines'
// sets an export writes beside it (site_parcel_lines.shp beside site.shp), with
// extensions in either case.
void AddShapefileParts(const std::string& input, std::vector<ReadFile>& read) {
  const std::filesystem::path shp = Utf8Path(input);
  if (AsciiLower(PathText(shp.extension())) != ".shp") return;
  for (const std::string& name : ShapefileSetNames(PathText(shp.stem()))) {
    if (name.find("_triangles.") != std::string::npos) continue;  // not read back
    const std::filesystem::path part = shp.parent_path() / Utf8Path(name);
    for (const std::filesystem::path& variant : {part, UpperExtension(part)}) {
      if (const auto identity = IdentityOf(PathText(variant))) {
        read.push_back({*identity, &input, true});
      }
    }
  }
}

}  // namespace

std::filesystem::path UpperExtension(const std::filesystem::path& name) {
  std::string ext = PathText(name.extension());
  for (char& c : ext)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::filesystem::path(name).replace_extension(Utf8Path(ext));
}

void CheckOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs,
                  bool textOutput) {
  // The inputs are looked at once, and only when some output exists: a device or pipe as
  // output is not replaced, and only an existing file can be an input.
  std::optional<std::vector<ReadFile>> read;
  for (const std::string& output : outputs) {
    if (output.empty())
      throw UsageError("the output name is empty; give a file name, or - for standard output");
    const std::optional<FileIdentity> out =
        IsStandard(output) ? StandardOutput() : IdentityOf(output);
    if (!out) continue;
    if (!textOutput && out == StandardError()) {
      throw UsageError("standard error goes to the output " + OutputName(output) +
                       " as well; send standard error elsewhere (2>FILE)");
    }
    if (!read) {
      read.emplace();
      for (const std::string& input : inputs) {
        if (input.empty()) continue;
        if (const auto identity = IsStandard(input) ? StandardInput() : IdentityOf(input)) {
          read->push_back({*identity, &input, false});
        }
        AddShapefileParts(input, *read);
      }
    }
    for (const ReadFile& r : *read) {
      if (r.identity != *out) continue;
      if (!r.part) {
        throw UsageError("the output " + OutputName(output) + " is the input " +
                         InputName(*r.input) + "; writing it would replace the file being read");
      }
      throw UsageError("the output " + OutputName(output) + " is read with the input " +
                       InputName(*r.input) + "; writing it would replace a file being read");
    }
  }
}

void CheckOutput(const std::string& output, const std::vector<std::string>& inputs,
                 bool textOutput) {
  CheckOutputs({output}, inputs, textOutput);
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

class WriterStream::Buffer final : public std::streambuf {
 public:
  explicit Buffer(AtomicFileWriter& writer) : writer_(writer), held_(kHeld) {
    setp(held_.data(), held_.data() + held_.size());
  }

  bool HandOn() {
    const size_t size = static_cast<size_t>(pptr() - pbase());
    setp(held_.data(), held_.data() + held_.size());
    return Put(held_.data(), size);
  }
  void ThrowFailure() const {
    if (failed_) std::rethrow_exception(failed_);
  }

 protected:
  int_type overflow(int_type c) override {
    if (!HandOn()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  // Large pieces (a dump's are hundreds of kilobytes) go to the writer as they are.
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (n <= epptr() - pptr()) {
      std::memcpy(pptr(), s, static_cast<size_t>(n));
      pbump(static_cast<int>(n));
      return n;
    }
    if (!HandOn() || !Put(s, static_cast<size_t>(n))) return 0;
    return n;
  }
  int sync() override { return HandOn() ? 0 : -1; }

 private:
  static constexpr size_t kHeld = size_t{64} << 10;

  bool Put(const char* data, size_t size) {
    if (!failed_) {
      try {
        writer_.Write(data, size);
        return true;
      } catch (const Error& e) {
        error_ = e.SystemError() != 0 ? e.SystemError() : EIO;
        failed_ = std::current_exception();
      } catch (...) {
        error_ = EIO;
        failed_ = std::current_exception();
      }
    }
    errno = error_;
    return false;
  }

  AtomicFileWriter& writer_;
  std::vector<char> held_;
  std::exception_ptr failed_;
  int error_ = 0;
};

WriterStream::WriterStream(AtomicFileWriter& writer)
    : std::ostream(nullptr), buffer_(std::make_unique<Buffer>(writer)) {
  rdbuf(buffer_.get());
}

WriterStream::~WriterStream() {
  buffer_->HandOn();
}

void WriterStream::Finish() {
  if (!buffer_->HandOn()) setstate(std::ios::badbit);
  buffer_->ThrowFailure();
}

void CheckWritten(std::ostream& out, const std::string& name) {
  if (out) return;
  const int error = errno != 0 ? errno : EIO;
  throw Error(MessageId::kCannotWrite, {name, std::strerror(error)}, error);
}

}  // namespace kestrova::cli
