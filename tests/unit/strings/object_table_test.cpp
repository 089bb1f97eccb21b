// Numbered and dynamic objects, their release and iteration, and the list operations.
#include "runtime/strings/object_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/unit/strings/strings_fixture.h"

namespace ralto {
namespace {

struct Record {
  std::int32_t handle;  // the liveness mark
  std::int32_t payload[7];
};

// The owning module's close routine: it records the call, then releases the object.
std::vector<ObjectId> closed;
ObjectTable* table = nullptr;
bool leaveDynamicObjects = false;

void CloseRecord(ObjectId id) {
  closed.push_back(id);
  if (leaveDynamicObjects && (id < 0 || id >= table->slotCount)) return;
  ReleaseObject(table, id);
}

class ObjectTableTest : public StringsTest {
 protected:
  void SetUp() override {
    StringsTest::SetUp();
    closed.clear();
    leaveDynamicObjects = false;
    table = CreateObjectTable(sizeof(Record), 16, CloseRecord);
    ASSERT_NE(table, nullptr);
  }
  static Record* Open(ObjectId number) {
    auto* record = static_cast<Record*>(ObtainObject(table, number));
    record->handle = 7;
    return record;
  }
};

TEST_F(ObjectTableTest, NumberBeyondTheSlotsGrowsTheTable) {
  Record* record = Open(20);
  EXPECT_EQ(table->slotCount, 36);
  EXPECT_EQ(LookupObject(table, 20), record);
  for (ObjectId id = 16; id < 36; ++id) {
    if (id != 20) {
      EXPECT_EQ(table->slots[id], nullptr) << id;
    }
  }
  EXPECT_TRUE(closed.empty());
}

TEST_F(ObjectTableTest, NumberInUseIsClosedFirstAndKeepsItsStorage) {
  Record* record = Open(3);
  record->payload[0] = 42;
  EXPECT_EQ(ObtainObject(table, 3), record);
  EXPECT_EQ(closed, std::vector<ObjectId>{3});
  EXPECT_EQ(record->handle, 0);
  EXPECT_EQ(record->payload[0], 0);
}

TEST_F(ObjectTableTest, ReleasedNumberReadsAsAbsentAndIsReused) {
  Record* record = Open(0);
  ReleaseObject(table, 0);
  EXPECT_EQ(LookupObject(table, 0), nullptr);
  EXPECT_EQ(ObtainObject(table, 0), record);
  EXPECT_EQ(record->handle, 0);
  ReleaseObject(table, 5);  // never used: nothing happens
  EXPECT_EQ(table->slots[5], nullptr);
}

TEST_F(ObjectTableTest, ObjectWithoutMarkIsNeitherFoundNorVisited) {
  ObtainObject(table, 1);
  Open(2);
  EXPECT_EQ(LookupObject(table, 1), nullptr);
  ReleaseAllObjects(table);
  EXPECT_EQ(closed, std::vector<ObjectId>{2});
}

TEST_F(ObjectTableTest, ReleaseAllVisitsNumbersThenDynamicNewestFirst) {
  Open(9);
  auto a = reinterpret_cast<ObjectId>(Open(-1));
  auto b = reinterpret_cast<ObjectId>(Open(-1));
  auto c = reinterpret_cast<ObjectId>(Open(-1));
  Open(1);
  EXPECT_NE(LookupObject(table, b), nullptr);
  ReleaseAllObjects(table);
  EXPECT_EQ(closed, (std::vector<ObjectId>{1, 9, c, b, a}));
  EXPECT_EQ(table->listHead, nullptr);
  EXPECT_EQ(LookupObject(table, 9), nullptr);
}

TEST_F(ObjectTableTest, ReleaseAllEndsWhenAnObjectStaysInTheList) {
  leaveDynamicObjects = true;
  auto a = reinterpret_cast<ObjectId>(Open(-1));
  auto b = reinterpret_cast<ObjectId>(ObtainObject(table, -1));  // mark still 0
  ReleaseAllObjects(table);
  EXPECT_EQ(closed, (std::vector<ObjectId>{b, a}));
  EXPECT_EQ(table->listHead, nullptr);
}

TEST_F(ObjectTableTest, WithoutCallbackReleaseAllDoesNothing) {
  ObjectTable* plain = CreateObjectTable(sizeof(Record), 4, nullptr);
  auto* record = static_cast<Record*>(ObtainObject(plain, 2));
  record->handle = 1;
  ReleaseAllObjects(plain);
  EXPECT_EQ(LookupObject(plain, 2), record);
}

TEST_F(ObjectTableTest, UnknownIdsAnswerNullAndChangeNothing) {
  Record* record = Open(-1);
  Record stranger{1, {}};
  auto strangerId = reinterpret_cast<ObjectId>(&stranger);
  EXPECT_EQ(LookupObject(table, strangerId), nullptr);
  ReleaseObject(table, strangerId);
  EXPECT_EQ(LookupObject(table, -1), nullptr);
  EXPECT_EQ(LookupObject(table, 1000), nullptr);
  // The first number past the slots is no slot.
  EXPECT_EQ(LookupObject(table, table->slotCount), nullptr);
  ReleaseObject(table, table->slotCount);
  EXPECT_EQ(ObtainObject(table, -2), nullptr);
  EXPECT_EQ(LookupObject(table, reinterpret_cast<ObjectId>(record)), record);
  ReleaseObject(table, reinterpret_cast<ObjectId>(record));
  EXPECT_EQ(table->listHead, nullptr);
}

// Walks the list both ways and gives its storage addresses from the head (newest) down.
std::vector<void*> Walk(ListNode* head) {
  std::vector<void*> down;
  ListNode* last = nullptr;
  for (ListNode* node = head; node; node = node->older) {
    down.push_back(node + 1);
    last = node;
  }
  std::vector<void*> up;
  for (ListNode* node = last; node; node = node->newer) up.push_back(node + 1);
  EXPECT_EQ(std::vector<void*>(up.rbegin(), up.rend()), down);
  if (head) {
    EXPECT_EQ(head->newer, nullptr);
  }
  return down;
}

TEST_F(ObjectTableTest, UnlinkHeadLastAndMiddle) {
  ListNode* head = nullptr;
  std::vector<void*> nodes;
  for (int i = 0; i < 5; ++i) nodes.push_back(ListInsert(&head, ListLinksSize + 8));
  EXPECT_EQ(Walk(head), (std::vector<void*>{nodes[4], nodes[3], nodes[2], nodes[1], nodes[0]}));
  ListUnlink(&head, nodes[4]);
  EXPECT_EQ(Walk(head), (std::vector<void*>{nodes[3], nodes[2], nodes[1], nodes[0]}));
  ListUnlink(&head, nodes[0]);
  EXPECT_EQ(Walk(head), (std::vector<void*>{nodes[3], nodes[2], nodes[1]}));
  ListUnlink(&head, nodes[2]);
  EXPECT_EQ(Walk(head), (std::vector<void*>{nodes[3], nodes[1]}));
  ListUnlink(&head, nodes[3]);
  ListUnlink(&head, nodes[1]);
  EXPECT_EQ(head, nullptr);
  EXPECT_EQ(ListInsert(&head, ListLinksSize - 1), nullptr);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
}  // namespace ralto
