// Private heaps on malloc: each heap keeps its blocks in a doubly linked list so that
// destroying the heap can release whatever is still held.
#include "platform/heap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace sys {
namespace {

// Sits in front of every block; its size keeps the block aligned as malloc's own, for any
// type: 16 bytes on a 64-bit system, 8 on a 32-bit one (as a Windows heap's blocks there).
struct alignas(std::max_align_t) BlockHeader {
  BlockHeader* previous;
  BlockHeader* next;
  std::size_t bytes;
};

// Access is serialised, as a Windows heap created without HEAP_NO_SERIALIZE is: a download
// thread and the main thread may use the same heap.
struct Heap {
  BlockHeader* first = nullptr;
  std::mutex lock;
  std::size_t maximum = 0;  // 0: growable
  std::size_t held = 0;     // bytes in blocks, counted for a heap with a maximum
};

// Whether a heap with a maximum has room for more bytes; always for a growable one.
bool HasRoom(const Heap* heap, std::size_t more) {
  return heap->maximum == 0 || more <= heap->maximum - heap->held;
}

constexpr std::size_t MaxBlockBytes = SIZE_MAX / 2 - sizeof(BlockHeader);

BlockHeader* HeaderOf(void* block) {
  return static_cast<BlockHeader*>(block) - 1;
}

void* BlockOf(BlockHeader* header) {
  return header + 1;
}

void Link(Heap* heap, BlockHeader* header) {
  header->previous = nullptr;
  header->next = heap->first;
  if (heap->first) heap->first->previous = header;
  heap->first = header;
}

void Unlink(Heap* heap, BlockHeader* header) {
  if (header->previous) {
    header->previous->next = header->next;
  } else {
    heap->first = header->next;
  }
  if (header->next) header->next->previous = header->previous;
}

}  // namespace

HANDLE HeapCreate(DWORD, std::size_t, std::size_t maximumSize) {
  // Blocks are taken on demand: the initial size reserves nothing.
  Heap* heap = new (std::nothrow) Heap;
  if (heap) heap->maximum = maximumSize;
  return heap;
}

void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
  if (!heap || bytes > MaxBlockBytes) return nullptr;
  auto* owner = static_cast<Heap*>(heap);
  std::lock_guard<std::mutex> guard(owner->lock);
  if (!HasRoom(owner, bytes)) return nullptr;
  std::size_t total = sizeof(BlockHeader) + bytes;
  auto* header = static_cast<BlockHeader*>((flags & HEAP_ZERO_MEMORY) ? std::calloc(1, total)
                                                                      : std::malloc(total));
  if (!header) return nullptr;
  header->bytes = bytes;
  owner->held += bytes;
  Link(owner, header);
  return BlockOf(header);
}

void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, std::size_t bytes) {
  if (!heap || !block || bytes > MaxBlockBytes) return nullptr;
  auto* owner = static_cast<Heap*>(heap);
  std::lock_guard<std::mutex> guard(owner->lock);
  BlockHeader* old = HeaderOf(block);
  std::size_t oldBytes = old->bytes;
  if (bytes > oldBytes && !HasRoom(owner, bytes - oldBytes)) return nullptr;
  // realloc may move the header: the neighbours' links are mended from the new address.
  // On failure the old block, and so the list, stays as it was.
  auto* header = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + bytes));
  if (!header) return nullptr;
  if (header->previous) {
    header->previous->next = header;
  } else {
    owner->first = header;
  }
  if (header->next) header->next->previous = header;
  header->bytes = bytes;
  owner->held = owner->held - oldBytes + bytes;
  if ((flags & HEAP_ZERO_MEMORY) && bytes > oldBytes) {
    std::memset(static_cast<char*>(BlockOf(header)) + oldBytes, 0, bytes - oldBytes);
  }
  return BlockOf(header);
}

BOOL HeapFree(HANDLE heap, DWORD, void* block) {
  if (!heap || !block) return FALSE;
  BlockHeader* header = HeaderOf(block);
  auto* owner = static_cast<Heap*>(heap);
  {
    std::lock_guard<std::mutex> guard(owner->lock);
    owner->held -= header->bytes;
    Unlink(owner, header);
  }
  std::free(header);
  return TRUE;
}

BOOL HeapDestroy(HANDLE heap) {
  if (!heap) return FALSE;
  auto* owner = static_cast<Heap*>(heap);
  BlockHeader* header = owner->first;
  while (header) {
    BlockHeader* next = header->next;
    std::free(header);
    header = next;
  }
  delete owner;
  return TRUE;
}

}  // namespace sys
