#include "common/atomic_file.h"

// The Windows build has its own writer (atomic_file_win.cpp).
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include "common/error.h"

namespace kestrova {

namespace {

std::string SystemMessage(int error) {
  return std::strerror(error);
}

#ifndef _WIN32
mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}
#endif

}  // namespace

#ifndef _WIN32
AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
  std::filesystem::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  std::random_device rd;
  for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
    temp_ = folder / ("." + target_.filename().string() + ".tmp" + std::to_string(rd() % 1000000));
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    const int error = errno;
    temp_.clear();
    throw Error(target_.string() + ": cannot write: " + SystemMessage(error));
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
  }
}

void AtomicFileWriter::Fail(const std::string& what) {
  const int error = errno;
  throw Error(target_.string() + ": " + what + ": " + SystemMessage(error));
}

void AtomicFileWriter::Write(const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("cannot write");
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

void AtomicFileWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("cannot write");
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
}

void AtomicFileWriter::Commit() {
  // Keep the permissions of the file being replaced; a new file gets the usual ones.
  struct stat existing;
  const mode_t mode = ::stat(target_.c_str(), &existing) == 0 ? (existing.st_mode & 07777)
                                                              : (0666 & ~CurrentUmask());
  if (::fchmod(fd_, mode) != 0) Fail("cannot set permissions");
  if (::fsync(fd_) != 0) Fail("cannot write");
  if (::close(fd_) != 0) {
    fd_ = -1;
    Fail("cannot write");
  }
  fd_ = -1;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail("cannot replace");
  committed_ = true;
}
#endif  // _WIN32

void WriteFileAtomic(const std::filesystem::path& target, std::string_view bytes) {
  AtomicFileWriter writer(target);
  writer.Write(bytes.data(), bytes.size());
  writer.Commit();
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw Error(path.string() + ": is a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(path.string() + ": cannot open: " + SystemMessage(errno));
  std::string bytes;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size > 0) {
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0, std::ios::beg);
    in.read(bytes.data(), size);
  }
  if (!in) throw Error(path.string() + ": cannot read");
  return bytes;
}

}  // namespace kestrova
