#include "cli/windows_console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace kestrova::cli {

WindowsConsole::WindowsConsole(int argc, char** argv) : args_(argc, argv) {
  previousOutputCodePage_ = GetConsoleOutputCP();
  if (previousOutputCodePage_ != 0) SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
}

WindowsConsole::~WindowsConsole() {
  std::fflush(stdout);
  if (previousOutputCodePage_ != 0) SetConsoleOutputCP(previousOutputCodePage_);
}

}  // namespace kestrova::cli
