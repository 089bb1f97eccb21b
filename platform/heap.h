// Private heaps: every block a heap handed out is released when the heap is destroyed.
#pragma once
#include "platform/types.h"

namespace sys {

inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

// A growable heap (maximumSize 0), or one that never holds more than maximumSize bytes of
// blocks; null when it cannot be created.
HANDLE HeapCreate(DWORD options, std::size_t initialSize, std::size_t maximumSize);
// A block of bytes, zero-filled with HEAP_ZERO_MEMORY; null when memory is exhausted.
void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes);
// Resizes a block, keeping its contents (new bytes zero-filled with HEAP_ZERO_MEMORY); the
// block may move. Null when it cannot grow, and the old block is then still valid.
void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, std::size_t bytes);
// Releases one block; FALSE for a null block.
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);
// Releases every block still held and the heap itself.
BOOL HeapDestroy(HANDLE heap);

}  // namespace sys
