#include "cli/windows_console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace kestrova::cli {

WindowsConsole::WindowsConsole() {
  previousOutputCodePage_ = GetConsoleOutputCP();
  if (previousOutputCodePage_ != 0) SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
}

WindowsConsole::~WindowsConsole() {
  std::fflush(stdout);
  if (previousOutputCodePage_ != 0) SetConsoleOutputCP(previousOutputCodePage_);
}

}  // namespace kestrova::cli
