#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "common/progress.h"

namespace kestrova::cli {

// The progress line of long loads and writes: "kestrova-cli: writing FILE  42%" on
// standard error, rewritten in place. Short work stays silent (the line appears only
// once the work has taken a second), and so does output that is not a terminal, where
// the line would only litter a log.
class TerminalProgress : public ProgressMonitor {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  TerminalProgress(std::ostream& err, bool terminal, std::string what,
                   Clock clock = std::chrono::steady_clock::now);
  ~TerminalProgress() override;  // ends a line that was shown

  bool Continue(double fraction) override;

 private:
  std::ostream& err_;
  bool terminal_;
  std::string what_;
  Clock clock_;
  std::chrono::steady_clock::time_point start_;
  int shown_ = -1;  // the percentage on the line, -1 before it was shown
};

// Whether standard error is a terminal.
bool StandardErrorIsTerminal();

}  // namespace kestrova::cli
