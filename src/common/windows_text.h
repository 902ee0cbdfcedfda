#pragma once

// Text at the Windows API boundary: the API speaks UTF-16, the program UTF-8 (messages,
// paths, command lines) and code page 932 (data). Windows builds only.

#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// UTF-8 to UTF-16 and back; malformed input becomes U+FFFD, never an exception.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// The system's own text for an error code from GetLastError, in UTF-8, without the
// trailing line break ("Access is denied.").
std::string WindowsErrorMessage(unsigned long error);

// The process's command line as UTF-8 arguments, taken from GetCommandLineW so that
// names outside the ANSI code page ("C:\測量\現場A\") arrive intact; the narrow
// arguments are kept only if the wide command line cannot be split.
class Utf8CommandLine {
 public:
  Utf8CommandLine(int argc, char** argv);
  int Argc() const { return static_cast<int>(pointers_.size()) - 1; }
  char** Argv() { return pointers_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> pointers_;  // into args_, ending with nullptr as argv does
};

}  // namespace kestrova
