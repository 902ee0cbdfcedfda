#include "jww/archive.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "jww/archive_io.h"

namespace kestrova {

namespace {

// The archive's length forms, written once for any sink with Put(value) and
// Bytes(data, size): the stream itself, or room reserved in it.
template <class Sink>
void EncodeString(Sink& sink, std::string_view text) {
  const size_t n = text.size();
  if (n < 0xFF) {
    sink.Put(static_cast<uint8_t>(n));
  } else if (n < 0xFFFE) {
    sink.Put(static_cast<uint8_t>(0xFF));
    sink.Put(static_cast<uint16_t>(n));
  } else {
    sink.Put(static_cast<uint8_t>(0xFF));
    sink.Put(static_cast<uint16_t>(0xFFFF));
    sink.Put(static_cast<uint32_t>(n));
  }
  sink.Bytes(text.data(), n);
}

template <class Sink>
void EncodeCount(Sink& sink, uint32_t count) {
  if (count < 0x8000) {
    sink.Put(static_cast<uint16_t>(count));
  } else {
    sink.Put(static_cast<uint16_t>(0xFFFF));
    sink.Put(count);
  }
}

struct StreamSink {
  OutStream& s;
  template <class T>
  void Put(T v) {
    s.WriteValue(v);
  }
  void Bytes(const char* data, size_t n) { s.Write(data, n); }
};

}  // namespace

void WriteArchiveString(OutStream& s, std::string_view text) {
  StreamSink sink{s};
  EncodeString(sink, text);
}

std::string ReadArchiveString(InStream& s) {
  const size_t at = s.Position();
  size_t n = s.Read<uint8_t>();
  if (n == 0xFF) {
    n = s.Read<uint16_t>();
    if (n == 0xFFFE) s.FailAt(at, "a UTF-16 text, which this format version does not hold");
    if (n == 0xFFFF) n = s.Read<uint32_t>();
  }
  if (n > s.Remaining()) {
    s.FailAt(at, "a text of " + std::to_string(n) + " bytes, but only " +
                     std::to_string(s.Remaining()) + " bytes remain");
  }
  return std::string(s.ReadBytes(n));
}

void WriteCount(OutStream& s, uint32_t count) {
  StreamSink sink{s};
  EncodeCount(sink, count);
}

uint32_t ReadCount(InStream& s) {
  const uint16_t small = s.Read<uint16_t>();
  return small == 0xFFFF ? s.Read<uint32_t>() : small;
}

void WriteNewClassTag(OutStream& s, EntityClass c, uint32_t version) {
  const std::string_view name = ArchiveClassName(c);
  s.WriteValue(static_cast<uint16_t>(0xFFFF));
  s.WriteValue(static_cast<uint16_t>(version & 0xFFFF));
  s.WriteValue(static_cast<uint16_t>(name.size()));
  s.Write(name.data(), name.size());
}

void WriteClassRef(OutStream& s, uint32_t classIndex, uint64_t objectsWritten) {
  if (objectsWritten <= 32768 && classIndex < 0x7FFF) {
    s.WriteValue(static_cast<uint16_t>(0x8000 + classIndex));
  } else {
    s.WriteValue(static_cast<uint16_t>(0x7FFF));
    s.WriteValue(static_cast<uint32_t>(0x80000000u | classIndex));
  }
}

namespace {

// Writes straight into reserved room of the stream: one bounds check per record.
struct RawIo {
  char* p;
  template <class T>
  void Put(T v) {
    std::memcpy(p, &v, sizeof v);
    p += sizeof v;
  }
  void U8(uint8_t v) { Put(v); }
  void U16(uint16_t v) { Put(v); }
  void U32(uint32_t v) { Put(v); }
  void F64(double v) { Put(v); }
  void Count(uint32_t v) { EncodeCount(*this, v); }
  void Str(const std::string& v) { EncodeString(*this, v); }
  void Bytes(const char* data, size_t n) {
    std::memcpy(p, data, n);
    p += n;
  }
};

// The most bytes a record can take: its fixed part and its texts with their lengths.
template <class E>
size_t RecordBound(const E& e) {
  size_t texts = 0;
  if constexpr (std::is_same_v<E, TDataMoji>) texts = e.FontName.size() + e.Text.size();
  if constexpr (std::is_same_v<E, TDataSunpou>) {
    texts = e.Label.FontName.size() + e.Label.Text.size();
  }
  if constexpr (std::is_same_v<E, TDataList>) texts = e.Name.size();
  return 512 + texts + 2 * 7;
}

template <class E>
void Write(OutStream& s, const E& e, uint32_t version) {
  const size_t bound = RecordBound(e);
  if (char* room = s.Reserve(bound)) {
    RawIo io{room};
    VisitRecord(io, e, version);
    s.Advance(static_cast<size_t>(io.p - room));
    return;
  }
  WriteIo io{s};
  VisitRecord(io, e, version);
}

}  // namespace

void WriteRecord(OutStream& s, const TDataSen& e, uint32_t v) {
  Write(s, e, v);
}
void WriteRecord(OutStream& s, const TDataEnko& e, uint32_t v) {
  Write(s, e, v);
}
void WriteRecord(OutStream& s, const TDataTen& e, uint32_t v) {
  if (e.PenStyle == 100 && v < 300) {
    TDataTen plain = e;
    plain.PenStyle = 1;
    Write(s, plain, v);
    return;
  }
  Write(s, e, v);
}
void WriteRecord(OutStream& s, const TDataMoji& e, uint32_t v) {
  Write(s, e, v);
}
void WriteRecord(OutStream& s, const TDataSunpou& e, uint32_t v) {
  Write(s, e, v);
}
void WriteRecord(OutStream& s, const TDataSolid& e, uint32_t v) {
  Write(s, e, v);
}
void WriteRecord(OutStream& s, const TDataBlock& e, uint32_t v) {
  Write(s, e, v);
}
void WriteRecord(OutStream& s, const TDataList& e, uint32_t v) {
  Write(s, e, v);
}

void ArchiveObjectWriter::Member(const BlockMember& m) {
  std::visit([this, &m](const auto& e) { Object(static_cast<EntityClass>(m.index()), e); }, m);
}

namespace {

template <class E>
const E& Next(const std::vector<E>& list, size_t& running) {
  if (running >= list.size()) {
    throw StreamError("the drawing order names more entities than the drawing holds");
  }
  return list[running++];
}

}  // namespace

bool WriteEntityList(JwwDocument& doc, OutStream& stream, uint32_t version) {
  if (doc.Header.Version == 0) doc.Header.Version = 420;
  const uint32_t remembered = doc.Header.Version;
  if (version >= 200) doc.Header.Version = version;
  const uint32_t v = doc.Header.Version;
  bool ok = true;
  try {
    stream.Seek(doc.EntityStreamPos);
    ArchiveObjectWriter w(stream, v);
    std::array<size_t, kEntityClassCount> running{};
    const size_t drawn =
        doc.EntityOrder.size() - std::min(doc.EntityOrder.size(), doc.BlockDefList.size());
    for (size_t i = 0; i < drawn; ++i) {
      const EntityClass c = doc.EntityOrder[i];
      size_t& r = running[static_cast<size_t>(c)];
      switch (c) {
        case EntityClass::kSen:
          w.Object(c, Next(doc.SenList, r));
          break;
        case EntityClass::kEnko:
          w.Object(c, Next(doc.EnkoList, r));
          break;
        case EntityClass::kTen:
          w.Object(c, Next(doc.TenList, r));
          break;
        case EntityClass::kMoji:
          w.Object(c, Next(doc.MojiList, r));
          break;
        case EntityClass::kSunpou:
          w.Object(c, Next(doc.SunpouList, r));
          break;
        case EntityClass::kSolid:
          w.Object(c, Next(doc.SolidList, r));
          break;
        case EntityClass::kBlock:
          w.Object(c, Next(doc.BlockList, r));
          break;
        case EntityClass::kList:
          throw StreamError("a block definition stands before the end of the drawing order");
      }
    }
    if (!doc.BlockDefList.empty()) {
      WriteCount(stream, static_cast<uint32_t>(doc.BlockDefList.size()));
      for (size_t d = 0; d < doc.BlockDefList.size(); ++d) {
        TDataList def = doc.BlockDefList[d];
        const std::vector<BlockMember>& body = doc.BlockBodies.at(d);
        def.MemberCount = static_cast<uint32_t>(body.size());
        w.Object(EntityClass::kList, def);
        for (const BlockMember& m : body)
          w.Member(m);
      }
    }
    stream.WriteValue(static_cast<uint16_t>(0));
  } catch (const std::exception& e) {
    stream.SetLastError(e);
    ok = false;
  }
  doc.Header.Version = remembered;
  return ok;
}

namespace {

constexpr size_t kSmallestObject = 30;  // a class reference and the shortest record

class ObjectReader {
 public:
  ObjectReader(InStream& s, uint32_t version) : s_(s), version_(version) {}

