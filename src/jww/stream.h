#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "common/error.h"

namespace kestrova {

class AtomicFileWriter;

// Raised by a stream that cannot take more bytes; the binary writers catch it and
// return false, and the caller reports LastError().
class StreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A seekable byte sink. Bytes collect in a buffer; a file stream spills the buffer to
// disk as it fills, a memory stream keeps everything. Appending a value is a bounds
// check and a copy: drawings of millions of records go through here.
class OutStream {
 public:
  virtual ~OutStream() = default;

  void Write(const void* data, size_t size) {
    if (pos_ == size_ && size <= capacity_ - pos_ && base_ + pos_ + size <= limit_) {
      std::memcpy(buffer_.get() + pos_, data, size);
      pos_ += size;
      size_ = pos_;
      return;
    }
    WriteSlow(data, size);
  }
  template <class T>
  void WriteValue(T v) {  // little-endian on every platform we build for
    Write(&v, sizeof v);
  }

  // Room for up to n bytes written directly at the end, or nullptr (then use Write).
  // Advance(k) then takes the k bytes written there.
  char* Reserve(size_t n) {
    return pos_ == size_ && n <= capacity_ - pos_ && base_ + pos_ + n <= limit_
               ? buffer_.get() + pos_
               : nullptr;
  }
  void Advance(size_t n) {
    pos_ += n;
    size_ = pos_;
  }

  uint64_t Position() const { return base_ + pos_; }
  void Seek(uint64_t position);

  const std::string& LastError() const { return lastError_; }
  // The failure itself when it was a kestrova::Error, else nullptr.
  const Error* LastFailure() const { return lastFailure_.get(); }
  void SetLastError(const std::exception& failure) {
    lastError_ = failure.what();
    const auto* error = dynamic_cast<const Error*>(&failure);
    lastFailure_ = error != nullptr ? std::make_shared<const Error>(*error) : nullptr;
  }

 protected:
  explicit OutStream(size_t spillAt) : spillAt_(spillAt) {}
  // Hands the size_ bytes of buffer_ (which start at offset base_) to their
  // destination, moves base_ past them and empties the buffer.
  virtual void Spill() {}
  virtual uint64_t Size() const { return base_ + size_; }

  std::unique_ptr<char[]> buffer_;  // capacity_ bytes of room; [0, size_) is content
  size_t capacity_ = 0;
  size_t size_ = 0;
  size_t pos_ = 0;
  uint64_t base_ = 0;
  uint64_t limit_ = UINT64_MAX;

 private:
  void WriteSlow(const void* data, size_t size);
  [[noreturn]] void Refuse();

  size_t spillAt_;
  std::string lastError_;
  std::shared_ptr<const Error> lastFailure_;
};

class MemoryOutStream : public OutStream {
 public:
  // limit: the most bytes the stream takes; more raises StreamError (tests use it to
  // make writers fail half-way).
  explicit MemoryOutStream(uint64_t limit = UINT64_MAX) : OutStream(0) { limit_ = limit; }
  // Everything written.
  std::string_view Bytes() const { return std::string_view(buffer_.get(), size_); }
  // Empty again, keeping its room.
  void Clear() { pos_ = size_ = 0; }
};

// Writes through an AtomicFileWriter: Commit renames the finished file over the target.
// Full buffers go to disk on a second thread while the next one fills, so the copy into
// the system's file cache overlaps with building the bytes.
class FileOutStream : public OutStream {
 public:
  explicit FileOutStream(const std::filesystem::path& target);
  // Through a writer already open (standard output, for instance).
  explicit FileOutStream(std::unique_ptr<AtomicFileWriter> file);
  ~FileOutStream() override;
  void Commit();

 protected:
  void Spill() override;
  uint64_t Size() const override;

 private:
  void WriterLoop();
  void WaitForWriter();  // until the buffer in flight is on disk; rethrows its error

  std::unique_ptr<AtomicFileWriter> file_;
  uint64_t fileSize_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::unique_ptr<char[]> inFlight_;
  size_t inFlightCapacity_ = 0;
  size_t inFlightSize_ = 0;
  uint64_t inFlightOffset_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  std::exception_ptr error_;
  std::thread writer_;
};

// A bounded reader over bytes in memory. Every read checks the bytes that remain and
// raises ReadError with the offset instead of reading past the end.
class ReadError : public std::runtime_error {
 public:
  ReadError(uint64_t offset, const std::string& message);
  uint64_t Offset() const { return offset_; }

 private:
  uint64_t offset_;
};

class InStream {
 public:
  explicit InStream(std::string_view bytes) : bytes_(bytes), size_(bytes.size()) {}
  // Reads size bytes in all from source, a window at a time: source(to, n) puts up to n
  // bytes at to and returns how many (0 only at the end). A drawing of any size is read
  // in a few megabytes; what ReadBytes returns stays valid until the next read.
  using Source = std::function<size_t(char*, size_t)>;
  InStream(Source source, uint64_t size, size_t window = size_t{4} << 20)
      : source_(std::move(source)), size_(size), window_(std::max<size_t>(window, 1)) {}

  size_t Position() const { return base_ + pos_; }
  size_t Remaining() const { return size_ - Position(); }
  [[noreturn]] void Fail(const std::string& message) const { throw ReadError(Position(), message); }
  [[noreturn]] void FailAt(size_t offset, const std::string& message) const {
    throw ReadError(offset, message);
  }

  template <class T>
  T Read() {
    if (bytes_.size() - pos_ < sizeof(T)) Fill(sizeof(T), "the file ends in the middle of a value");
    T v;
    std::memcpy(&v, bytes_.data() + pos_, sizeof v);
    pos_ += sizeof v;
    return v;
  }
  std::string_view ReadBytes(size_t n) {
    if (bytes_.size() - pos_ < n) Fill(n, "the file ends in the middle of a text");
    std::string_view s = bytes_.substr(pos_, n);
    pos_ += n;
    return s;
  }

 private:
  // At least n bytes in the window from pos_, or Fail with message.
  void Fill(size_t n, const char* message);

  std::string_view bytes_;  // the window: all bytes, or those read from source_ last
  size_t pos_ = 0;          // in the window
  Source source_;
  uint64_t base_ = 0;  // the offset of the window's first byte
  uint64_t size_ = 0;
  size_t window_ = 0;  // bytes read from the source at a time, at least
  std::string held_;   // the window's buffer, reused from read to read
};

}  // namespace kestrova
