#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"

namespace kestrova {

// A temporary file for work too large to hold in memory: written once from front to
// back, then read from the start as often as needed. It lies in the system's temporary
// folder without a name where the system allows (gone with the program whatever happens)
// and is removed when closed. Up to keepInMemory bytes stay in memory and make no file;
// beyond, they all go to the file. Errors throw kestrova::Error naming what failed.
class SpillFile {
 public:
  explicit SpillFile(size_t bufferBytes = 256 * 1024, size_t keepInMemory = 0);
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  void Write(const void* data, size_t size) {
    if (size <= capacity_ - end_) {
      std::memcpy(data_ + end_, data, size);
      end_ += size;
      return;
    }
    WriteSlow(data, size);
  }
  template <class T>
  void Put(const T& value) {
    Write(&value, sizeof value);
  }

  // Bytes written in all.
  uint64_t Size() const { return written_ + (reading_ ? 0 : end_); }

  // Ends any writing and reads again from the first byte.
  void Rewind();
  // The next size bytes; false at the end of the file (a cut record is an error).
  bool Read(void* data, size_t size) {
    if (size <= end_ - pos_) {
      std::memcpy(data, data_ + pos_, size);
      pos_ += size;
      return true;
    }
    return ReadSlow(data, size);
  }
  // Exactly size bytes, of a record known to be there (a cut one is an error).
  void ReadExactly(void* data, size_t size) {
    if (!Read(data, size)) FailShorter();
  }
  // Up to size bytes, fewer only at the end of the file; returns how many.
  size_t ReadSome(void* data, size_t size);
  template <class T>
  T Get() {
    T value{};
    if (!Read(&value, sizeof value)) FailShorter();
    return value;
  }

  // Throws the error a temporary file would meet, or makes none and returns.
  static void CheckFolder();

 private:
  void WriteSlow(const void* data, size_t size);
  bool ReadSlow(void* data, size_t size);
  bool Refill();
  void Flush();
  [[noreturn]] void Fail(MessageId id) const;
  [[noreturn]] void FailShorter() const;

  std::FILE* file_ = nullptr;  // none while everything is in memory
  size_t bufferBytes_ = 0;
  size_t keepInMemory_ = 0;
  // In memory the bytes are blocks of bufferBytes_: the full ones here, the one being
  // written in buffer_ (and, once reading, here as well).
  std::vector<std::string> blocks_;
  size_t nextBlock_ = 0;  // reading from memory: the block after the one read
  std::string buffer_;
  char* data_ = nullptr;  // the bytes being written or read
  size_t capacity_ = 0;   // writing: room at data_
  size_t pos_ = 0;        // reading: the next byte at data_
  size_t end_ = 0;        // bytes at data_
  uint64_t written_ = 0;  // bytes in the file, or in blocks_
  bool reading_ = false;
};

// A place for bytes that can be read only once (standard input, a pipe) and are read
// again from here: in memory up to 4 MB, in a temporary file beyond, or all in memory
// when no temporary file can be made, as reading them whole would be.
std::unique_ptr<SpillFile> MakeInputSpool();

// Files open at once for work split over several (parts, buckets): beyond this many
// they grow instead.
inline constexpr size_t kMostSpillFiles = 100;

// How many files items are split over, up to perFile each: at least one, at most
// kMostSpillFiles.
inline size_t SpillFileCount(uint64_t items, size_t perFile) {
  return static_cast<size_t>(
      std::clamp<uint64_t>((items + perFile - 1) / perFile, 1, kMostSpillFiles));
}

#ifndef _WIN32
// A new, empty folder of this process's own in the system's temporary folder, for
// files that another library writes by their names; the caller removes it. Its name,
// PREFIX<pid>-XXXXXX, lets a later call remove the folders of processes that ended
// without removing theirs (killed or interrupted), which it does first. Throws
// kestrova::Error when none can be made.
std::filesystem::path MakeTemporaryFolder(const std::string& prefix);
#endif

}  // namespace kestrova