  void CheckCount(uint32_t count, const char* what) {
    if (static_cast<uint64_t>(count) * kSmallestObject > s_.Remaining()) {
      s_.Fail(std::string("a count of ") + std::to_string(count) + " " + what + ", more than the " +
              std::to_string(s_.Remaining()) + " remaining bytes can hold");
    }
  }

  // Reads a class tag or reference and returns the object's class.
  EntityClass ClassOfNextObject() {
    const size_t at = s_.Position();
    const uint16_t tag = s_.Read<uint16_t>();
    EntityClass c;
    if (tag == 0xFFFF) {
      s_.Read<uint16_t>();  // schema
      const uint16_t length = s_.Read<uint16_t>();
      if (length == 0 || length > 64)
        s_.FailAt(at, "a class name of " + std::to_string(length) + " bytes");
      const std::string_view name = s_.ReadBytes(length);
      const auto known = ClassByName(name);
      if (!known) s_.FailAt(at, "the unknown class \"" + Printable(name) + "\"");
      c = *known;
      // Indices past 31 bits can never be referred to; keeping them would only cost.
      if (++mapCount_ <= 0x7FFFFFFFu) classes_.emplace(static_cast<uint32_t>(mapCount_), c);
    } else {
      uint32_t index;
      if (tag == 0x7FFF) {
        const uint32_t big = s_.Read<uint32_t>();
        if ((big & 0x80000000u) == 0)
          s_.FailAt(at, "a reference to an earlier object, which drawings do not use");
        index = big & 0x7FFFFFFFu;
      } else if (tag & 0x8000) {
        index = tag & 0x7FFFu;
      } else {
        s_.FailAt(at, "a reference to an earlier object, which drawings do not use");
      }
      const auto found = classes_.find(index);
      if (found == classes_.end()) {
        s_.FailAt(at, "a reference to class number " + std::to_string(index) +
                          ", which was never introduced");
      }
      c = found->second;
    }
    ++mapCount_;
    return c;
  }

