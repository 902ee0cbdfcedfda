// The atomic writer on Windows: the bytes reach the disk (FlushFileBuffers) before the
// temporary file takes the target's place in one step (MoveFileExW), and the rename
// itself is flushed too, so a power cut leaves either the old file or the new one.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <random>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/windows_text.h"

namespace kestrova {

namespace {

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
  std::filesystem::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  // Windows refuses to replace a read-only file; say so before anything is written
  // (Wine would replace it).
  const DWORD attributes = GetFileAttributesW(target_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    throw Error(target_.string() + ": cannot write: the file is read-only");
  }
  std::random_device rd;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 16 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    temp_ =
        folder / (L"." + target_.filename().wstring() + L".tmp" + std::to_wstring(rd() % 1000000));
    handle = CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    error = GetLastError();
    if (handle == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS) break;
  }
  if (handle != INVALID_HANDLE_VALUE) {
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd_ < 0) {
      error = ERROR_TOO_MANY_OPEN_FILES;
      CloseHandle(handle);
      DeleteFileW(temp_.c_str());
    }
  }
  if (fd_ < 0) {
    temp_.clear();
    throw Error(target_.string() + ": cannot write: " + WindowsErrorMessage(error));
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) _close(fd_);
  if (!committed_ && !temp_.empty()) DeleteFileW(temp_.c_str());
}

void AtomicFileWriter::Fail(const std::string& what) {
  const DWORD error = GetLastError();
  throw Error(target_.string() + ": " + what + ": " + WindowsErrorMessage(error));
}

void AtomicFileWriter::Write(const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(HandleOf(fd_), p, chunk, &written, nullptr)) Fail("cannot write");
    p += written;
    size -= written;
  }
}

void AtomicFileWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  const HANDLE handle = HandleOf(fd_);
  LARGE_INTEGER zero{};
  LARGE_INTEGER current{};
  if (!SetFilePointerEx(handle, zero, &current, FILE_CURRENT)) Fail("cannot write");
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) Fail("cannot write");
  Write(data, size);
  if (!SetFilePointerEx(handle, current, nullptr, FILE_BEGIN)) Fail("cannot write");
}

void AtomicFileWriter::Commit() {
  if (!FlushFileBuffers(HandleOf(fd_))) Fail("cannot write");
  const int fd = fd_;
  fd_ = -1;
  if (_close(fd) != 0) Fail("cannot write");
  if (!MoveFileExW(temp_.c_str(), target_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail("cannot replace");
  }
  committed_ = true;
}

}  // namespace kestrova
