// The general heap, home of the runtime's records.
#include "runtime/strings/heaps.h"

namespace ralto {

sys::HANDLE generalHeap = nullptr;

}  // namespace ralto
