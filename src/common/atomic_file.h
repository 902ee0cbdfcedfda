#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrova {

// Writes a file through a temporary file in the target's folder that is renamed over
// the target only when everything was written and flushed, so a failed or interrupted
// save never damages an existing file. Errors throw kestrova::Error naming the file.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::filesystem::path target);
  ~AtomicFileWriter();  // removes the temporary file unless Commit succeeded
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Write(const void* data, size_t size);
  // Writes at an absolute offset of the temporary file (for headers filled in late).
  void WriteAt(uint64_t offset, const void* data, size_t size);
  void Commit();

  const std::filesystem::path& Target() const { return target_; }
  // For writers that open files by name themselves (a PDF printer): they write here,
  // and Commit still makes the result appear whole or not at all.
  const std::filesystem::path& TempPath() const { return temp_; }

 private:
  [[noreturn]] void Fail(const std::string& what);

  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
  bool committed_ = false;
};

void WriteFileAtomic(const std::filesystem::path& target, std::string_view bytes);

// Reads a whole file; errors throw kestrova::Error naming the file.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace kestrova
