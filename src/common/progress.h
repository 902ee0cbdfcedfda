#pragma once

#include "common/error.h"

namespace kestrova {

// Watches long work (loading a million points, writing a drawing of millions of
// entities): told how far the work has come, it answers whether to go on. A front end
// shows the fraction and answers false once the user asked to stop.
class ProgressMonitor {
 public:
  virtual ~ProgressMonitor() = default;
  // fraction: 0 to 1, never decreasing within one piece of work. Called from the thread
  // that does the work, often (every few milliseconds at most), so it must be cheap.
  virtual bool Continue(double fraction) = 0;
};

// The user stopped the work. Whatever it was changing is left as it was: a save leaves
// the previous file and no temporary file, a load leaves the table.
class Cancelled : public Error {
 public:
  Cancelled() : Error("cancelled; nothing was changed") {}
};

// Asks monitor (which may be null) and throws Cancelled when it says stop.
inline void ReportProgress(ProgressMonitor* monitor, double fraction) {
  if (monitor && !monitor->Continue(fraction)) throw Cancelled();
}

}  // namespace kestrova
