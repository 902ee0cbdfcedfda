#include "cli/uncached_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>
#include <streambuf>
#include <string>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestrova::cli {

#if defined(O_DIRECT)

namespace {

// Writes past the cache take whole blocks at block boundaries from memory aligned to them.
constexpr size_t kBlock = 4096;
constexpr size_t kBufferBytes = size_t{4} << 20;

}  // namespace

class UncachedOutput::Buffer final : public std::streambuf {
 public:
  Buffer(int uncached, char* first, char* second) : uncached_(uncached), blocks_{first, second} {
    setp(blocks_[0], blocks_[0] + kBufferBytes);
  }
  ~Buffer() override {
    if (writing_.valid()) writing_.wait();
    ::close(uncached_);
    std::free(blocks_[0]);
    std::free(blocks_[1]);
  }

  // The bytes still held, through the cache: fewer than fill a buffer. Nothing more is
  // written after a failure, which would leave a hole in the file.
  bool Finish() {
    if (!WaitBehind()) return false;
    const size_t size = static_cast<size_t>(pptr() - pbase());
    setp(pbase(), pbase() + kBufferBytes);
    return Put(kOutput, pbase(), size);
  }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::streamsize done = 0;
    while (done < n) {
      if (pptr() == epptr() && !Drain()) return done;
      const auto room = static_cast<std::streamsize>(epptr() - pptr());
      const std::streamsize part = std::min(room, n - done);
      std::memcpy(pptr(), s + done, static_cast<size_t>(part));
      pbump(static_cast<int>(part));
      done += part;
    }
    return done;
  }

 private:
  static constexpr int kOutput = 1;

  // The full buffer goes to the disk on another thread while the other one fills, once
  // the one before it is written.
  bool Drain() {
    if (!WaitBehind()) return false;
    char* full = pbase();
    const size_t size = static_cast<size_t>(pptr() - pbase());
    filling_ ^= 1;
    setp(blocks_[filling_], blocks_[filling_] + kBufferBytes);
    try {
      writing_ = std::async(std::launch::async, [this, full, size] { Put(uncached_, full, size); });
      return true;
    } catch (const std::system_error&) {  // no thread to be had: written here
      return Put(uncached_, full, size);
    }
  }

  // Whether everything handed on was written; errno tells why not, on this thread too.
  bool WaitBehind() {
    if (writing_.valid()) writing_.get();
    if (!failed_) return true;
    errno = error_;
    return false;
  }

  // size bytes where the descriptor stands, past the cache through fd where the file
  // system takes them. Their place is taken by moving the descriptor past them first, so
  // that whatever else writes through it (another program in the same redirection) lands
  // before or after them, never over them; the shell's next command writes after them.
  bool Put(int fd, const char* data, size_t size) {
    const off_t end = ::lseek(kOutput, static_cast<off_t>(size), SEEK_CUR);
    if (end < 0) return Failed(errno);
    const auto at = static_cast<uint64_t>(end) - size;
    if (cached_ || at % kBlock != 0) fd = kOutput;
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EINVAL && fd == uncached_ && done == 0) {
        cached_ = true;  // the flag was taken but not the blocks
        fd = kOutput;
        continue;
      }
      if (n <= 0) {
        const int error = n < 0 ? errno : ENOSPC;
        ::lseek(kOutput, static_cast<off_t>(at + done), SEEK_SET);  // after what was written
        return Failed(error);
      }
      done += static_cast<size_t>(n);
      if (fd == uncached_ && done < size && done % kBlock != 0) fd = kOutput;  // short
    }
    return true;
  }
  bool Failed(int error) {
    failed_ = true;
    error_ = error;
    return false;
  }

  int uncached_;
  char* blocks_[2];
  int filling_ = 0;
  std::future<void> writing_;  // the other buffer's
  bool cached_ = false;        // the file system refused to be written past its cache
  bool failed_ = false;        // a write failed, for error_: nothing more is written
  int error_ = 0;
};

std::unique_ptr<UncachedOutput> UncachedOutput::ForStandardOutput() {
  struct stat st;
  if (::fstat(1, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  const int flags = ::fcntl(1, F_GETFL);
  if (flags < 0 || (flags & O_APPEND) != 0 || (flags & O_ACCMODE) == O_RDONLY) return nullptr;
  const off_t at = ::lseek(1, 0, SEEK_CUR);
  if (at < 0 || at % static_cast<off_t>(kBlock) != 0) return nullptr;
  // A description of its own, so that the shell's stays as it was.
  const int uncached = ::open("/proc/self/fd/1", O_WRONLY | O_DIRECT | O_CLOEXEC);
  if (uncached < 0) return nullptr;
  char* first = static_cast<char*>(std::aligned_alloc(kBlock, kBufferBytes));
  char* second = static_cast<char*>(std::aligned_alloc(kBlock, kBufferBytes));
  if (!first || !second) {
    std::free(first);
    std::free(second);
    ::close(uncached);
    return nullptr;
  }
  return std::unique_ptr<UncachedOutput>(
      new UncachedOutput(std::make_unique<Buffer>(uncached, first, second)));
}

UncachedOutput::UncachedOutput(std::unique_ptr<Buffer> buffer)
    : std::ostream(buffer.get()), buffer_(std::move(buffer)) {}

UncachedOutput::~UncachedOutput() {
  Finish();  // what was printed before a failure, as a plain stream would leave it
}

void UncachedOutput::Finish() {
  if (!buffer_->Finish()) setstate(std::ios::badbit);
}

#else

class UncachedOutput::Buffer {};

std::unique_ptr<UncachedOutput> UncachedOutput::ForStandardOutput() {
  return nullptr;
}

UncachedOutput::UncachedOutput(std::unique_ptr<Buffer> buffer)
    : std::ostream(nullptr), buffer_(std::move(buffer)) {}
UncachedOutput::~UncachedOutput() = default;
void UncachedOutput::Finish() {}

#endif

}  // namespace kestrova::cli
