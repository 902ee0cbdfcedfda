#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "jww/document.h"
#include "jww/stream.h"

namespace kestrova {

// Writes a whole drawing file: header at version (see WriteJwwHeader) with
// doc.EntityListCount as the count, then the entities at the same version. Returns
// false on a stream error; stream.LastError() says why.
bool WriteJwwDrawing(JwwDocument& doc, OutStream& stream, uint32_t version);

// Reads a drawing of any version from 200 to 420 into a fresh document (header
// included). Anything this program cannot understand, damaged or hostile input among
// it, throws kestrova::Error naming the byte offset (and the file, for a path).
JwwDocument ReadJwwDrawing(std::string_view bytes, const std::string& name = "drawing");
JwwDocument ReadJwwFile(const std::filesystem::path& path);
// The same from a stream (which may read its bytes a window at a time).
JwwDocument ReadJwwDrawing(InStream& in, const std::string& name);

class EntityListVisitor;
// Reads a drawing from in as ReadJwwDrawing does, keeping nothing: header hears the
// header and the entity count, then visitor takes each entity as it is read.
void VisitJwwDrawing(InStream& in, const std::string& name,
                     const std::function<void(const JwwHeader&, uint32_t count)>& header,
                     EntityListVisitor& visitor);

}  // namespace kestrova
