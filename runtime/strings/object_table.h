// Numbered and dynamic objects of one kind, and the doubly linked list that holds the latter.
#pragma once
#include <cstdint>

namespace ralto {

// 0 .. slotCount-1: a number; anything else: the address of a dynamic object's storage.
using ObjectId = std::intptr_t;
using FreeCallback = void (*)(ObjectId id);

// The storage follows the two links.
struct ListNode {
  ListNode* older;
  ListNode* newer;
};
inline constexpr std::int32_t ListLinksSize = sizeof(ListNode);

struct ObjectTable {
  std::int32_t objectSize;
  std::int32_t step;
  std::int32_t slotCount;
  void** slots;
  ListNode* listHead;
  FreeCallback freeCallback;
  std::int32_t cursor;
};

// An object exists while its storage's first 32-bit field is not 0. Null without memory.
[[nodiscard]] ObjectTable* CreateObjectTable(std::int32_t objectSize, std::int32_t step,
                                             FreeCallback);
// number -1: a new dynamic object (its address is its id). A number in use is freed first.
// Its storage, or null (no memory, a number below -1 or too large).
void* ObtainObject(ObjectTable* table, ObjectId number);
// The storage of a live object, or null.
void* LookupObject(ObjectTable* table, ObjectId id);
void ReleaseObject(ObjectTable* table, ObjectId id);
void ReleaseAllObjects(ObjectTable* table);
void RewindObjects(ObjectTable* table);
// The next live object's storage with its id in *id; null after the last.
void* NextObject(ObjectTable* table, ObjectId* id);
// A zero-filled node of nodeSize bytes (links included) at the head; its storage, or null.
[[nodiscard]] void* ListInsert(ListNode** head, std::int32_t nodeSize);
void ListUnlink(ListNode** head, void* storage);

}  // namespace ralto
