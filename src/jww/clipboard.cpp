#include "jww/clipboard.h"

#include <array>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "jww/archive.h"
#include "jww/archive_io.h"

namespace kestrova {

FileClipboardSink::FileClipboardSink(std::unique_ptr<AtomicFileWriter> file)
    : stream_(std::make_unique<FileOutStream>(std::move(file))) {}

void FileClipboardSink::SetJwWinData(std::string_view payload) {
  stream_->Write(payload.data(), payload.size());
  stream_->Commit();
}

#ifndef _WIN32  // Windows: clipboard_win.cpp
std::unique_ptr<ClipboardSink> SystemClipboardSink() {
  return nullptr;
}
#endif

bool WriteClipboardPrefix(OutStream& stream, JwwDocument& doc) {
  try {
    stream.Seek(0);
    stream.WriteValue(doc.Header.ReferenceX);
    stream.WriteValue(doc.Header.ReferenceY);
    for (const JwwLayerGroup& g : doc.Header.LayerGroups) {
      stream.WriteValue(g.GroupScale < 1.0 ? 500.0 : g.GroupScale);
    }
    WriteCount(stream, doc.EntityListCount);
    doc.EntityStreamPos = stream.Position();
  } catch (const std::exception& e) {
    stream.SetLastError(e);
    return false;
  }
  return true;
}

void TransferDrawing(JwwDocument& doc, double scale, ClipboardSink& sink) {
  TransferDrawing(doc, scale, sink,
                  [&doc](OutStream& s) { return WriteEntityList(doc, s, kClipboardVersion); });
}

void TransferDrawing(JwwDocument& doc, double scale, ClipboardSink& sink,
                     const EntityListWriter& writeEntities) {
  std::array<double, 16> saved;
  for (size_t g = 0; g < 16; ++g) {
    saved[g] = doc.Header.LayerGroups[g].GroupScale;
    doc.Header.LayerGroups[g].GroupScale = scale;
  }
  const auto write = [&](OutStream& stream) {
    if (!WriteClipboardPrefix(stream, doc) || !writeEntities(stream)) {
      throw Error(MessageId::kCannotBuildClipboardDrawing, {stream.LastError()},
                  stream.LastFailure());
    }
  };
  try {
    if (OutStream* direct = sink.PayloadStream()) {
      write(*direct);
      sink.CommitPayload();
    } else {
      MemoryOutStream stream;
      write(stream);
      sink.SetJwWinData(stream.Bytes());
    }
  } catch (...) {
    for (size_t g = 0; g < 16; ++g)
      doc.Header.LayerGroups[g].GroupScale = saved[g];
    throw;
  }
  for (size_t g = 0; g < 16; ++g)
    doc.Header.LayerGroups[g].GroupScale = saved[g];
}

}  // namespace kestrova
