#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace kestrova {

// A temporary file for work too large to hold in memory: written once from front to
// back, then read from the start as often as needed. It lies in the system's temporary
// folder without a name where the system allows (gone with the program whatever happens)
// and is removed when closed. Errors throw kestrova::Error naming what failed.
class SpillFile {
 public:
  explicit SpillFile(size_t bufferBytes = 256 * 1024);
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  void Write(const void* data, size_t size) {
    if (size <= buffer_.size() - end_) {
      std::memcpy(buffer_.data() + end_, data, size);
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
      std::memcpy(data, buffer_.data() + pos_, size);
      pos_ += size;
      return true;
    }
    return ReadSlow(data, size);
  }
  // Up to size bytes, fewer only at the end of the file; returns how many.
  size_t ReadSome(void* data, size_t size);
  template <class T>
  T Get() {
    T value{};
    if (!Read(&value, sizeof value)) Fail("is shorter than it was written");
    return value;
  }

 private:
  void WriteSlow(const void* data, size_t size);
  bool ReadSlow(void* data, size_t size);
  void Flush();
  [[noreturn]] void Fail(const std::string& what) const;

  std::FILE* file_ = nullptr;
  std::string buffer_;
  size_t pos_ = 0;  // reading: the next byte in the buffer
  size_t end_ = 0;  // bytes in the buffer
  uint64_t written_ = 0;
  bool reading_ = false;
};

}  // namespace kestrova
