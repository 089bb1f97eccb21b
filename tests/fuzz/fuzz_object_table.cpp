// Object tables under an arbitrary sequence of obtain, release, release-all, list and look-up
// operations, checked after each one against a plain model of numbered and dynamic objects.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "fuzz_support.h"
#include "runtime/strings/object_table.h"

namespace ralto::fuzz {
namespace {

// What the owner's release routine does: all objects, only numbered ones, nothing, or the
// table has no routine at all.
enum class Owner { ReleasesAll, ReleasesNumbers, ReleasesNothing, NoRoutine };

ObjectTable* table = nullptr;
Owner owner = Owner::ReleasesAll;

void OwnerRelease(ObjectId id) {
  bool number = id >= 0 && id < table->slotCount;
  if (owner == Owner::ReleasesAll || (owner == Owner::ReleasesNumbers && number)) {
    ReleaseObject(table, id);
  }
}

struct Model {
  std::map<ObjectId, std::uint32_t> numbered;               // number -> stamp
  std::vector<std::pair<ObjectId, std::uint32_t>> dynamic;  // newest first
  std::uint32_t nextStamp = 1;
};

// The live mark, then bytes that tell whose storage this is.
void Stamp(void* storage, std::int32_t size, std::uint32_t stamp) {
  auto* bytes = static_cast<std::uint8_t*>(storage);
  std::memcpy(bytes, &stamp, sizeof stamp);
  for (std::int32_t k = 4; k < size; ++k) bytes[k] = static_cast<std::uint8_t>(stamp * 31 + k);
}

bool HasStamp(const void* storage, std::int32_t size, std::uint32_t stamp) {
  const auto* bytes = static_cast<const std::uint8_t*>(storage);
  std::uint32_t mark;
  std::memcpy(&mark, bytes, sizeof mark);
  if (mark != stamp) return false;
  for (std::int32_t k = 4; k < size; ++k) {
    if (bytes[k] != static_cast<std::uint8_t>(stamp * 31 + k)) return false;
  }
  return true;
}

bool IsZero(const void* storage, std::int32_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(storage);
  return std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; });
}

// An id to release or look up: live or not, number or address, or neither.
ObjectId PickId(FuzzedDataProvider& in, const Model& model) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      if (!model.numbered.empty()) {
        auto it = model.numbered.begin();
        std::advance(it, in.ConsumeIntegralInRange<std::size_t>(0, model.numbered.size() - 1));
        return it->first;
      }
      [[fallthrough]];
    case 1:
      if (!model.dynamic.empty()) {
        return model.dynamic[in.ConsumeIntegralInRange<std::size_t>(0, model.dynamic.size() - 1)]
            .first;
      }
      [[fallthrough]];
    case 2:
      return in.ConsumeIntegralInRange<ObjectId>(-3, 80);
    default:
      return in.ConsumeIntegral<ObjectId>();
  }
}

void CheckListing(const Model& model, std::int32_t size) {
  RewindObjects(table);
  ObjectId id;
  auto expected = model.numbered.begin();
  while (void* storage = NextObject(table, &id)) {
    if (expected != model.numbered.end()) {
      FUZZ_CHECK(id == expected->first);
      FUZZ_CHECK(HasStamp(storage, size, expected->second));
      ++expected;
      continue;
    }
    // Past the numbers the walk stays on the newest dynamic object until it is released.
    FUZZ_CHECK(!model.dynamic.empty() && id == model.dynamic.front().first);
    FUZZ_CHECK(reinterpret_cast<ObjectId>(storage) == id);
    FUZZ_CHECK(HasStamp(storage, size, model.dynamic.front().second));
    return;
  }
  FUZZ_CHECK(expected == model.numbered.end() && model.dynamic.empty());
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto;
  using namespace ralto::fuzz;
  FuzzedDataProvider in(data, size);
  generalHeap = sys::HeapCreate(0, 4096, 0);
  owner = static_cast<Owner>(in.ConsumeIntegralInRange(0, 3));
  std::int32_t objectSize = in.ConsumeIntegralInRange(0, 48);
  std::int32_t step = in.ConsumeIntegralInRange(-1, 8);
  table = CreateObjectTable(objectSize, step, owner == Owner::NoRoutine ? nullptr : OwnerRelease);
  FUZZ_CHECK(table != nullptr);
  const std::int32_t storageSize = std::max<std::int32_t>(objectSize, 4);
  Model model;

  for (int operations = 0; operations < 400 && in.remaining_bytes() > 0; ++operations) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: {  // obtain a number: an object in use is released first, if the owner does
        ObjectId number = in.ConsumeIntegralInRange<ObjectId>(0, 70);
        bool live = model.numbered.count(number) != 0;
        void* storage = ObtainObject(table, number);
        FUZZ_CHECK(storage != nullptr);
        bool released = owner == Owner::ReleasesAll || owner == Owner::ReleasesNumbers;
        if (!live || released) FUZZ_CHECK(IsZero(storage, storageSize));
        if (live && !released) FUZZ_CHECK(HasStamp(storage, storageSize, model.numbered[number]));
        Stamp(storage, storageSize, model.nextStamp);
        model.numbered[number] = model.nextStamp++;
        break;
      }
      case 1: {  // obtain a dynamic object
        void* storage = ObtainObject(table, -1);
        FUZZ_CHECK(storage != nullptr && IsZero(storage, storageSize));
        auto id = reinterpret_cast<ObjectId>(storage);
        FUZZ_CHECK(id < 0 || id >= table->slotCount);
        Stamp(storage, storageSize, model.nextStamp);
        model.dynamic.insert(model.dynamic.begin(), {id, model.nextStamp++});
        break;
      }
      case 2: {  // release one id, whatever it is
        ObjectId id = PickId(in, model);
        ReleaseObject(table, id);
        model.numbered.erase(id);
        std::erase_if(model.dynamic, [id](const auto& entry) { return entry.first == id; });
        break;
      }
      case 3:  // release all through the owner's routine
        ReleaseAllObjects(table);
        if (owner == Owner::NoRoutine) break;
        if (owner != Owner::ReleasesNothing) model.numbered.clear();
        model.dynamic.clear();  // the table lets go of those the owner keeps
        break;
      case 4:
        CheckListing(model, storageSize);
        break;
      default: {  // look up
        ObjectId id = PickId(in, model);
        void* storage = LookupObject(table, id);
        auto numbered = model.numbered.find(id);
        auto dynamic = std::find_if(model.dynamic.begin(), model.dynamic.end(),
                                    [id](const auto& entry) { return entry.first == id; });
        if (numbered != model.numbered.end()) {
          FUZZ_CHECK(storage && HasStamp(storage, storageSize, numbered->second));
        } else if (dynamic != model.dynamic.end()) {
          FUZZ_CHECK(storage == reinterpret_cast<void*>(id) &&
                     HasStamp(storage, storageSize, dynamic->second));
        } else {
          FUZZ_CHECK(storage == nullptr);
        }
      }
    }
  }
  CheckListing(model, storageSize);
  sys::HeapDestroy(generalHeap);
  generalHeap = nullptr;
  table = nullptr;
  return 0;
}
