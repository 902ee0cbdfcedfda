#include "common/spill_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kestrova {

namespace {

std::string TemporaryFolder() {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) {
#ifndef _WIN32
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
      if (const char* value = std::getenv(name); value && *value) {
        return std::string(value) + " (" + name + ")";
      }
    }
#endif
    return "the temporary folder";
  }
  const std::u8string utf8 = dir.u8string();
  return std::string(utf8.begin(), utf8.end());
}

[[noreturn]] void CannotCreate(int error) {
  throw Error("cannot create a temporary file in " + TemporaryFolder() + ": " +
              std::generic_category().message(error));
}

std::FILE* OpenTemporaryFile() {
#ifdef _WIN32
  wchar_t dir[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (!GetTempPathW(MAX_PATH + 1, dir) || !GetTempFileNameW(dir, L"kst", 0, name)) {
    CannotCreate(EACCES);
  }
  // "T": kept in the cache where it can be, "D": removed when closed.
  std::FILE* file = _wfopen(name, L"w+bTD");
  if (!file) {
    const int error = errno;
    DeleteFileW(name);
    CannotCreate(error);
  }
  return file;
#else
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) CannotCreate(ec.value());
  int fd = -1;
#ifdef O_TMPFILE
  fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd < 0) {  // a file system without unnamed files: a named one, removed at once
    std::string name = (dir / "kestrova-XXXXXX").string();
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) CannotCreate(errno);
    ::unlink(name.c_str());
  }
  std::FILE* file = ::fdopen(fd, "w+b");
  if (!file) {
    const int error = errno;
    ::close(fd);
    CannotCreate(error);
  }
  return file;
#endif
}

}  // namespace

SpillFile::SpillFile(size_t bufferBytes) {
  buffer_.resize(std::max<size_t>(bufferBytes, 64));  // before the file: nothing to leak
  file_ = OpenTemporaryFile();
  std::setvbuf(file_, nullptr, _IONBF, 0);  // the buffer above is the only one
}

SpillFile::~SpillFile() {
  std::fclose(file_);
}

void SpillFile::Fail(const std::string& what) const {
  throw Error("a temporary file in " + TemporaryFolder() + " " + what);
}

void SpillFile::Flush() {
  if (end_ == 0) return;
  if (std::fwrite(buffer_.data(), 1, end_, file_) != end_) {
    Fail("cannot be written: " + std::generic_category().message(errno));
  }
  written_ += end_;
  end_ = 0;
}

void SpillFile::WriteSlow(const void* data, size_t size) {
  if (reading_) Fail("was written after it was read");
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (end_ == buffer_.size()) Flush();
    const size_t n = std::min(size, buffer_.size() - end_);
    std::memcpy(buffer_.data() + end_, p, n);
    end_ += n;
    p += n;
    size -= n;
  }
}

void SpillFile::Rewind() {
  if (!reading_) {
    Flush();
    reading_ = true;
  }
  if (std::fseek(file_, 0, SEEK_SET) != 0) {
    Fail("cannot be read: " + std::generic_category().message(errno));
  }
  pos_ = end_ = 0;
}

size_t SpillFile::ReadSome(void* data, size_t size) {
  char* p = static_cast<char*>(data);
  size_t done = 0;
  while (done < size) {
    if (pos_ == end_) {
      if (!reading_) Fail("was read before it was written");
      pos_ = 0;
      end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
      if (end_ == 0) {
        if (std::ferror(file_)) Fail("cannot be read: " + std::generic_category().message(errno));
        break;
      }
    }
    const size_t n = std::min(size - done, end_ - pos_);
    std::memcpy(p + done, buffer_.data() + pos_, n);
    pos_ += n;
    done += n;
  }
  return done;
}

bool SpillFile::ReadSlow(void* data, size_t size) {
  if (!reading_) Fail("was read before it was written");
  char* p = static_cast<char*>(data);
  bool any = false;
  while (size > 0) {
    if (pos_ == end_) {
      pos_ = 0;
      end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
      if (end_ == 0) {
        if (std::ferror(file_)) Fail("cannot be read: " + std::generic_category().message(errno));
        if (any) Fail("is shorter than it was written");
        return false;
      }
    }
    const size_t n = std::min(size, end_ - pos_);
    std::memcpy(p, buffer_.data() + pos_, n);
    pos_ += n;
    p += n;
    size -= n;
    any = true;
  }
  return true;
}

}  // namespace kestrova
