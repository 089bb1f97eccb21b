// Private heaps: zero-filling, resizing, alignment, and destruction with blocks still held.
#include "platform/heap.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace sys {
namespace {

bool AllZero(const void* block, std::size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(block);
  for (std::size_t i = 0; i < bytes; ++i) {
    if (p[i]) return false;
  }
  return true;
}

TEST(HeapTest, BlocksAreAlignedAndZeroFilledOnRequest) {
  HANDLE heap = HeapCreate(0, 4096, 0);
  ASSERT_NE(heap, nullptr);
  for (std::size_t bytes : {1u, 10u, 16u, 100u, 5000u}) {
    void* block = HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
    EXPECT_TRUE(AllZero(block, bytes));
  }
  EXPECT_NE(HeapAlloc(heap, 0, 0), nullptr);
  EXPECT_TRUE(HeapDestroy(heap));
}

TEST(HeapTest, ReAllocKeepsContentsAndZeroFillsTheGrowth) {
  HANDLE heap = HeapCreate(0, 4096, 0);
  std::vector<char*> blocks;
  for (int i = 0; i < 3; ++i) {
    auto* block = static_cast<char*>(HeapAlloc(heap, 0, 8));
    std::memcpy(block, "abcdefgh", 8);
    blocks.push_back(block);
  }
  // The middle block moves; its neighbours in the heap's list must follow.
  blocks[1] = static_cast<char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, blocks[1], 100000));
  ASSERT_NE(blocks[1], nullptr);
  EXPECT_EQ(std::memcmp(blocks[1], "abcdefgh", 8), 0);
  EXPECT_TRUE(AllZero(blocks[1] + 8, 100000 - 8));
  blocks[1] = static_cast<char*>(HeapReAlloc(heap, 0, blocks[1], 4));
  EXPECT_EQ(std::memcmp(blocks[1], "abcd", 4), 0);
  EXPECT_TRUE(HeapFree(heap, 0, blocks[0]));
  EXPECT_TRUE(HeapFree(heap, 0, blocks[2]));
#ifndef _WIN32  // undefined on Windows
  EXPECT_FALSE(HeapFree(heap, 0, nullptr));
#endif
  // blocks[1] is still held: destroying the heap releases it (the leak checker agrees).
  EXPECT_TRUE(HeapDestroy(heap));
}

TEST(HeapTest, AFailedReAllocLeavesTheOldBlock) {
  HANDLE heap = HeapCreate(0, 4096, 0);
  auto* block = static_cast<char*>(HeapAlloc(heap, 0, 4));
  std::memcpy(block, "abc", 4);
  EXPECT_EQ(HeapReAlloc(heap, 0, block, SIZE_MAX - 8), nullptr);
  EXPECT_EQ(HeapAlloc(heap, 0, SIZE_MAX - 8), nullptr);
  EXPECT_STREQ(block, "abc");
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_TRUE(HeapDestroy(heap));
}

TEST(HeapTest, DestroyReleasesManyBlocks) {
  HANDLE heap = HeapCreate(0, 4096, 0);
  for (int i = 0; i < 10000; ++i) {
    void* block = HeapAlloc(heap, 0, static_cast<std::size_t>(i % 97 + 1));
    if (i % 3 == 0) HeapFree(heap, 0, block);
  }
  EXPECT_TRUE(HeapDestroy(heap));
#ifndef _WIN32
  EXPECT_FALSE(HeapDestroy(nullptr));
#endif
}

// Two threads working on one heap must leave its block list whole: destroying the heap
// afterwards frees exactly the blocks still held (ASan and valgrind see any slip).
TEST(HeapTest, TwoThreadsShareOneHeap) {
  HANDLE heap = HeapCreate(0, 4096, 0);
  auto churn = [heap] {
    std::vector<void*> held;
    for (int i = 0; i < 20000; ++i) {
      held.push_back(HeapAlloc(heap, HEAP_ZERO_MEMORY, static_cast<std::size_t>(i % 61 + 1)));
      if (i % 2) held[i] = HeapReAlloc(heap, 0, held[i], 200);
      if (i % 3 == 0) {
        HeapFree(heap, 0, held[i]);
        held[i] = nullptr;
      }
    }
  };
  std::thread other(churn);
  churn();
  other.join();
  EXPECT_TRUE(HeapDestroy(heap));
}

}  // namespace
}  // namespace sys
