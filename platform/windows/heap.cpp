// Private heaps on Windows: the system's own heaps.
#include "platform/heap.h"

#include <windows.h>

namespace sys {

HANDLE HeapCreate(DWORD options, std::size_t initialSize, std::size_t maximumSize) {
  return ::HeapCreate(options, initialSize, maximumSize);
}

void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
  return ::HeapAlloc(heap, flags, bytes);
}

void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, std::size_t bytes) {
  return ::HeapReAlloc(heap, flags, block, bytes);
}

BOOL HeapFree(HANDLE heap, DWORD flags, void* block) {
  return ::HeapFree(heap, flags, block);
}

BOOL HeapDestroy(HANDLE heap) {
  return ::HeapDestroy(heap);
}

}  // namespace sys