  template <class E>
  E Record() {
    E e{};
    ReadIo io{s_};
    VisitRecord(io, e, version_);
    return e;
  }

  BlockMember Member(EntityClass c, size_t at) {
    switch (c) {
      case EntityClass::kSen:
        return Record<TDataSen>();
      case EntityClass::kEnko:
        return Record<TDataEnko>();
      case EntityClass::kTen:
        return Record<TDataTen>();
      case EntityClass::kMoji:
        return Record<TDataMoji>();
      case EntityClass::kSunpou:
        return Record<TDataSunpou>();
      case EntityClass::kSolid:
        return Record<TDataSolid>();
      case EntityClass::kBlock:
        return Record<TDataBlock>();
      case EntityClass::kList:
        break;
    }
    s_.FailAt(at, "a block definition where a drawing entity was expected");
  }

 private:
  static std::optional<EntityClass> ClassByName(std::string_view name) {
    for (int i = 0; i < kEntityClassCount; ++i) {
      const auto c = static_cast<EntityClass>(i);
      if (name == ArchiveClassName(c)) return c;
    }
    return std::nullopt;
  }
  static std::string Printable(std::string_view name) {
    std::string out;
    for (char ch : name)
      out += (ch >= 32 && ch < 127) ? ch : '?';
    return out;
  }

  InStream& s_;
  uint32_t version_;
  uint64_t mapCount_ = 0;
  // Map index -> class of every class tag read. Drawings introduce each class once, but
  // a damaged or hostile file may repeat tags millions of times: a hash lookup keeps
  // reading it linear.
  std::unordered_map<uint32_t, EntityClass> classes_;
};

// Fills a document as the reader hands it the entities.
class DocumentBuilder : public EntityListVisitor {
 public:
  explicit DocumentBuilder(JwwDocument& doc) : doc_(doc) {}
  void Entity(BlockMember& m) override {
    std::visit([this](auto&& e) { Add(doc_, std::move(e)); }, std::move(m));
  }
  void Definition(TDataList& definition) override {
    definition_ = std::move(definition);
    BeginBlockDefinition(doc_);
  }
  void EndDefinition() override { EndBlockDefinition(doc_, std::move(definition_)); }

 private:
  JwwDocument& doc_;
  TDataList definition_;
};

}  // namespace

void ReadEntityList(InStream& s, uint32_t count, uint32_t version, EntityListVisitor& visitor) {
  ObjectReader r(s, version);
  r.CheckCount(count, "entities");
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = s.Position();
    BlockMember m = r.Member(r.ClassOfNextObject(), at);
    visitor.Entity(m);
  }
  const uint32_t definitions = ReadCount(s);
  r.CheckCount(definitions, "block definitions");
  for (uint32_t d = 0; d < definitions; ++d) {
    const size_t at = s.Position();
    if (r.ClassOfNextObject() != EntityClass::kList) {
      s.FailAt(at, "a drawing entity where a block definition was expected");
    }
    TDataList def = r.Record<TDataList>();
    r.CheckCount(def.MemberCount, "block members");
    const uint32_t members = def.MemberCount;
    visitor.Definition(def);
    for (uint32_t m = 0; m < members; ++m) {
      const size_t mat = s.Position();
      BlockMember member = r.Member(r.ClassOfNextObject(), mat);
      visitor.Entity(member);
    }
    visitor.EndDefinition();
  }
  // After a non-empty block list this program closes with a further u16 0; Jw_cad
  // itself ends the list there.
  if (definitions > 0 && s.Remaining() > 0) ReadCount(s);
}

void ReadEntityList(InStream& s, uint32_t count, uint32_t version, JwwDocument& doc) {
  DocumentBuilder builder(doc);
  ReadEntityList(s, count, version, builder);
}

}  // namespace kestrova
