#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace kestrova::cli {

TerminalProgress::TerminalProgress(std::ostream& err, bool terminal, std::string what, Clock clock)
    : err_(err),
      terminal_(terminal),
      what_(std::move(what)),
      clock_(std::move(clock)),
      start_(clock_()) {}

TerminalProgress::~TerminalProgress() {
  if (shown_ >= 0) err_ << '\n' << std::flush;
}

bool TerminalProgress::Continue(double fraction) {
  if (!terminal_) return true;
  if (shown_ < 0 && clock_() - start_ < std::chrono::seconds(1)) return true;
  const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0));
  if (percent == shown_) return true;
  shown_ = percent;
  err_ << "\rkestrova-cli: " << what_ << ' '
       << (percent < 10    ? "  "
           : percent < 100 ? " "
                           : "")
       << percent << '%' << std::flush;
  return true;
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace kestrova::cli
