#include "common/spill_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestrova {

namespace {

// The system's temporary folder. A variable set to nothing counts as not set, as
// shells and most programs read it (the standard library would take the empty name).
std::filesystem::path SystemTemporaryFolder(std::error_code& ec) {
#ifdef _WIN32
  return std::filesystem::temp_directory_path(ec);
#else
  ec.clear();
  std::filesystem::path dir = "/tmp";
  for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
    if (const char* value = std::getenv(name); value && *value) {
      dir = value;
      break;
    }
  }
  if (!std::filesystem::is_directory(dir, ec)) {
    if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
    return {};
  }
  return dir;
#endif
}

std::string TemporaryFolder() {
  std::error_code ec;
  const std::filesystem::path dir = SystemTemporaryFolder(ec);
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
  throw Error(MessageId::kTemporaryCannotCreate,
              {TemporaryFolder(), std::generic_category().message(error)}, error);
}

// errno is taken before building the message can change it.
[[noreturn]] void SystemFailure(MessageId id) {
  const int error = errno;
  throw Error(id, {TemporaryFolder(), std::generic_category().message(error)}, error);
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
  const std::filesystem::path dir = SystemTemporaryFolder(ec);
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

SpillFile::SpillFile(size_t bufferBytes, size_t keepInMemory)
    : bufferBytes_(std::max<size_t>(bufferBytes, 64)), keepInMemory_(keepInMemory) {
  // Before any file, so that a failure leaks nothing; a few blocks at least fit in what
  // may be kept.
  buffer_.resize(keepInMemory_ > 0 ? std::clamp<size_t>(keepInMemory_ / 4, 64, bufferBytes_)
                                   : bufferBytes_);
  data_ = buffer_.data();
  capacity_ = buffer_.size();
  if (keepInMemory_ == 0) {
    file_ = OpenTemporaryFile();
    std::setvbuf(file_, nullptr, _IONBF, 0);  // the buffer above is the only one
  }
}

SpillFile::~SpillFile() {
  if (file_) std::fclose(file_);
}

void SpillFile::CheckFolder() {
  std::fclose(OpenTemporaryFile());
}

std::unique_ptr<SpillFile> MakeInputSpool() {
  size_t keep = size_t{4} << 20;
  try {
    SpillFile::CheckFolder();
  } catch (const Error&) {
    keep = SIZE_MAX;
  }
  return std::make_unique<SpillFile>(size_t{1} << 20, keep);
}

void SpillFile::Fail(MessageId id) const {
  throw Error(id, {TemporaryFolder()});
}

void SpillFile::FailShorter() const {
  Fail(MessageId::kTemporaryShorter);
}

void SpillFile::Flush() {
  if (end_ == 0) return;
  if (std::fwrite(buffer_.data(), 1, end_, file_) != end_) {
    SystemFailure(MessageId::kTemporaryCannotWrite);
  }
  written_ += end_;
  end_ = 0;
}

void SpillFile::WriteSlow(const void* data, size_t size) {
  if (reading_) Fail(MessageId::kTemporaryWrittenAfterRead);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (end_ == capacity_) {
      if (!file_ && written_ + end_ + buffer_.size() <= keepInMemory_) {
        // Another block in memory.
        written_ += end_;
        const size_t blockBytes = buffer_.size();
        blocks_.push_back(std::move(buffer_));
        buffer_ = std::string(blockBytes, '\0');
      } else {
        if (!file_) {  // too much to keep: everything goes to a file from here on
          file_ = OpenTemporaryFile();
          std::setvbuf(file_, nullptr, _IONBF, 0);
          for (const std::string& block : blocks_) {
            if (std::fwrite(block.data(), 1, block.size(), file_) != block.size()) {
              SystemFailure(MessageId::kTemporaryCannotWrite);
            }
          }
          std::vector<std::string>().swap(blocks_);
          Flush();
          buffer_.resize(bufferBytes_);
          capacity_ = buffer_.size();
        }
        Flush();
      }
      data_ = buffer_.data();
      end_ = 0;
    }
    const size_t n = std::min(size, capacity_ - end_);
    std::memcpy(data_ + end_, p, n);
    end_ += n;
    p += n;
    size -= n;
  }
}

void SpillFile::Rewind() {
  if (!reading_) {
    if (file_) {
      Flush();
    } else {
      buffer_.resize(end_);
      written_ += end_;
      blocks_.push_back(std::move(buffer_));
    }
    reading_ = true;
  }
  pos_ = end_ = 0;
  nextBlock_ = 0;
  if (file_ && std::fseek(file_, 0, SEEK_SET) != 0) {
    SystemFailure(MessageId::kTemporaryCannotRead);
  }
}

// The next bytes into data_; false at the end.
bool SpillFile::Refill() {
  if (!reading_) Fail(MessageId::kTemporaryReadBeforeWritten);
  pos_ = 0;
  if (!file_) {
    while (nextBlock_ < blocks_.size()) {
      std::string& block = blocks_[nextBlock_++];
      data_ = block.data();
      end_ = block.size();
      if (end_ > 0) return true;
    }
    end_ = 0;
    return false;
  }
  data_ = buffer_.data();
  end_ = std::fread(data_, 1, buffer_.size(), file_);
  if (end_ == 0 && std::ferror(file_)) {
    SystemFailure(MessageId::kTemporaryCannotRead);
  }
  return end_ > 0;
}

size_t SpillFile::ReadSome(void* data, size_t size) {
  char* p = static_cast<char*>(data);
  size_t done = 0;
  while (done < size) {
    if (pos_ == end_ && !Refill()) break;
    const size_t n = std::min(size - done, end_ - pos_);
    std::memcpy(p + done, data_ + pos_, n);
    pos_ += n;
    done += n;
  }
  return done;
}

bool SpillFile::ReadSlow(void* data, size_t size) {
  const size_t done = ReadSome(data, size);
  if (done == size) return true;
  if (done > 0) Fail(MessageId::kTemporaryShorter);
  return false;
}

#ifndef _WIN32
std::filesystem::path MakeTemporaryFolder(const std::string& prefix) {
  std::error_code ec;
  const std::filesystem::path dir = SystemTemporaryFolder(ec);
  if (ec) CannotCreate(ec.value());
  // Folders of processes that were killed before they could remove theirs.
  ForEachLeftByEndedProcess(dir, prefix,
                            [](const std::filesystem::path& path, std::string_view rest) {
                              struct stat st;
                              if (rest.size() != 6 || ::lstat(path.c_str(), &st) != 0 ||
                                  !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
                                return;
                              }
                              std::error_code removeEc;
                              std::filesystem::remove_all(path, removeEc);
                            });
  std::string name = (dir / (prefix + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (mkdtemp(name.data()) == nullptr) CannotCreate(errno);
  return name;
}
#endif

}  // namespace kestrova
