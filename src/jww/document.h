#pragma once

#include <cstdint>
#include <vector>

#include "jww/entities.h"
#include "jww/header.h"

namespace kestrova {

// The drawing: entities per class in list order, and the drawing order across classes.
// For every class, its entries in EntityOrder taken in order are its list in order;
// block definitions come after every other entry.
struct JwwDocument {
  std::vector<EntityClass> EntityOrder;
  std::vector<TDataSen> SenList;
  std::vector<TDataEnko> EnkoList;
  std::vector<TDataMoji> MojiList;
  std::vector<TDataTen> TenList;
  std::vector<TDataSunpou> SunpouList;
  std::vector<TDataSolid> SolidList;
  std::vector<TDataBlock> BlockList;
  std::vector<TDataList> BlockDefList;
  // Member entities of each block definition, parallel to BlockDefList.
  std::vector<std::vector<BlockMember>> BlockBodies;
  // While set, Add collects members for the definition under construction.
  bool InBlockDefinition = false;
  std::vector<BlockMember> BodyUnderConstruction;

  int32_t EntityCount = 0;       // all entities added to the drawing
  uint32_t EntityListCount = 0;  // the object count written before the entities
  uint64_t EntityStreamPos = 0;  // where the entities begin, set by the prefix writers

  JwwHeader Header;

  size_t SenCount() const { return SenList.size(); }
  size_t EnkoCount() const { return EnkoList.size(); }
  size_t MojiCount() const { return MojiList.size(); }
  size_t TenCount() const { return TenList.size(); }
  size_t SunpouCount() const { return SunpouList.size(); }
  size_t SolidCount() const { return SolidList.size(); }
  size_t BlockCount() const { return BlockList.size(); }
  size_t BlockDefCount() const { return BlockDefList.size(); }
};

// Empties every list and counter; the header stays.
void Clear(JwwDocument& doc);
// Clear and reset InBlockDefinition, EntityListCount and the stream position.
void Init(JwwDocument& doc);

void Add(JwwDocument& doc, TDataSen e);
void Add(JwwDocument& doc, TDataEnko e);
void Add(JwwDocument& doc, TDataTen e);
void Add(JwwDocument& doc, TDataMoji e);
void Add(JwwDocument& doc, TDataSunpou e);
void Add(JwwDocument& doc, TDataSolid e);
void Add(JwwDocument& doc, TDataBlock e);

// Starts collecting members; EndBlockDefinition adds the definition with them.
void BeginBlockDefinition(JwwDocument& doc);
void EndBlockDefinition(JwwDocument& doc, TDataList definition);

// Removes entry index of a class's own list (not from EntityOrder), unless a block
// definition is being built.
void DeleteAt(JwwDocument& doc, EntityClass c, size_t index);

}  // namespace kestrova
