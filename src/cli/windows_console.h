#pragma once

// What kestrova-cli needs from a Windows console: the arguments in UTF-8 (from the
// wide command line, so "C:\測量\現場A\" survives), UTF-8 text on the console, and
// standard output in binary mode so that a clipboard drawing written there keeps its
// bytes (no "\n" turned into "\r\n"). Windows builds only.

#include "common/windows_text.h"

namespace kestrova::cli {

class WindowsConsole {
 public:
  WindowsConsole(int argc, char** argv);
  ~WindowsConsole();  // gives the console its code page back
  WindowsConsole(const WindowsConsole&) = delete;
  WindowsConsole& operator=(const WindowsConsole&) = delete;

  int Argc() const { return args_.Argc(); }
  char** Argv() { return args_.Argv(); }

 private:
  Utf8CommandLine args_;
  unsigned int previousOutputCodePage_ = 0;
};

}  // namespace kestrova::cli
