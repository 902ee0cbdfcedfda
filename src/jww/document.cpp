#include "jww/document.h"

namespace kestrova {

const char* ArchiveClassName(EntityClass c) {
  switch (c) {
    case EntityClass::kSen:
      return "CDataSen";
    case EntityClass::kEnko:
      return "CDataEnko";
    case EntityClass::kTen:
      return "CDataTen";
    case EntityClass::kMoji:
      return "CDataMoji";
    case EntityClass::kSunpou:
      return "CDataSunpou";
    case EntityClass::kSolid:
      return "CDataSolid";
    case EntityClass::kBlock:
      return "CDataBlock";
    case EntityClass::kList:
      return "CDataList";
  }
  return "";
}

void Clear(JwwDocument& doc) {
  doc.EntityOrder.clear();
  doc.SenList.clear();
  doc.EnkoList.clear();
  doc.MojiList.clear();
  doc.TenList.clear();
  doc.SunpouList.clear();
  doc.SolidList.clear();
  doc.BlockList.clear();
  doc.BlockDefList.clear();
  doc.BlockBodies.clear();
  doc.BodyUnderConstruction.clear();
  doc.EntityCount = 0;
}

void Init(JwwDocument& doc) {
  Clear(doc);
  doc.InBlockDefinition = false;
  doc.EntityListCount = 0;
  doc.EntityStreamPos = 0;
}

namespace {

template <class E>
void AddTo(JwwDocument& doc, std::vector<E>& list, EntityClass c, E&& e) {
  if (doc.InBlockDefinition) {
    doc.BodyUnderConstruction.emplace_back(std::move(e));
    return;
  }
  list.push_back(std::move(e));
  if (doc.BlockDefList.empty()) {
    doc.EntityOrder.push_back(c);
  } else {
    // Block definitions stay behind every other entry of the drawing order.
    doc.EntityOrder.insert(
        doc.EntityOrder.end() - static_cast<std::ptrdiff_t>(doc.BlockDefList.size()), c);
  }
  ++doc.EntityCount;
}

}  // namespace

void Add(JwwDocument& doc, TDataSen e) {
  AddTo(doc, doc.SenList, EntityClass::kSen, std::move(e));
}
void Add(JwwDocument& doc, TDataEnko e) {
  AddTo(doc, doc.EnkoList, EntityClass::kEnko, std::move(e));
}
void Add(JwwDocument& doc, TDataTen e) {
  AddTo(doc, doc.TenList, EntityClass::kTen, std::move(e));
}
void Add(JwwDocument& doc, TDataMoji e) {
  AddTo(doc, doc.MojiList, EntityClass::kMoji, std::move(e));
}
void Add(JwwDocument& doc, TDataSunpou e) {
  AddTo(doc, doc.SunpouList, EntityClass::kSunpou, std::move(e));
}
void Add(JwwDocument& doc, TDataSolid e) {
  AddTo(doc, doc.SolidList, EntityClass::kSolid, std::move(e));
}
void Add(JwwDocument& doc, TDataBlock e) {
  AddTo(doc, doc.BlockList, EntityClass::kBlock, std::move(e));
}

void BeginBlockDefinition(JwwDocument& doc) {
  doc.InBlockDefinition = true;
  doc.BodyUnderConstruction.clear();
}

void EndBlockDefinition(JwwDocument& doc, TDataList definition) {
  doc.InBlockDefinition = false;
  definition.MemberCount = static_cast<uint32_t>(doc.BodyUnderConstruction.size());
  doc.BlockDefList.push_back(std::move(definition));
  doc.BlockBodies.push_back(std::move(doc.BodyUnderConstruction));
  doc.BodyUnderConstruction.clear();
  doc.EntityOrder.push_back(EntityClass::kList);
  ++doc.EntityCount;
}

namespace {

template <class E>
void EraseAt(std::vector<E>& list, size_t index) {
  if (index < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace

void DeleteAt(JwwDocument& doc, EntityClass c, size_t index) {
  if (doc.InBlockDefinition) return;
  switch (c) {
    case EntityClass::kSen:
      return EraseAt(doc.SenList, index);
    case EntityClass::kEnko:
      return EraseAt(doc.EnkoList, index);
    case EntityClass::kTen:
      return EraseAt(doc.TenList, index);
    case EntityClass::kMoji:
      return EraseAt(doc.MojiList, index);
    case EntityClass::kSunpou:
      return EraseAt(doc.SunpouList, index);
    case EntityClass::kSolid:
      return EraseAt(doc.SolidList, index);
    case EntityClass::kBlock:
      return EraseAt(doc.BlockList, index);
    case EntityClass::kList:
      if (index < doc.BlockDefList.size()) {
        EraseAt(doc.BlockDefList, index);
        EraseAt(doc.BlockBodies, index);
      }
      return;
  }
}

}  // namespace kestrova
