// The atomic writer on Windows: the bytes reach the disk (FlushFileBuffers) before the
// temporary file takes the target's place in one step (MoveFileExW), and the rename
// itself is flushed too, so a power cut leaves either the old file or the new one.
//
// Windows has no unnamed files. The temporary file is marked for deletion as soon as it
// is created (a delete disposition, which the system carries out when its last handle
// closes, also when the program is killed); Commit takes the mark off just before the
// rename. Where the file system refuses the mark, the destructor deletes the file.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "common/utf8_path.h"
#include "common/windows_text.h"

namespace kestrova {

namespace {

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

std::string NameOf(const std::filesystem::path& path) {
  return WideToUtf8(path.wstring());
}

bool SetDeleteMark(HANDLE handle, bool remove) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// A path in the device namespace (\\.\COM1, \\.\pipe\name) names no file to replace;
// opening one just to look at it could take a pipe's only connection.
bool IsDeviceNamespace(const std::filesystem::path& path) {
  const std::wstring& s = path.native();
  return s.size() > 4 && (s[0] == L'\\' || s[0] == L'/') && (s[1] == L'\\' || s[1] == L'/') &&
         s[2] == L'.' && (s[3] == L'\\' || s[3] == L'/');
}

// The path the system reaches through every link (in the \\?\ form, which every call
// here takes, also beyond MAX_PATH); empty when the system cannot say.
std::filesystem::path FinalPath(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.assign(n, L'\0');
  }
  return buffer;
}

class HandleCloser {
 public:
  explicit HandleCloser(HANDLE handle) : handle_(handle) {}
  ~HandleCloser() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HandleCloser(const HandleCloser&) = delete;
  HandleCloser& operator=(const HandleCloser&) = delete;

 private:
  HANDLE handle_;
};

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
  // CON, PRN, AUX, COM1 ... in any folder (and, before Windows 11, with any extension)
  // are devices: the system's full name for them is in the device namespace. Opening one
  // only to look at it fails, and a file renamed onto it cannot replace it.
  if (IsDeviceNamespace(target_) || IsDeviceNamespace(AbsolutePath(target_))) {
    OpenDirect(target_);
    return;
  }
  final_ = target_;
  // Opening follows symbolic links and junctions; only attributes are asked for, and
  // every kind of sharing allowed, so that looking disturbs nobody.
  const HANDLE probe = CreateFileW(target_.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const DWORD probeError = GetLastError();
  const DWORD ownAttributes = GetFileAttributesW(target_.c_str());
  const bool isLink = ownAttributes != INVALID_FILE_ATTRIBUTES &&
                      (ownAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (probe == INVALID_HANDLE_VALUE) {
    // A link whose file is not there: where it points cannot be learnt portably, and
    // replacing the link itself would cut it.
    if (isLink) FailWith(static_cast<int>(probeError), "cannot follow the link");
  } else {
    HandleCloser closer(probe);
    // NUL, CON, COM1 and the like: written to, never replaced by a file.
    if (GetFileType(probe) != FILE_TYPE_DISK) {
      OpenDirect(target_);
      return;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(probe, &info)) Fail("cannot write");
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      throw Error(MessageId::kIsFolder, {NameOf(target_)});
    // Renaming over a read-only file would succeed under Wine and fail on Windows
    // only after everything was written: say so before anything is.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      throw Error(MessageId::kReadOnly, {NameOf(target_)});
    // The file a symbolic link names is replaced, and the link stays.
    if (isLink) {
      final_ = FinalPath(probe);
      if (final_.empty()) Fail("cannot follow the link");
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
  // Text mode would turn every "\n" into "\r\n" and stop at 0x1A: drawings and
  // coordinate files go out as the bytes they are.
  _setmode(fd, _O_BINARY);
  return w;
}

void AtomicFileWriter::OpenDirect(const std::filesystem::path& file) {
  direct_ = true;
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Fail("cannot write");
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(handle);
    FailWith(ERROR_TOO_MANY_OPEN_FILES, "cannot write");
  }
}

void AtomicFileWriter::OpenTemporary(const std::filesystem::path& folder) {
  std::random_device rd;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 16 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    temp_ =
        folder / (L"." + final_.filename().wstring() + L".tmp" + std::to_wstring(rd() % 1000000));
    handle = CreateFileW(temp_.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    error = GetLastError();
    if (handle == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS) break;
  }
  if (handle != INVALID_HANDLE_VALUE) {
    unnamed_ = SetDeleteMark(handle, true);  // here: the file goes when its handle closes
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd_ < 0) {
      error = ERROR_TOO_MANY_OPEN_FILES;
      CloseHandle(handle);
      DeleteFileW(temp_.c_str());
    }
  }
  if (fd_ < 0) {
    temp_.clear();
    FailWith(static_cast<int>(error), "cannot write");
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0 && ownsFd_) _close(fd_);
  if (!committed_ && !temp_.empty()) DeleteFileW(temp_.c_str());
}

void AtomicFileWriter::Fail(const std::string& what) {
  FailWith(static_cast<int>(GetLastError()), what);
}

void AtomicFileWriter::FailWith(int error, const std::string& what) {
  // The system's reason is already in the user's language: it is shown as it is.
  const std::string reason = WindowsErrorMessage(static_cast<DWORD>(error));
  if (what == "cannot write") throw Error(MessageId::kCannotWrite, {NameOf(target_), reason});
  if (what == "cannot replace") throw Error(MessageId::kCannotReplace, {NameOf(target_), reason});
  if (what == "cannot follow the link") {
    throw Error(MessageId::kCannotFollowLink, {NameOf(target_), reason});
  }
  throw Error(NameOf(target_) + ": " + what + ": " + reason);
}

void AtomicFileWriter::Write(const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(HandleOf(fd_), p, chunk, &written, nullptr)) Fail("cannot write");
    p += written;
    size -= written;
    written_ += written;
  }
}

void AtomicFileWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (direct_ && offset == written_) {  // the next bytes: fine on a pipe too
    Write(data, size);
    return;
  }
  const HANDLE handle = HandleOf(fd_);
  LARGE_INTEGER zero{};
  LARGE_INTEGER current{};
  if (!SetFilePointerEx(handle, zero, &current, FILE_CURRENT)) Fail("cannot write");
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) Fail("cannot write");
  const uint64_t before = written_;
  Write(data, size);
  written_ = before;
  // Write goes on after the furthest byte written, as on other systems.
  if (static_cast<uint64_t>(current.QuadPart) < offset + size) {
    current.QuadPart = static_cast<LONGLONG>(offset + size);
  }
  if (!SetFilePointerEx(handle, current, nullptr, FILE_BEGIN)) Fail("cannot write");
}

bool AtomicFileWriter::Adopt(const std::filesystem::path&) {
  return false;  // the bytes are copied
}

void AtomicFileWriter::Commit() {
  if (direct_) {
    // A console or pipe cannot be flushed to a disk; what was written is with the reader.
    if (ownsFd_) {
      const int fd = fd_;
      fd_ = -1;
      if (_close(fd) != 0) FailWith(ERROR_WRITE_FAULT, "cannot write");
    }
    committed_ = true;
    return;
  }
  if (!FlushFileBuffers(HandleOf(fd_))) Fail("cannot write");
  if (unnamed_ && !SetDeleteMark(HandleOf(fd_), false)) Fail("cannot write");
  const int fd = fd_;
  fd_ = -1;
  if (_close(fd) != 0) FailWith(ERROR_WRITE_FAULT, "cannot write");
  if (!MoveFileExW(temp_.c_str(), final_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail("cannot replace");
  }
  committed_ = true;
}

void ReadDescriptorPieces(int fd, const std::string& name,
                          const std::function<bool(std::string_view)>& take) {
  // Binary, as the files are: text mode would drop every "\r" and stop at 0x1A.
  _setmode(fd, _O_BINARY);
  char buffer[1 << 16];
  for (;;) {
    const int n = _read(fd, buffer, sizeof buffer);
    if (n == 0) return;
    if (n < 0) throw Error(MessageId::kFileCannotRead, {name, std::strerror(errno)}, errno);
    if (!take(std::string_view(buffer, static_cast<size_t>(n)))) return;
  }
}

std::string ReadDescriptorBytes(int fd, const std::string& name) {
  std::string bytes;
  ReadDescriptorPieces(fd, name, [&bytes](std::string_view piece) {
    bytes += piece;
    return true;
  });
  return bytes;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw Error(MessageId::kIsFolder, {NameOf(path)});
  }
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    throw Error(MessageId::kFileCannotOpen, {NameOf(path), WindowsErrorMessage(error)});
  }
  HandleCloser closer(handle);
  std::string bytes;
  LARGE_INTEGER size{};
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &size) && size.QuadPart > 0) {
    bytes.reserve(static_cast<size_t>(size.QuadPart));
  }
  // A file is read to its end, a pipe until its writer closes it.
  std::string buffer(1 << 16, '\0');
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;
      throw Error(MessageId::kFileCannotRead, {NameOf(path), WindowsErrorMessage(error)});
    }
    if (n == 0) break;
    bytes.append(buffer.data(), n);
  }
  return bytes;
}

}  // namespace kestrova
