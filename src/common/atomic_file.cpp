#include "common/atomic_file.h"

// The Windows build has its own writer and readers (atomic_file_win.cpp).
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <random>

#include "common/error.h"

namespace kestrova {

#ifndef _WIN32
namespace {

std::string SystemMessage(int error) {
  return std::strerror(error);
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// The file a path finally names, each symbolic link followed; the links themselves are
// left alone. A link to a file that does not exist yet names the file to create.
std::filesystem::path FollowLinks(const std::filesystem::path& path) {
  std::filesystem::path p = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(p, ec)) return p;
    const std::filesystem::path next = std::filesystem::read_symlink(p, ec);
    if (ec) throw Error(path.string() + ": cannot follow the link: " + ec.message());
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  throw Error(path.string() + ": too many symbolic links");
}

std::string RandomSuffix() {
  static thread_local std::mt19937 random{std::random_device{}()};
  return std::to_string(random() % 1000000000);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
  final_ = FollowLinks(target_);
  struct stat st;
  if (::stat(final_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw Error(target_.string() + ": is a folder");
    if (!S_ISREG(st.st_mode)) {
      OpenDirect(final_);
      return;
    }
    // Renaming over a file would succeed in a writable folder: respect the file's own
    // protection, as the user set it.
    if ((st.st_mode & 0222) == 0 || ::access(final_.c_str(), W_OK) != 0) {
      throw Error(target_.string() + " is read-only");
    }
  }
  std::filesystem::path folder = final_.parent_path();
  if (folder.empty()) folder = ".";
  OpenTemporary(folder);
}

std::unique_ptr<AtomicFileWriter> AtomicFileWriter::ForDescriptor(int fd, std::string name) {
  std::unique_ptr<AtomicFileWriter> w(new AtomicFileWriter());
  w->target_ = std::move(name);
  w->fd_ = fd;
  w->direct_ = true;
  w->ownsFd_ = false;
  return w;
}

void AtomicFileWriter::OpenDirect(const std::filesystem::path& file) {
  direct_ = true;
  fd_ = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd_ < 0) Fail("cannot write");
}

void AtomicFileWriter::OpenTemporary(const std::filesystem::path& folder) {
#ifdef O_TMPFILE
  // An unnamed file has no name to leave behind when the program is killed.
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd_ >= 0) {
    unnamed_ = true;
    return;
  }
#endif
  // No unnamed files on this system or file system: a hidden name, removed on failure.
  const std::string stem = "." + final_.filename().string() + ".tmp";
  for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
    temp_ = folder / (stem + RandomSuffix());
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    const int error = errno;
    temp_.clear();
    FailWith(error, "cannot write");
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0 && ownsFd_) ::close(fd_);
  if (!committed_ && !temp_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
  }
}

void AtomicFileWriter::Fail(const std::string& what) {
  FailWith(errno, what);
}

void AtomicFileWriter::FailWith(int error, const std::string& what) {
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
    written_ += static_cast<uint64_t>(n);
  }
  WriteBehind();
}

// Hands the file to the disk as it grows instead of leaving hundreds of megabytes for
// the flush at Commit: the disk works while the next bytes are made, the system's cache
// does not fill with them, and a save whose progress shows the end is nearly done.
// At most two windows are on their way; errors show at the flush.
void AtomicFileWriter::WriteBehind() {
#ifdef SYNC_FILE_RANGE_WRITE
  constexpr uint64_t kWindow = 16u << 20;
  if (direct_ || written_ - handedOn_ < kWindow) return;
  ::sync_file_range(fd_, static_cast<off_t>(handedOn_), static_cast<off_t>(written_ - handedOn_),
                    SYNC_FILE_RANGE_WRITE);
  // The window before this one must be on the disk before more is written.
  if (handedOn_ > settled_) {
    ::sync_file_range(
        fd_, static_cast<off_t>(settled_), static_cast<off_t>(handedOn_ - settled_),
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    settled_ = handedOn_;
  }
  handedOn_ = written_;
#endif
}

void AtomicFileWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (direct_ && offset == written_) {  // the next bytes: fine on a pipe too
    Write(data, size);
    return;
  }
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

// Gives the unnamed file a hidden name beside the target, to be renamed over it.
void AtomicFileWriter::LinkUnnamed() {
  std::filesystem::path folder = final_.parent_path();
  if (folder.empty()) folder = ".";
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const std::string stem = "." + final_.filename().string() + ".tmp";
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp_ = folder / (stem + RandomSuffix());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
    if (errno == EEXIST) continue;
#ifdef AT_EMPTY_PATH
    // Without /proc; needs a privilege most users lack, so it is the second choice.
    if (::linkat(fd_, "", AT_FDCWD, temp_.c_str(), AT_EMPTY_PATH) == 0) return;
#endif
    break;
  }
  const int error = errno;
  temp_.clear();
  FailWith(error, "cannot write");
}

void AtomicFileWriter::Commit() {
  if (direct_) {
    // A terminal or pipe cannot be synced; what was written is with the reader.
    if (ownsFd_ && ::close(fd_) != 0) {
      fd_ = -1;
      Fail("cannot write");
    }
    if (ownsFd_) fd_ = -1;
    committed_ = true;
    return;
  }
  // Keep the permissions of the file being replaced; a new file gets the usual ones.
  struct stat existing;
  const mode_t mode = ::stat(final_.c_str(), &existing) == 0 ? (existing.st_mode & 07777)
                                                             : (0666 & ~CurrentUmask());
  if (::fchmod(fd_, mode) != 0) Fail("cannot set permissions");
  if (::fsync(fd_) != 0) Fail("cannot write");
  if (unnamed_) LinkUnnamed();
  if (::close(fd_) != 0) {
    fd_ = -1;
    Fail("cannot write");
  }
  fd_ = -1;
  if (::rename(temp_.c_str(), final_.c_str()) != 0) Fail("cannot replace");
  committed_ = true;
}

std::string ReadDescriptorBytes(int fd, const std::string& name) {
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return bytes;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(name + ": cannot read: " + SystemMessage(errno));
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error(path.string() + ": cannot open: " + SystemMessage(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) throw Error(path.string() + ": cannot read: " + SystemMessage(errno));
  if (S_ISDIR(st.st_mode)) throw Error(path.string() + ": is a folder");
  std::string bytes;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    // One allocation for a regular file; a pipe or device is read until it ends.
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        throw Error(path.string() + ": cannot read: " + SystemMessage(errno));
      }
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    bytes += ReadDescriptorBytes(fd, path.string());  // a file that grew meanwhile
    return bytes;
  }
  return ReadDescriptorBytes(fd, path.string());
}
#endif  // _WIN32

void WriteFileAtomic(const std::filesystem::path& target, std::string_view bytes) {
  AtomicFileWriter writer(target);
  writer.Write(bytes.data(), bytes.size());
  writer.Commit();
}

}  // namespace kestrova
