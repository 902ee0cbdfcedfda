#include "jww/jww_file.h"

#include "common/atomic_file.h"
#include "common/error.h"
#include "jww/archive.h"
#include "jww/header.h"

namespace kestrova {

bool WriteJwwDrawing(JwwDocument& doc, OutStream& stream, uint32_t version) {
  return WriteJwwHeader(stream, doc.Header, version, doc.EntityListCount, doc.EntityStreamPos) &&
         WriteEntityList(doc, stream, version);
}

JwwDocument ReadJwwDrawing(std::string_view bytes, const std::string& name) {
  InStream in(bytes);
  return ReadJwwDrawing(in, name);
}

JwwDocument ReadJwwDrawing(InStream& in, const std::string& name) {
  JwwDocument doc;
  try {
    const uint32_t count = ReadJwwHeader(in, doc.Header);
    doc.EntityListCount = count;
    doc.EntityStreamPos = in.Position();
    ReadEntityList(in, count, doc.Header.Version, doc);
  } catch (const ReadError& e) {
    throw Error(name + ": " + e.what());
  }
  return doc;
}

void VisitJwwDrawing(InStream& in, const std::string& name,
                     const std::function<void(const JwwHeader&, uint32_t count)>& header,
                     EntityListVisitor& visitor) {
  try {
    JwwHeader h;
    const uint32_t count = ReadJwwHeader(in, h);
    header(h, count);
    ReadEntityList(in, count, h.Version, visitor);
  } catch (const ReadError& e) {
    throw Error(name + ": " + e.what());
  }
}

JwwDocument ReadJwwFile(const std::filesystem::path& path) {
  return ReadJwwDrawing(ReadFileBytes(path), path.string());
}

}  // namespace kestrova
