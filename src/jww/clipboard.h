#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "jww/document.h"
#include "jww/stream.h"

namespace kestrova {

// Where the "Jw_win" clipboard payload goes: the Windows clipboard (with the
// "DataObject" handle beside it), the desktop clipboard, or a file.
class ClipboardSink {
 public:
  virtual ~ClipboardSink() = default;
  virtual void SetJwWinData(std::string_view payload) = 0;
  // A sink that takes the payload as it is made gives the stream to write it to, and
  // CommitPayload ends it; nullptr (the default): the payload comes whole to SetJwWinData.
  virtual OutStream* PayloadStream() { return nullptr; }
  virtual void CommitPayload() {}
};

// Writes the payload through a file writer (a file, or standard output) as it is made,
// atomically: a payload of any size is never held in memory.
class FileClipboardSink : public ClipboardSink {
 public:
  explicit FileClipboardSink(std::unique_ptr<AtomicFileWriter> file);
  void SetJwWinData(std::string_view payload) override;
  OutStream* PayloadStream() override { return stream_.get(); }
  void CommitPayload() override { stream_->Commit(); }

 private:
  std::unique_ptr<FileOutStream> stream_;
};

// The machine's own clipboard where the core reaches it without a desktop toolkit:
// on Windows the clipboard emptied and "Jw_win" and "DataObject" set, in one opening of
// the clipboard (an error when another program keeps it open); nullptr elsewhere.
std::unique_ptr<ClipboardSink> SystemClipboardSink();

// The payload's prefix: the header's reference point, the 16 group scales (a scale
// below 1 is written as 500) and the entity count; records doc.EntityStreamPos.
bool WriteClipboardPrefix(OutStream& stream, JwwDocument& doc);

// The whole hand-over of a converted drawing: all 16 group scales set to scale, prefix
// and entities written in the version 351 layout, the bytes handed to the sink. The
// scales are restored whatever happens. A writer failure is an error, not a half
// payload on the clipboard.
void TransferDrawing(JwwDocument& doc, double scale, ClipboardSink& sink);

// The layout version of the payload's entities.
inline constexpr uint32_t kClipboardVersion = 351;

// Writes the entity objects and the block list after the prefix; false on a stream error.
using EntityListWriter = std::function<bool(OutStream& stream)>;

// The same hand-over with the entities written by writeEntities (at kClipboardVersion)
// instead of from doc's lists; doc.EntityListCount must be their count.
void TransferDrawing(JwwDocument& doc, double scale, ClipboardSink& sink,
                     const EntityListWriter& writeEntities);

}  // namespace kestrova
