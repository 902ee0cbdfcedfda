#include "common/atomic_file.h"

// The Windows build has its own writer and readers (atomic_file_win.cpp).
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "app/messages.h"
#include "common/error.h"

namespace kestrova {

#ifndef _WIN32
namespace {

std::string SystemMessage(int error) {
  return std::strerror(error);
}

// errno is taken before building the message can change it.
Error SystemFailure(MessageId id, const std::string& name) {
  const int error = errno;
  return Error(id, {name, SystemMessage(error)}, error);
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
    if (ec) throw Error(MessageId::kCannotFollowLink, {path.string(), ec.message()}, ec.value());
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  throw Error(MessageId::kTooManyLinks, {path.string()});
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
    if (S_ISDIR(st.st_mode)) throw Error(MessageId::kIsFolder, {target_.string()});
    if (!S_ISREG(st.st_mode)) {
      OpenDirect(final_);
      return;
    }
    // Renaming over a file would succeed in a writable folder: respect the file's own
    // protection, as the user set it.
    if ((st.st_mode & 0222) == 0 || ::access(final_.c_str(), W_OK) != 0) {
      throw Error(MessageId::kReadOnly, {target_.string()});
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
  // The Windows writer shares these phrases; here each has its message.
  const MessageId id = what == "cannot replace"           ? MessageId::kCannotReplace
                       : what == "cannot set permissions" ? MessageId::kCannotSetPermissions
                                                          : MessageId::kCannotWrite;
  throw Error(id, {target_.string(), SystemMessage(error)}, error);
}

namespace {

// Writing past the system's cache takes whole blocks at block boundaries, from memory
// aligned to them; 4096 bytes suits the disks in use.
constexpr size_t kBlock = 4096;
constexpr size_t kStagingBytes = 4u << 20;

}  // namespace

void AtomicFileWriter::Write(const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  if (direct_) {
    WriteOut(p, size);
  } else if (stagingOn_ || written_ == 0) {
    Stage(p, size);
  } else {
    PutAt(written_, p, size);
    written_ += size;
    WriteBehind();
  }
}

// To a device, pipe or terminal, in order.
void AtomicFileWriter::WriteOut(const char* p, size_t size) {
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
}

void AtomicFileWriter::PutAt(uint64_t offset, const char* p, size_t size) {
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

// A drawing of hundreds of megabytes copied into the system's cache costs more than
// making it (on a virtual machine several times the disk's own time), pushes other
// programs' files out of the cache and leaves the disk's work to the final flush. So a
// temporary file collects its bytes in a block-aligned buffer, and every full buffer
// goes to the disk directly (O_DIRECT). The tail that fills no block, and files that
// never fill the buffer, go through the cache as before; where the file system does
// not write past its cache, everything does.
void AtomicFileWriter::Stage(const char* p, size_t size) {
  if (!staging_) {
    staging_.reset(static_cast<char*>(std::aligned_alloc(kBlock, kStagingBytes)));
    if (!staging_) {  // no memory for it: through the cache
      PutAt(written_, p, size);
      written_ += size;
      return;
    }
    stagingOn_ = true;
  }
  while (size > 0) {
    const size_t n = std::min(size, kStagingBytes - staged_);
    std::memcpy(staging_.get() + staged_, p, n);
    staged_ += n;
    written_ += n;
    p += n;
    size -= n;
    if (staged_ == kStagingBytes) FlushStaging(false);
  }
}

// Writes the staged bytes: their whole blocks past the cache where it can; with all,
// the rest through the cache as well.
void AtomicFileWriter::FlushStaging(bool all) {
  const uint64_t start = written_ - staged_;
  size_t done = 0;
  const size_t blocks = staged_ / kBlock * kBlock;
  if (blocks > 0 && start % kBlock == 0 && PutUncached(staging_.get(), blocks)) done = blocks;
  if (done < staged_ && (all || done == 0)) {
    DropUncached();  // the tail is no whole block
    PutAt(start + done, staging_.get() + done, staged_ - done);
    done = staged_;
  }
  std::memmove(staging_.get(), staging_.get() + done, staged_ - done);
  staged_ -= done;
}

// Writes whole blocks at a block boundary past the cache; false (nothing written) when
// the file system will not.
bool AtomicFileWriter::PutUncached(const char* data, size_t size) {
#ifdef O_DIRECT
  if (cacheOnly_) return false;
  const uint64_t offset = written_ - staged_;
  const auto throughCache = [this] {
    DropUncached();
    cacheOnly_ = true;
  };
  if (!uncached_) {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_DIRECT) != 0) {
      cacheOnly_ = true;  // tmpfs, for one
      return false;
    }
    uncached_ = true;
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EINVAL && done == 0) {
      throughCache();  // the flag is taken but not these blocks
      return false;
    }
    if (n < 0) Fail("cannot write");
    done += static_cast<size_t>(n);
    if (done < size && done % kBlock != 0) {
      throughCache();  // a short write that ends inside a block
      PutAt(offset + done, data + done, size - done);
      done = size;
    }
  }
  return true;
#else
  (void)data;
  (void)size;
  return false;
#endif
}

// The descriptor writes through the cache again.
void AtomicFileWriter::DropUncached() {
#ifdef O_DIRECT
  if (!uncached_) return;
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_DIRECT);
  uncached_ = false;
#endif
}

// Back to writing through the cache, every staged byte written.
void AtomicFileWriter::StopStaging() {
  if (!stagingOn_) return;
  FlushStaging(true);
  // When the staged bytes were whole blocks (or none), the flush left the flag on, and
  // every later unaligned write would fail with EINVAL.
  DropUncached();
  staging_.reset();
  stagingOn_ = false;
  handedOn_ = settled_ = written_;
}

// Where bytes go through the cache, hands the file to the disk as it grows instead of
// leaving it all to the flush at Commit; at most two windows are on their way, errors
// show at the flush.
void AtomicFileWriter::WriteBehind() {
#ifdef SYNC_FILE_RANGE_WRITE
  constexpr uint64_t kWindow = 16u << 20;
  if (direct_ || written_ - handedOn_ < kWindow) return;
  ::sync_file_range(fd_, static_cast<off_t>(handedOn_), static_cast<off_t>(written_ - handedOn_),
                    SYNC_FILE_RANGE_WRITE);
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
  if (offset == written_) {  // the next bytes: fine on a pipe too
    Write(data, size);
    return;
  }
  const auto* p = static_cast<const char*>(data);
  const uint64_t stagedFrom = written_ - staged_;
  if (stagingOn_ && offset >= stagedFrom && offset + size <= written_) {
    std::memcpy(staging_.get() + (offset - stagedFrom), p, size);  // not written yet
    return;
  }
  // Bytes already written are changed (a header filled in late): from here on the file
  // goes through the cache.
  StopStaging();
  PutAt(offset, p, size);
  if (offset + size > written_) written_ = offset + size;
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
  StopStaging();
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
      throw SystemFailure(MessageId::kFileCannotRead, name);
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw SystemFailure(MessageId::kFileCannotOpen, path.string());
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    throw SystemFailure(MessageId::kFileCannotRead, path.string());
  }
  if (S_ISDIR(st.st_mode)) throw Error(MessageId::kIsFolder, {path.string()});
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
        throw SystemFailure(MessageId::kFileCannotRead, path.string());
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
