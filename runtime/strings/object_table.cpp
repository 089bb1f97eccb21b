// Object tables: numbered slots and a list of dynamic objects, all in the general heap.
#include "runtime/strings/object_table.h"

#include <cstdint>
#include <cstring>

#include "platform/heap.h"
#include "runtime/strings/heaps.h"

namespace ralto {
namespace {

ListNode* NodeOf(void* storage) {
  return static_cast<ListNode*>(storage) - 1;
}

void* StorageOf(ListNode* node) {
  return node + 1;
}

bool IsNumber(const ObjectTable* table, ObjectId id) {
  return id >= 0 && id < table->slotCount;
}

// Ids are not trusted: an address counts only when it is a node of this table's list.
bool IsDynamic(const ObjectTable* table, ObjectId id) {
  for (ListNode* node = table->listHead; node; node = node->older) {
    if (reinterpret_cast<ObjectId>(StorageOf(node)) == id) return true;
  }
  return false;
}

bool IsLive(const void* storage) {
  std::int32_t mark;
  std::memcpy(&mark, storage, sizeof mark);
  return mark != 0;
}

}  // namespace

ObjectTable* CreateObjectTable(std::int32_t objectSize, std::int32_t step,
                               FreeCallback freeCallback) {
  if (step < 1) step = 1;
  if (objectSize < static_cast<std::int32_t>(sizeof(std::int32_t))) {
    objectSize = sizeof(std::int32_t);
  }
  auto* table = static_cast<ObjectTable*>(
      sys::HeapAlloc(generalHeap, sys::HEAP_ZERO_MEMORY, sizeof(ObjectTable)));
  if (!table) return nullptr;
  table->slots = static_cast<void**>(sys::HeapAlloc(
      generalHeap, sys::HEAP_ZERO_MEMORY, sizeof(void*) * static_cast<std::size_t>(step)));
  if (!table->slots) {
    sys::HeapFree(generalHeap, 0, table);
    return nullptr;
  }
  table->objectSize = objectSize;
  table->step = step;
  table->slotCount = step;
  table->freeCallback = freeCallback;
  return table;
}

void* ObtainObject(ObjectTable* table, ObjectId number) {
  if (number == -1) return ListInsert(&table->listHead, table->objectSize + ListLinksSize);
  if (number < -1) return nullptr;
  if (number >= table->slotCount) {
    std::int64_t count = static_cast<std::int64_t>(number) + table->step;
    if (count > INT32_MAX) return nullptr;
    auto* slots =
        static_cast<void**>(sys::HeapReAlloc(generalHeap, sys::HEAP_ZERO_MEMORY, table->slots,
                                             sizeof(void*) * static_cast<std::size_t>(count)));
    if (!slots) return nullptr;
    table->slots = slots;
    table->slotCount = static_cast<std::int32_t>(count);
  }
  void*& slot = table->slots[number];
  if (slot) {
    // The owner's close routine finds the old object (or nothing) and zero-fills it.
    if (table->freeCallback) table->freeCallback(number);
    return slot;
  }
  slot = sys::HeapAlloc(generalHeap, sys::HEAP_ZERO_MEMORY,
                        static_cast<std::size_t>(table->objectSize));
  return slot;
}

void* LookupObject(ObjectTable* table, ObjectId id) {
  void* storage;
  if (IsNumber(table, id)) {
    storage = table->slots[id];
  } else if (IsDynamic(table, id)) {
    storage = reinterpret_cast<void*>(id);
  } else {
    return nullptr;
  }
  return storage && IsLive(storage) ? storage : nullptr;
}

void ReleaseObject(ObjectTable* table, ObjectId id) {
  if (IsNumber(table, id)) {
    if (void* storage = table->slots[id]) {
      std::memset(storage, 0, static_cast<std::size_t>(table->objectSize));
    }
  } else if (IsDynamic(table, id)) {
    ListUnlink(&table->listHead, reinterpret_cast<void*>(id));
  }
}

void ReleaseAllObjects(ObjectTable* table) {
  if (!table->freeCallback) return;
  RewindObjects(table);
  ObjectId id;
  while (NextObject(table, &id)) {
    table->freeCallback(id);
    // Once the slots are done, each call must take the list's head away; one that stayed
    // would be visited forever, so the table lets it go itself.
    if (table->cursor >= table->slotCount && table->listHead &&
        reinterpret_cast<ObjectId>(StorageOf(table->listHead)) == id) {
      ListUnlink(&table->listHead, StorageOf(table->listHead));
    }
  }
}

void RewindObjects(ObjectTable* table) {
  table->cursor = 0;
}

void* NextObject(ObjectTable* table, ObjectId* id) {
  while (table->cursor >= 0 && table->cursor < table->slotCount) {
    std::int32_t number = table->cursor++;
    void* storage = table->slots[number];
    if (storage && IsLive(storage)) {
      *id = number;
      return storage;
    }
  }
  if (table->listHead) {
    void* storage = StorageOf(table->listHead);
    *id = reinterpret_cast<ObjectId>(storage);
    return storage;
  }
  return nullptr;
}

void* ListInsert(ListNode** head, std::int32_t nodeSize) {
  if (nodeSize < ListLinksSize) return nullptr;
  auto* node = static_cast<ListNode*>(
      sys::HeapAlloc(generalHeap, sys::HEAP_ZERO_MEMORY, static_cast<std::size_t>(nodeSize)));
  if (!node) return nullptr;
  node->older = *head;
  if (*head) (*head)->newer = node;
  *head = node;
  return StorageOf(node);
}

void ListUnlink(ListNode** head, void* storage) {
  if (!storage) return;
  ListNode* node = NodeOf(storage);
  if (node == *head) {
    *head = node->older;
    if (*head) (*head)->newer = nullptr;
  } else {
    node->newer->older = node->older;
    if (node->older) node->older->newer = node->newer;
  }
  sys::HeapFree(generalHeap, 0, node);
}

}  // namespace ralto
