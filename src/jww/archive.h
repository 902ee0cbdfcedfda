#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "jww/document.h"
#include "jww/stream.h"

namespace kestrova {

// string: length as u8 below 255, else 0xFF and u16 (0xFF 0xFFFF and u32 from 0xFFFE,
// as MFC does); then the bytes, no terminator.
void WriteArchiveString(OutStream& s, std::string_view text);
std::string ReadArchiveString(InStream& s);

// count: u16 below 0x8000, else 0xFFFF and u32.
void WriteCount(OutStream& s, uint32_t count);
// Reads either form of a count (MFC also writes u16 up to 0xFFFE).
uint32_t ReadCount(InStream& s);

// New class tag: u16 0xFFFF, u16 schema (the version's low 16 bits), u16 name length,
// the name.
void WriteNewClassTag(OutStream& s, EntityClass c, uint32_t version);

// Reference to a class already written: u16 0x8000 + index while at most 32768 objects
// were written and the index fits (never 0xFFFF), else u16 0x7FFF and u32
// 0x80000000 + index.
void WriteClassRef(OutStream& s, uint32_t classIndex, uint64_t objectsWritten);

// Writes one record at version (the Jww versions 220..420). A point with a code below
// version 300 is written as a plain point: there is no place for its code there.
void WriteRecord(OutStream& s, const TDataSen& e, uint32_t version);
void WriteRecord(OutStream& s, const TDataEnko& e, uint32_t version);
void WriteRecord(OutStream& s, const TDataTen& e, uint32_t version);
void WriteRecord(OutStream& s, const TDataMoji& e, uint32_t version);
void WriteRecord(OutStream& s, const TDataSunpou& e, uint32_t version);
void WriteRecord(OutStream& s, const TDataSolid& e, uint32_t version);
void WriteRecord(OutStream& s, const TDataBlock& e, uint32_t version);
void WriteRecord(OutStream& s, const TDataList& e, uint32_t version);

// Numbers classes and objects as the archive does: each new class tag and each object
// takes the next number, from 1. One writer serves one entity list from its first
// object to its last; a run of objects of one class can also be written apart (After)
// and its bytes put in their place later, the writer told of them with Skip.
class ArchiveObjectWriter {
 public:
  ArchiveObjectWriter(OutStream& s, uint32_t version) : s_(&s), version_(version) {}

  template <class E>
  void Object(EntityClass c, const E& e) {
    uint32_t& index = classIndex_[static_cast<size_t>(c)];
    if (index == 0) {
      WriteNewClassTag(*s_, c, version_);
      index = static_cast<uint32_t>(++mapCount_);
    } else {
      WriteClassRef(*s_, index, objects_);
    }
    WriteRecord(*s_, e, version_);
    ++mapCount_;
    ++objects_;
  }
  void Member(const BlockMember& m);

  // A writer into s of what would follow the next `before` objects of class c: the same
  // bytes this one would write there.
  ArchiveObjectWriter After(OutStream& s, EntityClass c, uint64_t before) const {
    ArchiveObjectWriter w(*this);
    w.s_ = &s;
    w.Skip(c, before);
    return w;
  }
  // Counts n objects of class c as written, as Object would have.
  void Skip(EntityClass c, uint64_t n) {
    if (n == 0) return;
    uint32_t& index = classIndex_[static_cast<size_t>(c)];
    if (index == 0) index = static_cast<uint32_t>(++mapCount_);
    mapCount_ += n;
    objects_ += n;
  }

 private:
  OutStream* s_;
  uint32_t version_;
  std::array<uint32_t, kEntityClassCount> classIndex_{};
  uint64_t mapCount_ = 0;
  uint64_t objects_ = 0;
};

// Writes every entity object from doc.EntityStreamPos on, then the block definitions
// and the closing u16 0. The version in force is version when it is 200 or more, else
// doc.Header.Version (420 when 0); doc.Header.Version is restored in every case.
// Returns false on a stream error (stream.LastError() says why).
bool WriteEntityList(JwwDocument& doc, OutStream& stream, uint32_t version);

// Reads count entity objects and the block definition list at version into doc (whose
// lists must be empty). Throws ReadError on hostile or damaged input.
void ReadEntityList(InStream& stream, uint32_t count, uint32_t version, JwwDocument& doc);

// Takes the entities as they are read, in file order: the drawing's, then each block
// definition followed by its members and EndDefinition. It may move from what it gets.
class EntityListVisitor {
 public:
  virtual ~EntityListVisitor() = default;
  virtual void Entity(BlockMember& entity) = 0;
  virtual void Definition(TDataList& definition) = 0;
  virtual void EndDefinition() = 0;
};
// The same handing each entity to visitor instead of keeping it.
void ReadEntityList(InStream& stream, uint32_t count, uint32_t version, EntityListVisitor& visitor);

}  // namespace kestrova
