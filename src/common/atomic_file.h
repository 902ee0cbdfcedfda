#pragma once

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/parallel.h"

struct stat;

namespace kestrova {

// Writes a file so that a failed or interrupted save never damages an existing one:
// the bytes go to an unnamed temporary file in the target's folder (a named hidden one
// where the system has no unnamed files), which takes the target's place only when
// everything was written and flushed. A kill or crash before that leaves nothing behind
// (with a named temporary file, nothing once the destructor ran).
//
// A symbolic link is followed: the file it names is replaced and the link stays. A
// device, FIFO or socket is written directly, as the user asked for it. A name for one
// of the process's own open descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N) and
// the very file standard output goes to are written through that descriptor, in place
// at its position, as a shell redirection expects. A read-only file, a folder and a
// file behind too many links are refused. Errors throw kestrova::Error naming the file.
//
// A named temporary file is removed when SIGINT, SIGTERM or SIGHUP ends the program;
// one that a harder kill left behind (".NAME.tmpPID-N", its process gone) is removed
// by the next save to the same name.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::filesystem::path target);
  // Writes straight to an open descriptor (standard output) and never closes it; name
  // stands for it in messages. A regular file behind it is written from the
  // descriptor's position (its end when it appends), not from its start, and the
  // descriptor is left after the last byte. Where that position starts a block, the
  // bytes go past the system's cache a few megabytes at a time, each run's place taken
  // by moving the descriptor past it first: whatever else writes through the same
  // descriptor (another program in one redirection) lands before or after it. (A
  // program killed meanwhile leaves the rest of that room as zeros.)
  static std::unique_ptr<AtomicFileWriter> ForDescriptor(int fd, std::string name);
  ~AtomicFileWriter();  // drops the temporary file unless Commit succeeded
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Writes after the furthest byte written so far.
  void Write(const void* data, size_t size);
  // Writes at an absolute offset (for headers filled in late). Written directly, only
  // the next offset works on a pipe.
  void WriteAt(uint64_t offset, const void* data, size_t size);
  void Commit();
  // Takes a finished file as the one Commit puts in place, instead of writing its bytes:
  // linked beside the target, not copied, where nothing was written yet and the file is
  // on the target's file system. False, and nothing changed, where it cannot.
  bool Adopt(const std::filesystem::path& file);

  // The path as given (or the descriptor's name).
  const std::filesystem::path& Target() const { return target_; }

 private:
  AtomicFileWriter() = default;
  [[noreturn]] void Fail(const std::string& what);
  [[noreturn]] void FailWith(int error, const std::string& what);
  void OpenTemporary(const std::filesystem::path& folder);
  void OpenDirect(const std::filesystem::path& file);
  void UseDescriptor(int fd);
  uint64_t InPlaceBase();
  int PositionedDescriptor();
  void KeepTemporaryName();
  void LinkUnnamed();
  void KeepOwnerAndAttributes(const struct stat& existing);
  void WriteOut(const char* data, size_t size);
  void PutAt(uint64_t offset, const char* data, size_t size);
  bool StagesInPlace(int fd);
  void Stage(const char* data, size_t size);
  void FlushStaging();
  void HandOn();
  uint64_t Place(size_t size);
  void PutPlaced(const char* data, size_t size, uint64_t offset);
  bool PutUncached(const char* data, size_t size, uint64_t offset);
  int BlockDescriptor() const { return reserves_ ? positionedFd_ : fd_; }
  void WaitBehind();
  void DropUncached();
  void StopStaging();
  void WriteBehind();

  std::filesystem::path target_;  // as given, for messages
  std::filesystem::path final_;   // the file replaced: target_ with its links followed
  std::filesystem::path temp_;    // the named temporary file, once there is one
  int fd_ = -1;
  bool direct_ = false;   // writing to the target itself
  bool ownsFd_ = true;    // false for a descriptor handed in
  bool unnamed_ = false;  // an O_TMPFILE file, linked into the folder only at Commit
  bool committed_ = false;
  // Writing in place through a descriptor to a regular file: the bytes start at base_.
  bool inPlace_ = false;
  bool appends_ = false;  // the descriptor appends (O_APPEND)
  bool baseKnown_ = false;
  uint64_t base_ = 0;
  // The same file in a description of this writer's own: without O_APPEND for writes at
  // an offset, or to be written past the cache without changing the shared one.
  int positionedFd_ = -1;
  // In place, staged bytes go where the shared descriptor stands, not after the bytes
  // before them (see Place).
  bool reserves_ = false;
  int signalSlot_ = -1;   // the temporary name's entry for removal at a signal
  uint64_t written_ = 0;  // the end of the bytes written in order so far
  // A temporary file gathers its bytes in whole blocks that go to the disk without
  // passing through the system's cache (see Stage).
  struct FreeBlock {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, FreeBlock> staging_;
  size_t staged_ = 0;  // bytes in staging_: those before written_
  // A full buffer goes to the disk on another thread while staging_ fills: behind_ is
  // being written while writing_ runs, and nothing else touches the descriptor then.
  std::unique_ptr<char, FreeBlock> behind_;
  Aside<void> writing_;
  std::exception_ptr failed_;  // that write's failure: the file lacks its bytes for good
  bool stagingOn_ = false;     // bytes go through staging_
  bool uncached_ = false;      // the descriptor writes past the cache
  bool cacheOnly_ = false;     // the file system refused to write past the cache
  uint64_t handedOn_ = 0;      // cached writing: bytes before this were handed to the disk
  uint64_t settled_ = 0;       // cached writing: bytes before this are on the disk
  uint64_t reached_ = 0;       // the end of the last bytes put at their place
};

void WriteFileAtomic(const std::filesystem::path& target, std::string_view bytes);

// Whether path names one of this program's own open descriptors (/dev/stdout,
// /proc/self/fd/N ...) or the very file standard output writes to: a writer writes
// through the descriptor there, and a set of files cannot go there.
bool NamesOwnDescriptor(const std::filesystem::path& path);

// For the start of main, so that every write fails as it should rather than going astray;
// nothing on Windows.
// - Each of standard input, output and error the program was started without gets a
//   stand-in: /dev/null opened the other way, so that reading standard input or writing
//   standard output fails as on a closed descriptor ("Bad file descriptor"), and no file
//   the program opens takes the number (a temporary file as number 1 would take the
//   output meant for standard output, and a command would report it written).
// - A file grown past the user's limit (ulimit -f) fails its write ("File too large") as
//   a full disk does, where SIGXFSZ would kill the program in the middle of a write.
void PrepareFileWriting();

// Reads a whole file: a regular file, or a pipe, FIFO or device (read to its end).
// Errors throw kestrova::Error naming the file.
std::string ReadFileBytes(const std::filesystem::path& path);

// Reads a descriptor to its end (standard input); name stands for it in messages.
std::string ReadDescriptorBytes(int fd, const std::string& name);
// The same a piece at a time, each handed to take as it is read; take returns false when
// it needs no more.
void ReadDescriptorPieces(int fd, const std::string& name,
                          const std::function<bool(std::string_view)>& take);

#ifndef _WIN32
// Hands take each entry of folder named PREFIX<pid>-REST whose process has ended (never
// this process's), with its REST: what a process that was killed left behind.
void ForEachLeftByEndedProcess(
    const std::filesystem::path& folder, const std::string& prefix,
    const std::function<void(const std::filesystem::path& path, std::string_view rest)>& take);
#endif

}  // namespace kestrova
