// Writes the Windows clipboard's "Jw_win" data to a file, byte for byte, the way Jw_cad
// running under Wine receives a drawing that a Linux program put on the X11 clipboard.
// Usage: read_clipboard.exe OUTPUT_FILE
#include <windows.h>

#include <cstdio>

namespace {

// Whatever the clipboard does offer, so a failure shows what arrived instead.
void ListFormats() {
  std::fprintf(stderr, "the clipboard offers:");
  for (UINT format = EnumClipboardFormats(0); format != 0; format = EnumClipboardFormats(format)) {
    char name[256];
    if (GetClipboardFormatNameA(format, name, sizeof name) > 0) {
      std::fprintf(stderr, " \"%s\"", name);
    } else {
      std::fprintf(stderr, " %u", format);
    }
  }
  std::fprintf(stderr, "\n");
}

int Read(const char* outPath) {
  const UINT format = RegisterClipboardFormatW(L"Jw_win");
  if (format == 0) {
    std::fprintf(stderr, "RegisterClipboardFormatW failed: error %lu\n", GetLastError());
    return 1;
  }
  // Another program (Wine's own clipboard manager among them) may hold the clipboard for
  // a moment.
  bool open = false;
  for (int attempt = 0; attempt < 50 && !open; ++attempt) {
    open = OpenClipboard(nullptr) != FALSE;
    if (!open) Sleep(100);
  }
  if (!open) {
    std::fprintf(stderr, "OpenClipboard failed: error %lu\n", GetLastError());
    return 1;
  }
  int status = 1;
  HANDLE data = GetClipboardData(format);
  if (data == nullptr) {
    std::fprintf(stderr, "no \"Jw_win\" data on the clipboard (error %lu); ", GetLastError());
    ListFormats();
  } else if (const void* bytes = GlobalLock(data); bytes == nullptr) {
    std::fprintf(stderr, "GlobalLock failed: error %lu\n", GetLastError());
  } else {
    const SIZE_T size = GlobalSize(data);
    if (std::FILE* out = std::fopen(outPath, "wb")) {
      const bool written = std::fwrite(bytes, 1, size, out) == size;
      if (std::fclose(out) == 0 && written) {
        status = 0;
      } else {
        std::fprintf(stderr, "could not write %s\n", outPath);
      }
    } else {
      std::fprintf(stderr, "could not create %s\n", outPath);
    }
    GlobalUnlock(data);
  }
  CloseClipboard();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_clipboard.exe OUTPUT_FILE\n");
    return 2;
  }
  return Read(argv[1]);
}
