#pragma once

#include "jww/clipboard.h"

class QClipboard;

namespace kestrova {

// The desktop clipboard: "Jw_win" with the payload and "DataObject" beside it, set in
// one go. On X11 both appear as targets of those very names, where Jw_cad under Wine
// finds them.
class QtClipboardSink : public ClipboardSink {
 public:
  QtClipboardSink();
  explicit QtClipboardSink(QClipboard* clipboard) : clipboard_(clipboard) {}
  void SetJwWinData(std::string_view payload) override;

 private:
  QClipboard* clipboard_;
};

}  // namespace kestrova
