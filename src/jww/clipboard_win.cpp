// Jw_cad's clipboard on Windows: the drawing as "Jw_win" and, beside it, "DataObject"
// holding the value of the handle under which the clipboard keeps the "Jw_win" data.
// Both go on in one opening of the clipboard, so no other program sees one without the
// other. The clipboard is emptied first, by a window of ours, as every copy on Windows
// does: a paste elsewhere must not bring back what was copied before the drawing, and
// Wine hands the new contents to the X11 clipboard only when their owner has changed.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "common/error.h"
#include "common/windows_text.h"
#include "jww/clipboard.h"

namespace kestrova {

namespace {

// The system's reason is already in the user's language and goes last.
[[noreturn]] void Fail(MessageId id, std::vector<std::string> args = {}) {
  const DWORD error = GetLastError();
  args.push_back(WindowsErrorMessage(error));
  throw Error(id, std::move(args));
}

UINT RegisteredFormat(const wchar_t* name, const char* utf8Name) {
  const UINT format = RegisterClipboardFormatW(name);
  if (format == 0) Fail(MessageId::kClipboardCannotRegisterFormat, {utf8Name});
  return format;
}

// Movable global memory holding a copy of the bytes; freed unless the clipboard took it.
class GlobalCopy {
 public:
  GlobalCopy(const void* data, size_t size) {
    memory_ = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory_) Fail(MessageId::kClipboardNoMemory);
    void* target = GlobalLock(memory_);
    if (!target) {
      const DWORD error = GetLastError();
      GlobalFree(memory_);
      SetLastError(error);
      Fail(MessageId::kClipboardNoMemory);
    }
    std::memcpy(target, data, size);
    // FALSE with NO_ERROR is the normal answer: the lock count went to zero.
    if (!GlobalUnlock(memory_) && GetLastError() != NO_ERROR) {
      const DWORD error = GetLastError();
      GlobalFree(memory_);
      SetLastError(error);
      Fail(MessageId::kClipboardCannotPrepare);
    }
  }
  ~GlobalCopy() {
    if (memory_) GlobalFree(memory_);
  }
  GlobalCopy(const GlobalCopy&) = delete;
  GlobalCopy& operator=(const GlobalCopy&) = delete;

  HGLOBAL Get() const { return memory_; }
  void Release() { memory_ = nullptr; }

 private:
  HGLOBAL memory_ = nullptr;
};

// A message-only window to own the clipboard while the formats go on: emptying the
// clipboard without one leaves it without an owner, and then no data can be set.
class OwnerWindow {
 public:
  OwnerWindow() {
    window_ = CreateWindowExW(0, L"STATIC", L"Kestrova", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (!window_) Fail(MessageId::kClipboardCannotOpen);
  }
  ~OwnerWindow() { DestroyWindow(window_); }
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;
  HWND Get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

class OpenedClipboard {
 public:
  explicit OpenedClipboard(HWND owner) {
    // Clipboard viewers and managers hold it for a moment after every change; only a
    // clipboard that stays taken is reported.
    for (int attempt = 0; attempt < 10; ++attempt) {
      if (OpenClipboard(owner)) {
        open_ = true;
        if (!EmptyClipboard()) Fail(MessageId::kClipboardCannotEmpty);
        return;
      }
      Sleep(20);
    }
    // The system's text for this ("Access is denied.") would only mislead.
    throw Error(MessageId::kClipboardBusy, {});
  }
  ~OpenedClipboard() {
    if (open_) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;

  void Close() {
    open_ = false;
    if (!CloseClipboard()) Fail(MessageId::kClipboardCannotClose);
  }

 private:
  bool open_ = false;
};

class WindowsClipboardSink : public ClipboardSink {
 public:
  void SetJwWinData(std::string_view payload) override {
    const UINT jwWin = RegisteredFormat(L"Jw_win", "Jw_win");
    const UINT dataObject = RegisteredFormat(L"DataObject", "DataObject");
    GlobalCopy drawing(payload.data(), payload.size());
    const OwnerWindow owner;
    OpenedClipboard clipboard(owner.Get());
    if (!SetClipboardData(jwWin, drawing.Get())) Fail(MessageId::kClipboardCannotPut);
    drawing.Release();  // the clipboard owns it now
    const HANDLE held = GetClipboardData(jwWin);
    if (!held) Fail(MessageId::kClipboardCannotReadBack);
    // Jw_cad is a 32-bit program: the handle travels as its low 32 bits, little-endian.
    const auto value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(held));
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    GlobalCopy handleValue(bytes, sizeof bytes);
    if (!SetClipboardData(dataObject, handleValue.Get())) {
      Fail(MessageId::kClipboardCannotPut);
    }
    handleValue.Release();
    clipboard.Close();
  }
};

}  // namespace

std::unique_ptr<ClipboardSink> SystemClipboardSink() {
  return std::make_unique<WindowsClipboardSink>();
}

}  // namespace kestrova
